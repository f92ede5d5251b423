// Quarter turns and the left-right mirror of packed DIBs. Every transform is one remapping
// kernel: destination pixel (r, c) in memory order takes the source pixel at byte offset
// origin + r * rowStep + c * columnStep, so the four operations differ only in three numbers.
#include <algorithm>
#include <cstring>

#include "records/dib/dib.h"

using namespace win;
using quorin::LockedDIB;

namespace {

struct Remap {
    std::int64_t origin;      // byte offset of the source pixel of destination (0, 0)
    std::int64_t rowStep;     // source byte step per destination row
    std::int64_t columnStep;  // source byte step per destination pixel
};

// Fast path of a row read backwards in three-byte pixels: four pixels (12 bytes) at a time
// through two words, reversed with shifts. `from` is the source of the first destination pixel.
// Answers how many pixels it did; the scalar loop does the rest.
// Kept out of line: inlined into the kernel, GCC spills the words through the stack.
[[gnu::noinline]] std::int32_t ReverseRow3(std::uint8_t* to, const std::uint8_t* from,
                                           std::int32_t count) {
    std::int32_t done = 0;
    for (; done + 4 <= count; done += 4, to += 12, from -= 12) {
        std::uint64_t low;
        std::uint32_t high;
        std::memcpy(&low, from - 9, 8);   // pixels q0, q1 and two bytes of q2, in source order
        std::memcpy(&high, from - 1, 4);  // the last byte of q2, then q3
        const std::uint64_t q0 = low & 0xFFFFFF;
        const std::uint64_t q1 = (low >> 24) & 0xFFFFFF;
        const std::uint64_t q2 = (low >> 48) | (std::uint64_t(high & 0xFF) << 16);
        const std::uint64_t q3 = high >> 8;
        const std::uint64_t outLow = q3 | (q2 << 24) | (q1 << 48);
        const auto outHigh = static_cast<std::uint32_t>((q1 >> 16) | (q0 << 8));
        std::memcpy(to, &outLow, 8);
        std::memcpy(to + 8, &outHigh, 4);
    }
    return done;
}

// One remapping kernel per pixel size. When a destination row reads a source row, rows are
// walked straight through, in the order that reads the source in one sweep in one direction:
// rows going up while each row is read downwards defeats the hardware prefetch (twice as slow).
// A quarter turn walks in tiles of kTurnRun destination rows by kTurnRows destination columns:
// each tile reads a long run of each of a few source rows, streams the prefetch follows, and
// writes a short piece of many destination rows, which stay in the cache until their next tile.
// Three-byte pixels move as four-byte words where the extra byte is harmless: it is read inside
// the source block and written over a pixel not yet written (never past the last column, whose
// neighbour may already be done).
constexpr std::int32_t kTurnRun = 512;
constexpr std::int32_t kTurnRows = 8;

template <std::size_t N>
void RemapPixels(const std::uint8_t* source, const std::uint8_t* sourceEnd, const Remap& map,
                 std::uint8_t* target, std::uint64_t targetStride, std::int32_t width,
                 std::int32_t height) {
    const bool alongRows = map.columnStep == static_cast<std::int64_t>(N) ||
                           map.columnStep == -static_cast<std::int64_t>(N);
    const std::int32_t tileRows = alongRows ? height : kTurnRun;
    const std::int32_t tileColumns = alongRows ? width : kTurnRows;
    const bool upwards = alongRows && (map.rowStep < 0) != (map.columnStep < 0);
    for (std::int32_t r0 = 0; r0 < height; r0 += tileRows) {
        const std::int32_t r1 = std::min(height, r0 + tileRows);
        for (std::int32_t c0 = 0; c0 < width; c0 += tileColumns) {
            const std::int32_t c1 = std::min(width, c0 + tileColumns);
            const std::int32_t wideEnd = std::min(c1, width - 1);
            for (std::int32_t k = r0; k < r1; ++k) {
                const std::int32_t r = upwards ? r1 - 1 - (k - r0) : k;
                std::uint8_t* to = target + r * targetStride + std::uint64_t(c0) * N;
                const std::uint8_t* from =
                    source + map.origin + r * map.rowStep + c0 * map.columnStep;
                std::int32_t c = c0;
                if constexpr (N == 1) {
                    if (map.columnStep == -1) {
                        std::reverse_copy(from - (c1 - c0 - 1), from + 1, to);
                        continue;
                    }
                }
                if constexpr (N == 3) {
                    if (map.columnStep == -3) {
                        const std::int32_t done = ReverseRow3(to, from, c1 - c);
                        c += done;
                        to += 3 * std::int64_t(done);
                        from -= 3 * std::int64_t(done);
                    }
                    for (; c < wideEnd; ++c, to += N, from += map.columnStep)
                        std::memcpy(to, from, sourceEnd - from >= 4 ? 4 : 3);
                }
                for (; c < c1; ++c, to += N, from += map.columnStep) std::memcpy(to, from, N);
            }
        }
    }
}

// A new DIB of the given size and the source's depth (and palette) filled through `map`.
HGLOBAL Transform(const LockedDIB& source, std::int32_t width, std::int32_t height,
                  const Remap& map) {
    const std::uint32_t bitCount = source.layout().bitCount;
    const std::uint8_t* end = source.row(source.layout().height);
    HGLOBAL result = CreateDIB(width, height, static_cast<std::int32_t>(bitCount));
    LockedDIB target(result);
    if (!target.valid()) {
        target.unlock();
        FreeDIB(result);
        return nullptr;
    }
    if (bitCount == 8) {
        std::memcpy(target.palette(), source.palette(), quorin::kDIBPaletteBytes);
        RemapPixels<1>(source.bits(), end, map, target.bits(), target.layout().stride, width,
                       height);
    } else {
        RemapPixels<3>(source.bits(), end, map, target.bits(), target.layout().stride, width,
                       height);
    }
    return result;
}

bool IsTransformable(const LockedDIB& dib) {
    return dib.valid() && (dib.layout().bitCount == 8 || dib.layout().bitCount == 24);
}

}  // namespace

HGLOBAL RotateDIB(HGLOBAL dib, std::int32_t angle) {
    if (angle == 0) return DuplicateDIB(dib);
    if (angle != 90 && angle != 180 && angle != 270) return nullptr;
    LockedDIB source(dib);
    if (!IsTransformable(source)) return nullptr;
    const std::int64_t w = source.layout().width;
    const std::int64_t h = source.layout().height;
    const std::int64_t n = source.layout().bitCount / 8;
    const std::int64_t stride = static_cast<std::int64_t>(source.layout().stride);
    switch (angle) {
        case 90:  // destination row r is source column w-1-r; its pixel c is source row c
            return Transform(source, h, w, Remap{(w - 1) * n, -n, stride});
        case 180:  // each source row reversed into destination row h-1-r
            return Transform(source, w, h, Remap{(h - 1) * stride + (w - 1) * n, -stride, -n});
        default:  // 270: destination row r is source column r; its pixel c is source row h-1-c
            return Transform(source, h, w, Remap{(h - 1) * stride, n, -stride});
    }
}

HGLOBAL MirrorDIB(HGLOBAL dib) {
    LockedDIB source(dib);
    if (!IsTransformable(source)) return nullptr;
    const std::int64_t w = source.layout().width;
    const std::int64_t n = source.layout().bitCount / 8;
    const std::int64_t stride = static_cast<std::int64_t>(source.layout().stride);
    return Transform(source, source.layout().width, source.layout().height,
                     Remap{(w - 1) * n, stride, -n});
}
