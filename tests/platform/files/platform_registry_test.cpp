// The registry over ".reg"-file hives: the export format in its encodings, case-blind lookups,
// value types and sizes as Windows answers them, atomic saves that reload to the same values,
// malformed lines with one notice, lazy loading and threads.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "common/platform/as_user.h"
#include "common/platform/file_size_limit.h"
#include "common/platform/folder_view.h"
#include "common/test_settings.h"
#include "common/test_util.h"
#include "platform/core/notify.h"
#include "platform/files/file.h"
#include "platform/files/registry.h"

using namespace win;
using quorin::test::TempDir;

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previous = SetNotifyHandler([this](std::string_view caption, std::string_view text) {
            m_notices.push_back(std::string(caption) + ": " + std::string(text));
        });
    }
    void TearDown() override { SetNotifyHandler(m_previous); }

    // The value's bytes as text, its type in `type`; "<error N>" when the query fails.
    std::string Query(HKEY root, const char* key, const char* name, DWORD* type = nullptr) {
        HKEY h = nullptr;
        LONG rc = RegOpenKeyExA(root, key, 0, KEY_READ, &h);
        if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
        DWORD size = 0;
        rc = RegQueryValueExA(h, name, nullptr, type, nullptr, &size);
        std::string data(size, '\0');
        if (rc == ERROR_SUCCESS)
            rc = RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()),
                                  &size);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
        return data;
    }

    quorin::test::ScopedSettings m_settings;  // hives of the test's own
    std::vector<std::string> m_notices;
    NotifyHandler m_previous;
};

std::string Utf16Bom(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// The answer of setting K\b (RegCreateKeyExA + RegSetValueExA) in a fresh process of user `uid`
// (root, or the test's own user), then its notices, one a line.
std::string SetInChild(uid_t uid, const char* key = "K") {
    int out[2];
    if (::pipe(out) != 0) return "<pipe>";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (uid != ::geteuid() &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
             ::setresuid(uid, uid, uid) != 0))
            ::_exit(99);
        std::string notices;
        SetNotifyHandler(
            [&](std::string_view, std::string_view text) { notices += "\n" + std::string(text); });
        registry::ClearHives();
        registry::ReloadHives();
        HKEY h = nullptr;
        DWORD two = 2;
        LONG code = RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &h, nullptr);
        if (h != nullptr)
            code = RegSetValueExA(h, "b", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4);
        RegCloseKey(h);
        const std::string text = std::to_string(code) + notices;
        ::_exit(::write(out[1], text.data(), text.size()) == std::ssize(text) ? 0 : 1);
    }
    ::close(out[1]);
    std::string text(1 << 16, '\0');
    text.resize(std::max<ssize_t>(::read(out[0], text.data(), text.size()), 0));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

const char* const kExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\QUORIN\\ZEL]\r\n"
    "\"MaxHisto\"=dword:00000fff\r\n"
    "\"Name\"=\"C:\\\\Images\\\\\\\"x\\\"\"\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\r\n"
    "  19,1a\r\n"
    "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "@=\"default\"\r\n";

TEST_F(Registry, ParsesTheExportFormat) {
    registry::LoadHiveText(0, kExport);
    DWORD type = 0;
    std::string v = Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "MaxHisto", &type);
    EXPECT_EQ(type, REG_DWORD);
    ASSERT_EQ(v.size(), 4u);
    DWORD number = 0;
    std::memcpy(&number, v.data(), 4);
    EXPECT_EQ(number, 0xfffu);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Name", &type),
              std::string("C:\\Images\\\"x\"\0", 14));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Blob", &type), "\x01\x02\xff");
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Long").size(), 27u);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Path", &type),
              std::string("%A%\0", 4))
        << "UTF-16 in a version 5 file comes out 8-bit";
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", nullptr),
              std::string("default\0", 8));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", ""), std::string("default\0", 8));
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(Registry, CaseBlindKeysAndNames) {
    registry::LoadHiveText(0, kExport);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "software\\quorin\\zel", "maxhisto").size(), 4u);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "SOFTWARE\\Quorin\\ZEL\\", "MAXHISTO").size(), 4u);
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &parent), ERROR_SUCCESS)
        << "parents of a section exist";
    EXPECT_EQ(Query(parent, "Quorin\\Zel", "Name").size(), 14u);
    RegCloseKey(parent);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Other", "x"), "<error 2>");
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Missing"), "<error 2>");
}

TEST_F(Registry, UnicodeAndRegedit4Files) {
    std::string text = kExport;
    registry::LoadHiveText(0, Utf16Bom(text));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Name").size(), 14u);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Path"), std::string("%A%\0", 4));
    // REGEDIT4: LF line ends, 8-bit text, hex(2) in the 8-bit code page.
    registry::LoadHiveText(1,
                           "REGEDIT4\n\n[HKEY_USERS\\.DEFAULT\\Software\\QUORIN]\n"
                           "\"Lang\"=\"D\xe9u\"\n\"P\"=hex(2):25,41,25,00\n");
    EXPECT_EQ(Query(HKEY_USERS, ".DEFAULT\\Software\\QUORIN", "Lang"), std::string("D\xe9u\0", 4));
    EXPECT_EQ(Query(HKEY_USERS, ".DEFAULT\\Software\\QUORIN", "P"), std::string("%A%\0", 4));
    // Accented text in a UTF-16 file arrives in the 8-bit code page; what it lacks becomes '?'.
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"\u00e9\u2020\u0442\"")) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    registry::LoadHiveText(2, utf16);
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "S", "a"), std::string("\xe9\x86?\0", 4));
    EXPECT_EQ(m_notices.size(), 1u) << "the UTF-16 text above has no header line";
}

TEST_F(Registry, MalformedLinesSkippedWithOneNotice) {
    registry::LoadHiveText(0,
                           "Windows Registry Editor Version 5.00\n"
                           "\"Orphan\"=\"before any key\"\n"
                           "[HKEY_CURRENT_USER\\A]\n"
                           "\"Good\"=dword:1\n"
                           "\"Bad\"=dword:123456789\n"
                           "\"Open\"=\"no end\n"
                           "garbage\n"
                           "\"Hex\"=hex:0g\n"
                           "[HKEY_LOCAL_MACHINE\\Elsewhere]\n"
                           "\"Ignored\"=dword:2\n"
                           "[HKEY_CURRENT_USER\\B\n"
                           "; a comment\n"
                           "\"Also\"=\"good\"\n");
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_NE(m_notices[0].find("7 malformed"), std::string::npos) << m_notices[0];
    EXPECT_NE(m_notices[0].find("line 2"), std::string::npos) << m_notices[0];
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Good"), std::string("\1\0\0\0", 4));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Bad"), "<error 2>");
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "Also"), "<error 2>")
        << "a broken section holds nothing";
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Elsewhere", "Ignored"), "<error 2>");
}

