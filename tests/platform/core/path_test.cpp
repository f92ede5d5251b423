// Paths as the Windows splitter gives them, joins, the drive C mapping and the folder search.
#include "platform/core/path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/test_util.h"

using namespace win;
using quorin::test::TempDir;

namespace {

void ExpectSplit(std::string_view path, const char* drive, const char* dir, const char* fname,
                 const char* ext) {
    SplitPathParts p = SplitPath(path);
    EXPECT_EQ(p.drive, drive) << path;
    EXPECT_EQ(p.dir, dir) << path;
    EXPECT_EQ(p.fname, fname) << path;
    EXPECT_EQ(p.ext, ext) << path;
}

TEST(Path, SplitLikeWindows) {
    ExpectSplit("C:\\a\\b.txt", "C:", "\\a\\", "b", ".txt");
    ExpectSplit("C:b.txt", "C:", "", "b", ".txt");
    ExpectSplit("/home/u/x.dcm", "", "/home/u/", "x", ".dcm");
    ExpectSplit("a/b\\c.D", "", "a/b\\", "c", ".D");
    ExpectSplit(".bashrc", "", "", "", ".bashrc");
    ExpectSplit("a.b.c", "", "", "a.b", ".c");
    ExpectSplit("dir.x\\file", "", "dir.x\\", "file", "");
    ExpectSplit("name.", "", "", "name", ".");
    ExpectSplit("", "", "", "", "");
    ExpectSplit("d:\\", "d:", "\\", "", "");
    EXPECT_EQ(PathExtension("x/y.tif"), ".tif");
    EXPECT_EQ(PathStem("x/y.tif"), "y");
    EXPECT_EQ(PathFileName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(PathFolder("C:\\a\\b.txt"), "C:\\a");
    EXPECT_EQ(PathFolder("/b.txt"), "/");
    EXPECT_EQ(PathFolder("b.txt"), "");
}

TEST(Path, Join) {
    EXPECT_EQ(PathJoin("", "n.txt"), "n.txt");
    EXPECT_EQ(PathJoin("/a", "n.txt"), "/a/n.txt");
    EXPECT_EQ(PathJoin("/a/", "n.txt"), "/a/n.txt");
    EXPECT_EQ(PathJoin("C:\\a\\", "n.txt"), "C:\\a\\n.txt");
}

TEST(Path, DriveCMapsToConfiguredRoot) {
    const char* old = std::getenv("QUORIN_DRIVE_C");
    std::string saved = old ? old : "";
    setenv("QUORIN_DRIVE_C", "/srv/drive_c/", 1);
    EXPECT_EQ(ToNativePath("C:\\Temp\\CR.ini"), "/srv/drive_c/Temp/CR.ini");
    EXPECT_EQ(ToNativePath("c:/Temp/x"), "/srv/drive_c/Temp/x");
    EXPECT_EQ(ToNativePath("C:x.ini"), "/srv/drive_c/x.ini");
    EXPECT_EQ(ToNativePath("rel\\a.txt"), "rel/a.txt");
    EXPECT_EQ(ToNativePath("/abs/a.txt"), "/abs/a.txt");
    unsetenv("QUORIN_DRIVE_C");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ToNativePath("C:\\Temp"), "/cfg/quorin/drive_c/Temp");
    unsetenv("XDG_CONFIG_HOME");
    if (old) setenv("QUORIN_DRIVE_C", saved.c_str(), 1);
}

TEST(Path, FindFilesMatchesWithoutCase) {
    TempDir dir;
    for (const char* name : {"B.DCM", "a.dcm", "c.dcmx", "d.tif", "ab", "noext"})
        quorin::test::WriteText(dir.file(name), "x");
    std::filesystem::create_directory(dir.file("Sub.dcm"));
    auto names = [&](std::string_view pattern) {
        std::string joined;
        for (const FolderEntry& e : FindFiles(dir.path(), pattern))
            joined += e.name + (e.isDirectory ? "/ " : " ");
        return joined;
    };
    EXPECT_EQ(names("*.dcm"), "a.dcm B.DCM Sub.dcm/ ");
    EXPECT_EQ(names("?.DCM"), "a.dcm B.DCM ");
    EXPECT_EQ(names("*"), "a.dcm ab B.DCM c.dcmx d.tif noext Sub.dcm/ ");
    EXPECT_EQ(names("*.*"), names("*"));
    EXPECT_EQ(names("a*"), "a.dcm ab ");
    EXPECT_EQ(names("*x*t"), "noext ");
    EXPECT_EQ(names("zzz"), "");
    EXPECT_TRUE(FindFiles(dir.file("missing"), "*").empty());
    EXPECT_TRUE(FileExists(dir.file("ab")));
    EXPECT_FALSE(FileExists(dir.file("AB")));
}

TEST(Path, CaseFolding) {
    EXPECT_TRUE(EqualsNoCase("Software\\Quorin", "SOFTWARE\\quorin"));
    EXPECT_FALSE(EqualsNoCase("abc", "abd"));
    EXPECT_FALSE(EqualsNoCase("ab", "abc"));
    EXPECT_EQ(ToUpperAnsi("aZ9\xe9"), "AZ9\xe9");
}

}  // namespace
