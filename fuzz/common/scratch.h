// Scratch files of the harnesses that go through a named file: a folder of this process's own
// under $TMPDIR (or /tmp), made for one input and removed with everything in it when the input
// is done, so that a fuzzing process leaves nothing behind.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/core/notify.h"

namespace fuzzscratch {

class Folder {
  public:
    Folder() {
        static const std::string path = [] {
            // The readers' message boxes would only slow the fuzzer down.
            win::SetNotifyHandler([](std::string_view, std::string_view) {});
            const char* dir = std::getenv("TMPDIR");
            return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/quorin-fuzz-" +
                   std::to_string(getpid());
        }();
        m_path = path;
        std::error_code ignored;
        std::filesystem::create_directories(m_path, ignored);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string file(const std::string& name) const { return m_path + "/" + name; }

    // Writes the bytes under that name; the path, or empty when it cannot be written.
    std::string Write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
        const std::string path = file(name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return {};
        const bool ok = std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && ok ? path : std::string();
    }

  private:
    std::string m_path;
};

}  // namespace fuzzscratch
