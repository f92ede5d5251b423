// qvdump's refusals: one line on standard error per file it could not read or write, in words
// a Linux user knows ("No such file or directory", "Is a directory"), whatever code the
// library answered.
#pragma once
#include <string>

#include "platform/core/types.h"

namespace qvdump {

// Prints "qvdump: PATH: MESSAGE" on standard error, after the dump printed so far.
void Refuse(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Why the file at `path` cannot be read ("Permission denied"...), or empty when it opens as a
// regular file.
std::string ReadProblem(const char* path);

// The plain text of the library's error `code` for a failed open, read or write of `path`.
std::string CodeText(const char* path, win::DWORD code);

}  // namespace qvdump
