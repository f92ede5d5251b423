// Fixtures of the older-file suites: made at test time by tools/fixtures/older_files.py,
// each with its reference written by libtiff, tifffile or libjpeg.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
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

// The largest difference of two pictures' bytes; pictures of different sizes, or nothing to
// compare, give a value no tolerance accepts.
inline int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return std::numeric_limits<int>::max();
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
    return worst;
}

}  // namespace quorin::test
