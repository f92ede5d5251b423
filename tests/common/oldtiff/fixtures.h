// Fixtures of the older-file suites: made at test time by tools/fixtures/older_files.py,
// each with its reference written by libtiff, tifffile or libjpeg.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace quorin::test {

// Runs the generator: kind, output path, options; false when it fails.
inline bool Generate(const std::string& kind, const std::string& out, const std::string& options) {
    const std::string line =
        FixtureCommand("older_files.py") + " " + kind + " " + ShellQuote(out) + " " + options;
    return RunCommand(line).status == 0;
}

inline std::uint32_t ReadSum(const std::string& path) {
    std::ifstream in(path);
    std::uint64_t v = 0;
    in >> v;
    return static_cast<std::uint32_t>(v);
}

}  // namespace quorin::test
