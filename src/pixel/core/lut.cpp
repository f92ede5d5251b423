#include "pixel/core/lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/system/cpu.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace quorin {
namespace {

#if QUORIN_HAVE_AVX2_PATH
// Thirty-two bytes at a time: the table as sixteen rows of sixteen entries, each row looked up by
// the low nibble and kept where the high nibble names it. Answers how many bytes it mapped.
QUORIN_TARGET_AVX2 std::uint64_t MapBytesAvx2(const std::uint8_t* in, std::uint8_t* out,
                                              std::uint64_t count, const std::uint8_t* table) {
    __m256i rows[16];
    for (int j = 0; j < 16; ++j)
        rows[j] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * j)));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::uint64_t k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k));
        const __m256i low = _mm256_and_si256(v, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
        __m256i r = _mm256_shuffle_epi8(rows[0], low);
        for (int j = 1; j < 16; ++j) {
            const __m256i here = _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(j)));
            r = _mm256_blendv_epi8(r, _mm256_shuffle_epi8(rows[j], low), here);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), r);
    }
    return k;
}

// Sixty-four bytes through the table: each half (entries 0..127 and 128..255) looked up by the
// low seven bits in one permute, the half picked by the top bit.
QUORIN_TARGET_AVX512 inline __m512i Map64(__m512i v, const __m512i (&t)[4]) {
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_permutex2var_epi8(t[0], v, t[1]),
                                  _mm512_permutex2var_epi8(t[2], v, t[3]));
}

// All the bytes, sixty-four at a time, the last ones through masked loads and stores; answers
// `count`.
QUORIN_TARGET_AVX512 std::uint64_t MapBytesAvx512(const std::uint8_t* in, std::uint8_t* out,
                                                  std::uint64_t count, const std::uint8_t* table) {
    __m512i t[4];
    for (int j = 0; j < 4; ++j) t[j] = _mm512_loadu_si512(table + 64 * j);
    std::uint64_t k = 0;
    for (; k + 64 <= count; k += 64)
        _mm512_storeu_si512(out + k, Map64(_mm512_loadu_si512(in + k), t));
    if (k < count) {
        const __mmask64 rest = (std::uint64_t{1} << (count - k)) - 1;  // count - k < 64
        _mm512_mask_storeu_epi8(out + k, rest, Map64(_mm512_maskz_loadu_epi8(rest, in + k), t));
    }
    _mm256_zeroupper();
    return count;
}
#endif

}  // namespace

void MapBytes(const std::uint8_t* in, std::uint8_t* out, std::uint64_t count,
              const std::uint8_t* table) {
    std::uint64_t k = 0;
#if QUORIN_HAVE_AVX2_PATH
    if (cpu::UseAvx512())
        k = MapBytesAvx512(in, out, count, table);
    else if (cpu::UseAvx2())
        k = MapBytesAvx2(in, out, count, table);
#endif
    // Eight bytes move as one word.
    for (; k + 8 <= count; k += 8) {
        std::uint64_t v, r = 0;
        std::memcpy(&v, in + k, 8);
        for (int b = 0; b < 64; b += 8) r |= std::uint64_t(table[(v >> b) & 0xFF]) << b;
        std::memcpy(out + k, &r, 8);
    }
    for (; k < count; ++k) out[k] = table[in[k]];
}

}  // namespace quorin

template <class T, class I>
T CTLut<T, I>::Level(std::uint64_t value) const {
    const std::uint64_t top = m_levels > 0 ? m_levels - 1 : 0;
    return static_cast<T>(std::min<std::uint64_t>({value, top, std::numeric_limits<T>::max()}));
}

template <class T, class I>
CTLut<T, I>::CTLut(I n, I m) : CTVector<T, I>(n), m_entries(this->Size()), m_levels(m) {
    SetIdentity();
}

template <class T, class I>
void CTLut<T, I>::SetIdentity() {
    T* entries = this->Data();
    if (entries == nullptr) return;
    // Integer quotients in 64 bits: entry i = floor(i x (m-1) / (n-1)), not rounded.
    const std::uint64_t span = m_levels > 0 ? m_levels - 1 : 0;
    const std::uint64_t divisor = m_entries > 1 ? m_entries - 1 : 1;
    for (I i = 0; i < m_entries; ++i) entries[i] = Level(i * span / divisor);
}

