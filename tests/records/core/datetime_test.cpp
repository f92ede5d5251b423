// The date-time value: formatting before 1970 and of unset dates, parsing of the fixed text
// layouts (short, padded and DICOM texts included), the comparison key.
#include <gtest/gtest.h>
#include <quorin/datetime.h>

#include <climits>
#include <ctime>

namespace {

CInfosDateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    CInfosDateTime dt;
    dt.SetFields(y, mo, d, h, mi, s);
    return dt;
}

std::string Formatted(const CInfosDateTime& dt, std::string_view pattern) {
    std::string out = "stale";
    EXPECT_TRUE(dt.Format(out, pattern));
    return out;
}

TEST(DateTimeFormat, UnsetDateGivesEmptyText) {
    EXPECT_EQ(Formatted(Make(2005, 12, 0, 10, 11, 12), "%H%M%S"), "");
    EXPECT_EQ(Formatted(Make(2005, 0, 1), "literal"), "");
    EXPECT_EQ(Formatted(Make(0, 1, 1), "%Y"), "");
    EXPECT_EQ(Formatted(CInfosDateTime(), "%d%m%Y"), "");
}

TEST(DateTimeFormat, YearsBefore1970) {
    EXPECT_EQ(Formatted(Make(1956, 3, 15), "%d%m%Y"), "15031956");
    EXPECT_EQ(Formatted(Make(1969, 12, 31, 23, 59, 59), "%Y-%m-%d %H:%M:%S"),
              "1969-12-31 23:59:59");
    // A time of 20:00 must not be taken for the year: the whole text is made from the fields.
    EXPECT_EQ(Formatted(Make(1969, 7, 20, 20, 0, 15), "%H%M%S"), "200015");
    EXPECT_EQ(Formatted(Make(1920, 1, 20, 0, 20, 0), "%Y%m%d%H%M%S"), "19200120002000");
    // Week days and days of the year are those of the real year, not of a stand-in year.
    EXPECT_EQ(Formatted(Make(1956, 3, 15), "%a %A %j"), "Thu Thursday 075");
    EXPECT_EQ(Formatted(Make(1900, 3, 1), "%a %j"), "Thu 060");  // 1900 is not a leap year
    EXPECT_EQ(Formatted(Make(999, 1, 2), "%Y%m%d"), "09990102");
}

TEST(DateTimeFormat, PatternsAndUnknownConversions) {
    EXPECT_EQ(Formatted(Make(2005, 12, 31, 23, 59, 58), "no conversion"), "no conversion");
    EXPECT_EQ(Formatted(Make(2005, 12, 31, 23, 59, 58), "%q%%%"), "%q%%");
    EXPECT_EQ(Formatted(Make(2005, 12, 31, 13, 5, 8), "%I:%M %p, %b %e"), "01:05 PM, Dec 31");
    EXPECT_EQ(Formatted(Make(2005, 1, 1), "%G-W%V-%u"), "2004-W53-6");
    // A date off the calendar formats as an unset one (pinned against Python in the strftime
    // suite); the time fields of a calendar date print as they are.
    EXPECT_EQ(Formatted(Make(2005, 13, 32, 25, 61, 61), "%d%m%Y%H%M%S %b"), "");
    EXPECT_EQ(Formatted(Make(INT_MIN, INT_MAX, INT_MIN), "%Y"), "");
    EXPECT_EQ(Formatted(Make(2005, 12, 31, 25, 61, 61), "%H%M%S"), "256161");
    const CInfosDateTime extreme = Make(2005, 12, 31, INT_MAX, INT_MIN, INT_MAX);
    EXPECT_FALSE(Formatted(extreme, "%a%b%c%C%g%G%I%j%U%V%W%y").empty());
}

TEST(DateTimeText, DateOrders) {
    CInfosDateTime dt;
    dt.SetDate("19560315", DATE_ORDER_YMD);
    EXPECT_EQ(Make(1956, 3, 15), dt);
    dt.SetDate("19560315", DATE_ORDER_YDM);
    EXPECT_EQ(Make(1956, 15, 3), dt);
    dt.SetDate("15031956", DATE_ORDER_DMY);
    EXPECT_EQ(Make(1956, 3, 15), dt);
    dt.SetDate("03151956", DATE_ORDER_MDY);
    EXPECT_EQ(Make(1956, 3, 15), dt);
    dt.SetDate("19560315", 4);
    EXPECT_EQ(CInfosDateTime(), dt);
    dt.SetDate("19560315", -1);
    EXPECT_FALSE(dt.IsDateSet());
}

TEST(DateTimeText, DateRoundTripsInEveryOrder) {
    for (std::int32_t order = 0; order < 4; ++order) {
        for (const CInfosDateTime& value :
             {Make(1956, 3, 15), Make(2099, 12, 1), Make(999, 1, 2)}) {
            std::string text;
            EXPECT_TRUE(value.GetDate(text, order));
            EXPECT_EQ(text.size(), 8u);
            CInfosDateTime back;
            back.SetDate(text, order);
            EXPECT_EQ(value, back) << order << " " << text;
        }
    }
    std::string text = "stale";
    EXPECT_TRUE(Make(1956, 3, 15).GetDate(text, 7));
    EXPECT_EQ(text, "");
}

