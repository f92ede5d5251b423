// INI reading with the profile API's answers: case-blind names, trimmed and unquoted values, cut
// to the buffer, defaults, lists of sections and keys, and a fresh read on every call.
#include "platform/files/ini.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "common/test_util.h"

using namespace win;
using quorin::test::TempDir;

namespace {

const char* const kIni =
    "; filter settings\r\n"
    "[CR Filter]\r\n"
    "  Gamma =  1.25  \r\n"
    "Name=\"  quoted  \"\r\n"
    "Single='x'\r\n"
    "Half=\"open\r\n"
    "Empty=\r\n"
    "Level=-42abc\r\n"
    "Big=4294967297\r\n"
    "no equals sign\r\n"
    "[Other]\r\n"
    "Gamma=2\r\n"
    "[cr filter]\r\n"
    "Gamma=ignored, the first section wins\r\n";

std::string Get(const char* section, const char* key, const char* def, const std::string& path,
                DWORD size = 256) {
    std::vector<char> buffer(size + 1, '#');
    DWORD n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, path.c_str());
    EXPECT_EQ(buffer[n], '\0') << "always terminated";
    EXPECT_EQ(buffer[size], '#') << "nothing written past the buffer";
    return std::string(buffer.data(), n);
}

TEST(Ini, ValuesLikeTheProfileApi) {
    TempDir dir;
    const std::string path = dir.file("f.ini");
    quorin::test::WriteText(path, kIni);
    EXPECT_EQ(Get("cr filter", "GAMMA", "d", path), "1.25");
    EXPECT_EQ(Get("CR Filter", "Name", "d", path), "  quoted  ");
    EXPECT_EQ(Get("CR Filter", "Single", "d", path), "x");
    EXPECT_EQ(Get("CR Filter", "Half", "d", path), "\"open");
    EXPECT_EQ(Get("CR Filter", "Empty", "d", path), "") << "present but empty is no default";
    EXPECT_EQ(Get("CR Filter", "Missing", "def  ", path), "def");
    EXPECT_EQ(Get("CR Filter", "Missing", nullptr, path), "");
    EXPECT_EQ(Get("Nope", "Gamma", "d", path), "d");
    EXPECT_EQ(Get("Other", "Gamma", "d", path), "2");
    EXPECT_EQ(Get("CR Filter", "Gamma", "d", dir.file("missing.ini")), "d");
}

TEST(Ini, CutToTheBuffer) {
    TempDir dir;
    const std::string path = dir.file("f.ini");
    quorin::test::WriteText(path, kIni);
    EXPECT_EQ(Get("CR Filter", "Gamma", "", path, 3), "1.");
    EXPECT_EQ(Get("CR Filter", "Gamma", "", path, 1), "");
    EXPECT_EQ(Get("CR Filter", "Missing", "longdefault", path, 5), "long");
    char untouched = 'x';
    EXPECT_EQ(GetPrivateProfileStringA("CR Filter", "Gamma", "", &untouched, 0, path.c_str()), 0u);
    EXPECT_EQ(untouched, 'x');
}

TEST(Ini, SectionAndKeyLists) {
    TempDir dir;
    const std::string path = dir.file("f.ini");
    quorin::test::WriteText(path, "[A]\nx=1\ny=2\n[B]\n");
    EXPECT_EQ(Get(nullptr, nullptr, "", path), std::string("A\0B\0", 4));
    EXPECT_EQ(Get("a", nullptr, "", path), std::string("x\0y\0", 4));
    EXPECT_EQ(Get("a", nullptr, "", path, 4), std::string("x\0", 2)) << "cut, still two NULs";
}

TEST(Ini, NumbersAndRereading) {
    TempDir dir;
    const std::string path = dir.file("f.ini");
    quorin::test::WriteText(path, kIni);
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Gamma", 7, path.c_str()), 1u);
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("CR Filter", "Level", 7, path.c_str())), -42);
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Name", 7, path.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Big", 7, path.c_str()), 1u)
        << "wraps like the original";
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Empty", 7, path.c_str()), 7u);
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Missing", -3, path.c_str()),
              static_cast<UINT>(-3));
    quorin::test::WriteText(path, "[CR Filter]\nGamma=9\n");
    EXPECT_EQ(GetPrivateProfileIntA("CR Filter", "Gamma", 7, path.c_str()), 9u) << "read again";
}

TEST(Ini, AtofIgnoresTheProcessLocale) {
    // A locale with a decimal comma, when the machine has one, must not change the reading.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8", "C"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
    }
    EXPECT_DOUBLE_EQ(AtofClassic("  1.25xyz"), 1.25);
    EXPECT_DOUBLE_EQ(AtofClassic("-3e2"), -300.0);
    EXPECT_DOUBLE_EQ(AtofClassic("1,5"), 1.0);
    EXPECT_DOUBLE_EQ(AtofClassic("abc"), 0.0);
    EXPECT_DOUBLE_EQ(AtofClassic(""), 0.0);
    EXPECT_DOUBLE_EQ(AtofClassic(nullptr), 0.0);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Ini, WindowsPathAndUnicodeFile) {
    TempDir dir;
    const char* old = std::getenv("QUORIN_DRIVE_C");
    const std::string saved = old ? old : "";
    setenv("QUORIN_DRIVE_C", dir.path().c_str(), 1);
    std::filesystem::create_directories(dir.file("Temp"));
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"[S]\r\nName=Caf\u00e9\r\n")) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    quorin::test::WriteText(dir.file("Temp/CRFilter.ini"), utf16);
    EXPECT_EQ(Get("s", "name", "", "C:\\Temp\\CRFilter.ini"), "Caf\xe9");
    if (old)
        setenv("QUORIN_DRIVE_C", saved.c_str(), 1);
    else
        unsetenv("QUORIN_DRIVE_C");
}

}  // namespace