TEST_F(Registry, DeletionsInTheFile) {
    registry::LoadHiveText(0,
                           "REGEDIT4\n[HKEY_CURRENT_USER\\A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
                           "[HKEY_CURRENT_USER\\AB]\n\"z\"=\"3\"\n"
                           "[HKEY_CURRENT_USER\\A\\B]\n\"x\"=-\n[-HKEY_CURRENT_USER\\A]\n");
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "A\\B", "y"), "<error 2>");
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "AB", "z"), std::string("3\0", 2));
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(Registry, QuerySizesAndTypes) {
    registry::LoadHiveText(0, kExport);
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", 0, KEY_READ, &h),
              ERROR_SUCCESS);
    BYTE small[4] = {9, 9, 9, 9};
    DWORD size = sizeof small;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, &type, small, &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(type, REG_SZ);
    // A caller expecting a number learns the real type and size.
    DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(type, REG_SZ);
    size = sizeof number;
    EXPECT_EQ(RegQueryValueExA(h, "Blob", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(RegQueryValueExA(h, "Blob", nullptr, &type, small, nullptr),
              static_cast<LONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegSetValueExA(h, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              static_cast<LONG>(ERROR_ACCESS_DENIED))
        << "opened for reading";
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), static_cast<LONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegQueryValueExA(h, "Blob", nullptr, &type, nullptr, &size),
              static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(Registry, WritesSaveAtomicallyAndReload) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    DWORD number = 0xfff;
    EXPECT_EQ(RegSetValueExA(h, "MaxHisto", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "WithNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("a\"b\\"), 5),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>("a\r\nb\xe9"), 6),
              ERROR_SUCCESS);
    std::string big(300, '\x5a');
    EXPECT_EQ(
        RegSetValueExA(h, "Big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()), 300),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "Odd", 0, 11, reinterpret_cast<const BYTE*>("12345678"), 8),
              ERROR_SUCCESS);
    RegCloseKey(h);
    const std::string file = registry::UserHivePath();
    EXPECT_EQ(file, m_settings.file("user.reg"));
    ASSERT_TRUE(std::filesystem::exists(file));
    // No temporary file left; the lock file stays, as private as the settings.
    EXPECT_EQ(quorin::test::Entries(m_settings.folder()),
              (std::vector<std::string>{"user.reg", "user.reg.lock"}));
    EXPECT_EQ(quorin::test::StatOf(file + ".lock").st_mode & 0777, 0600u);

    registry::ClearHives();
    registry::ReloadHives();
    DWORD type = 0;
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "MaxHisto", &type),
              std::string("\xff\x0f\0\0", 4));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "WithNul"),
              std::string("a\"b\\\0", 5));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "NoNul", &type), "abc");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Lines"),
              std::string("a\r\nb\xe9\0", 6));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Big"), big);
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", "Odd", &type), "12345678");
    EXPECT_EQ(type, 11u);
    EXPECT_TRUE(m_notices.empty());

    const std::string text(reinterpret_cast<const char*>(quorin::test::ReadBytes(file).data()),
                           quorin::test::ReadBytes(file).size());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\QUORIN\\ZEL]\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"MaxHisto\"=dword:00000fff\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"WithNul\"=\"a\\\"b\\\\\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"NoNul\"=hex(1):61,00,62,00,63,00\r\n"), std::string::npos);
}

// Every text the settings text gives a meaning to, in a key name, a value name and string data:
// saved and read back as a new process reads them, or, where a line break would end the name's
// line, refused (87) with nothing made. No name makes another key or value.
TEST_F(Registry, EveryNameReadsBackOrIsRefused) {
    const std::string texts[] = {
        "\r\n", "\n",   "\r",  "a]\r\n[HKEY_CURRENT_USER\\Software\\Injected]\r\n\"x\"=\"y",
        "[",    "]",    "[x]", "\"",
        "\\",   "\\\"", "=",   "@",
        ";",    "-",    ""};
    HKEY other = nullptr, data = nullptr;  // the values of refused keys, and the string data
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "N", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &other, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "D", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &data,
                              nullptr),
              ERROR_SUCCESS);
    const auto set = [](HKEY key, const std::string& name, const std::string& text) {
        return RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    };
    const auto breaks = [](const std::string& text) {
        return text.find_first_of("\r\n") != std::string::npos;
    };
    for (const std::string& t : texts) {
        SCOPED_TRACE(&t - texts);
        const LONG code = breaks(t) ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("K" + t).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  code);
        EXPECT_EQ(set(h != nullptr ? h : other, t, t), code);
        EXPECT_EQ(set(data, std::to_string(&t - texts), t), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    RegCloseKey(other);
    RegCloseKey(data);
    registry::ClearHives();
    registry::ReloadHives();
    for (const std::string& t : texts) {
        SCOPED_TRACE(&t - texts);
        const std::string stored(t.c_str(), t.size() + 1);
        EXPECT_EQ(Query(HKEY_CURRENT_USER, breaks(t) ? "N" : ("K" + t).c_str(), t.c_str()),
                  breaks(t) ? "<error 2>" : stored);
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "D", std::to_string(&t - texts).c_str()), stored);
    }
    HKEY h = nullptr;
    for (const char* made : {"Software", "a]", "K\r"}) {
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, made, 0, KEY_READ, &h),
                  static_cast<LONG>(ERROR_FILE_NOT_FOUND))
            << made;
    }
    for (const char* key : {"N", "D"}) EXPECT_EQ(Query(HKEY_CURRENT_USER, key, "x"), "<error 2>");
    EXPECT_EQ(m_notices, std::vector<std::string>{});
}

TEST_F(Registry, WritesGoOnlyToTheCurrentUser) {
    registry::LoadHiveText(2, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Q]\n\"a\"=dword:1\n");
    HKEY h = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, &disposition),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Q", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(h, "b", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    RegCloseKey(h);
    EXPECT_FALSE(std::filesystem::exists(registry::UserHivePath()));
}

TEST_F(Registry, MissingFileIsAnEmptyHiveAndFollowsTheFile) {
    registry::ReloadHives();
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software", "x"), "<error 2>");
    HKEY made = nullptr;  // the first save makes the file
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Made", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &made, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    EXPECT_TRUE(std::filesystem::exists(m_settings.file("user.reg")));
    // Another process saves the file (by rename, as this layer does): the next call sees it.
    const std::string other = m_settings.file("other.tmp");
    quorin::test::WriteText(other, Utf16Bom("Windows Registry Editor Version 5.00\r\n\r\n"
                                            "[HKEY_CURRENT_USER\\K]\r\n\"v\"=dword:00000002\r\n"));
    std::filesystem::rename(other, m_settings.file("user.reg"));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "v"), std::string("\2\0\0\0", 4));
    // Our write keeps what the other process wrote.
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    quorin::test::WriteText(other,
                            "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"v\"=dword:3\n\"w\"=\"theirs\"\n");
    std::filesystem::rename(other, m_settings.file("user.reg"));
    DWORD four = 4;
    EXPECT_EQ(RegSetValueExA(h, "mine", 0, REG_DWORD, reinterpret_cast<BYTE*>(&four), 4),
              ERROR_SUCCESS);
    RegCloseKey(h);
    registry::ClearHives();
    registry::ReloadHives();
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "v"), std::string("\3\0\0\0", 4));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "w"), std::string("theirs\0", 7));
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "mine"), std::string("\4\0\0\0", 4));
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(Registry, UnreadableFileIsKeptBeforeItIsRewritten) {
    const std::string original = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:1\nnonsense\n";
    quorin::test::WriteText(m_settings.file("user.reg"), original);
    registry::ReloadHives();
    ASSERT_EQ(m_notices.size(), 1u);
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_WRITE, &h), ERROR_SUCCESS);
    DWORD two = 2;
    EXPECT_EQ(RegSetValueExA(h, "b", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "c", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4),
              ERROR_SUCCESS);
    RegCloseKey(h);
    const auto backup = quorin::test::ReadBytes(m_settings.file("user.reg.bak"));
    EXPECT_EQ(std::string(backup.begin(), backup.end()), original);
    struct stat info {};
    ASSERT_EQ(::stat(m_settings.file("user.reg.bak").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the copy is as private as the settings";
    EXPECT_EQ(m_notices.size(), 2u) << "one notice for the copy";
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "a"), std::string("\1\0\0\0", 4));
}

