// Writing a data set to a named file without losing the file it replaces: the platform's file
// replacement (ReplaceFile). The data set is written to a temporary file in the same folder,
// which replaces the target only once the whole write has succeeded; links are followed and a
// file the user may not write is refused. The target is a new file then: another hard link to
// the old one keeps the old content. In a folder that takes no new file the data set is written
// in memory first and the target overwritten where it is (every link sees the new content), its
// old bytes written back when the disk cannot take the new ones. A data set past the process's
// file-size limit is refused (ERROR_FILE_TOO_LARGE) before a write reaches the limit, the old
// file untouched and no temporary file left.
//
// Which elements a write leaves out (by tag, by group, by a private block mask) is decided in
// one place, CInfosDicomList::MarkExcluded (dataset.h); which private block is the system's,
// in privateblocks.h.
#pragma once
#include <cstdint>

#include "dicom/dataset/dataset.h"

namespace quorin {

// Writes `list` (CInfosDicomList::Write with the same arguments) to `path`. True when the file
// was written in full; false (the thread's last error says why) leaves any previous file with its
// old content, as ReplaceFile says, and no temporary file behind.
bool WriteDicomFile(CInfosDicomList& list, const char* path, int writePreamble = 1,
                    const TagValue* const* exclusions = nullptr, int exclusionCount = 0,
                    const TagValue* mask = nullptr);

}  // namespace quorin
