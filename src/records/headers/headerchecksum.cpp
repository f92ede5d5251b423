#include "records/headers/headerchecksum.h"

#include <quorin/header.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/core/globalmem.h"
#include "platform/system/bitmap.h"

namespace {

// Size of the global block `pixels` is the base of; none for memory of another kind, which
// the caller vouches for.
std::optional<std::uint64_t> PixelBlockSize(const void* pixels) {
    win::HGLOBAL block = win::GlobalHandle(pixels);
    if (block == nullptr) return std::nullopt;
    return win::GlobalSize(block);
}

// Element widths the checksum knows; every other depth sums to 0.
unsigned ChecksumElementBytes(std::int32_t bits) {
    if (bits == 8) return 1;
    if (bits == 10 || (bits >= 12 && bits <= 16)) return 2;
    if (bits == 32) return 4;
    return 0;
}

// Element width of a raw pixel buffer: 1 byte up to 8 bits, 2 up to 16, 4 up to 32.
unsigned RawElementBytes(std::int32_t bits) {
    if (bits >= 1 && bits <= 8) return 1;
    if (bits >= 9 && bits <= 16) return 2;
    if (bits >= 17 && bits <= 32) return 4;
    return 0;
}

template <class T>
std::uint32_t SumRows(const void* pixels, std::uint32_t height, std::uint16_t rowLength) {
    const T* elements = static_cast<const T*>(pixels);
    std::uint32_t sum = 0;
    for (std::uint32_t r = 0; r < height; ++r) {
        // The row start wraps at 65,536 elements: stored sums were made this way.
        const std::uint16_t start = static_cast<std::uint16_t>(r * rowLength);
        const T* row = elements + start;
        for (std::uint32_t i = 0; i < rowLength; ++i) sum += row[i];
    }
    return sum;
}

// The mark's value v (0..255) at the image's depth: 8 bits as is, 10 bits x 4 ... 16 bits x 257,
// 32 bits x 0x01010101; the same rule, (2^bits - 1) / 255, for the depths in between, and the
// top bits of v below 8 bits, so that a marked sample never exceeds its depth.
std::uint32_t MarkScaled(std::uint8_t v, std::int32_t bits) {
    if (bits < 8) return std::uint32_t{v} >> (8 - bits);
    const std::uint64_t full = (std::uint64_t{1} << bits) - 1;
    return static_cast<std::uint32_t>(v * (full / 255));
}

struct MarkTarget {
    void* pixels;
    std::int64_t width;
    std::int64_t height;
    std::int64_t samples;
};

template <class T>
void StampWith(const MarkTarget& image, const win::BitmapResource& mark, std::int32_t bits) {
    T* elements = static_cast<T*>(image.pixels);
    const std::int64_t W = image.width;
    const std::int64_t H = image.height;
    auto put = [&](std::int64_t x, std::int64_t y, T value) {
        if (x < 0 || y < 0 || x >= W || y >= H) return;  // the mark may be larger than the image
        T* pixel = elements + (y * W + x) * image.samples;
        for (std::int64_t s = 0; s < image.samples; ++s) pixel[s] = value;
    };
    const std::int64_t pixelBytes = mark.bitsPerPixel / 8;
    const std::int64_t rowBytes = std::int64_t{mark.width} * pixelBytes;
    for (std::int64_t i = 0; i < mark.height; ++i) {
        // Mark rows are read from the last one upwards.
        const std::uint8_t* row = mark.bits + (mark.height - 1 - i) * rowBytes;
        for (std::int64_t j = 0; j < mark.width; ++j) {
            const std::uint8_t v = row[j * pixelBytes];
            if (v == quorin::kIntegrityMarkTransparent) continue;
            const T value = static_cast<T>(MarkScaled(v, bits));
            put(j, i, value);                  // top left, as drawn
            put(W - 1 - i, j, value);          // top right, turned a quarter
            put(W - 1 - j, H - 1 - i, value);  // bottom right, half a turn
            put(i, H - 1 - j, value);          // bottom left, three quarters
        }
    }
}

}  // namespace

std::uint32_t ComputePixelChecksum(const CHeaderBase& header, const void* pixels) {
    if (pixels == nullptr) return 0;
    const unsigned elementBytes = ChecksumElementBytes(header.GetBitsPerSample());
    if (elementBytes == 0) return 0;
    const auto rowLength = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(header.GetSamplesPerPixel()) * header.GetWidth());
    const std::uint32_t height = header.GetHeight();
    if (height == 0) return 1;
    // The farthest element read: a row start is below both (h - 1) x n and 65,536.
    const std::uint64_t lastStart =
        std::min<std::uint64_t>(std::uint64_t{height - 1} * rowLength, 0xFFFF);
    const std::uint64_t needed = (lastStart + rowLength) * elementBytes;
    if (const auto size = PixelBlockSize(pixels); size && *size < needed) return 0;
    std::uint32_t sum = 0;
    switch (elementBytes) {
        case 1:
            sum = SumRows<std::uint8_t>(pixels, height, rowLength);
            break;
        case 2:
            sum = SumRows<std::uint16_t>(pixels, height, rowLength);
            break;
        default:
            sum = SumRows<std::uint32_t>(pixels, height, rowLength);
            break;
    }
    return sum == 0 ? 1 : sum;
}

std::uint32_t CheckPixelChecksum(CHeader& header, void* pixels, bool useGiven,
                                 std::uint32_t expected) {
    std::uint32_t checksum = ComputePixelChecksum(header, pixels);
    const std::uint32_t reference = useGiven ? expected : header.GetChecksum();
    if (checksum != reference) {
        header.SetChecksumMismatch(1);
        if (header.GetSubType() != 2) StampIntegrityMark(header, pixels);
        checksum = ComputePixelChecksum(header, pixels);
        header.SetChecksum(checksum);
    } else {
        header.SetChecksumMismatch(0);
    }
    return checksum;
}

bool StampIntegrityMark(const CHeaderBase& header, void* pixels) {
    if (pixels == nullptr) return false;
    const bool large = header.GetWidth() >= 1024 || header.GetHeight() >= 1024;
    return StampIntegrityMark(header, pixels,
                              win::LoadBitmapResource(large ? quorin::kIntegrityMarkResourceLarge
                                                            : quorin::kIntegrityMarkResource));
}

bool StampIntegrityMark(const CHeaderBase& header, void* pixels, const win::BitmapResource* mark) {
    if (pixels == nullptr || mark == nullptr || mark->bits == nullptr) return false;
    if (mark->width <= 0 || mark->height <= 0) return false;
    if (mark->bitsPerPixel != 8 && mark->bitsPerPixel != 24) return false;
    const std::int32_t bits = header.GetBitsPerSample();
    const unsigned elementBytes = RawElementBytes(bits);
    if (elementBytes == 0 || header.GetSamplesPerPixel() <= 0) return false;
    const MarkTarget image{pixels, header.GetWidth(), header.GetHeight(),
                           header.GetSamplesPerPixel()};
    const std::uint64_t needed = std::uint64_t(image.width) * std::uint64_t(image.height) *
                                 std::uint64_t(image.samples) * elementBytes;
    if (const auto size = PixelBlockSize(pixels); size && *size < needed) return false;
    switch (elementBytes) {
        case 1:
            StampWith<std::uint8_t>(image, *mark, bits);
            break;
        case 2:
            StampWith<std::uint16_t>(image, *mark, bits);
            break;
        default:
            StampWith<std::uint32_t>(image, *mark, bits);
            break;
    }
    return true;
}
