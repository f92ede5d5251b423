#include "names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "errors.h"
#include "groupfiles/groupdata.h"
#include "platform/core/path.h"

namespace qvdump {
namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How many characters the group readers trim off the start, and off the end, of `text`: the
// library's own rule.
std::size_t TrimmedAtStart(const std::string& text) {
    return text.size() + 1 - quorin::TrimGroupPath(text + "x").size();
}
std::size_t TrimmedAtEnd(const std::string& text) {
    return text.size() + 1 - quorin::TrimGroupPath("x" + text).size();
}

// A "c:" at the start, which the library takes for a drive.
bool StartsWithDrive(const std::string& name) {
    return name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':';
}

// The folder for temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
}

// The folder for temporary files as a refusal names it.
std::string TemporaryFolderShown() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = Shown(TemporaryFolder());
    return tmp != nullptr && tmp[0] != '\0' ? "$TMPDIR (" + folder + ")" : folder;
}

// The reason of a failed step `err` in the folder for temporary files: the folder named, unless
// the process itself is the cause.
std::string TemporaryFolderProblem(int err) {
    if (err == EMFILE || err == ENFILE || err == ENOMEM) return std::strerror(err);
    return TemporaryFolderShown() + ": " + std::strerror(err);
}

std::string FdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

std::string NativeLeaf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string NativeFolderPart(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string NativeExtension(const std::string& name) {
    const std::string leaf = NativeLeaf(name);
    const std::size_t dot = leaf.rfind('.');
    return dot == std::string::npos ? std::string() : win::ToUpperAnsi(leaf.substr(dot));
}

LibraryName::LibraryName(const std::string& name) {
    const std::string leaf = NativeLeaf(name), folder = NativeFolderPart(name);
    const bool leafReadsOtherwise = leaf.find('\\') != std::string::npos || TrimmedAtEnd(leaf) > 0;
    if (!leafReadsOtherwise && folder.find('\\') == std::string::npos) {
        // Only a drive or a blank at the start could read otherwise, and "./" keeps them names.
        m_path = StartsWithDrive(name) || TrimmedAtStart(name) > 0 ? "./" + name : name;
        return;
    }
    if (!leafReadsOtherwise) {
        // The folder through its descriptor: the last component is read as it is.
        m_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0) {
            m_problem = std::strerror(errno);
            return;
        }
        m_path = FdPath(m_fd) + "/" + leaf;
        return;
    }
    // The file through a link whose name reads as one of the same kind: a backslash and a
    // trimmed end are neither letters, digits nor dots, and so is '_'.
    m_fd = ::open(name.c_str(), O_PATH | O_CLOEXEC);
    if (m_fd < 0) {
        m_problem = std::strerror(errno);
        return;
    }
    std::string linkName = leaf;
    for (char& c : linkName)
        if (c == '\\') c = '_';
    std::fill(linkName.end() - static_cast<std::ptrdiff_t>(TrimmedAtEnd(leaf)), linkName.end(),
              '_');
    if (MakeLink(linkName)) m_path = FdPath(m_folder) + "/" + linkName;
}

// The link `linkName` to the file, in a new folder under $TMPDIR. Another user may rename
// anything in a shared $TMPDIR of theirs: the folder is made, checked, filled and removed
// through descriptors only, never through a path they could redirect.
bool LibraryName::MakeLink(const std::string& linkName) {
    m_parent = ::open(TemporaryFolder().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    // A descriptor kept free for the new folder: once it is made, nothing fails to reach it.
    const int spare = m_parent < 0 ? -1 : ::dup(m_parent);
    if (spare < 0) {
        m_problem = TemporaryFolderProblem(errno);
        return false;
    }
    // No ending signal between the folder's making and the removal's set-up.
    HeldSignals held;
    std::string made = FdPath(m_parent) + "/qvdump.XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) {
        m_problem = TemporaryFolderProblem(errno);
        ::close(spare);
        return false;
    }
    const std::string folderName = NativeLeaf(made);
    ::close(spare);
    // Opened as a place in the tree, which asks nothing of the folder's own mode.
    m_folder =
        ::openat(m_parent, folderName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // mkdtemp asks for mode 0700: a umask may take bits off it and a set-group-ID $TMPDIR passes
    // that bit on, but nothing gives others a bit, nor the sticky or set-user-ID bit. A folder
    // that has one, or another user's, is not the folder made.
    struct stat info {};
    if (m_folder < 0 || ::fstat(m_folder, &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & (07077 & ~S_ISGID)) != 0) {
        // What its name names now is not the folder made: nothing there is this run's.
        m_problem = TemporaryFolderShown() + ": the folder " + folderName +
                    " made there was replaced by another folder or a link";
        return false;
    }
    // The owner's bits a umask took off, back: the link is made, read through and removed in it.
    const int err =
        (info.st_mode & 0700) == 0700 || ::chmod(FdPath(m_folder).c_str(), 0700) == 0 ? 0 : errno;
    if (err != 0)
        m_problem = TemporaryFolderShown() + ": the folder " + folderName +
                    " made there: " + std::strerror(err);
    const bool linked =
        err == 0 && ::symlinkat(FdPath(m_fd).c_str(), m_folder, linkName.c_str()) == 0;
    if (err == 0 && !linked) m_problem = TemporaryFolderProblem(errno);
    // Removed with the link, whatever failed on the way.
    m_remover.emplace(Made{m_folder, linked ? linkName : "", m_parent, folderName});
    return linked;
}

LibraryName::~LibraryName() {
    if (m_remover) m_remover->Remove();
    m_remover.reset();
    for (int fd : {m_folder, m_parent, m_fd})
        if (fd >= 0) ::close(fd);
}

}  // namespace qvdump
