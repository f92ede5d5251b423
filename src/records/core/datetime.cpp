#include <quorin/datetime.h>

#include <array>
#include <cstdio>
#include <ctime>

#include "platform/system/clock.h"
#include "records/core/textops.h"

namespace {

constexpr std::array<const char*, 7> kDayAbbrev = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kDayName = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonthAbbrev = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kMonthName = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
std::int64_t FloorMod(std::int64_t a, std::int64_t b) {
    return a - FloorDiv(a, b) * b;
}

bool IsLeap(std::int64_t year) {
    return FloorMod(year, 4) == 0 && (FloorMod(year, 100) != 0 || FloorMod(year, 400) == 0);
}

// Days from 1970-01-01 to the given proleptic Gregorian date; the day counts on linearly past
// the end of its month, and the month is folded into the year first.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year += FloorDiv(month - 1, 12);
    month = FloorMod(month - 1, 12) + 1;
    year -= month <= 2;
    const std::int64_t era = FloorDiv(year, 400);
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Days from Monday-based ISO week start, as the C library computes it: negative when the date
// belongs to the last ISO week of the year before.
std::int64_t IsoWeekDays(std::int64_t yday, std::int64_t wday) {
    constexpr std::int64_t kBigMultipleOf7 = (366 / 7 + 2) * 7;
    return yday - (yday - wday + 4 + kBigMultipleOf7) % 7 + 4 - 1;
}

// The calendar facts strftime derives from the six fields.
struct Calendar {
    std::int64_t year, month, day, hour, minute, second;
    std::int64_t wday;  // 0 Sunday
    std::int64_t yday;  // 0 on 1 January

    void IsoWeek(std::int64_t& isoYear, std::int64_t& week) const {
        isoYear = year;
        std::int64_t days = IsoWeekDays(yday, wday);
        if (days < 0) {
            --isoYear;
            days = IsoWeekDays(yday + 365 + IsLeap(isoYear), wday);
        } else {
            const std::int64_t next = IsoWeekDays(yday - 365 - IsLeap(year), wday);
            if (next >= 0) {
                ++isoYear;
                days = next;
            }
        }
        week = days / 7 + 1;
    }
};

void AppendNumber(std::string& out, std::int64_t value, int width, char pad = '0') {
    char buffer[32];
    const int n =
        pad == '0'
            ? std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value))
            : std::snprintf(buffer, sizeof buffer, "%*lld", width, static_cast<long long>(value));
    out.append(buffer, static_cast<std::size_t>(n));
}

template <std::size_t N>
const char* NameOf(const std::array<const char*, N>& names, std::int64_t index) {
    return index >= 0 && index < static_cast<std::int64_t>(N)
               ? names[static_cast<std::size_t>(index)]
               : "?";
}

void FormatFields(const Calendar& c, std::string_view pattern, std::string& out);

