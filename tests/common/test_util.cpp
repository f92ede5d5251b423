#include "common/test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quorin::test {

TempDir::TempDir() {
    std::string base = std::string(QUORIN_BINARY_DIR) + "/test-tmp";
    std::filesystem::create_directories(base);
    std::string pattern = base + "/XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed under " << base;
    m_path = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string SourcePath(const std::string& relative) {
    return std::string(QUORIN_SOURCE_DIR) + "/" + relative;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult RunCommand(const std::string& commandLine) {
    CommandResult result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string FixtureCommand(const std::string& script) {
    return std::string(QUORIN_PYTHON) + " " + ShellQuote(SourcePath("tools/fixtures/" + script));
}

CommandResult RunPython(const std::string& script, const std::vector<std::string>& args) {
    TempDir dir;
    std::string scriptPath = dir.file("check.py");
    WriteText(scriptPath, script);
    std::string line = std::string(QUORIN_PYTHON) + " " + ShellQuote(scriptPath);
    for (const auto& a : args) line += " " + ShellQuote(a);
    return RunCommand(line);
}

}  // namespace quorin::test
