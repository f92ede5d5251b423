// The device-library loader beside its typical case: folders of the search path that are not
// absolute are passed over, so nothing is loaded from the working folder, and a library that
// another user may change is not loaded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/platform/as_user.h"
#include "common/test_settings.h"
#include "common/test_util.h"
#include "platform/core/lasterror.h"
#include "platform/system/devicelib.h"

namespace {

// The working folder and the search path for one case, put back afterwards.
class SearchFrom {
  public:
    SearchFrom(const std::string& folder, const std::string& path) {
        char* old = ::getcwd(nullptr, 0);
        m_old = old != nullptr ? old : "";
        std::free(old);
        m_moved = ::chdir(folder.c_str()) == 0;
        ::setenv("QUORIN_DEVICE_LIBRARY_PATH", path.c_str(), 1);
    }
    ~SearchFrom() {
        ::unsetenv("QUORIN_DEVICE_LIBRARY_PATH");
        if (m_moved && ::chdir(m_old.c_str()) != 0) ADD_FAILURE() << "working folder not restored";
    }
    bool moved() const { return m_moved; }

  private:
    std::string m_old;
    bool m_moved = false;
};

TEST(DeviceLibrarySearch, RelativeFoldersAreNeverSearched) {
    quorin::test::ScopedSettings settings;
    const std::string library = QUORIN_TEST_DEVICE_DIR;  // holds libSensix.so
    const std::string parent = library.substr(0, library.find_last_of('/'));
    const struct {
        std::string workingFolder, path;
        bool found;
    } cases[] = {
        {library, ".", false},
        {parent, "devicelib", false},
        {parent, "./devicelib:/nowhere", false},
        {library, "/nowhere;" + library, true},  // the same folder named absolutely
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.workingFolder + " with " + c.path);
        SearchFrom from(c.workingFolder, c.path);
        ASSERT_TRUE(from.moved());
        win::SetLastError(0);
        win::HMODULE module = win::LoadLibraryA("Sensix.dll");
        EXPECT_EQ(module != nullptr, c.found);
        if (module != nullptr)
            EXPECT_TRUE(win::FreeLibrary(module));
        else
            EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);
    }
}

// Loads run the library's code as the loading user: only a library of this user's or root's that
// no other user may write is loaded (`stat -c %U %a` tells the case apart; the loader is the
// test's user, and nobody for the second row).
TEST(DeviceLibrarySearch, OnlyLibrariesNoOtherUserMayChange) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: libraries of other users";
    quorin::test::ScopedSettings settings;
    quorin::test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string library = dir.file("libSensix.so");
    const auto loads = [&](uid_t owner, mode_t mode, gid_t group = 0) {
        if (::chown(library.c_str(), owner, group) != 0 || ::chmod(library.c_str(), mode) != 0)
            return -1;
        ::setenv("QUORIN_DEVICE_LIBRARY_PATH", dir.path().c_str(), 1);
        win::HMODULE module = win::LoadLibraryA("Sensix.dll");
        ::unsetenv("QUORIN_DEVICE_LIBRARY_PATH");
        if (module == nullptr) return 0;
        win::FreeLibrary(module);
        return 1;
    };
    quorin::test::WriteBytes(
        library, quorin::test::ReadBytes(std::string(QUORIN_TEST_DEVICE_DIR) + "/libSensix.so"));
    const uid_t other = quorin::test::kNobody;
    EXPECT_EQ(loads(0, 0755), 1);         // root's, as installed
    EXPECT_EQ(loads(other, 0755), 0);     // another user's: what root would run is theirs
    EXPECT_EQ(loads(0, 0757), 0);         // anyone may write it
    EXPECT_EQ(loads(0, 0775), 1);         // root's group only
    EXPECT_EQ(loads(0, 0775, 12345), 0);  // another group may write it
    // nobody loads root's library and its own, not one of a third user's.
    for (const auto& [owner, expected] : {std::pair<uid_t, int>{0, 1}, {other, 1}, {12345, 0}}) {
        ASSERT_EQ(::chown(library.c_str(), owner, owner), 0);
        EXPECT_EQ(quorin::test::RunAsUser(
                      other,
                      [&] {
                          ::setenv("QUORIN_DEVICE_LIBRARY_PATH", dir.path().c_str(), 1);
                          return win::LoadLibraryA("Sensix.dll") != nullptr ? 1 : 0;
                      }),
                  expected)
            << "owner " << owner;
    }
}

}  // namespace
