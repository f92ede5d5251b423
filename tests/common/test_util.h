// Helpers shared by the suites: temporary folders, fixture paths, running the independent
// Python checks (Debian's /usr/bin/python3 with pydicom, numpy, scipy...).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Defined where the suite is built with the address sanitizer (g++ and clang say so apart).
#if defined(__SANITIZE_ADDRESS__)
#define QUORIN_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORIN_TEST_ADDRESS_SANITIZER 1
#endif
#endif

namespace quorin::test {

// A fresh folder under the build tree, removed with its contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

std::string SourcePath(const std::string& relative);  // path inside the repository
// pydicom's sample files (Debian's python3-pydicom): real files nobody here wrote.
inline constexpr const char* kPydicomFiles =
    "/usr/lib/python3/dist-packages/pydicom/data/test_files";
std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);

struct CommandResult {
    int status = -1;     // exit status, -1 when it could not run
    std::string output;  // standard output
};
// Runs a shell command line; standard error passes through to the test log.
CommandResult RunCommand(const std::string& commandLine);
// The command line that runs tools/fixtures/<script> through Debian's interpreter; arguments
// follow, quoted by the caller.
std::string FixtureCommand(const std::string& script);
// Runs a Python script text with the given arguments through Debian's interpreter.
CommandResult RunPython(const std::string& script, const std::vector<std::string>& args = {});
// Quotes one argument for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace quorin::test