TEST(DateTimeText, ShortAndOddDateTextsStayInside) {
    CInfosDateTime dt;
    dt.SetDate("", DATE_ORDER_YMD);
    EXPECT_EQ(CInfosDateTime(), dt);
    dt.SetDate("1956", DATE_ORDER_YMD);  // the day is the last two characters there are
    EXPECT_EQ(Make(1956, 0, 56), dt);
    dt.SetDate("315", DATE_ORDER_DMY);
    EXPECT_EQ(Make(315, 5, 31), dt);
    dt.SetDate("7", DATE_ORDER_MDY);
    EXPECT_EQ(Make(7, 7, 0), dt);
    dt.SetDate("AB.CD.EFGH", DATE_ORDER_DMY);  // non-numbers give 0
    EXPECT_EQ(CInfosDateTime(), dt);
    dt.SetDate("15.03.1956", DATE_ORDER_DMY);  // separators: the year is still the last four
    EXPECT_EQ(Make(1956, 0, 15), dt);
    dt.SetDate("19560315  ", DATE_ORDER_YMD);  // a padded value keeps its day
    EXPECT_EQ(Make(1956, 3, 15), dt);
    dt.SetDate("99999999999999999999", DATE_ORDER_YMD);
    EXPECT_EQ(Make(9999, 99, 99), dt);
}

TEST(DateTimeText, TimeTexts) {
    CInfosDateTime dt = Make(2005, 12, 31);
    dt.SetTime("235958");
    EXPECT_EQ(Make(2005, 12, 31, 23, 59, 58), dt);
    std::string text;
    EXPECT_TRUE(dt.GetTime(text));
    EXPECT_EQ(text, "235958");
    // DICOM times with a fraction and a pad keep their seconds.
    dt.SetTime("101530.123456");
    EXPECT_EQ(Make(2005, 12, 31, 10, 15, 30), dt);
    dt.SetTime("101530.1 ");
    EXPECT_EQ(Make(2005, 12, 31, 10, 15, 30), dt);
    // Shorter texts take what the fixed positions yield, never reading before the start.
    dt.SetTime("1015");
    EXPECT_EQ(Make(2005, 12, 31, 10, 15, 15), dt);
    dt.SetTime("9");
    EXPECT_EQ(Make(2005, 12, 31, 9, 0, 9), dt);
    dt.SetTime("");
    EXPECT_EQ(Make(2005, 12, 31), dt);
    dt.SetTime("10:15:30");
    EXPECT_EQ(Make(2005, 12, 31, 10, 0, 30), dt);
}

TEST(DateTimeText, DateTimeTogether) {
    CInfosDateTime dt = Make(2001, 2, 3, 4, 5, 6);
    dt.SetDateTime("", "", DATE_ORDER_YMD);  // empty texts change nothing
    EXPECT_EQ(Make(2001, 2, 3, 4, 5, 6), dt);
    dt.SetDateTime("20051231", "", DATE_ORDER_YMD);
    EXPECT_EQ(Make(2005, 12, 31, 4, 5, 6), dt);
    dt.SetDateTime("", "235958", DATE_ORDER_YMD);
    EXPECT_EQ(Make(2005, 12, 31, 23, 59, 58), dt);
    std::string date, time;
    EXPECT_TRUE(dt.GetDateTime(date, time, DATE_ORDER_DMY));
    EXPECT_EQ(date, "31122005");
    EXPECT_EQ(time, "235958");
}

TEST(DateTimeValue, ToNumberAndCopies) {
    EXPECT_EQ(Make(2005, 12, 31, 23, 59, 58).ToNumber(), 20051231235958ULL);
    EXPECT_EQ(CInfosDateTime().ToNumber(), 0u);
    EXPECT_LT(Make(1999, 12, 31, 23, 59, 59).ToNumber(), Make(2000, 1, 1).ToNumber());
    (void)Make(INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN)
        .ToNumber();  // no overflow trap
    CInfosDateTime a = Make(2005, 12, 31, 23, 59, 58);
    CInfosDateTime b(a);
    EXPECT_EQ(a, b);
    b.Clear();
    EXPECT_EQ(CInfosDateTime(), b);
    b = a;
    EXPECT_EQ(a, b);
}

TEST(DateTimeValue, NowIsTheLocalTime) {
    CInfosDateTime dt;
    const std::time_t before = std::time(nullptr);
    dt.SetNow();
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(dt.GetYear(), local.tm_year + 1900);
    EXPECT_EQ(dt.GetMonth(), local.tm_mon + 1);
    EXPECT_TRUE(dt.IsDateSet());
    CInfosDateTime timeOnly = Make(1999, 1, 2);
    timeOnly.SetTimeNow();
    EXPECT_EQ(timeOnly.GetYear(), 1999);
    EXPECT_EQ(timeOnly.GetDay(), 2);
    EXPECT_LT(timeOnly.GetHour(), 24);
}

}  // namespace
