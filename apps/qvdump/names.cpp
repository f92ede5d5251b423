#include "names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/core/path.h"

namespace qvdump {
namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What the group readers trim off a path's ends.
bool IsTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A "c:" at the start, which the library takes for a drive.
bool StartsWithDrive(const std::string& name) {
    return name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':';
}

// A private folder for the links: $TMPDIR when the library reads it as the system does.
std::string LinkFolderTemplate() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    if (base.find('\\') != std::string::npos || base.size() > 3000) base = "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return (base == "/" ? "" : base) + "/qvdump.XXXXXX";
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
    const bool leafReadsOtherwise =
        leaf.find('\\') != std::string::npos || (!leaf.empty() && IsTrimmed(leaf.back()));
    if (!leafReadsOtherwise && folder.find('\\') == std::string::npos) {
        // Only a drive or a space at the start could read otherwise, and "./" keeps them names.
        m_path =
            StartsWithDrive(name) || (!name.empty() && IsTrimmed(name[0])) ? "./" + name : name;
        return;
    }
    if (!leafReadsOtherwise) {
        // The folder through its descriptor: the last component is read as it is.
        m_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd) + "/" + leaf;
        return;
    }
    // The file through a link whose name reads as one of the same kind: a backslash and a
    // trimmed end are neither letters, digits nor dots, and so is '_'.
    m_fd = ::open(name.c_str(), O_PATH | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    std::string linkName = leaf;
    for (char& c : linkName)
        if (c == '\\') c = '_';
    for (std::size_t i = linkName.size(); i-- > 0 && IsTrimmed(linkName[i]);) linkName[i] = '_';
    std::string folderTemplate = LinkFolderTemplate();
    std::vector<char> buffer(folderTemplate.begin(), folderTemplate.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        m_error = errno;
        return;
    }
    m_folder = buffer.data();
    m_link = m_folder + "/" + linkName;
    // The removal is set before the link exists: a signal in between leaves nothing either.
    m_remover.emplace(m_link, m_folder);
    if (::symlink(("/proc/self/fd/" + std::to_string(m_fd)).c_str(), m_link.c_str()) != 0) {
        m_error = errno;
        return;
    }
    m_path = m_link;
}

LibraryName::~LibraryName() {
    if (!m_link.empty()) ::unlink(m_link.c_str());
    if (!m_folder.empty()) ::rmdir(m_folder.c_str());
    m_remover.reset();
    if (m_fd >= 0) ::close(m_fd);
}

}  // namespace qvdump
