// The bitmap resources the system stamps on images. The integrity marks are drawn here, one
// generator for both sizes; they are known by number (the header model's marks) and by name
// (the older files' marks). Logos and other ids load as null, so stamping them answers false.
#include "platform/system/bitmap.h"

#include <array>
#include <cstring>

namespace win {
namespace {

constexpr BYTE kTransparent = 192;

// A ring crossed by a diagonal bar, white on a black outline so that it shows on any picture;
// 192 everywhere else (transparent).
template <int N>
constexpr std::array<BYTE, N * N> DrawMark() {
    std::array<BYTE, N * N> pixels{};
    const int c2 = N - 1;  // centre times two
    const int outer = N * N, ring = (N - 6) * (N - 6), inner = (N - 12) * (N - 12);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const int dx = 2 * x - c2, dy = 2 * y - c2, d = dx * dx + dy * dy;
            const int bar = dx - dy;
            BYTE v = kTransparent;
            if (d <= outer && (d >= inner || (bar >= -N / 4 && bar <= N / 4))) v = 0;
            if (d <= ring && (d >= inner + 4 * N || (bar >= -N / 8 && bar <= N / 8))) v = 255;
            pixels[y * N + x] = v;
        }
    return pixels;
}

constexpr auto kMarkPixels = DrawMark<32>();
constexpr auto kMarkPixelsLarge = DrawMark<64>();

struct EmbeddedBitmap {
    int id;
    const char* name;
    BitmapResource bitmap;
};

const EmbeddedBitmap kEmbedded[] = {
    {4003, "IDB_NOCOPYRIGHT", {32, 32, 8, kMarkPixels.data()}},
    {4004, "IDB_NOCOPYRIGHT_HR", {64, 64, 8, kMarkPixelsLarge.data()}},
};

}  // namespace

const BitmapResource* LoadBitmapResource(int id) {
    for (const EmbeddedBitmap& entry : kEmbedded)
        if (entry.id == id) return &entry.bitmap;
    return nullptr;
}

const BitmapResource* LoadBitmapResource(const char* name) {
    if (name == nullptr) return nullptr;
    for (const EmbeddedBitmap& entry : kEmbedded)
        if (std::strcmp(entry.name, name) == 0) return &entry.bitmap;
    return nullptr;
}

}  // namespace win
