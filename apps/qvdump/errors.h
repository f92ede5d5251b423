// qvdump's refusals: one line on standard error per file it could not read or write, in words
// a Linux user knows ("No such file or directory", "Is a directory"), whatever code the
// library answered. Every text taken from a file or a file name is printed through Shown, so
// that no file can drive the user's terminal.
#pragma once
#include <string>
#include <string_view>

#include "platform/core/types.h"

namespace qvdump {

// The text as the data-set listing shows values: a control character (C0, DEL, C1) or a byte
// that is no part of a UTF-8 character becomes '.'; printable characters, UTF-8 ones included,
// stay.
std::string Shown(std::string_view text);

// Every path here is a name as the system reads it (names.h).

// Prints "qvdump: PATH: MESSAGE" on standard error, after the dump printed so far; the path is
// shown as Shown does.
void Refuse(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Why the file at `path` cannot be read ("Permission denied"...), or empty when it opens as a
// regular file.
std::string ReadProblem(const char* path);

// The plain text of the library's error `code` for a failed open, read or write of `path`.
std::string CodeText(const char* path, win::DWORD code);

// The system's reason for a save at `path` that failed with the library's `code`: the library
// answers one code for a missing file, a missing folder, a loop of links, a name too long and a
// path through a file, and one for every refusal; the path and its folder are examined (never
// written) to tell them apart. A loop of links is named so whatever code the save answered.
std::string SaveFailureText(const char* path, win::DWORD code);

}  // namespace qvdump