// Where the original cannot be kept (a folder in the copy's place, a copy or a folder the user may
// not write, a copy past a file-size limit that the shorter rewrite would not pass, an original
// that cannot be read), or the settings cannot be saved once it is (a file the user may not write,
// another process's turn held past the wait), the settings are not saved: the file stays as it
// was, the notice names the file refused and says why, as the system words it, and none says the
// file is rewritten. Run as an ordinary user: root may write anything.
TEST_F(Registry, UnreadableFileIsNotRewrittenWithoutItsCopy) {
    using quorin::test::HoldTurn;
    const std::string hive = m_settings.file("user.reg");
    const std::string backup = m_settings.file("user.reg.bak");
    const std::string folder = m_settings.folder();
    const std::string original =
        "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:1\nnonsense" + std::string(400, 'x') + "\n";
    const auto give = [](const std::string& path, mode_t mode) {
        EXPECT_EQ(::chown(path.c_str(), quorin::test::Actor(), static_cast<gid_t>(-1)), 0);
        ::chmod(path.c_str(), mode);
    };
    enum class Copy { none, folder, asBefore, original };  // at user.reg.bak after the save
    struct Case {
        std::string notice;  // a whole line
        std::function<void()> setUp, afterLoad;
        rlim_t limit;
        Copy copy;
    };
    const std::string copyFailed =
        "settings not saved to " + hive + ": its copy " + backup + " could not be written: ";
    const std::string readFailed =
        "settings not saved to " + hive + ": it could not be read to copy it to " + backup + ": ";
    const auto makeFolder = [&] { std::filesystem::create_directory(backup); };
    const auto readOnlyCopy = [&] {
        quorin::test::WriteText(backup, "old copy");
        give(backup, 0400);
    };
    const auto closeFolder = [&] { give(folder, 0555); };
    const auto writeOnly = [&] { ::chmod(hive.c_str(), 0200); };
    const auto readOnly = [&] { ::chmod(hive.c_str(), 0400); };
    int turn = -1;               // another process's turn: the write lock of the lock file
    const auto holdTurn = [&] {  // a lock file of the settings file's mode, not of a case before
        std::filesystem::remove(hive + ".lock");
        ASSERT_GE(turn = HoldTurn(hive + ".lock"), 0);
        give(hive + ".lock", 0600);
    };
    registry::SetSaveLockWait(std::chrono::milliseconds{300});  // the children inherit it
    const std::string notSaved = "settings could not be saved to " + hive + ": ";
    const auto any = RLIM_INFINITY;
    const Case cases[] = {
        {copyFailed + "Is a directory", makeFolder, {}, any, Copy::folder},
        {copyFailed + "Permission denied", readOnlyCopy, {}, any, Copy::asBefore},
        {copyFailed + "Permission denied", closeFolder, {}, any, Copy::none},
        {copyFailed + "File too large", {}, {}, 200, Copy::none},
        // the original unreadable when the settings are saved, and from the start
        {readFailed + "Permission denied", {}, writeOnly, any, Copy::none},
        {hive + ": could not be read (Permission denied)", writeOnly, {}, any, Copy::none},
        {notSaved + "Permission denied", readOnly, {}, any, Copy::original},
        {notSaved + "locked by another process (waited 300 ms)", holdTurn, {}, any, Copy::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::filesystem::remove_all(backup);
        quorin::test::WriteText(hive, original);
        give(hive, 0600);
        give(folder, 0755);
        if (c.setUp) c.setUp();
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        // The child answers the result of setting a value, then the notices, one a line.
        const auto save = [&] {
            registry::ReloadHives();
            if (c.afterLoad) c.afterLoad();
            HKEY h = nullptr;
            DWORD two = 2;
            LONG code = RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &h, nullptr);
            if (code == ERROR_SUCCESS)
                code = RegSetValueExA(h, "b", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4);
            RegCloseKey(h);
            std::string text = std::to_string(code);
            for (const std::string& notice : m_notices) text += "\n" + notice;
            return ::write(out[1], text.data(), text.size()) == std::ssize(text) ? 0 : 1;
        };
        EXPECT_EQ(quorin::test::UnderSizeLimit(c.limit, save), 0);
        ::close(out[1]);
        std::string text(1 << 16, '\0');
        text.resize(std::max<ssize_t>(::read(out[0], text.data(), text.size()), 0));
        ::close(out[0]);
        ::chmod(folder.c_str(), 0755);
        ::chmod(hive.c_str(), 0600);  // read back below by the test's own user
        if (turn >= 0) ::close(turn);
        turn = -1;

        EXPECT_NE(text.substr(0, text.find('\n')), "0") << "the value is not saved";
        EXPECT_NE((text + "\n").find("\nRegistry: " + c.notice + "\n"), std::string::npos)
            << c.notice << " in\n"
            << text;
        EXPECT_EQ(text.find("is rewritten"), std::string::npos) << text;
        const auto kept = quorin::test::ReadBytes(hive);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), original);
        EXPECT_EQ(c.copy == Copy::none, !std::filesystem::exists(backup));
        EXPECT_EQ(c.copy == Copy::folder, std::filesystem::is_directory(backup));
        if (c.copy == Copy::asBefore || c.copy == Copy::original) {
            EXPECT_EQ(quorin::test::ReadText(backup),
                      c.copy == Copy::original ? original : "old copy");
        }
    }
    registry::SetSaveLockWait(quorin::kSaveLockWait);
}

