// The helpers behind CUid (<quorin/uid.h>): the time stamps that keep generated UIDs distinct
// across threads and processes, the UID check and the composed text.
#pragma once
#include <quorin/uid.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quorin {

// A stamp for a generated UID: milliseconds since 1970 and the number of who issued it. The
// user's road: a stamp strictly greater than every one given before in this process and, through
// the file "uid-stamp" in the settings folder (that of the user's hive), in every process of the
// user using that folder; it runs ahead of the clock while stamps are asked for faster than one
// per millisecond; the issuer is 2 x the user number. The file is made readable and writable by
// the user only, and used only where it is the user's: in a settings folder of the user's that
// no one else may empty (the folders missing on its way made, private, only inside one of the
// user's), a regular file of the user's with no other name, never through a link. Its lock is
// waited for at most 2 s (a holder keeping it longer is stopped), after which the process's road
// serves; once such a wait has run out, the lock is only tried until it is taken again. The
// process's road, wherever the file does not serve: the issuer is 2 x the process number + 1, and
// the stamp, strictly greater than the process's last, is handed out only once the clock has
// passed it (a millisecond's wait at most), so that a later process with the same number never
// repeats it. Thread-safe; a child forked meanwhile opens the file anew.
struct UidStamp {
    std::int64_t stamp = 0;
    std::uint64_t issuer = 0;
};
UidStamp NextUidStamp();
// A time stamp for a derived UID: strictly greater than every stamp given before in this
// process, and taken by the user's road where it serves; never waits for the clock.
std::int64_t NextUidTimeStamp();

// True when the text is a valid DICOM UID: 1 to 64 characters, dot-separated components of
// digits, none empty, none with a leading zero.
bool IsValidUid(std::string_view text);

// root "." kind "." machine "." issuer "." seconds "." milliseconds of a stamp (NextUidStamp); a
// machine number of 0 is replaced by the stamp's seconds.
std::string ComposeGeneratedUid(std::uint32_t kind, std::uint32_t machine, const UidStamp& stamp);

}  // namespace quorin
