// The viewer's text setting reader over the three layers.
#include "viewer/registrystring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/test_settings.h"
#include "common/test_util.h"
#include "platform/files/registry.h"

using namespace win;

namespace {

class ViewerSettings : public ::testing::Test {
  protected:
    quorin::test::ScopedSettings m_settings;  // hives of the test's own
};

TEST_F(ViewerSettings, LayersInOrder) {
    char text[32];
    registry::LoadHiveText(2,
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\QUORIN\\QV]\n"
                           "\"Lang\"=\"machine\"\n\"Num\"=dword:1\n");
    EXPECT_TRUE(GetRegistryString("QUORIN\\QV", "Lang", text, sizeof text, "d"));
    EXPECT_STREQ(text, "machine");
    registry::LoadHiveText(1,
                           "REGEDIT4\n[HKEY_USERS\\.DEFAULT\\Software\\QUORIN\\QV]\n"
                           "\"Lang\"=\"default user\"\n");
    EXPECT_TRUE(GetRegistryString("QUORIN\\QV", "Lang", text, sizeof text, "d"));
    EXPECT_STREQ(text, "default user");
    registry::LoadHiveText(0,
                           "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\QUORIN\\QV]\n"
                           "\"Lang\"=dword:2\n\"Num\"=\"user\"\n");
    EXPECT_TRUE(GetRegistryString("QUORIN\\QV", "Lang", text, sizeof text, "d"));
    EXPECT_STREQ(text, "default user");  // a number in the first layer is no text
    EXPECT_TRUE(GetRegistryString("QUORIN\\QV", "Num", text, sizeof text, "d"));
    EXPECT_STREQ(text, "user");
}

TEST_F(ViewerSettings, DefaultsAreCutAndTerminated) {
    char text[6];
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(GetRegistryString("QUORIN\\QV", "None", text, sizeof text, "a long default"));
    EXPECT_STREQ(text, "a lon");
    EXPECT_FALSE(GetRegistryString("QUORIN\\QV", "None", text, sizeof text, nullptr));
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(GetRegistryString("QUORIN\\QV", "None", text, 0, "untouched"));
    EXPECT_STREQ(text, "");
}

TEST_F(ViewerSettings, TextWithoutNulAndTooLongTexts) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QUORIN\\QV", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &h, nullptr),
              LONG(ERROR_SUCCESS));
    ASSERT_EQ(RegSetValueExA(h, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\x"), 4),
              LONG(ERROR_SUCCESS));
    RegCloseKey(h);
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(GetRegistryString("QUORIN\\QV", "Path", text, sizeof text, "d"));
    EXPECT_STREQ(text, "C:\\x");
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(GetRegistryString("QUORIN\\QV", "Path", text, 4, "dflt"));
    EXPECT_STREQ(text, "dfl");
}

}  // namespace
