// qvdump takes every name as the system does: a backslash is part of a name, and "c:" no drive.
// The library's readers take Windows paths (the records store such paths) and tell a file's kind
// by its name; LibraryName gives them a path that reaches the file the user named and that they
// read as a name of the same kind.
#pragma once
#include <optional>
#include <string>

#include "signals.h"

namespace qvdump {

// The last component of a name as the system reads it ("x\R12.tif" of "d/x\R12.tif").
std::string NativeLeaf(const std::string& name);
// What stands before it, its last '/' included ("d/"; "" for a name in the working folder).
std::string NativeFolderPart(const std::string& name);
// The extension of the last component, from its last dot, upper-cased (".FMS"), or "".
std::string NativeExtension(const std::string& name);

class LibraryName {
  public:
    explicit LibraryName(const std::string& name);
    ~LibraryName();
    LibraryName(const LibraryName&) = delete;
    LibraryName& operator=(const LibraryName&) = delete;

    // The path to give the library: the name itself when the library reads it as the system
    // does; else one through a descriptor of its folder, or, when the last component itself
    // reads otherwise, a link in a private folder whose name reads as one of the same kind.
    // Empty when none could be made (Error() says why).
    const std::string& Path() const { return m_path; }
    int Error() const { return m_error; }
    // True when the library reads the last component of Path() otherwise than the user's.
    bool Renamed() const { return !m_link.empty(); }

  private:
    std::string m_path;
    int m_error = 0;
    int m_fd = -1;  // the folder, or the file behind the link
    std::string m_link, m_folder;
    std::optional<TemporaryRemover> m_remover;
};

}  // namespace qvdump
