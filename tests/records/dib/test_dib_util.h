// Helpers of the DIB suites: filling DIBs, writing them as BMP files, lock and leak checks.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/leak_guard.h"
#include "common/test_util.h"
#include "platform/core/globalmem.h"
#include "records/dib/dib.h"

namespace quorin::test {

// The whole block of a DIB.
inline std::vector<std::uint8_t> BlockBytes(win::HGLOBAL dib) {
    auto* base = static_cast<std::uint8_t*>(win::GlobalLock(dib));
    std::vector<std::uint8_t> bytes(base, base + win::GlobalSize(dib));
    win::GlobalUnlock(dib);
    return bytes;
}

// The DIB as a BMP file: a 14-byte file header in front of the block.
inline void WriteBMP(const std::string& path, win::HGLOBAL dib) {
    const std::vector<std::uint8_t> block = BlockBytes(dib);
    LockedDIB locked(dib);
    win::BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfSize = static_cast<win::DWORD>(sizeof file + block.size());
    file.bfOffBits = static_cast<win::DWORD>(sizeof file + locked.layout().bitsOffset);
    std::vector<std::uint8_t> bytes(sizeof file + block.size());
    std::memcpy(bytes.data(), &file, sizeof file);
    std::memcpy(bytes.data() + sizeof file, block.data(), block.size());
    WriteBytes(path, bytes);
}

// A DIB of random pixels (padding left zero) and, for 8 bits, a random palette.
inline win::HGLOBAL RandomDIB(std::int32_t width, std::int32_t height, std::int32_t bits,
                              std::uint32_t seed) {
    win::HGLOBAL dib = CreateDIB(width, height, bits);
    LockedDIB locked(dib);
    std::mt19937 random(seed);
    const std::uint64_t rowBytes = std::uint64_t(width) * (bits / 8);
    for (std::int32_t r = 0; r < height; ++r)
        for (std::uint64_t i = 0; i < rowBytes; ++i) locked.row(r)[i] = std::uint8_t(random());
    if (bits == 8)
        for (int i = 0; i < 256; ++i)
            locked.palette()[i] = win::RGBQUAD{std::uint8_t(random()), std::uint8_t(random()),
                                               std::uint8_t(random()), 0};
    return dib;
}

}  // namespace quorin::test