// The waits of one change share one bound, and only writers of the settings make a change wait.
// A user who may not write them, holding every lock they can take (the folder's, user.reg's and
// user.reg.bak's flock, a read lock of user.reg), never does; another writer's turn held past the
// bound refuses the change once the bound has passed (not once per lock), the notice telling the
// time waited; a turn let go within it is waited for, other locks of user.reg and its copy held
// past it. Meanwhile (waiting, or writing) another thread reads a value at once from memory. The
// settings file holds what could not be read, so the change makes its copy too.
TEST_F(Registry, AChangeWaitsOnlyForWritersAndOnceForAllItsLocks) {
    using namespace std::chrono_literals;
    const std::string folder = m_settings.folder(), hive = m_settings.file("user.reg");
    const std::string original = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=dword:1\nnonsense\n";
    ::chmod(folder.c_str(), 0755);
    registry::SetSaveLockWait(400ms);
    enum class Holder { reader, writerForGood, writerLetsGo };
    bool skipped = false;
    for (const Holder holder : {Holder::reader, Holder::writerForGood, Holder::writerLetsGo}) {
        SCOPED_TRACE(static_cast<int>(holder));
        if (holder == Holder::reader && ::geteuid() != 0) {
            skipped = true;
            continue;
        }
        quorin::test::WriteText(hive, original);
        quorin::test::WriteText(hive + ".bak", "old copy");
        ::chmod(hive.c_str(), 0644);
        ::chmod((hive + ".bak").c_str(), 0644);
        std::filesystem::remove(hive + ".lock");
        registry::ReloadHives();
        m_notices.clear();
        int ready[2], done[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(done), 0);
        const pid_t other = ::fork();
        ASSERT_GE(other, 0);
        if (other == 0) {
            // Every lock this process may take, held until the parent is done; a writer's turn
            // too, for good or for 250 ms. Answers what it took: 'r' for a reader, 't' for a turn.
            if (holder == Holder::reader && !quorin::test::BecomeActor()) ::_exit(99);
            std::vector<int> held;
            for (const std::string& path : {folder, hive, hive + ".bak"}) {
                held.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
                if (held.back() < 0 || ::flock(held.back(), LOCK_EX) != 0) ::_exit(98);
            }
            struct flock shared {};
            shared.l_type = F_RDLCK;
            if (::fcntl(held[1], F_OFD_SETLK, &shared) != 0) ::_exit(97);
            const int turn = quorin::test::HoldTurn(hive + ".lock");
            char took = holder == Holder::reader ? 'r' : 't';
            if ((holder == Holder::reader) != (turn < 0) ||
                (holder == Holder::reader &&
                 ::open((hive + ".lock").c_str(), O_RDONLY | O_CLOEXEC) >= 0))
                took = '!';  // the lock file: the reader may not even open it
            (void)!::write(ready[1], &took, 1);
            if (holder == Holder::writerLetsGo) {
                std::this_thread::sleep_for(250ms);
                ::close(turn);
            }
            char byte;
            (void)!::read(done[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        // The lock file is there before the reader looks (a writer made it earlier).
        char took = 0;
        if (holder == Holder::reader) {
            ASSERT_EQ(::close(quorin::test::HoldTurn(hive + ".lock")), 0);
            ::chmod((hive + ".lock").c_str(), 0600);
        }
        ASSERT_EQ(::read(ready[0], &took, 1), 1);
        EXPECT_EQ(took, holder == Holder::reader ? 'r' : 't');
        // The reader's row: the copy and the file each take 250 ms to write, the read below
        // falls into the copy's.
        if (holder == Holder::reader)
            quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::beforeTemporaryLock,
                                             250ms);
        const auto start = std::chrono::steady_clock::now();
        LONG code = -1;
        std::thread change([&] {
            HKEY h = nullptr;
            code = RegCreateKeyExA(HKEY_CURRENT_USER, "K\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &h, nullptr);
            RegCloseKey(h);
        });
        std::this_thread::sleep_for(100ms);  // the change waits, or writes, by now
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "a"), std::string("\1\0\0\0", 4));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 50ms) << "a read never waits";
        change.join();
        const auto waited = std::chrono::steady_clock::now() - start;
        quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::none);
        (void)!::write(done[1], "x", 1);
        ::close(done[1]);
        ::close(ready[0]);
        ::waitpid(other, nullptr, 0);

        const bool saved = holder != Holder::writerForGood;
        EXPECT_EQ(code, saved ? ERROR_SUCCESS : static_cast<LONG>(ERROR_SHARING_VIOLATION));
        EXPECT_GE(waited, holder == Holder::reader ? 0ms : saved ? 250ms : 400ms);
        EXPECT_LT(waited, holder == Holder::reader ? 700ms : saved ? 400ms : 700ms);
        EXPECT_EQ(quorin::test::ReadText(hive + ".bak"), saved ? original : "old copy");
        EXPECT_EQ(
            quorin::test::ReadText(hive).find("[HKEY_CURRENT_USER\\K\\New]") != std::string::npos,
            saved);
        EXPECT_EQ(quorin::test::StatOf(hive + ".lock").st_mode & 0777, 0600u);
        if (!saved) {
            ASSERT_EQ(m_notices.size(), 1u);
            EXPECT_EQ(m_notices[0], "Registry: settings could not be saved to " + hive +
                                        ": locked by another process (waited 400 ms)");
        }
    }
    registry::SetSaveLockWait(quorin::kSaveLockWait);
    if (skipped) GTEST_SKIP() << "the row of another user's locks needs a second user";
}

// A change whose lock file is removed while it holds the turn (as a user removes one that looks
// stuck), another change saved meanwhile in the turn of a lock file made afresh: both are kept,
// whether the other is saved before the first one writes (held up before its write; a reader
// holds a read lock of user.reg meanwhile, so that neither change can hold its write lock), or
// after it (the first held up once written, before its rename; the other waits for it), and the
// first process reads what it saved.
TEST_F(Registry, ALockFileRemovedWhileItsTurnIsHeldLosesNoChange) {
    using namespace std::chrono_literals;
    using quorin::replace_testing::Pause;
    const std::string hive = m_settings.file("user.reg");
    for (const Pause where : {Pause::beforeTemporaryLock, Pause::beforeMode}) {
        SCOPED_TRACE(where == Pause::beforeMode ? "saved after" : "saved before");
        quorin::test::WriteText(hive, "REGEDIT4\n");
        std::filesystem::remove(hive + ".lock");
        registry::ClearHives();
        registry::ReloadHives();
        const int reader = ::open(hive.c_str(), O_RDONLY | O_CLOEXEC);
        struct flock shared {};
        shared.l_type = F_RDLCK;
        if (where == Pause::beforeTemporaryLock) {
            ASSERT_EQ(::fcntl(reader, F_OFD_SETLK, &shared), 0);
        }
        const pid_t first = ::fork();
        ASSERT_GE(first, 0);
        if (first == 0) {
            quorin::replace_testing::PauseAt(where, 400ms);
            HKEY h = nullptr;
            const LONG code = RegCreateKeyExA(HKEY_CURRENT_USER, "Mine", 0, nullptr, 0,
                                              KEY_ALL_ACCESS, nullptr, &h, nullptr);
            HKEY other = nullptr;  // and it reads what it saved
            ::_exit(code != ERROR_SUCCESS ? 1
                    : RegOpenKeyExA(HKEY_CURRENT_USER, "Other", 0, KEY_READ, &other) !=
                            ERROR_SUCCESS
                        ? 2
                        : 0);
        }
        std::this_thread::sleep_for(150ms);  // the first change holds its turn, held up
        ASSERT_EQ(::unlink((hive + ".lock").c_str()), 0);
        if (where == Pause::beforeMode) quorin::replace_testing::PauseAt(where, 600ms);
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Other", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(h);
        quorin::replace_testing::PauseAt(Pause::none);
        int status = 0;
        ASSERT_EQ(::waitpid(first, &status, 0), first);
        ::close(reader);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const std::string text = quorin::test::ReadText(hive);
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Mine]"), std::string::npos) << text;
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Other]"), std::string::npos) << text;
    }
}

// A change refused (the settings folder a file, another process's turn held past the bound, the
// copy of a file with unreadable lines not written) changes nothing: the value set is not read
// back, a key to be made gives no handle and is not there; the next change, once it may be
// saved, saves only itself, and the key is then made anew. One notice says why.
TEST_F(Registry, ARefusedChangeLeavesNothingAndSaysSoOnce) {
    const std::string folder = m_settings.folder(), hive = m_settings.file("user.reg");
    const std::string blocked = m_settings.file("blocked");
    quorin::test::WriteText(blocked, "a file where the folder should be");
    registry::SetSaveLockWait(std::chrono::milliseconds{200});
    int turn = -1;
    struct Case {
        const char* unreadable;  // a line of the file this layer cannot read
        std::function<void()> block, unblock;
        std::string notice;
    };
    const Case cases[] = {
        {"", [&] { setenv("QUORIN_CONFIG_DIR", blocked.c_str(), 1); },
         [&] { setenv("QUORIN_CONFIG_DIR", folder.c_str(), 1); },
         "settings could not be saved to " + blocked + "/user.reg: Not a directory"},
        {"", [&] { EXPECT_GE(turn = quorin::test::HoldTurn(hive + ".lock"), 0); },
         [&] { ::close(turn); },
         "settings could not be saved to " + hive + ": locked by another process (waited 200 ms)"},
        {"nonsense\r\n", [&] { std::filesystem::create_directory(hive + ".bak"); },
         [&] { std::filesystem::remove(hive + ".bak"); },
         "settings not saved to " + hive + ": its copy " + hive +
             ".bak could not be written: Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        quorin::test::WriteText(hive, std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n") +
                                          c.unreadable + "\"a\"=dword:1\r\n");
        registry::ReloadHives();
        m_notices.clear();
        HKEY h = nullptr, made = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        c.block();
        DWORD seven = 7, one = 1, disposition = 0;
        EXPECT_NE(RegSetValueExA(h, "refused", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), 4),
                  ERROR_SUCCESS);
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "refused"), "<error 2>");
        EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "K\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &made, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K\\New", 0, KEY_READ, &made),
                  static_cast<LONG>(ERROR_FILE_NOT_FOUND));
        c.unblock();
        EXPECT_EQ(RegSetValueExA(h, "later", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &made, &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
        RegCloseKey(made);
        RegCloseKey(h);
        const std::string text = quorin::test::ReadText(hive);
        EXPECT_EQ(text.find("refused"), std::string::npos) << text;
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\K\\New]"), std::string::npos) << text;
        ASSERT_FALSE(m_notices.empty());
        EXPECT_EQ(m_notices[0], "Registry: " + c.notice);
        EXPECT_EQ(std::count(m_notices.begin(), m_notices.end(), m_notices[0]), 1);
        registry::ClearHives();
        registry::ReloadHives();  // read back as a new process reads them
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "refused"), "<error 2>");
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "later"), std::string("\1\0\0\0", 4));
    }
    registry::SetSaveLockWait(quorin::kSaveLockWait);
}

