// Quarter turns and the left-right mirror of packed DIBs. Every transform is one remapping
// kernel: destination pixel (r, c) in memory order takes the source pixel at byte offset
// origin + r * rowStep + c * columnStep, so the four operations differ only in three numbers.
// The quarter turns of three-byte pixels have an AVX2 build and the reversed rows an AVX-512 one,
// picked at run time; each gives the bytes of the scalar walk.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/system/cpu.h"
#include "records/dib/dib.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

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

#if QUORIN_HAVE_AVX2_PATH
// Byte 3i + j of a reversed run of sixteen three-byte pixels comes from byte 3(15 - i) + j.
constexpr std::array<std::uint8_t, 64> ReversedRunOrder() {
    std::array<std::uint8_t, 64> order{};
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 3; ++j) order[3 * i + j] = std::uint8_t(3 * (15 - i) + j);
    return order;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kReversedRun = ReversedRunOrder();

// The same in runs of sixteen pixels (48 bytes), reversed by one byte permute.
QUORIN_TARGET_AVX512 std::int32_t ReverseRow3Avx512(std::uint8_t* to, const std::uint8_t* from,
                                                    std::int32_t count) {
    const __m512i reverse = _mm512_load_si512(kReversedRun.data());
    const __mmask64 run = (std::uint64_t{1} << 48) - 1;
    std::int32_t done = 0;
    for (; done + 16 <= count; done += 16, to += 48, from -= 48) {
        const __m512i pixels = _mm512_maskz_loadu_epi8(run, from - 45);  // q15 .. q0
        _mm512_mask_storeu_epi8(to, run, _mm512_permutex2var_epi8(pixels, reverse, pixels));
    }
    _mm256_zeroupper();
    return done;
}
#endif

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
    std::int32_t (*reverseRun)(std::uint8_t*, const std::uint8_t*, std::int32_t) = nullptr;
#if QUORIN_HAVE_AVX2_PATH
    if (N == 3 && map.columnStep == -3 && quorin::cpu::UseAvx512()) reverseRun = ReverseRow3Avx512;
#endif
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
                        // The wide build takes whole runs, the plain one what is left.
                        std::int32_t done = reverseRun ? reverseRun(to, from, c1 - c) : 0;
                        done += ReverseRow3(to + 3 * std::int64_t(done),
                                            from - 3 * std::int64_t(done), c1 - c - done);
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

// Destination rows r0..r1-1, pixels c0..c1-1, one pixel at a time.
template <std::size_t N>
void RemapRect(const std::uint8_t* source, const Remap& map, std::uint8_t* target,
               std::uint64_t targetStride, std::int32_t r0, std::int32_t r1, std::int32_t c0,
               std::int32_t c1) {
    for (std::int32_t r = r0; r < r1; ++r) {
        std::uint8_t* to = target + r * targetStride + std::uint64_t(c0) * N;
        const std::uint8_t* from = source + map.origin + r * map.rowStep + c0 * map.columnStep;
        for (std::int32_t c = c0; c < c1; ++c, to += N, from += map.columnStep)
            std::memcpy(to, from, N);
    }
}

#if QUORIN_HAVE_AVX2_PATH
// Eight three-byte pixels from `from` as the eight four-byte lanes (top byte zero); reads 28
// bytes.
QUORIN_TARGET_AVX2 inline __m256i Widen3(const std::uint8_t* from) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 12));
    const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(both, spread);
}

// The eight lanes back as eight three-byte pixels at `to`; writes exactly 24 bytes.
QUORIN_TARGET_AVX2 inline void Narrow3(std::uint8_t* to, __m256i lanes) {
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(lanes, pack),
                                                       _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 16), _mm256_extracti128_si256(packed, 1));
}

// Row i of the 8 x 8 lanes becomes column i.
QUORIN_TARGET_AVX2 inline void Transpose8x8(__m256i v[8]) {
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(v[i], v[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(v[i], v[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        v[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}

// A quarter turn of three-byte pixels in blocks of 8 x 8: eight runs of eight source pixels (one
// run from each of eight source rows) widened to lanes, transposed in registers and narrowed into
// eight destination rows. The walk takes eight destination rows across their whole width: the
// writes stream, and the source lines the next eight rows read stay in the cache (one line per
// source row). Blocks whose 28-byte reads would pass the end of the source, and the pixels left
// over from whole blocks, go one at a time.
QUORIN_TARGET_AVX2 void TurnPixels3Avx2(const std::uint8_t* source, const std::uint8_t* sourceEnd,
                                        const Remap& map, std::uint8_t* target,
                                        std::uint64_t targetStride, std::int32_t width,
                                        std::int32_t height) {
    const std::int32_t blockRows = height & ~7, blockColumns = width & ~7;
    const bool reversed = map.rowStep < 0;  // the run's first pixel is the block's last row
    const std::int64_t runStart = map.origin + (reversed ? 7 * map.rowStep : 0);
    const std::int64_t reach = map.columnStep > 0 ? 7 * map.columnStep : 0;  // to the highest run
    for (std::int32_t r0 = 0; r0 < blockRows; r0 += 8) {
        for (std::int32_t c0 = 0; c0 < blockColumns; c0 += 8) {
            const std::uint8_t* run = source + runStart + r0 * map.rowStep + c0 * map.columnStep;
            if (sourceEnd - (run + reach) < 28) {
                RemapRect<3>(source, map, target, targetStride, r0, r0 + 8, c0, c0 + 8);
                continue;
            }
            __m256i v[8];
            for (int i = 0; i < 8; ++i) v[i] = Widen3(run + i * map.columnStep);
            Transpose8x8(v);
            for (int k = 0; k < 8; ++k)
                Narrow3(target + (r0 + (reversed ? 7 - k : k)) * targetStride + c0 * 3, v[k]);
        }
        RemapRect<3>(source, map, target, targetStride, r0, r0 + 8, blockColumns, width);
    }
    RemapRect<3>(source, map, target, targetStride, blockRows, height, 0, width);
    _mm256_zeroupper();
}
#endif

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
#if QUORIN_HAVE_AVX2_PATH
        if (map.columnStep != 3 && map.columnStep != -3 && quorin::cpu::UseAvx2()) {
            TurnPixels3Avx2(source.bits(), end, map, target.bits(), target.layout().stride, width,
                            height);
            return result;
        }
#endif
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
