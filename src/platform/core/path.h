// Paths: "\" and "/" both separate components on input, "/" joins on output, drive letters are
// recognised; extension = from the last dot of the last component, as the Windows splitter gives.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace win {

struct SplitPathParts {
    std::string drive;  // "C:" or empty
    std::string dir;    // folder with its trailing separator, or empty
    std::string fname;  // last component without its extension
    std::string ext;    // from the last "." of the last component, dot included, or empty
};
SplitPathParts SplitPath(std::string_view path);

std::string PathExtension(std::string_view path);  // SplitPath(path).ext
std::string PathStem(std::string_view path);       // SplitPath(path).fname
std::string PathFileName(std::string_view path);   // last component
std::string PathFolder(
    std::string_view path);  // everything before the last component, no trailing separator
std::string PathJoin(std::string_view folder,
                     std::string_view name);  // "/" joins; empty folder: the name

// A Windows path the system hard-codes ("C:\Temp\x.ini") as a path on this machine: drive C maps to
// $QUORIN_DRIVE_C (default ${XDG_CONFIG_HOME:-$HOME/.config}/quorin/drive_c); "\" becomes "/".
std::string ToNativePath(std::string_view path);

struct FolderEntry {
    std::string name;  // name inside the folder, no path
    bool isDirectory = false;
};
// Entries of `folder` whose names match `pattern` ('*' and '?' wildcards, compared without regard
// to case, as the Windows file search does); "." and ".." are left out. Empty when unreadable.
std::vector<FolderEntry> FindFiles(std::string_view folder, std::string_view pattern);

bool FileExists(std::string_view path);

// Case-insensitive comparison in the system's 8-bit code page (ASCII letters fold).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToUpperAnsi(std::string_view text);

}  // namespace win
