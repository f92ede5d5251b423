#include "records/dib/dibbuffer.h"

using namespace win;

namespace quorin {

std::uint32_t PixelElementBytes(std::uint32_t bits) {
    switch (bits) {
        case 8:
            return 1;
        case 10:
        case 12:
        case 14:
        case 16:
            return 2;
        case 32:
            return 4;
        default:
            return 0;
    }
}

std::uint64_t PixelBufferBytes(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                               std::uint32_t elementBytes) {
    if (width < 1 || width > kMaxImageSide || height < 1 || height > kMaxImageSide) return 0;
    if (samples < 1 || samples > 4 || elementBytes < 1 || elementBytes > 8) return 0;
    const std::uint64_t bytes = std::uint64_t{width} * height * samples * elementBytes;
    return bytes <= kMaxBlockBytes ? bytes : 0;
}

void* AllocLockedBlock(std::uint64_t bytes) {
    if (bytes == 0 || bytes > kMaxBlockBytes) return nullptr;
    HGLOBAL block = GlobalAlloc(GHND, static_cast<SIZE_T>(bytes));
    if (block == nullptr) return nullptr;
    void* base = GlobalLock(block);
    if (base == nullptr) GlobalFree(block);
    return base;
}

void FreeLockedBlock(void* base) {
    if (base == nullptr) return;
    HGLOBAL block = GlobalHandle(base);
    if (block == nullptr) return;
    GlobalUnlock(block);
    GlobalFree(block);
}

std::uint64_t LockedBlockSize(const void* base) {
    if (base == nullptr) return 0;
    HGLOBAL block = GlobalHandle(base);
    return block != nullptr ? GlobalSize(block) : 0;
}

bool BlockHolds(const void* data, std::uint64_t bytes) {
    HGLOBAL block = GlobalHandle(data);
    return block == nullptr || GlobalSize(block) >= bytes;
}

}  // namespace quorin

void* AllocPixelBuffer(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                       std::uint32_t bits) {
    const std::uint32_t elementBytes = quorin::PixelElementBytes(bits);
    if (elementBytes == 0) return nullptr;
    return quorin::AllocLockedBlock(quorin::PixelBufferBytes(width, height, samples, elementBytes));
}

void FreePixelBuffer(void** pixels) {
    if (pixels == nullptr) return;
    quorin::FreeLockedBlock(*pixels);
    *pixels = nullptr;
}
