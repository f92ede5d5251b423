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
    // reads otherwise, through a link whose name reads as one of the same kind, in a folder of
    // its own under $TMPDIR reached through its descriptor. Empty when none could be made.
    const std::string& Path() const { return m_path; }
    // Why no path could be made ("$TMPDIR (/x): Permission denied"...), or empty.
    const std::string& Problem() const { return m_problem; }
    // True when the library reads the last component of Path() otherwise than the user's.
    bool Renamed() const { return m_remover.has_value() && !m_path.empty(); }

  private:
    bool MakeLink(const std::string& linkName);

    std::string m_path, m_problem;
    int m_fd = -1;      // the name's folder, or the file behind the link
    int m_parent = -1;  // $TMPDIR, opened before the link's folder is made in it
    int m_folder = -1;  // the link's folder
    std::optional<TemporaryRemover> m_remover;
};

}  // namespace qvdump