void FormatConversion(const Calendar& c, char conversion, std::string& out) {
    std::int64_t isoYear = 0, isoWeek = 0;
    switch (conversion) {
        case 'a':
            out += NameOf(kDayAbbrev, c.wday);
            break;
        case 'A':
            out += NameOf(kDayName, c.wday);
            break;
        case 'b':
        case 'h':
            out += NameOf(kMonthAbbrev, c.month - 1);
            break;
        case 'B':
            out += NameOf(kMonthName, c.month - 1);
            break;
        case 'c':
            FormatFields(c, "%a %b %e %H:%M:%S %Y", out);
            break;
        case 'C':
            AppendNumber(out, FloorDiv(c.year, 100), 2);
            break;
        case 'd':
            AppendNumber(out, c.day, 2);
            break;
        case 'D':
        case 'x':
            FormatFields(c, "%m/%d/%y", out);
            break;
        case 'e':
            AppendNumber(out, c.day, 2, ' ');
            break;
        case 'F':
            FormatFields(c, "%Y-%m-%d", out);
            break;
        case 'g':
            c.IsoWeek(isoYear, isoWeek);
            AppendNumber(out, FloorMod(isoYear, 100), 2);
            break;
        case 'G':
            c.IsoWeek(isoYear, isoWeek);
            AppendNumber(out, isoYear, 4);
            break;
        case 'H':
            AppendNumber(out, c.hour, 2);
            break;
        case 'I':
            AppendNumber(out, c.hour % 12 == 0 ? 12 : c.hour % 12, 2);
            break;
        case 'j':
            AppendNumber(out, c.yday + 1, 3);
            break;
        case 'k':
            AppendNumber(out, c.hour, 2, ' ');
            break;
        case 'l':
            AppendNumber(out, c.hour % 12 == 0 ? 12 : c.hour % 12, 2, ' ');
            break;
        case 'm':
            AppendNumber(out, c.month, 2);
            break;
        case 'M':
            AppendNumber(out, c.minute, 2);
            break;
        case 'n':
            out += '\n';
            break;
        case 'p':
            out += c.hour > 11 ? "PM" : "AM";
            break;
        case 'P':
            out += c.hour > 11 ? "pm" : "am";
            break;
        case 'r':
            FormatFields(c, "%I:%M:%S %p", out);
            break;
        case 'R':
            FormatFields(c, "%H:%M", out);
            break;
        case 'S':
            AppendNumber(out, c.second, 2);
            break;
        case 't':
            out += '\t';
            break;
        case 'T':
        case 'X':
            FormatFields(c, "%H:%M:%S", out);
            break;
        case 'u':
            AppendNumber(out, c.wday == 0 ? 7 : c.wday, 1);
            break;
        case 'U':
            AppendNumber(out, (c.yday + 7 - c.wday) / 7, 2);
            break;
        case 'V':
            c.IsoWeek(isoYear, isoWeek);
            AppendNumber(out, isoWeek, 2);
            break;
        case 'w':
            AppendNumber(out, c.wday, 1);
            break;
        case 'W':
            AppendNumber(out, (c.yday + 7 - (c.wday + 6) % 7) / 7, 2);
            break;
        case 'y':
            AppendNumber(out, FloorMod(c.year, 100), 2);
            break;
        // Four digits at least, so that a date text keeps its fixed layout before the year 1000.
        case 'Y':
            AppendNumber(out, c.year, 4);
            break;
        // The fields carry no time zone.
        case 'z':
        case 'Z':
            break;
        case '%':
            out += '%';
            break;
        default:  // unknown conversions are kept as written
            out += '%';
            out += conversion;
            break;
    }
}

void FormatFields(const Calendar& c, std::string_view pattern, std::string& out) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        char conversion = pattern[++i];
        // The C99 E and O modifiers ask for locale alternatives; the "C" locale has none.
        if ((conversion == 'E' || conversion == 'O') && i + 1 < pattern.size()) {
            conversion = pattern[++i];
        }
        FormatConversion(c, conversion, out);
    }
}

constexpr std::array<std::string_view, 4> kDatePatterns = {"%d%m%Y", "%m%d%Y", "%Y%m%d", "%Y%d%m"};

// Pads of DICOM texts at the end are not part of the value.
std::string_view TrimTrailingPadding(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

}  // namespace

void CInfosDateTime::Clear() {
    SetFields(0, 0, 0, 0, 0, 0);
}

void CInfosDateTime::SetFields(std::int32_t year, std::int32_t month, std::int32_t day,
                               std::int32_t hour, std::int32_t minute, std::int32_t second) {
    m_nYear = year;
    m_nMonth = month;
    m_nDay = day;
    m_nHour = hour;
    m_nMinute = minute;
    m_nSecond = second;
}

