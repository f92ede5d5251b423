// Conversions between packed DIBs and raw pixel records, and the mirror of a raw record.
#include <cstring>

#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

using namespace win;

bool DIBToSImage(HGLOBAL dib, SImage* image, bool freeSource) {
    if (image == nullptr) return false;
    void* pixels = nullptr;
    std::uint32_t width = 0, height = 0, samples = 0;
    {
        quorin::LockedDIB source(dib);
        if (!source.valid()) return false;
        const quorin::DIBLayout& layout = source.layout();
        if (layout.bitCount != 8 && layout.bitCount != 24) return false;
        width = static_cast<std::uint32_t>(layout.width);
        height = static_cast<std::uint32_t>(layout.height);
        samples = layout.bitCount / 8;
        pixels = AllocPixelBuffer(width, height, samples, 8);
        if (pixels == nullptr) return false;
        const std::size_t rowBytes = std::size_t{width} * samples;
        for (std::uint32_t r = 0; r < height; ++r) {
            // Stored rows run bottom-up; the record's rows top-down.
            const std::uint8_t* from = source.row(static_cast<std::int32_t>(height - 1 - r));
            auto* to = static_cast<std::uint8_t*>(pixels) + r * rowBytes;
            if (samples == 1) {
                std::memcpy(to, from, rowBytes);
                continue;
            }
            for (std::uint32_t c = 0; c < width; ++c, from += 3, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
    }
    image->nWidth = width;
    image->nHeight = height;
    image->nSamplesPerPixel = samples;
    image->nBitsPerSample = 8;
    image->pPixels = pixels;
    if (freeSource) FreeDIB(dib);
    return true;
}

namespace {

template <std::size_t N>
void MirrorRows(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                std::uint32_t height) {
    const std::size_t rowBytes = std::size_t{width} * N;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint8_t* from = source + r * rowBytes + rowBytes - N;
        std::uint8_t* to = target + r * rowBytes;
        for (std::uint32_t c = 0; c < width; ++c, from -= N, to += N) std::memcpy(to, from, N);
    }
}

}  // namespace

bool MirrorSImage(SImage* image) {
    if (image == nullptr || image->pPixels == nullptr) return false;
    const std::uint32_t samples = image->nSamplesPerPixel;
    const std::uint32_t bits = image->nBitsPerSample;
    std::uint32_t pixelBytes = 0;
    if (samples == 1 && bits >= 1 && bits <= 8)
        pixelBytes = 1;
    else if (samples == 1 && bits >= 9 && bits <= 16)
        pixelBytes = 2;
    else if (samples == 3 && bits == 8)
        pixelBytes = 3;
    else
        return false;
    const std::uint64_t bytes =
        quorin::PixelBufferBytes(image->nWidth, image->nHeight, 1, pixelBytes);
    if (bytes == 0) return false;
    // A record whose block is known must hold all its pixels.
    const std::uint64_t held = quorin::LockedBlockSize(image->pPixels);
    if (held != 0 && held < bytes) return false;
    void* mirrored = quorin::AllocLockedBlock(bytes);
    if (mirrored == nullptr) return false;
    const auto* from = static_cast<const std::uint8_t*>(image->pPixels);
    auto* to = static_cast<std::uint8_t*>(mirrored);
    switch (pixelBytes) {
        case 1:
            MirrorRows<1>(from, to, image->nWidth, image->nHeight);
            break;
        case 2:
            MirrorRows<2>(from, to, image->nWidth, image->nHeight);
            break;
        default:
            MirrorRows<3>(from, to, image->nWidth, image->nHeight);
            break;
    }
    FreePixelBuffer(&image->pPixels);
    image->pPixels = mirrored;
    return true;
}
