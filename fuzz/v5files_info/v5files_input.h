// Input of the older-file export harnesses: the first byte chooses the file's name (type letter,
// ".tif" or ".jpg"), the rest is the file, written into the input's scratch folder so that the
// exports meet it under a name that follows the naming rule.
#pragma once
#include <cstdint>
#include <string>

#include "../common/scratch.h"

namespace v5fuzz {

// Writes the file; its path, or empty when the input is empty or cannot be written.
inline std::string WriteInput(const fuzzscratch::Folder& folder, const std::uint8_t* data,
                              std::size_t size) {
    if (size == 0) return {};
    static const char kLetters[] = {'R', 'F', 'P', 'T', 'C', 'S', 'N', 'X'};
    const std::uint8_t choice = data[0];
    std::string name(1, kLetters[choice & 7]);
    name += "0001";
    if (choice & 0x40) name += 'a';
    name += (choice & 0x80) ? ".jpg" : ".tif";
    return folder.Write(name, data + 1, size - 1);
}

}  // namespace v5fuzz
