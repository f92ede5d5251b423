// SImage records and their pixel blocks: moveable, zero-filled global blocks that stay locked
// for their whole life, so that the owner keeps only the locked address.
#include "sdk/simage.h"

#include <quorin/simage.h>
#include <quorin/somuimage.h>

#include <cstring>

#include "platform/core/globalmem.h"

namespace quorin {

namespace {

// Bytes of one element of a freshly allocated pixel block, by bits per sample.
std::uint64_t AllocElementBytes(std::uint32_t bits) {
    if (bits <= 8) return 1;
    if (bits <= 16) return 2;
    if (bits <= 32) return 4;
    return 0;
}

// Bytes of one element that a duplicate copies; 0 for a depth that cannot be copied.
std::uint64_t CopyElementBytes(std::uint32_t bits) {
    if (bits == 8) return 1;
    if (bits == 10 || (bits >= 12 && bits <= 16)) return 2;
    if (bits == 32) return 4;
    return 0;
}

}  // namespace

bool PixelBlockBytes(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                     std::uint64_t elementBytes, std::uint64_t* bytes) {
    // Each factor is below 2^32: width x height fits in 64 bits; check before multiplying on.
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (samples != 0 && pixels > kMaxSImageBytes / samples) return false;
    const std::uint64_t total = pixels * samples * elementBytes;
    if (total > kMaxSImageBytes) return false;
    *bytes = total;
    return true;
}

}  // namespace quorin

SImage* AllocSImage(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                    std::uint32_t bits, bool adopt, void* pixels) {
    void* block = nullptr;
    if (!adopt) {
        // The numbers may come from a file: size in 64 bits and refuse what cannot be real.
        std::uint64_t bytes = 0;
        if (!quorin::PixelBlockBytes(width, height, samples, quorin::AllocElementBytes(bits),
                                     &bytes))
            return nullptr;
        block = quorin::AllocRecordBlock(static_cast<std::size_t>(bytes));
        if (block == nullptr) return nullptr;
    }
    auto* image = static_cast<SImage*>(quorin::AllocRecordBlock(sizeof(SImage)));
    if (image == nullptr) {
        FreeGlobalPointer(block);
        return nullptr;
    }
    image->nWidth = width;
    image->nHeight = height;
    image->nSamplesPerPixel = samples;
    image->nBitsPerSample = bits;
    image->pPixels = adopt ? pixels : block;
    return image;
}

void FreeSImage(SImage* image, bool pixelsBorrowed) {
    if (image == nullptr) return;
    if (!pixelsBorrowed) FreeGlobalPointer(image->pPixels);
    image->pPixels = nullptr;
    FreeGlobalPointer(image);
}

SImage* DuplicateSImage(const SImage* image) {
    if (image == nullptr || image->pPixels == nullptr) return nullptr;
    const std::uint64_t element = quorin::CopyElementBytes(image->nBitsPerSample);
    if (element == 0) return nullptr;
    std::uint64_t bytes = 0;
    if (!quorin::PixelBlockBytes(image->nWidth, image->nHeight, image->nSamplesPerPixel, element,
                                 &bytes))
        return nullptr;
    // Never read past the source block: its numbers may not match what it holds.
    win::HGLOBAL source = win::GlobalHandle(image->pPixels);
    if (source == nullptr || win::GlobalSize(source) < bytes) return nullptr;
    SImage* copy = AllocSImage(image->nWidth, image->nHeight, image->nSamplesPerPixel,
                               image->nBitsPerSample, false, nullptr);
    if (copy == nullptr) return nullptr;
    std::memcpy(copy->pPixels, image->pPixels, static_cast<std::size_t>(bytes));
    return copy;
}

void FreeGlobalPointer(void* data) {
    if (data == nullptr) return;
    win::HGLOBAL block = win::GlobalHandle(data);
    if (block == nullptr) return;
    win::GlobalUnlock(block);
    win::GlobalFree(block);
}
