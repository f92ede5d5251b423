// Text operations the records share: substrings that clamp their arguments the way the
// framework's string class does (Left, Mid, Right never index outside the text), the runtime's
// decimal conversion of leading digits, and bounded copies into the fixed text fields of the SDK
// image record.
#pragma once
#include <cstdint>
#include <string_view>

namespace quorin {

// First `count` characters; the whole text when it is shorter, empty for count <= 0.
std::string_view Left(std::string_view text, std::int64_t count);
// `count` characters from `first`; `first` < 0 counts as 0, `count` < 0 as 0, and the result
// stops at the end of the text.
std::string_view Mid(std::string_view text, std::int64_t first, std::int64_t count);
// Last `count` characters; the whole text when it is shorter, empty for count <= 0.
std::string_view Right(std::string_view text, std::int64_t count);

// Value of the decimal digits at the start of the text (conversion stops at the first
// non-digit); 0 when the text does not start with a digit. Saturates at INT32_MAX as the
// runtime's conversion does on overflow.
std::int32_t LeadingDigitsToInt32(std::string_view text);

// True when every character of the text is a decimal digit (an empty text counts).
bool IsAllDigits(std::string_view text);

}  // namespace quorin

// Copy a text into a fixed field of 9, 17 or 65 bytes: at most 8, 16 or 64 characters and the
// terminating zero; longer texts are cut. Return the field, or null when the field or the text
// is null (the field is then left as it is).
char* CopyToField9(char* field, const char* text);
char* CopyToField17(char* field, const char* text);
char* CopyToField65(char* field, const char* text);
char* CopyToField9(char* field, std::string_view text);
char* CopyToField17(char* field, std::string_view text);
char* CopyToField65(char* field, std::string_view text);
