// A folder of arrays for one of the independent numpy/scipy references in tools/fixtures/: a
// test writes its inputs and results as raw little-endian values, Run writes params.json beside
// them and the named check of the script recomputes and compares them.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/test_util.h"

namespace quorin::test {

class ReferenceFolder {
  public:
    explicit ReferenceFolder(std::string script) : m_script(std::move(script)) {}

    template <class T>
    void Write(const std::string& name, const T* data, std::size_t count) {
        std::vector<std::uint8_t> bytes(count * sizeof(T));
        if (count != 0) std::memcpy(bytes.data(), data, bytes.size());
        WriteBytes(m_dir.file(name), bytes);
    }
    template <class T>
    void Write(const std::string& name, const std::vector<T>& data) {
        Write(name, data.data(), data.size());
    }
    // Runs `check` with the JSON parameters; the test fails with the script's first difference.
    void Run(const std::string& check, const std::string& paramsJson) {
        WriteText(m_dir.file("params.json"), paramsJson);
        const CommandResult result =
            RunCommand(FixtureCommand(m_script) + " " + check + " " + ShellQuote(m_dir.path()));
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.output, "ok\n");
    }
    const std::string& path() const { return m_dir.path(); }

  private:
    std::string m_script;
    TempDir m_dir;
};

}  // namespace quorin::test