// QUORIN_CONFIG_DIR names one folder as the system reads the name: a backslash is part of a
// name, "C:" no drive (a folder of that name under the current one). The settings are read,
// saved and taken turns on there: a process that loaded them before another's save keeps that
// save's value when it saves its own; nothing goes to the Windows reading of the name. So does
// the configuration home, whatever "/", "//" or "/./" it holds or ends with, its ".." taken after
// the link before it is followed ("up" is a link to "real/sub").
TEST_F(Registry, ANamedFolderIsOneFolderAsTheSystemReadsIt) {
    const char* const xdg = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> kept = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    struct Row {
        const char* variable;
        std::string value;  // after the test folder's path where absolute
        std::string folder;
    };
    const Row rows[] = {
        {"QUORIN_CONFIG_DIR", "cfg\\x", "cfg\\x"},
        {"QUORIN_CONFIG_DIR", "C:/cfg", "C:/cfg"},
        {"QUORIN_CONFIG_DIR", "set/./a//", "set/a"},
        {"XDG_CONFIG_HOME", "/xdg/", "xdg/quorin"},
        {"XDG_CONFIG_HOME", "/xdg//", "xdg/quorin"},
        {"XDG_CONFIG_HOME", "/xdg/./", "xdg/quorin"},
        {"XDG_CONFIG_HOME", "//xdg/.//./", "xdg/quorin"},
        {"XDG_CONFIG_HOME", "/up/..", "real/quorin"},
    };
    for (const Row& row : rows) {
        const bool home = row.value.front() == '/';
        SCOPED_TRACE(row.value);
        quorin::test::TempDir dir;
        std::filesystem::create_directories(dir.file("cfg/x"));
        std::filesystem::create_directories(dir.file("drive/cfg"));
        for (const char* made : {"set/a", "xdg", "real/sub"})
            std::filesystem::create_directories(dir.file(made));
        std::filesystem::create_directory_symlink("real/sub", dir.file("up"));
        setenv("QUORIN_DRIVE_C", dir.file("drive").c_str(), 1);
        const std::string cwd = std::filesystem::current_path();
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        if (home) {
            unsetenv("QUORIN_CONFIG_DIR");  // put back by the settings' end
            setenv(row.variable, (dir.path() + row.value).c_str(), 1);
        } else {
            setenv(row.variable, row.value.c_str(), 1);
        }
        registry::ReloadHives();  // this process has read the settings
        const std::string other = SetInChild(::geteuid(), "Other");
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &h, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(h);
        const std::string text = quorin::test::ReadText(dir.file(row.folder + "/user.reg"));
        registry::ClearHives();
        registry::ReloadHives();  // read back as a new process reads them
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "Other", "b"), std::string("\2\0\0\0", 4));
        ASSERT_EQ(::chdir(cwd.c_str()), 0);
        unsetenv("QUORIN_DRIVE_C");
        kept ? setenv("XDG_CONFIG_HOME", kept->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(other, "0");
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Other]"), std::string::npos) << text;
        EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Mine]"), std::string::npos) << text;
        EXPECT_TRUE(quorin::test::Entries(dir.file("cfg/x")).empty());
        EXPECT_TRUE(quorin::test::Entries(dir.file("drive/cfg")).empty());
    }
}

TEST_F(Registry, AHiveBehindALinkIsSavedWhereItLives) {
    std::filesystem::create_directory(m_settings.file("elsewhere"));
    quorin::test::WriteText(m_settings.file("elsewhere/hive.reg"), "");
    std::filesystem::create_symlink("elsewhere/hive.reg", m_settings.file("user.reg"));
    registry::ReloadHives();
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_TRUE(std::filesystem::is_symlink(m_settings.file("user.reg")));
    const auto saved = quorin::test::ReadBytes(m_settings.file("elsewhere/hive.reg"));
    EXPECT_NE(std::string(saved.begin(), saved.end()).find("[HKEY_CURRENT_USER\\K]"),
              std::string::npos);
}

TEST_F(Registry, AHiveThatIsNoFileIsReadAsEmptyWithANoticeAndNotReplaced) {
    ::alarm(60);  // reading that waits on the pipe ends the run instead of hanging it
    const std::string hive = m_settings.file("user.reg");
    ASSERT_EQ(::mkfifo(hive.c_str(), 0600), 0);
    registry::ReloadHives();
    EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "v"), "<error 2>");
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_TRUE(m_notices[0].ends_with(": could not be read (not a regular file)")) << m_notices[0];
    HKEY h = nullptr;
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    struct stat info {};
    ASSERT_EQ(::lstat(hive.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ::alarm(0);
    // Settings cleared or seeded in memory no longer come from that file: saved afresh.
    for (const bool cleared : {true, false}) {
        std::filesystem::remove(hive);
        ASSERT_EQ(::mkfifo(hive.c_str(), 0600), 0);
        registry::ReloadHives();
        ASSERT_EQ(::unlink(hive.c_str()), 0);
        cleared ? registry::ClearHives() : registry::LoadHiveText(0, "");
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &h, nullptr),
                  ERROR_SUCCESS)
            << cleared;
        RegCloseKey(h);
    }
}

// Four threads change the settings while a fifth forks, every 20 ms, a child that sleeps without
// exec: no child holds a turn of its parent's, so every change answers 0 within a bound of 2 s.
TEST_F(Registry, Threads) {
    registry::SetSaveLockWait(std::chrono::seconds(2));
    std::atomic<int> running = 4;
    std::vector<pid_t> children;
    std::thread forker([&] {
        while (running > 0) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::sleep(30);
                ::_exit(0);
            }
            if (child > 0) children.push_back(child);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &running] {
            HKEY h = nullptr;
            const std::string key = "Software\\T" + std::to_string(t);
            EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &h, nullptr),
                      ERROR_SUCCESS);
            for (DWORD i = 0; i < 10; ++i) {
                EXPECT_EQ(RegSetValueExA(h, "n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4),
                          ERROR_SUCCESS);
                DWORD back = 99, size = 4;
                EXPECT_EQ(RegQueryValueExA(h, "N", nullptr, nullptr, reinterpret_cast<BYTE*>(&back),
                                           &size),
                          ERROR_SUCCESS);
                EXPECT_EQ(back, i);
            }
            RegCloseKey(h);
            --running;
        });
    }
    for (std::thread& thread : threads) thread.join();
    forker.join();
    for (const pid_t child : children) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    registry::SetSaveLockWait(quorin::kSaveLockWait);
    registry::ReloadHives();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(Query(HKEY_CURRENT_USER, ("Software\\T" + std::to_string(t)).c_str(), "n"),
                  std::string("\x09\0\0\0", 4));
}

