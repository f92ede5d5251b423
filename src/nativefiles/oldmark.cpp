// The integrity mark bitmaps and their stamping.
#include "nativefiles/oldmark.h"

#include <array>
#include <cstring>

#include "records/dib.h"

namespace {

constexpr std::uint8_t kTransparent = 192;

// A ring crossed by a diagonal bar, white on a black outline so that it shows on any picture.
template <int N>
std::array<std::uint8_t, N * N> DrawMark() {
    std::array<std::uint8_t, N * N> pixels{};
    const int c2 = N - 1;  // centre times two
    const int outer = N * N, ring = (N - 6) * (N - 6), inner = (N - 12) * (N - 12);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const int dx = 2 * x - c2, dy = 2 * y - c2, d = dx * dx + dy * dy;
            const int bar = dx - dy;
            std::uint8_t v = kTransparent;
            if (d <= outer && (d >= inner || (bar >= -N / 4 && bar <= N / 4))) v = 0;
            if (d <= ring && (d >= inner + 4 * N || (bar >= -N / 8 && bar <= N / 8))) v = 255;
            pixels[y * N + x] = v;
        }
    return pixels;
}

const auto kMarkPixels = DrawMark<32>();
const auto kMarkPixelsHR = DrawMark<64>();

struct NamedMark {
    const char* name;
    SOldMarkBitmap bitmap;
};

const NamedMark kMarks[] = {
    {"IDB_NOCOPYRIGHT", {32, 32, kMarkPixels.data()}},
    {"IDB_NOCOPYRIGHT_HR", {64, 64, kMarkPixelsHR.data()}},
};

}  // namespace

const void* OldMarkModule() {
    return kMarks;
}

const SOldMarkBitmap* LoadOldMark(const void* module, const char* name) {
    if (module != kMarks || name == nullptr) return nullptr;
    for (const NamedMark& mark : kMarks)
        if (std::strcmp(mark.name, name) == 0) return &mark.bitmap;
    return nullptr;
}

bool StampMismatchMark(win::HGLOBAL dib, const void* module) {
    if (module == nullptr) return true;
    quorin::LockedDIB locked(dib);
    if (!locked.valid() || locked.layout().bitCount != 8) return false;
    const std::int32_t w = locked.layout().width, h = locked.layout().height;
    const SOldMarkBitmap* mark =
        LoadOldMark(module, (w >= 1024 || h >= 1024) ? "IDB_NOCOPYRIGHT_HR" : "IDB_NOCOPYRIGHT");
    if (mark == nullptr) return false;
    // Picture row y is stored row h - 1 - y.
    auto put = [&](std::int32_t x, std::int32_t y, std::uint8_t v) {
        locked.row(h - 1 - y)[x] = v;
    };
    for (std::int32_t i = 0; i < mark->height && i < h; ++i)
        for (std::int32_t j = 0; j < mark->width && j < w; ++j) {
            const std::uint8_t v = mark->pixels[i * mark->width + j];
            if (v == kTransparent) continue;
            put(j, i, v);
            put(w - 1 - j, i, v);
            put(j, h - 1 - i, v);
            put(w - 1 - j, h - 1 - i, v);
        }
    return true;
}
