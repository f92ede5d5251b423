// Independent check of date-time formatting: random fields from 1900 to 2100, formatted under
// three time zones (one without daylight saving, two with gaps at different hours), must agree
// with Python's datetime.strftime, and the DICOM date and time texts must parse in pydicom.
// Dates Python refuses must give empty texts.
#include <gtest/gtest.h>
#include <quorin/datetime.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <sstream>

#include "common/test_util.h"

namespace {

// Sets TZ for the process (and the Python child) and puts the old value back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> m_old;
};

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

constexpr const char* kPatterns[] = {
    "%d%m%Y",         "%m%d%Y",   "%Y%m%d",           "%Y%d%m",         "%H%M%S",
    "%a %A %b %B %h", "%c",       "%C %y %Y %D %F",   "%T %R %r %x %X", "%e %j %k %l %p %P",
    "%u %w %U %W",    "%G %g %V", "text %% %n%t end",
};

// Days and hours where local clocks jump, and the years next to 1970 and 2000.
constexpr int kFixedFields[][6] = {
    {2021, 3, 28, 2, 30, 0},
    {2021, 10, 31, 2, 30, 0},
    {2018, 11, 4, 0, 30, 0},
    {2019, 2, 16, 23, 30, 0},
    {1969, 7, 20, 20, 0, 15},
    {1970, 1, 1, 0, 0, 0},
    {1969, 12, 31, 23, 59, 59},
    {2000, 2, 29, 20, 0, 0},
    {1900, 1, 1, 0, 0, 0},
    {2100, 12, 31, 23, 59, 59},
    // Off the calendar (Python refuses them): they must format as unset dates do.
    {2005, 15, 3, 10, 0, 0},
    {2005, 2, 31, 10, 0, 0},
    {2100, 2, 29, 0, 0, 0},
    {1900, 2, 29, 12, 0, 0},
    {2005, 4, 31, 0, 0, 0},
    {2005, 12, 32, 0, 0, 0},
    {10000, 1, 1, 0, 0, 0},
    {-4, 1, 1, 0, 0, 0},
    {2004, 2, 29, 0, 0, 0},
};

std::string Record(const CInfosDateTime& dt, const char* pattern) {
    std::string out, date, time;
    dt.Format(out, pattern);
    dt.GetDateTime(date, time, DATE_ORDER_YMD);
    std::ostringstream line;
    line << "{\"f\": [" << dt.GetYear() << ", " << dt.GetMonth() << ", " << dt.GetDay() << ", "
         << dt.GetHour() << ", " << dt.GetMinute() << ", " << dt.GetSecond()
         << "], \"p\": " << JsonString(pattern) << ", \"out\": " << JsonString(out)
         << ", \"da\": " << JsonString(date) << ", \"tm\": " << JsonString(time) << "}\n";
    return line.str();
}

class DateTimeStrftime : public ::testing::TestWithParam<const char*> {};

TEST_P(DateTimeStrftime, AgreesWithPythonAndPydicom) {
    ScopedTimeZone zone(GetParam());
    std::mt19937 random(20260607);
    std::string records;
    std::size_t count = 0;
    const auto add = [&](const int f[6]) {
        CInfosDateTime dt;
        dt.SetFields(f[0], f[1], f[2], f[3], f[4], f[5]);
        for (const char* pattern : kPatterns) {
            records += Record(dt, pattern);
            ++count;
        }
    };
    for (const auto& fields : kFixedFields) add(fields);
    for (int i = 0; i < 400; ++i) {
        const int year = std::uniform_int_distribution<int>(1900, 2100)(random);
        const int month = std::uniform_int_distribution<int>(1, 12)(random);
        const int f[6] = {year,
                          month,
                          std::uniform_int_distribution<int>(1, DaysInMonth(year, month))(random),
                          std::uniform_int_distribution<int>(0, 23)(random),
                          std::uniform_int_distribution<int>(0, 59)(random),
                          std::uniform_int_distribution<int>(0, 59)(random)};
        add(f);
    }
    quorin::test::TempDir dir;
    quorin::test::WriteText(dir.file("datetimes.jsonl"), records);
    const quorin::test::CommandResult result =
        quorin::test::RunCommand(quorin::test::FixtureCommand("check_datetimes.py") + " " +
                                 quorin::test::ShellQuote(dir.file("datetimes.jsonl")));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("checked " + std::to_string(count)), std::string::npos)
        << result.output;
}

INSTANTIATE_TEST_SUITE_P(TimeZones, DateTimeStrftime,
                         ::testing::Values("UTC", "Europe/Paris", "America/Sao_Paulo"));

// Times inside a daylight-saving gap exist as values even where the local clock skipped them.
TEST(DateTimeTimeZone, GapTimesFormatAsStored) {
    ScopedTimeZone zone("Europe/Paris");
    CInfosDateTime dt;
    dt.SetFields(2021, 3, 28, 2, 30, 0);
    std::string date, time;
    dt.GetDateTime(date, time, DATE_ORDER_YMD);
    EXPECT_EQ(date + time, "20210328023000");
    ScopedTimeZone brazil("America/Sao_Paulo");
    dt.SetFields(2018, 11, 4, 0, 30, 0);  // that midnight did not exist in Sao Paulo
    dt.GetDateTime(date, time, DATE_ORDER_DMY);
    EXPECT_EQ(date + time, "04112018003000");
}

}  // namespace
