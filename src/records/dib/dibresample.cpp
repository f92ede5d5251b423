#include "records/dib/dibresample.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

using namespace win;

void BuildStretchIndex(std::int32_t* table, std::int32_t destination, std::int32_t source) {
    if (destination < 1) return;
    const std::int64_t dx = destination - 1;
    const std::int64_t dy = source - 1;
    std::int64_t error = 2 * dy - dx;
    std::int32_t index = 0;
    table[0] = 0;
    for (std::int32_t i = 1; i < destination; ++i) {
        if (error >= 0) {
            ++index;
            error += 2 * (dy - dx);
        } else {
            error += 2 * dy;
        }
        table[i] = index;
    }
}

void BuildShrinkIndex(std::int32_t* table, std::int32_t destination, std::int32_t source) {
    if (destination < 1) return;
    const std::int64_t dx = source - 1;
    const std::int64_t dy = destination - 1;
    std::int64_t error = 2 * dy - dx;
    std::int32_t next = 1;
    table[0] = 0;
    for (std::int32_t s = 1; s < source && next < destination; ++s) {
        if (error >= 0) {
            table[next++] = s;
            error += 2 * (dy - dx);
        } else {
            error += 2 * dy;
        }
    }
}

namespace {

void BuildIndex(std::int32_t* table, std::int32_t destination, std::int32_t source) {
    if (destination >= source)
        BuildStretchIndex(table, destination, source);
    else
        BuildShrinkIndex(table, destination, source);
}

// One kernel per element size; the flags are hoisted into the start and step of each row. The
// pixels of the next row are asked for from memory while a row is copied: when shrinking, rows
// lie apart in the source, and each would start cold.
template <std::size_t N>
void ResampleRows(std::uint8_t* destination, std::int64_t destinationStride, std::int32_t dx,
                  std::int32_t dy, std::int32_t dw, std::int32_t dh, const std::uint8_t* source,
                  std::int64_t sourceStride, std::int32_t sx, std::int32_t sy,
                  const std::int32_t* columns, const std::int32_t* rows, std::uint32_t flags) {
    const bool mirror = (flags & kResampleMirrorRows) != 0;
    const std::int64_t step = mirror ? -static_cast<std::int64_t>(N) : static_cast<std::int64_t>(N);
    for (std::int32_t r = 0; r < dh; ++r) {
        const std::int64_t targetRow = (flags & kResampleFlipRows) ? dy + dh - 1 - r : dy + r;
        const std::uint8_t* from = source + (sy + rows[r]) * sourceStride + std::int64_t(sx) * N;
        const std::uint8_t* next =
            r + 1 < dh ? source + (sy + rows[r + 1]) * sourceStride + std::int64_t(sx) * N : from;
        std::uint8_t* to = destination + targetRow * destinationStride +
                           (std::int64_t(dx) + (mirror ? dw - 1 : 0)) * std::int64_t(N);
        for (std::int32_t c = 0; c < dw; ++c) {
            __builtin_prefetch(next + std::int64_t(columns[c]) * N);
            std::memcpy(to, from + std::int64_t(columns[c]) * N, N);
            to += step;
        }
    }
}

}  // namespace

bool ResampleNearest(std::uint8_t* destination, std::int64_t destinationStride, std::int32_t dx,
                     std::int32_t dy, std::int32_t dw, std::int32_t dh, const std::uint8_t* source,
                     std::int64_t sourceStride, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                     std::int32_t sh, std::int32_t bitsPerPixel, std::uint32_t flags) {
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24) return false;
    if (destination == nullptr || source == nullptr) return false;
    const auto inRange = [](std::int32_t side) {
        return side >= 1 && side <= quorin::kMaxImageSide;
    };
    if (!inRange(dw) || !inRange(dh) || !inRange(sw) || !inRange(sh)) return false;
    if (dx < 0 || dy < 0 || sx < 0 || sy < 0) return false;
    const std::size_t pixelBytes = static_cast<std::size_t>(bitsPerPixel / 8);

    if (dw == sw && dh == sh && (flags & (kResampleFlipRows | kResampleMirrorRows)) == 0) {
        for (std::int32_t r = 0; r < dh; ++r)
            std::memcpy(destination + (std::int64_t(dy) + r) * destinationStride + dx * pixelBytes,
                        source + (std::int64_t(sy) + r) * sourceStride + sx * pixelBytes,
                        dw * pixelBytes);
        return true;
    }

    std::unique_ptr<std::int32_t[]> columns(new (std::nothrow) std::int32_t[dw]);
    std::unique_ptr<std::int32_t[]> rows(new (std::nothrow) std::int32_t[dh]);
    if (!columns || !rows) return false;
    BuildIndex(columns.get(), dw, sw);
    BuildIndex(rows.get(), dh, sh);
    switch (pixelBytes) {
        case 1:
            ResampleRows<1>(destination, destinationStride, dx, dy, dw, dh, source, sourceStride,
                            sx, sy, columns.get(), rows.get(), flags);
            break;
        case 2:
            ResampleRows<2>(destination, destinationStride, dx, dy, dw, dh, source, sourceStride,
                            sx, sy, columns.get(), rows.get(), flags);
            break;
        default:
            ResampleRows<3>(destination, destinationStride, dx, dy, dw, dh, source, sourceStride,
                            sx, sy, columns.get(), rows.get(), flags);
            break;
    }
    return true;
}

HGLOBAL ResizeDIBTo380x480(HGLOBAL dib, std::int32_t sourceWidth, std::int32_t sourceHeight) {
    constexpr std::int32_t kWidth = 380;
    constexpr std::int32_t kHeight = 480;
    quorin::LockedDIB source(dib);
    if (!source.valid()) return nullptr;
    const quorin::DIBLayout& layout = source.layout();
    if (layout.bitCount != 8 && layout.bitCount != 24) return nullptr;
    // The caller's rectangle starts at the first stored row and column; keep it inside the source.
    const std::int32_t width = std::min(sourceWidth, layout.width);
    const std::int32_t height = std::min(sourceHeight, layout.height);
    if (width < 1 || height < 1) return nullptr;

    HGLOBAL result = CreateDIB(kWidth, kHeight, static_cast<std::int32_t>(layout.bitCount));
    quorin::LockedDIB target(result);
    bool ok = target.valid();
    if (ok && layout.bitCount == 8)
        std::memcpy(target.palette(), source.palette(), quorin::kDIBPaletteBytes);
    ok = ok &&
         ResampleNearest(target.bits(), static_cast<std::int64_t>(target.layout().stride), 0, 0,
                         kWidth, kHeight, source.bits(), static_cast<std::int64_t>(layout.stride),
                         0, 0, width, height, static_cast<std::int32_t>(layout.bitCount), 0);
    if (!ok) {
        target.unlock();
        FreeDIB(result);
        return nullptr;
    }
    return result;
}
