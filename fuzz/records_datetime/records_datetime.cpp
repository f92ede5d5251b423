// Date, time and UID texts as DICOM files carry them (DA, TM, the date-time parts, UI) and file
// names from folder listings: parse, format back, and check that formatting a parsed date gives
// a text that parses to the same fields.
// Input: first byte = date order code (low 3 bits, so unknown codes occur too); then the date
// text, a newline, the time text, a newline, a strftime pattern; the whole tail also serves as a
// UID number text and as a file name.
#include <quorin/datetime.h>
#include <quorin/uid.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/core/imagetype.h"
#include "records/core/uid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::int32_t order = data[0] & 7;
    const std::string_view tail(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t firstBreak = tail.find('\n');
    const std::string_view dateText = tail.substr(0, firstBreak);
    std::string_view timeText, pattern;
    if (firstBreak != std::string_view::npos) {
        const std::string_view rest = tail.substr(firstBreak + 1);
        const std::size_t secondBreak = rest.find('\n');
        timeText = rest.substr(0, secondBreak);
        if (secondBreak != std::string_view::npos) pattern = rest.substr(secondBreak + 1);
    }

    CInfosDateTime value;
    value.SetDateTime(dateText, timeText, order);
    std::string date, time, formatted;
    value.GetDateTime(date, time, order);
    value.Format(formatted, pattern);
    (void)value.ToNumber();

    // A calendar date in the range of its fixed layout survives a round trip through its text;
    // any other date formats as an empty text.
    if (!value.IsDateValid() && !date.empty()) __builtin_trap();
    if (order < 4 && value.IsDateValid() && value.GetYear() >= 1000) {
        CInfosDateTime back;
        back.SetDate(date, order);
        if (back.GetYear() != value.GetYear() || back.GetMonth() != value.GetMonth() ||
            back.GetDay() != value.GetDay()) {
            __builtin_trap();
        }
    }

    CUid uid;
    if (uid.BuildFromNumber(tail) && !quorin::IsValidUid(uid.GetText())) __builtin_trap();
    std::string stamped;
    if (CUid(tail).AppendTimeStamp(stamped) && stamped.size() > CUid::kMaxLength) __builtin_trap();

    (void)GetImageTypeFromExtension(tail);
    (void)GetImageFileNumber(tail);
    (void)CheckImageFileName(tail);
    (void)IsDerivedImageFileName(tail);
    return 0;
}
