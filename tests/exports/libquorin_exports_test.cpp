// What libquorin.so gives other programs: its dynamic symbols are those of the list kept beside
// this test (nothing else leaves the library, and every required entry is there), and it
// carries its major version in its soname.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "common/test_util.h"

namespace {

using quorin::test::RunCommand;
using quorin::test::ShellQuote;
using quorin::test::SourcePath;

std::string Library() {
    return std::string(QUORIN_BINARY_DIR) + "/libquorin.so";
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.insert(line);
    return lines;
}

TEST(SharedLibrary, ExportsExactlyTheListedSymbols) {
    // Demangled names without address and symbol kind.
    const auto nm =
        RunCommand("nm -D --defined-only -C " + ShellQuote(Library()) + " | cut -d' ' -f3-");
    ASSERT_EQ(nm.status, 0);
    const std::set<std::string> exported = Lines(nm.output);

    std::ifstream list(SourcePath("tests/exports/libquorin.exports"));
    ASSERT_TRUE(list);
    std::set<std::string> allowed, required;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("? ", 0) == 0) {
            allowed.insert(line.substr(2));
        } else {
            allowed.insert(line);
            required.insert(line);
        }
    }
    for (const std::string& name : exported)
        EXPECT_TRUE(allowed.count(name)) << "exported but not listed: " << name;
    for (const std::string& name : required)
        EXPECT_TRUE(exported.count(name)) << "listed but not exported: " << name;
}

TEST(SharedLibrary, CarriesItsMajorVersionInTheSoname) {
    const auto soname = RunCommand("objdump -p " + ShellQuote(Library()) + " | grep SONAME");
    EXPECT_NE(soname.output.find("libquorin.so.1"), std::string::npos) << soname.output;
}

}  // namespace
