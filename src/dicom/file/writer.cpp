// Safe replacement of a DICOM file: the data set is written through the platform's file
// replacement.
#include "dicom/file/writer.h"

#include <string>

#include "platform/core/lasterror.h"
#include "platform/files/file.h"

namespace quorin {

bool WriteDicomFile(CInfosDicomList& list, const char* path, int writePreamble,
                    const TagValue* const* exclusions, int exclusionCount, const TagValue* mask) {
    if (path == nullptr) {
        win::SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        const win::DWORD code = ReplaceFile(path, [&](win::CFile& file) {
            // The writer reports a failed write (its file exception) as a result; the file's
            // last error tells why.
            return list.Write(&file, writePreamble, exclusions, exclusionCount, mask) == 1;
        });
        return code == win::ERROR_SUCCESS;
    } catch (...) {
        win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

}  // namespace quorin