template <class T, class I>
CTLut<T, I>::CTLut(I n, I m, I low, I high)
    : CTVector<T, I>(n), m_entries(this->Size()), m_levels(m) {
    T* entries = this->Data();
    if (entries == nullptr) return;
    if (!(low < high && low <= n && high <= n)) {
        SetIdentity();
        return;
    }
    const std::uint64_t span = m_levels > 0 ? m_levels - 1 : 0;
    const std::uint64_t width = high - low;
    for (I i = 0; i < low; ++i) entries[i] = 0;
    for (std::uint64_t k = 0; k <= width && low + k < n; ++k)
        entries[low + k] = Level(k * span / width);
    for (I i = high; i < n; ++i) entries[i] = Level(span);
}

template <class T, class I>
CTLut<T, I>::CTLut(I n, I m, double a, double b, double w)
    : CTVector<T, I>(n), m_entries(this->Size()), m_levels(m) {
    T* entries = this->Data();
    if (entries == nullptr) return;
    const auto f = [&](double x) { return std::pow(x, b) * (1.0 - w) + std::pow(x, a) * w; };
    const double span = m_levels > 0 ? double(m_levels - 1) : 0.0;
    const double last = f(1.0);  // x at the last entry is n/n
    for (I i = 0; i + 1 < n; ++i) {
        const double x = double(i + 1) / n;
        const double value = last != 0.0 ? span * f(x) / last + 0.5 : 0.0;
        // NaN and negative values (curves that dip) become 0; large ones the top level.
        entries[i] =
            value > 0.0 ? Level(value < span ? std::uint64_t(value) : std::uint64_t(span)) : T(0);
    }
    entries[n - 1] = Level(static_cast<std::uint64_t>(span));
}

namespace {

// A gain search of the contrast curve: starting at `start`, the parameter moves by `down` while
// value(parameter) lies above [target - band, target] and by `up` while below, for at most
// 10,000 steps; it stops early when the parameter reaches exactly 0.
template <class Value>
double SearchParameter(double start, double target, double band, double down, double up,
                       Value value) {
    double parameter = start;
    for (int step = 0; step < 10000; ++step) {
        const double v = value(parameter);
        if (v > target)
            parameter += down;
        else if (v < target - band)
            parameter += up;
        else
            break;
        if (parameter == 0.0) break;
    }
    return parameter;
}

}  // namespace

template <class T, class I>
CTVector<double, I>* CTLut<T, I>::BuildFromCharacteristicPoints(
    const CTMatrix<double, I>* statistics, I n) {
    if (statistics == nullptr || n == 0 || statistics->Rows() < 2 || statistics->Columns() < 3)
        return nullptr;
    // Single-precision constants, as the curve was first tuned with.
    const double exponent = 0.95f;
    const double band = 0.01f;
    const double shrink = 0.05f;
    const double grow = 1.0f / 60.0f;
    const double secondStart = 1.1f;

    const auto* row0 = statistics->RowData(0);
    const auto* row1 = statistics->RowData(1);
    // x_i = (i+1)/n, indexed by a level taken from the statistics (kept inside 0..n-1).
    const auto x = [n](double level) {
        const double index =
            std::isnan(level) ? 0.0 : std::clamp(std::floor(level + 0.5), 0.0, double(n - 1));
        return (index + 1.0) / n;
    };

    auto* result = new (std::nothrow) CTVector<double, I>(3);
    if (result == nullptr || result->IsEmpty()) {
        delete result;
        return nullptr;
    }
    double* p = result->Data();
    const double s = row0[1];
    const double t1 = row1[1];
    const double t2 = row1[2];
    if (t1 < t2) {
        p[0] = p[1] = p[2] = 1.0;
        return result;
    }
    // Second row: the exponent of the power term, growing while the curve lies above its target.
    const double x1 = x(row1[0]);
    p[1] = SearchParameter(secondStart, row1[2], band, shrink, -grow,
                           [&](double q) { return exponent * std::pow(x1, q); });
    p[0] = exponent;
    if (s <= 0.15) {
        p[2] = 0.2;
    } else {
        // First row: the gain that brings g x x^0.95 into [target - 0.01, target].
        const double x0 = x(row0[0]);
        const double g = SearchParameter(1.0, row0[2], band, -shrink, grow, [&](double gain) {
            return gain * std::pow(x0, exponent);
        });
        p[2] = std::min(g, 1.0);
    }
    return result;
}

template class CTLut<unsigned char>;
template class CTLut<unsigned short>;
template class CTLut<unsigned int>;
