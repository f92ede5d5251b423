// CInfosDateTime: a calendar date and time held as six integers, with the fixed text layouts
// the records and files exchange (date in one of four orders, time HHMMSS). Formatting works on
// the fields themselves, so it never depends on the time zone, daylight saving or the year.
#pragma once
#include <quorin/export.h>

#include <cstdint>
#include <string>
#include <string_view>

// Order of the date text: the strftime pattern used for it.
enum EDateOrder : std::int32_t {
    DATE_ORDER_DMY = 0,  // "%d%m%Y" DDMMYYYY
    DATE_ORDER_MDY = 1,  // "%m%d%Y" MMDDYYYY
    DATE_ORDER_YMD = 2,  // "%Y%m%d" YYYYMMDD (DICOM DA)
    DATE_ORDER_YDM = 3,  // "%Y%d%m" YYYYDDMM
};

class QUORIN_EXPORT CInfosDateTime {
  public:
    CInfosDateTime() = default;
    CInfosDateTime(const CInfosDateTime&) = default;
    CInfosDateTime& operator=(const CInfosDateTime&) = default;
    virtual ~CInfosDateTime() = default;

    // All six fields 0 (date not set).
    void Clear();
    // All six fields from the current local time; SetTimeNow sets only hour, minute and second.
    void SetNow();
    void SetTimeNow();

    // Formats the fields with a strftime pattern ("C" locale names; %Z and %z give nothing).
    // `out` is empty when the date is not set or not a calendar date (IsDateValid). Returns true
    // (the output always exists).
    bool Format(std::string& out, std::string_view pattern) const;

    // Parses a date text by order code (fixed positions, leading digits of each piece, 0 for a
    // non-number); an unknown order code sets year, month and day to 0.
    void SetDate(std::string_view text, std::int32_t order);
    // Formats the date by order code (empty for an unknown code or an unset date).
    bool GetDate(std::string& out, std::int32_t order) const;
    // Parses HHMMSS (fixed positions; a DICOM fraction ".FFFFFF" after the seconds is ignored).
    void SetTime(std::string_view text);
    // Formats "%H%M%S".
    bool GetTime(std::string& out) const;
    // SetDate when the date text is not empty, then SetTime when the time text is not empty.
    void SetDateTime(std::string_view dateText, std::string_view timeText, std::int32_t order);
    bool GetDateTime(std::string& dateOut, std::string& timeOut, std::int32_t order) const;

    // Comparison key YYYYMMDDHHMMSS read as a decimal number.
    std::uint64_t ToNumber() const;

    // Plain field access.
    void SetFields(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                   std::int32_t minute, std::int32_t second);
    std::int32_t GetYear() const { return m_nYear; }
    std::int32_t GetMonth() const { return m_nMonth; }
    std::int32_t GetDay() const { return m_nDay; }
    std::int32_t GetHour() const { return m_nHour; }
    std::int32_t GetMinute() const { return m_nMinute; }
    std::int32_t GetSecond() const { return m_nSecond; }
    // False when year, month or day is 0.
    bool IsDateSet() const { return m_nYear != 0 && m_nMonth != 0 && m_nDay != 0; }
    // True for a date of the Gregorian calendar: year 1 to 9999, month 1 to 12, a day the month
    // has (29 February only in leap years). The time fields are not judged.
    bool IsDateValid() const;

    bool operator==(const CInfosDateTime&) const = default;

  private:
    std::int32_t m_nYear = 0;
    std::int32_t m_nMonth = 0;  // 1-12
    std::int32_t m_nDay = 0;    // 1-31
    std::int32_t m_nHour = 0;
    std::int32_t m_nMinute = 0;
    std::int32_t m_nSecond = 0;
};
