// Writing a data set to a named file without ever losing the file it replaces: the data set is
// written to a temporary file in the same folder, which replaces the target only once the whole
// write has succeeded (the platform's file replacement: links followed, a file the user may not
// write refused, a file in a folder that takes no new file written in place).
//
// Which elements a write leaves out (by tag, by group, by a private block mask) is decided in
// one place, CInfosDicomList::MarkExcluded (dataset.h); which private block is the system's,
// in privateblocks.h.
#pragma once
#include <cstdint>

#include "dicom/dataset/dataset.h"

namespace quorin {

// Writes `list` (CInfosDicomList::Write with the same arguments) to `path`. True when the file
// was written in full and moved into place; false (the thread's last error says why) leaves any
// previous file untouched and no temporary file behind.
bool WriteDicomFile(CInfosDicomList& list, const char* path, int writePreamble = 1,
                    const TagValue* const* exclusions = nullptr, int exclusionCount = 0,
                    const TagValue* mask = nullptr);

}  // namespace quorin
