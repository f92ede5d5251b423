// The layered settings readers: the order of the three layers, types, bounds, text buffers and
// a setting written for the current user read back from its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/test_settings.h"
#include "common/test_util.h"
#include "records/core/registryreaders.h"

using namespace win;

namespace {

const char* const kUser = "[HKEY_CURRENT_USER\\Software\\QUORIN\\T]\n";
const char* const kDefault = "[HKEY_USERS\\.DEFAULT\\Software\\QUORIN\\T]\n";
const char* const kMachine = "[HKEY_LOCAL_MACHINE\\Software\\Classes\\QUORIN\\T]\n";

// Every write lands in a folder of the test's own, never in a hive another test reads.
class Settings : public ::testing::Test {
  protected:
    static void Layer(int which, const char* section, const std::string& lines) {
        registry::LoadHiveText(which, std::string("REGEDIT4\n\n") + section + lines);
    }
    quorin::test::ScopedSettings m_settings;  // hives of the test's own
};

TEST_F(Settings, EachLayerAloneIsRead) {
    const char* sections[] = {kUser, kDefault, kMachine};
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        registry::ClearHives();
        Layer(which, sections[which], "\"Value\"=dword:0000002a\n\"Name\"=\"layer\"\n");
        std::int32_t v = 0;
        EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Value", &v, 7));
        EXPECT_EQ(v, 42);
        CRegistryKey key("QUORIN\\T", CRegistryKey::kRead);
        EXPECT_EQ(key.GetMode(), CRegistryKey::kRead);
        char text[16];
        EXPECT_TRUE(key.QueryString("name", text, sizeof text, "dflt"));
        EXPECT_STREQ(text, "layer");
    }
}

TEST_F(Settings, EarlierLayersWin) {
    Layer(0, kUser, "\"Value\"=dword:00000001\n");
    Layer(1, kDefault, "\"Value\"=dword:00000002\n\"Other\"=dword:00000005\n");
    Layer(2, kMachine, "\"Value\"=dword:00000003\n\"Other\"=dword:00000006\n\"Last\"=\"m\"\n");
    std::int32_t v = 0;
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Value", &v, 0));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Other", &v, 0));
    EXPECT_EQ(v, 5);
    CRegistryKey key("QUORIN\\T", CRegistryKey::kRead);
    char text[8];
    EXPECT_TRUE(key.QueryString("Last", text, sizeof text, ""));
    EXPECT_STREQ(text, "m");
}

// A value of the wrong type: the number reader asks the next layer; the key object's text
// query stops at the layer that answered and gives the default and false. A layer whose query
// fails (no such value, or too long for the buffer) still passes the question on.
TEST_F(Settings, WrongTypeInALayer) {
    std::string bytes40 = "00";  // a REG_BINARY value larger than the 32-byte buffer
    for (int i = 1; i < 40; ++i) bytes40 += ",00";
    Layer(0, kUser, "\"Value\"=\"5\"\n\"Text\"=dword:00000001\n\"Big\"=hex:" + bytes40 + "\n");
    Layer(1, kDefault,
          "\"Value\"=dword:00000005\n\"Text\"=\"from default\"\n\"Later\"=dword:00000002\n"
          "\"Big\"=\"fits\"\n");
    Layer(2, kMachine, "\"Later\"=\"from machine\"\n");
    std::int32_t v = 0;
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Value", &v, 9));
    EXPECT_EQ(v, 5);
    CRegistryKey key("QUORIN\\T", CRegistryKey::kRead);
    char text[32];
    EXPECT_FALSE(key.QueryString("Text", text, sizeof text, "dflt"));
    EXPECT_STREQ(text, "dflt");
    EXPECT_FALSE(key.QueryString("Later", text, sizeof text, "dflt"));  // layer 2 answers
    EXPECT_STREQ(text, "dflt");
    EXPECT_TRUE(key.QueryString("Big", text, sizeof text, "dflt"));
    EXPECT_STREQ(text, "fits");
    // A REG_DWORD of the wrong size is no number either.
    registry::ClearHives();
    Layer(0, kUser, "\"Value\"=hex(4):01,02\n");
    EXPECT_FALSE(GetRegistryDword("QUORIN\\T", "Value", &v, 9));
    EXPECT_EQ(v, 9);
}

TEST_F(Settings, MissingValuesGiveTheBoundedDefault) {
    std::int32_t v = 0;
    EXPECT_FALSE(GetRegistryDword("QUORIN\\T", "Value", &v, 3, 10, -100000));
    EXPECT_EQ(v, 10);
    EXPECT_FALSE(GetRegistryDword("QUORIN\\T", "Value", &v, 3));
    EXPECT_EQ(v, 3);
    EXPECT_FALSE(GetRegistryDword(nullptr, "Value", &v, 4));
    EXPECT_EQ(v, 4);
}

