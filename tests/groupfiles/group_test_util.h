// Helpers of the group file suites: the independent Python writer and checker, and xmllint.
#pragma once
#include <string>

#include "common/test_util.h"

namespace quorin::test {

// The command that runs tools/fixtures/group_files.py.
inline std::string GroupFilesTool() {
    return FixtureCommand("group_files.py");
}

// xmllint --noout accepts the file; where xmllint is not installed, Python's parsers (which
// every check runs) are the only judge.
inline bool XmllintAccepts(const std::string& path) {
    if (RunCommand("command -v xmllint >/dev/null").status != 0) return true;
    return RunCommand("xmllint --noout " + ShellQuote(path)).status == 0;
}

}  // namespace quorin::test
