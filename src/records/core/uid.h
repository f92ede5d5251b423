// The helpers behind CUid (<quorin/uid.h>): the time stamps that keep generated UIDs distinct
// across threads and processes, the UID check and the composed text.
#pragma once
#include <quorin/uid.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quorin {

// A time stamp for UIDs: milliseconds since 1970, strictly greater than every stamp given
// before in this process and, through the file "uid-stamp" in the settings folder (that of the
// user's hive), in every process using that folder. It runs ahead of the clock while stamps are
// asked for faster than one per millisecond. Thread-safe; without the file, unique per process.
// The file is made readable and writable by the user only, and used only where it is the user's:
// in a settings folder of the user's (the folders missing on its way made, private, only inside
// one of the user's), a regular file of the user's with no other name, never through a link.
// Elsewhere the process's own stamp serves. Its lock is waited for at most 2 s
// (a peer holding it longer is stopped or not ours), after which the process's own stamp serves;
// once such a wait has run out, the lock is only tried until it is taken again.
std::int64_t NextUidTimeStamp();

// True when the text is a valid DICOM UID: 1 to 64 characters, dot-separated components of
// digits, none empty, none with a leading zero.
bool IsValidUid(std::string_view text);

// root "." kind "." machine "." seconds "." milliseconds of a stamp (NextUidTimeStamp); a machine
// number of 0 is replaced by the stamp's seconds.
std::string ComposeGeneratedUid(std::uint32_t kind, std::uint32_t machine, std::int64_t stamp);

}  // namespace quorin