void CInfosDateTime::SetNow() {
    std::tm now{};
    if (!win::LocalTime(win::NowMilliseconds() / 1000, now)) {
        Clear();
        return;
    }
    SetFields(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
}

void CInfosDateTime::SetTimeNow() {
    std::tm now{};
    if (!win::LocalTime(win::NowMilliseconds() / 1000, now)) return;
    m_nHour = now.tm_hour;
    m_nMinute = now.tm_min;
    m_nSecond = now.tm_sec;
}

bool CInfosDateTime::Format(std::string& out, std::string_view pattern) const {
    out.clear();
    // A date that is not on the calendar (month 15, 31 February) is no date at all: it formats
    // as an unset one, rather than as a text that no reader takes.
    if (!IsDateValid()) return true;
    Calendar c{m_nYear, m_nMonth, m_nDay, m_nHour, m_nMinute, m_nSecond, 0, 0};
    const std::int64_t days = DaysFromCivil(c.year, c.month, c.day);
    c.wday = FloorMod(days + 4, 7);  // 1970-01-01 was a Thursday
    c.yday = days - DaysFromCivil(c.year + FloorDiv(c.month - 1, 12), 1, 1);
    FormatFields(c, pattern, out);
    return true;
}

void CInfosDateTime::SetDate(std::string_view text, std::int32_t order) {
    using quorin::Left, quorin::Mid, quorin::Right, quorin::LeadingDigitsToInt32;
    text = TrimTrailingPadding(text);
    const std::int32_t first2 = LeadingDigitsToInt32(Left(text, 2));
    const std::int32_t first4 = LeadingDigitsToInt32(Left(text, 4));
    switch (order) {
        case DATE_ORDER_DMY:
            m_nDay = first2;
            m_nMonth = LeadingDigitsToInt32(Mid(text, 2, 2));
            m_nYear = LeadingDigitsToInt32(Right(text, 4));
            break;
        case DATE_ORDER_MDY:
            m_nMonth = first2;
            m_nDay = LeadingDigitsToInt32(Mid(text, 2, 2));
            m_nYear = LeadingDigitsToInt32(Right(text, 4));
            break;
        case DATE_ORDER_YMD:
            m_nYear = first4;
            m_nMonth = LeadingDigitsToInt32(Mid(text, 4, 2));
            m_nDay = LeadingDigitsToInt32(Right(text, 2));
            break;
        case DATE_ORDER_YDM:
            m_nYear = first4;
            m_nDay = LeadingDigitsToInt32(Mid(text, 4, 2));
            m_nMonth = LeadingDigitsToInt32(Right(text, 2));
            break;
        default:
            m_nYear = m_nMonth = m_nDay = 0;
            break;
    }
}

bool CInfosDateTime::GetDate(std::string& out, std::int32_t order) const {
    if (order < 0 || order >= static_cast<std::int32_t>(kDatePatterns.size())) {
        out.clear();
        return true;
    }
    return Format(out, kDatePatterns[static_cast<std::size_t>(order)]);
}

void CInfosDateTime::SetTime(std::string_view text) {
    using quorin::Left, quorin::Mid, quorin::Right, quorin::LeadingDigitsToInt32;
    // A DICOM time may carry a fraction of a second and a pad: the seconds are the two
    // characters before them, not the last two of the whole text.
    text = TrimTrailingPadding(text.substr(0, text.find('.')));
    m_nHour = LeadingDigitsToInt32(Left(text, 2));
    m_nMinute = LeadingDigitsToInt32(Mid(text, 2, 2));
    m_nSecond = LeadingDigitsToInt32(Right(text, 2));
}

bool CInfosDateTime::GetTime(std::string& out) const {
    return Format(out, "%H%M%S");
}

void CInfosDateTime::SetDateTime(std::string_view dateText, std::string_view timeText,
                                 std::int32_t order) {
    if (!dateText.empty()) SetDate(dateText, order);
    if (!timeText.empty()) SetTime(timeText);
}

bool CInfosDateTime::GetDateTime(std::string& dateOut, std::string& timeOut,
                                 std::int32_t order) const {
    GetDate(dateOut, order);
    GetTime(timeOut);
    return true;
}

bool CInfosDateTime::IsDateValid() const {
    if (m_nYear < 1 || m_nYear > 9999 || m_nMonth < 1 || m_nMonth > 12 || m_nDay < 1) return false;
    static constexpr std::int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::int32_t last = m_nMonth == 2 && IsLeap(m_nYear) ? 29 : kDays[m_nMonth - 1];
    return m_nDay <= last;
}

std::uint64_t CInfosDateTime::ToNumber() const {
    // Unsigned arithmetic: fields set out of range wrap instead of overflowing.
    const auto u = [](std::int32_t v) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    };
    return u(m_nYear) * 10'000'000'000ULL + u(m_nMonth) * 100'000'000ULL +
           u(m_nDay) * 1'000'000ULL + u(m_nHour) * 10'000ULL + u(m_nMinute) * 100ULL + u(m_nSecond);
}
