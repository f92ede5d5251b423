// The integrity mark bitmaps and their stamping.
#include "v5files/oldmark.h"

#include <cstdint>

#include "records/dib/dib.h"

namespace {

constexpr std::uint8_t kTransparent = 192;

// The program's own resources stand for the module's: the marks are embedded once.
const char kModule[] = "marks";

}  // namespace

const void* OldMarkModule() {
    return kModule;
}

const win::BitmapResource* LoadOldMark(const void* module, const char* name) {
    if (module != kModule || name == nullptr) return nullptr;
    const win::BitmapResource* mark = win::LoadBitmapResource(name);
    if (mark == nullptr || mark->bitsPerPixel != 8 || mark->bits == nullptr) return nullptr;
    return mark;
}

bool StampMismatchMark(win::HGLOBAL dib, const void* module) {
    if (module == nullptr) return true;
    quorin::LockedDIB locked(dib);
    if (!locked.valid() || locked.layout().bitCount != 8) return false;
    const std::int32_t w = locked.layout().width, h = locked.layout().height;
    const win::BitmapResource* mark =
        LoadOldMark(module, (w >= 1024 || h >= 1024) ? "IDB_NOCOPYRIGHT_HR" : "IDB_NOCOPYRIGHT");
    if (mark == nullptr) return false;
    // Picture row y is stored row h - 1 - y.
    auto put = [&](std::int32_t x, std::int32_t y, std::uint8_t v) {
        locked.row(h - 1 - y)[x] = v;
    };
    for (std::int32_t i = 0; i < mark->height && i < h; ++i)
        for (std::int32_t j = 0; j < mark->width && j < w; ++j) {
            const std::uint8_t v = mark->bits[i * mark->width + j];
            if (v == kTransparent) continue;
            put(j, i, v);
            put(w - 1 - j, i, v);
            put(j, h - 1 - i, v);
            put(w - 1 - j, h - 1 - i, v);
        }
    return true;
}
