// Date-time fields of the SDK record as the information records exchange them: the date as
// YYYYMMDD in a 9-byte field, the time as HHMMSS in a 17-byte field.
#pragma once
#include <quorin/datetime.h>

#include <string>

#include "sdk/somutext.h"

namespace quorin {

inline void PutDateTimeFields(const CInfosDateTime& value, char (&date)[9], char (&time)[17]) {
    std::string text;
    value.GetDate(text, DATE_ORDER_YMD);
    PutFieldText(date, text);
    text.clear();
    value.GetTime(text);
    PutFieldText(time, text);
}

// The record's date and time replace the value (an empty text leaves its part 0).
inline void GetDateTimeFields(CInfosDateTime& value, const char (&date)[9],
                              const char (&time)[17]) {
    value.Clear();
    value.SetDateTime(GetFieldText(date), GetFieldText(time), DATE_ORDER_YMD);
}

}  // namespace quorin
