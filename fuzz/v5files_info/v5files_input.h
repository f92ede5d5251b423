// Input of the older-file export harnesses: the first byte chooses the file's name (type letter,
// ".tif" or ".jpg"), the rest is the file, written into a per-process temporary folder so that
// the exports meet it under a name that follows the naming rule.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/notify.h"

namespace v5fuzz {

inline const std::string& Folder() {
    static const std::string folder = [] {
        win::SetNotifyHandler([](std::string_view, std::string_view) {});
        std::string f = "/tmp/v5files_fuzz_" + std::to_string(getpid());
        std::filesystem::create_directories(f);
        return f;
    }();
    return folder;
}

// Writes the file; its path, or empty when the input is empty or cannot be written.
inline std::string WriteInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    static const char kLetters[] = {'R', 'F', 'P', 'T', 'C', 'S', 'N', 'X'};
    const std::uint8_t choice = data[0];
    std::string name(1, kLetters[choice & 7]);
    name += "0001";
    if (choice & 0x40) name += 'a';
    name += (choice & 0x80) ? ".jpg" : ".tif";
    const std::string path = Folder() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return {};
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
    return path;
}

}  // namespace v5fuzz