// Where the settings may be saved, as root with another user's HOME or XDG_CONFIG_HOME (sudo -E),
// and as users in their own: a folder the program chose (QUORIN_CONFIG_DIR unset) is saved in,
// its copy made and any missing folder made (0700) only where those folders are the saver's;
// elsewhere the save answers 5 with a notice naming the folder, nothing made, written or
// followed there. A file or lock file another user planted in a sticky folder everybody may
// write is neither saved nor waited for. A user's own link to settings kept elsewhere (stow)
// works, its turn taken beside the file it leads to.
TEST_F(Registry, SettingsAreSavedOnlyInFoldersOfTheSaversOwn) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    constexpr uid_t kOther = 1001;
    using quorin::test::Entries;
    using quorin::test::kNobody;
    using quorin::test::StatOf;
    const std::string base = m_settings.folder();
    ::chmod(base.c_str(), 0755);
    const std::string home = base + "/h", shared = base + "/shared", root = base + "/rootfile";
    const std::string config = home + "/.config", folder = config + "/quorin";
    const std::string malformed = "toor::0:0:chosen:/root:/bin/bash\n";
    const auto make = [](const std::string& path, uid_t owner, mode_t mode,
                         const char* text = nullptr) {
        if (text != nullptr)
            quorin::test::WriteText(path, text);
        else
            std::filesystem::create_directory(path);
        EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    };
    const auto othersHome = [&] {
        make(home, kOther, 0755);
        make(config, kOther, 0755);
        make(folder, kOther, 0755);
    };
    const std::string others = "the folder " + config + " belongs to another user";
    const std::string notSaved = "settings could not be saved to " + folder + "/user.reg: ";
    int held = -1;  // a lock another user holds
    struct Row {
        const char* name;
        uid_t saver;
        std::function<void()> setUp;
        LONG code;
        std::string notice;  // a part of the notice
        std::function<void()> check;
    };
    const Row rows[] = {
        {"a settings file another user put in root's shared folder", 0,
         [&] {
             make(shared, 0, 01777);
             make(shared + "/user.reg", kOther, 0666, "REGEDIT4\n");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         5, "",
         [&] {
             EXPECT_EQ(quorin::test::ReadText(shared + "/user.reg"), "REGEDIT4\n");
             EXPECT_EQ(StatOf(shared + "/user.reg").st_uid, kOther);
             EXPECT_EQ(Entries(shared), std::vector<std::string>{"user.reg"}) << "no lock file";
         }},
        {"a user.reg link another user put in root's shared folder, to a root file", 0,
         [&] {
             make(shared, 0, 01777);
             make(root, 0, 0644, "ROOTDATA\n");
             ASSERT_EQ(::symlink(root.c_str(), (shared + "/user.reg").c_str()), 0);
             ASSERT_EQ(::lchown((shared + "/user.reg").c_str(), kOther, kOther), 0);
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         5, "",
         [&] {
             EXPECT_EQ(quorin::test::ReadText(root), "ROOTDATA\n");
             EXPECT_FALSE(std::filesystem::exists(root + ".lock"));
             EXPECT_EQ(Entries(shared), std::vector<std::string>{"user.reg"});
         }},
        {"root, QUORIN_CONFIG_DIR nobody's folder: the lock file made is nobody's", 0,
         [&] {
             make(shared, kNobody, 0700);
             make(shared + "/user.reg", kNobody, 0660, "REGEDIT4\n");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         0, "",
         [&] {
             const struct stat lock = StatOf(shared + "/user.reg.lock");
             EXPECT_EQ(lock.st_uid, kNobody);
             EXPECT_EQ(lock.st_gid, kNobody);
             EXPECT_EQ(lock.st_mode & 07777, 0660u);
         }},
        {"nobody's user.reg narrowed to 0644 since its lock file was made 0660, which is held",
         kNobody,
         [&] {
             make(shared, kNobody, 0755);
             make(shared + "/user.reg", kNobody, 0644, "REGEDIT4\n");
             make(shared + "/user.reg.lock", kNobody, 0660, "");
             held = quorin::test::HoldTurn(shared + "/user.reg.lock");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         0, "",
         [&] {
             EXPECT_NE(quorin::test::ReadText(shared + "/user.reg").find("\"b\"=dword:00000002"),
                       std::string::npos);
             EXPECT_EQ(StatOf(shared + "/user.reg.lock").st_mode & 07777, 0600u);
         }},
        {"nobody's user.reg 0664, its lock file 0660 of another group, which is held", kNobody,
         [&] {
             make(shared, kNobody, 0755);
             make(shared + "/user.reg", kNobody, 0664, "REGEDIT4\n");
             make(shared + "/user.reg.lock", kNobody, 0660, "");
             ASSERT_EQ(::chown((shared + "/user.reg.lock").c_str(), kNobody, kOther), 0);
             held = quorin::test::HoldTurn(shared + "/user.reg.lock");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         0, "",
         [&] {
             const struct stat lock = StatOf(shared + "/user.reg.lock");
             EXPECT_EQ(lock.st_gid, kNobody);
             EXPECT_EQ(lock.st_mode & 07777, 0660u);
         }},
        {"nobody, QUORIN_CONFIG_DIR two folders down in a folder nobody may not write", kNobody,
         [&] {
             make(shared, 0, 0755);
             setenv("QUORIN_CONFIG_DIR", (shared + "/x/y").c_str(), 1);
         },
         5, "settings could not be saved to " + shared + "/x/y/user.reg: Permission denied",
         [&] { EXPECT_TRUE(Entries(shared).empty()); }},
        {"nobody's user.reg in a folder nobody may not write, without its lock file", kNobody,
         [&] {
             make(shared, 0, 0755);
             make(shared + "/user.reg", kNobody, 0600, "REGEDIT4\n");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         5,
         "settings could not be saved to " + shared +
             "/user.reg: its lock file user.reg.lock could not be made (Permission denied): have "
             "it made there, writable by those who may write the settings, or name another "
             "folder in QUORIN_CONFIG_DIR",
         [&] {
             EXPECT_EQ(quorin::test::ReadText(shared + "/user.reg"), "REGEDIT4\n");
             EXPECT_EQ(Entries(shared), std::vector<std::string>{"user.reg"});
         }},
        {"a lock file another user put in root's shared folder, held", 0,
         [&] {
             make(shared, 0, 01777);
             make(shared + "/user.reg", 0, 0600, "REGEDIT4\n");
             make(shared + "/user.reg.lock", kOther, 0666, "");
             held = quorin::test::HoldTurn(shared + "/user.reg.lock");
             setenv("QUORIN_CONFIG_DIR", shared.c_str(), 1);
         },
         5,
         "settings could not be saved to " + shared +
             "/user.reg: its lock file user.reg.lock belongs to another user",
         [&] { EXPECT_EQ(quorin::test::ReadText(shared + "/user.reg"), "REGEDIT4\n"); }},
        {"root, another user's home: a malformed user.reg, user.reg.bak a link to a root file", 0,
         [&] {
             othersHome();
             make(folder + "/user.reg", kOther, 0644, malformed.c_str());
             make(root, 0, 0644, "ROOTDATA\n");
             ASSERT_EQ(::symlink(root.c_str(), (folder + "/user.reg.bak").c_str()), 0);
         },
         5, notSaved + others,
         [&] {
             EXPECT_EQ(quorin::test::ReadText(root), "ROOTDATA\n");
             EXPECT_EQ(StatOf(root).st_mode & 07777, 0644u);
             EXPECT_EQ(quorin::test::ReadText(folder + "/user.reg"), malformed);
             EXPECT_EQ(Entries(folder), (std::vector<std::string>{"user.reg", "user.reg.bak"}));
         }},
        {"root, another user's home: user.reg a link to a root-only file, the user's own copy", 0,
         [&] {
             othersHome();
             make(root, 0, 0600, "ROOTDATA\n");
             ASSERT_EQ(::symlink(root.c_str(), (folder + "/user.reg").c_str()), 0);
             make(folder + "/user.reg.bak", kOther, 0644, "");
         },
         5, notSaved + others,
         [&] {
             EXPECT_EQ(quorin::test::ReadText(root), "ROOTDATA\n");
             EXPECT_EQ(StatOf(root).st_mode & 07777, 0600u);
             EXPECT_EQ(quorin::test::ReadText(folder + "/user.reg.bak"), "");
             EXPECT_EQ(Entries(folder), (std::vector<std::string>{"user.reg", "user.reg.bak"}));
         }},
        {"root, another user's home without .config", 0, [&] { make(home, kOther, 0755); }, 5,
         notSaved + "the folder " + home + " belongs to another user",
         [&] { EXPECT_TRUE(Entries(home).empty()); }},
        {"root, another user's XDG_CONFIG_HOME", 0,
         [&] {
             make(home, kOther, 0755);
             setenv("XDG_CONFIG_HOME", home.c_str(), 1);
         },
         5, "the folder " + home + " belongs to another user",
         [&] { EXPECT_TRUE(Entries(home).empty()); }},
        {"root's own home, .config another user's link to a folder of root's", 0,
         [&] {
             make(home, 0, 0755);
             make(root, 0, 0700);
             ASSERT_EQ(::symlink(root.c_str(), config.c_str()), 0);
             ASSERT_EQ(::lchown(config.c_str(), kOther, kOther), 0);
         },
         5, notSaved + others, [&] { EXPECT_TRUE(Entries(root).empty()); }},
        {"root's own home, XDG_CONFIG_HOME .config/./ another user's link to a folder of root's", 0,
         [&] {
             make(home, 0, 0755);
             make(root, 0, 0700);
             ASSERT_EQ(::symlink(root.c_str(), config.c_str()), 0);
             ASSERT_EQ(::lchown(config.c_str(), kOther, kOther), 0);
             setenv("XDG_CONFIG_HOME", (config + "/./").c_str(), 1);
         },
         5, others, [&] { EXPECT_TRUE(Entries(root).empty()); }},
        {"root's own home without .config", 0, [&] { make(home, 0, 0755); }, 0, "",
         [&] {
             for (const std::string& made : {config, folder})
                 EXPECT_EQ(StatOf(made).st_mode & 07777, 0700u) << made;
             for (const std::string& made : {folder + "/user.reg", folder + "/user.reg.lock"})
                 EXPECT_EQ(StatOf(made).st_mode & 07777, 0600u) << made;
         }},
        {"nobody's own home, user.reg its own link to settings kept elsewhere", kNobody,
         [&] {
             make(home, kNobody, 0755);
             make(config, kNobody, 0700);
             make(folder, kNobody, 0700);
             make(home + "/dotfiles", kNobody, 0755);
             make(home + "/dotfiles/user.reg", kNobody, 0644, "REGEDIT4\n");
             ASSERT_EQ(::symlink("../../dotfiles/user.reg", (folder + "/user.reg").c_str()), 0);
             ASSERT_EQ(::lchown((folder + "/user.reg").c_str(), kNobody, kNobody), 0);
         },
         0, "",
         [&] {
             EXPECT_TRUE(std::filesystem::is_symlink(folder + "/user.reg"));
             EXPECT_NE(
                 quorin::test::ReadText(home + "/dotfiles/user.reg").find("\"b\"=dword:00000002"),
                 std::string::npos);
             const struct stat lock = StatOf(home + "/dotfiles/user.reg.lock");
             EXPECT_EQ(lock.st_uid, kNobody);
             EXPECT_EQ(lock.st_mode & 07777, 0600u) << "readable only where writable";
             EXPECT_EQ(Entries(folder), std::vector<std::string>{"user.reg"});
         }},
    };
    const auto keep = [](const char* name) {
        const char* value = std::getenv(name);
        return std::make_pair(name,
                              value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    };
    const auto saved = {keep("HOME"), keep("XDG_CONFIG_HOME"), keep("QUORIN_CONFIG_DIR")};
    registry::SetSaveLockWait(std::chrono::seconds(2));  // the children inherit it
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const std::string& path : {home, shared, root}) std::filesystem::remove_all(path);
        unsetenv("QUORIN_CONFIG_DIR");
        unsetenv("XDG_CONFIG_HOME");
        setenv("HOME", home.c_str(), 1);
        row.setUp();
        const auto start = std::chrono::steady_clock::now();
        const std::string answer = SetInChild(row.saver);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        for (const auto& [name, value] : saved)
            value ? setenv(name, value->c_str(), 1) : unsetenv(name);
        if (held >= 0) ::close(held);
        held = -1;
        EXPECT_EQ(answer.substr(0, answer.find('\n')), std::to_string(row.code)) << answer;
        EXPECT_NE(answer.find(row.notice), std::string::npos) << answer;
        if (row.notice.find("the folder") != std::string::npos) {
            EXPECT_NE(answer.find("QUORIN_CONFIG_DIR"), std::string::npos) << answer;
        }
        row.check();
    }
    registry::SetSaveLockWait(quorin::kSaveLockWait);
}

// On a file system of one-second times (ext4 with 128-byte inodes, on a loop image), in a folder
// whose saves go in place (the file keeps its inode and size) and in one they go through new
// files: A sets p1=1 and, 400 ms later, p1=2; meanwhile B sets p2=1 and C p3=1, all within one
// second. Every answer is 0 and the file ends with all three values: a change starts from what
// the file holds under its turn, whatever its times say. Run as nobody.
TEST_F(Registry, AChangeMadeMeanwhileIsSeenWhateverTheFilesTimes) {
    using namespace std::chrono_literals;
    using quorin::test::kNobody;
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a loop image";
    const std::string image = m_settings.file("coarse.img"), mount = m_settings.file("mnt");
    std::filesystem::create_directory(mount);
    const auto run = [](const std::string& command) {
        return quorin::test::RunCommand(command + " 2>&1").status == 0;
    };
    if (!run("truncate -s 64M " + image + " && mkfs.ext4 -q -F -I 128 " + image) ||
        !run("mount -o loop " + image + " " + mount)) {
        std::filesystem::remove(image);
        GTEST_SKIP() << "a loop image cannot be made or mounted here";
    }
    struct Unmount {
        std::string image, mount;
        ~Unmount() {
            (void)quorin::test::RunCommand("umount " + mount);
            std::filesystem::remove(image);
        }
    } unmount{image, mount};
    ::chmod(m_settings.folder().c_str(), 0755);
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "through new files");
        const std::string folder = mount + (inPlace ? "/closed" : "/open");
        std::filesystem::create_directory(folder);
        const std::string hive = folder + "/user.reg";
        quorin::test::WriteText(hive,
                                "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"p1\"=dword:0\n"
                                "\"p2\"=dword:0\n\"p3\"=dword:0\n");
        quorin::test::WriteText(hive + ".lock", "");
        for (const std::string& path : {hive, hive + ".lock"}) {
            ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
            ::chmod(path.c_str(), 0600);
        }
        ASSERT_EQ(::chown(folder.c_str(), inPlace ? 0 : kNobody, inPlace ? 0 : kNobody), 0);
        ::chmod(folder.c_str(), inPlace ? 0555 : 0700);
        setenv("QUORIN_CONFIG_DIR", folder.c_str(), 1);  // put back by the settings' end
        int go[2], first[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(first), 0);
        pid_t savers[3];
        for (int p = 0; p < 3; ++p) {
            savers[p] = ::fork();
            ASSERT_GE(savers[p], 0);
            if (savers[p] != 0) continue;
            if (!quorin::test::BecomeActor()) ::_exit(99);
            char byte;
            (void)!::read(p == 0 ? go[0] : first[0], &byte, 1);
            registry::ReloadHives();
            const auto set = [&](const char* name, DWORD value) {
                HKEY h = nullptr;
                LONG code = RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &h);
                if (code == ERROR_SUCCESS)
                    code =
                        RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4);
                RegCloseKey(h);
                return code == ERROR_SUCCESS;
            };
            bool ok = true;
            if (p == 0) {
                ok = set("p1", 1);
                (void)!::write(first[1], "ab", 2);
                std::this_thread::sleep_for(400ms);
                ok = ok && set("p1", 2);
            } else {
                std::this_thread::sleep_for(p * 100ms);
                ok = set(p == 1 ? "p2" : "p3", 1);
            }
            ::_exit(ok ? 0 : 1);
        }
        // Released early in a second: every save falls within it.
        while (std::chrono::system_clock::now().time_since_epoch() % 1s > 50ms)
            std::this_thread::sleep_for(5ms);
        (void)!::write(go[1], "x", 1);
        for (const pid_t saver : savers) {
            int status = 0;
            ASSERT_EQ(::waitpid(saver, &status, 0), saver);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "every answer is 0";
        }
        for (int* pipe : {go, first}) {
            ::close(pipe[0]);
            ::close(pipe[1]);
        }
        registry::ClearHives();
        registry::ReloadHives();
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "p1"), std::string("\2\0\0\0", 4));
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "p2"), std::string("\1\0\0\0", 4));
        EXPECT_EQ(Query(HKEY_CURRENT_USER, "K", "p3"), std::string("\1\0\0\0", 4));
        ::chmod(folder.c_str(), 0755);
    }
}

