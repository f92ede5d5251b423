// Shared by the sensor image suites: the numpy/scipy reference script and a leak guard.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/globalmem.h"

namespace sensortest {

// Runs tools/fixtures/sensorio_ref.py COMMAND FOLDER ARGS...; "ok" when our results match.
inline std::string Reference(const std::string& command, const std::string& folder,
                             const std::vector<std::string>& args = {}) {
    using quorin::test::ShellQuote;
    std::string line = std::string(QUORIN_PYTHON) + " " +
                       ShellQuote(quorin::test::SourcePath("tools/fixtures/sensorio_ref.py")) +
                       " " + command + " " + ShellQuote(folder);
    for (const auto& a : args) line += " " + ShellQuote(a);
    const auto result = quorin::test::RunCommand(line);
    std::string out = result.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return result.status == 0 ? out : "python failed: " + out;
}

// Every global block made inside the scope is freed by its end.
class BlocksBalanced {
  public:
    BlocksBalanced() : m_before(win::globalmem_testing::LiveBlocks()) {}
    ~BlocksBalanced() { EXPECT_EQ(win::globalmem_testing::LiveBlocks(), m_before); }

  private:
    win::SIZE_T m_before;
};

}  // namespace sensortest
