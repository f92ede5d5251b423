// Fixtures of the older-file export suites: made at test time by tools/fixtures/v5files.py,
// header records packed from the layout tables, pixels compressed by libtiff and libjpeg with
// references decoded by libtiff, tifffile and PIL.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace quorin::test {

// Runs the generator: kind, output path, options; false when it fails.
inline bool MakeV5Fixture(const std::string& kind, const std::string& out,
                          const std::string& options = "") {
    const std::string line =
        FixtureCommand("v5files.py") + " " + kind + " " + ShellQuote(out) + " " + options;
    return RunCommand(line).status == 0;
}

// The value after `key` in a "key value" text file.
inline std::uint64_t ReadFixtureValue(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string k;
    std::uint64_t v = 0;
    while (in >> k >> v)
        if (k == key) return v;
    return 0;
}

}  // namespace quorin::test