TEST_F(Settings, Bounds) {
    Layer(0, kUser, "\"Big\"=dword:000002bc\n\"Neg\"=dword:fffe7960\n");  // 700, -100000
    std::int32_t v = 0;
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Big", &v, 0, 0, 255));
    EXPECT_EQ(v, 255);
    // -100000 is "no bound", exactly: any stored number stands, negative ones included.
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Neg", &v, 0, -100000, -100000));
    EXPECT_EQ(v, -100000);
    // -99999 is a bound like any other.
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Neg", &v, 0, -99999, -100000));
    EXPECT_EQ(v, -99999);
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Big", &v, 0, -100000, -99999));
    EXPECT_EQ(v, -99999);
    // A minimum above the maximum: the minimum is applied first, the maximum last.
    EXPECT_TRUE(GetRegistryDword("QUORIN\\T", "Big", &v, 0, 800, 300));
    EXPECT_EQ(v, 300);
    EXPECT_FALSE(GetRegistryDword("QUORIN\\T", "None", &v, 0, 800, 300));
    EXPECT_EQ(v, 300);
}

TEST_F(Settings, TextsAreAlwaysTerminated) {
    // Stored without its NUL, in the current user's hive (as the platform keeps it).
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QUORIN\\T", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &h, nullptr),
              LONG(ERROR_SUCCESS));
    ASSERT_EQ(RegSetValueExA(h, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcd"), 4),
              LONG(ERROR_SUCCESS));
    RegCloseKey(h);
    Layer(2, kMachine, "\"Raw\"=\"ab\"\n");
    CRegistryKey key("QUORIN\\T", CRegistryKey::kRead);
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(key.QueryString("Raw", text, 5, "d"));
    EXPECT_STREQ(text, "abcd");
    // Four characters and no NUL do not fit four bytes: the next layer answers.
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(key.QueryString("Raw", text, 4, "d"));
    EXPECT_STREQ(text, "ab");
    // Too long in every layer: the default, cut to the buffer and terminated.
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(key.QueryString("Raw", text, 2, "default"));
    EXPECT_STREQ(text, "d");
    EXPECT_FALSE(key.QueryString("Missing", text, sizeof text, nullptr));
    EXPECT_STREQ(text, "");
}

TEST_F(Settings, KeyObjectModes) {
    CRegistryKey none("QUORIN\\T", CRegistryKey::kRead);
    EXPECT_EQ(none.GetMode(), CRegistryKey::kUnusable);
    char text[8];
    EXPECT_FALSE(none.QueryString("x", text, sizeof text, "d"));
    EXPECT_STREQ(text, "d");
    CRegistryKey odd("QUORIN\\T", 3);
    EXPECT_EQ(odd.GetMode(), CRegistryKey::kUnusable);

    Layer(2, kMachine, "\"x\"=\"m\"\n");
    CRegistryKey reader("QUORIN\\T", CRegistryKey::kRead);
    EXPECT_FALSE(reader.SetString("x", "written"));
    EXPECT_TRUE(reader.QueryString("x", text, sizeof text, "d"));
    EXPECT_STREQ(text, "m");
    reader.Close();
    reader.Close();  // each handle once
    EXPECT_FALSE(reader.QueryString("x", text, sizeof text, "d"));
    // A path that does not fit the path buffer opens nothing (never a shortened path).
    const std::string longKey = "QUORIN\\" + std::string(260, 'K');
    CRegistryKey tooLong(longKey.c_str(), CRegistryKey::kRead);
    EXPECT_EQ(tooLong.GetMode(), CRegistryKey::kUnusable);
}

TEST_F(Settings, WrittenSettingIsReadBackFromItsFile) {
    {
        CRegistryKey writer("QUORIN\\QV\\Path", CRegistryKey::kWrite);
        ASSERT_EQ(writer.GetMode(), CRegistryKey::kWrite);
        EXPECT_TRUE(writer.SetString("Import", "C:\\Images\\\"quoted\""));
    }
    EXPECT_EQ(registry::UserHivePath(), m_settings.file("user.reg"));
    registry::ClearHives();
    registry::ReloadHives();
    CRegistryKey reader("QUORIN\\QV\\Path", CRegistryKey::kRead);
    char text[64];
    EXPECT_TRUE(reader.QueryString("import", text, sizeof text, ""));
    EXPECT_STREQ(text, "C:\\Images\\\"quoted\"");
}

}  // namespace
