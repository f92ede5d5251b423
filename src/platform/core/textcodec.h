// Text in the system's 8-bit code page (Windows-1252) and the encodings settings files come in:
// UTF-16LE with a byte-order mark as Windows writes them, UTF-8 with a mark, or plain 8-bit.
// Characters the code page lacks become '?', as Windows' own conversion does.
#pragma once
#include <string>
#include <string_view>

namespace quorin {

// The text of a settings file in the 8-bit code page; a leading byte-order mark is removed.
std::string DecodeTextFile(std::string_view bytes);

std::string Utf16LeToAnsi(std::string_view bytes);  // an odd last byte becomes '?'
std::string AnsiToUtf16Le(std::string_view text);
std::string Utf8ToAnsi(std::string_view bytes);  // malformed sequences become '?'
std::string AnsiToUtf8(std::string_view text);

}  // namespace quorin
