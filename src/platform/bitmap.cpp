// The bitmap resources the system stamps on images. Only marks whose pixels are known are
// embedded here (none yet); system bitmaps and unknown ids load as null, so stamping answers false.
#include "platform/bitmap.h"

#include <span>

namespace win {
namespace {

struct EmbeddedBitmap {
    int id;
    BitmapResource bitmap;
};

// One row per embedded resource, e.g. {id, {width, height, 8, kMarkPixels}}.
constexpr std::span<const EmbeddedBitmap> kEmbedded{};

}  // namespace

const BitmapResource* LoadBitmapResource(int id) {
    for (const EmbeddedBitmap& entry : kEmbedded)
        if (entry.id == id) return &entry.bitmap;
    return nullptr;
}

}  // namespace win
