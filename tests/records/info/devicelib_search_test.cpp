// The device-library loader beside its typical case: folders of the search path that are not
// absolute are passed over, so nothing is loaded from the working folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/test_settings.h"
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

}  // namespace
