// Safe replacement of a DICOM file: temporary file in the target's folder, rename on success.
#include "dicom/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/lasterror.h"

namespace quorin {

namespace {

// A unique temporary name next to `path` (created empty, so no other writer takes it), with
// the permissions of the file it will replace, or those a new file gets.
std::string MakeTemporaryNextTo(const std::string& path) {
    std::string pattern = path + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        win::SetLastError(win::LastErrorFromErrno(errno));
        return {};
    }
    struct stat target {};
    mode_t mode = 0;
    if (stat(path.c_str(), &target) == 0) {
        mode = target.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    close(fd);
    return pattern;
}

// Pushes the written file to the disk, so that the rename never publishes an empty file.
bool SyncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

bool WriteDicomFile(CInfosDicomList& list, const char* path, int writePreamble,
                    const TagValue* const* exclusions, int exclusionCount, const TagValue* mask) {
    if (path == nullptr || *path == 0) return false;
    try {
        const std::string target = path;
        const std::string temporary = MakeTemporaryNextTo(target);
        if (temporary.empty()) return false;
        bool written = false;
        {
            win::CFile file;
            if (file.Open(temporary.c_str(), win::CFile::modeCreate | win::CFile::modeWrite |
                                                 win::CFile::typeBinary)) {
                try {
                    written =
                        list.Write(&file, writePreamble, exclusions, exclusionCount, mask) == 1;
                    file.Close();  // flushes: a full disk shows here
                } catch (...) {
                    written = false;
                    file.Abort();
                }
            }
        }
        written = written && SyncFile(temporary);
        if (written && std::rename(temporary.c_str(), target.c_str()) == 0) return true;
        if (written) win::SetLastError(win::LastErrorFromErrno(errno));
        std::remove(temporary.c_str());
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace quorin
