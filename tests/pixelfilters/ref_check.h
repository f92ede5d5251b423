// Runs the independent numpy/scipy references of tools/fixtures/pixel_filters_ref.py over arrays
// written by a test: each array goes into a temporary folder as raw little-endian values beside
// a params.json, and the named check recomputes and compares them.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace pixelfilters {

class RefCheck {
  public:
    template <class T>
    void Write(const std::string& name, const T* data, std::size_t count) {
        std::vector<std::uint8_t> bytes(count * sizeof(T));
        if (count != 0) std::memcpy(bytes.data(), data, bytes.size());
        quorin::test::WriteBytes(m_dir.file(name), bytes);
    }
    template <class T>
    void Write(const std::string& name, const std::vector<T>& data) {
        Write(name, data.data(), data.size());
    }
    // Runs `check` with the given JSON parameters; the test fails with the script's message.
    void Run(const std::string& check, const std::string& paramsJson) {
        quorin::test::WriteText(m_dir.file("params.json"), paramsJson);
        const std::string line = std::string(QUORIN_PYTHON) + " " +
                                 quorin::test::ShellQuote(quorin::test::SourcePath(
                                     "tools/fixtures/pixel_filters_ref.py")) +
                                 " " + check + " " + quorin::test::ShellQuote(m_dir.path());
        const quorin::test::CommandResult result = quorin::test::RunCommand(line);
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.output, "ok\n");
    }

  private:
    quorin::test::TempDir m_dir;
};

}  // namespace pixelfilters