// Processes changing the settings at once, released together each round: every value set, and
// every key made, whose call answered success is in the file afterwards (read by a fresh load),
// and every call answered success.
TEST_F(Registry, ChangesOfProcessesAtOnceAreAllSaved) {
    // Six processes in one folder; then four reaching one file by two names, cfgL1/user.reg a
    // link to ../cfgL2/user.reg, two by each name: one file, one turn; then four in a folder
    // whose lock file is removed over and over meanwhile (as a user removes one that looks stuck)
    // beside settings saved before.
    const std::string linked = m_settings.file("cfgL1"), target = m_settings.file("cfgL2");
    const std::string removing = m_settings.file("cfgR");
    for (const std::string& folder : {linked, target, removing})
        std::filesystem::create_directory(folder);
    std::filesystem::create_symlink("../cfgL2/user.reg", linked + "/user.reg");
    quorin::test::WriteText(removing + "/user.reg", "REGEDIT4\n");
    ::chmod((removing + "/user.reg").c_str(), 0600);
    for (const int way : {0, 1, 2}) {
        const bool bothWays = way == 1, removed = way == 2;
        SCOPED_TRACE(bothWays  ? "by a link and by its own name"
                     : removed ? "the lock file removed meanwhile"
                               : "one folder");
        const int kProcesses = way == 0 ? 6 : 4;
        constexpr int kValues = 6, kRounds = 3;
        if (way > 0)  // put back by the settings' end
            setenv("QUORIN_CONFIG_DIR", (bothWays ? target : removing).c_str(), 1);
        struct Report {
            int process, round, value;  // value kValues: the round's new key
            LONG code;
        };
        const auto name = [](const Report& r) {
            return "p" + std::to_string(r.process) + "r" + std::to_string(r.round) + "v" +
                   std::to_string(r.value);
        };
        int reports[2];
        ASSERT_EQ(::pipe(reports), 0);
        int gates[kRounds][2];
        for (auto& gate : gates) ASSERT_EQ(::pipe(gate), 0);
        registry::ReloadHives();
        for (int p = 0; p < kProcesses; ++p) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid != 0) continue;
            ::close(reports[0]);
            for (auto& gate : gates) ::close(gate[1]);
            if (bothWays) setenv("QUORIN_CONFIG_DIR", (p % 2 ? linked : target).c_str(), 1);
            const std::string key = "Software\\P" + std::to_string(p);
            for (int r = 0; r < kRounds; ++r) {
                char byte;
                (void)!::read(gates[r][0], &byte, 1);  // returns at the parent's close: all at once
                HKEY h = nullptr;
                const LONG opened = RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                                    KEY_ALL_ACCESS, nullptr, &h, nullptr);
                for (int v = 0; v < kValues; ++v) {
                    Report report{p, r, v, opened};
                    const DWORD data = 1000 + v;
                    if (opened == ERROR_SUCCESS)
                        report.code = RegSetValueExA(h, name(report).c_str(), 0, REG_DWORD,
                                                     reinterpret_cast<const BYTE*>(&data), 4);
                    (void)!::write(reports[1], &report, sizeof report);
                }
                RegCloseKey(h);
                Report report{p, r, kValues, 0};
                DWORD disposition = 0;
                report.code =
                    RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\" + name(report)).c_str(), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disposition);
                if (report.code == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY)
                    report.code = -1;
                RegCloseKey(h);
                (void)!::write(reports[1], &report, sizeof report);
            }
            ::_exit(0);
        }
        ::close(reports[1]);
        std::atomic<bool> over = false;
        std::thread remover([&, lock = registry::UserHivePath() + ".lock"] {
            while (removed && !over) {
                ::unlink(lock.c_str());
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        std::vector<Report> saved;
        int calls = 0;
        for (int r = 0; r < kRounds; ++r) {
            ::close(gates[r][1]);
            Report report{};
            // The round ends with every process's new key.
            for (int keys = 0; keys < kProcesses &&
                               ::read(reports[0], &report, sizeof report) == sizeof report;) {
                ++calls;
                if (report.code == ERROR_SUCCESS) saved.push_back(report);
                keys += report.value == kValues;
            }
        }
        over = true;
        remover.join();
        ::close(reports[0]);
        for (auto& gate : gates) ::close(gate[0]);
        for (int p = 0; p < kProcesses; ++p) {
            int status = 0;
            ASSERT_GT(::wait(&status), 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }

        registry::ClearHives();
        registry::ReloadHives();
        int present = 0;
        for (const Report& r : saved) {
            const std::string key = "Software\\P" + std::to_string(r.process);
            HKEY h = nullptr;
            const bool there =
                r.value == kValues
                    ? RegOpenKeyExA(HKEY_CURRENT_USER, (key + "\\" + name(r)).c_str(), 0, KEY_READ,
                                    &h) == ERROR_SUCCESS
                    : Query(HKEY_CURRENT_USER, key.c_str(), name(r).c_str()).size() == 4;
            RegCloseKey(h);
            present += there;
        }
        const int kCalls = kProcesses * kRounds * (kValues + 1);
        std::printf("%d processes x %d rounds: %d changes asked, %zu reported saved, %d present\n",
                    kProcesses, kRounds, calls, saved.size(), present);
        EXPECT_EQ(calls, kCalls);
        EXPECT_EQ(saved.size(), static_cast<std::size_t>(kCalls)) << "every call answers success";
        EXPECT_EQ(present, static_cast<int>(saved.size()))
            << "every change reported saved is there";
        if (bothWays) {
            EXPECT_TRUE(std::filesystem::is_symlink(linked + "/user.reg"));
            EXPECT_EQ(quorin::test::Entries(linked), std::vector<std::string>{"user.reg"})
                << "the turn is taken beside the file the link leads to";
        }
    }
}

}  // namespace
