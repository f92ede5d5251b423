// CTLut: a look-up table that maps the grey levels 0..n-1 of a pixel to output levels 0..m-1.
// Pixel values beyond the table (stray high bits above the declared depth) map through the
// last entry: every lookup clamps its index to the top level.
#pragma once
#include <quorin/matrix.h>
#include <quorin/vector.h>

#include <algorithm>
#include <cstdint>

#include "pixel/core/containers.h"

namespace quorin {
// out[k] = table[in[k]] for `count` bytes through a table of 256 entries.
void MapBytes(const std::uint8_t* in, std::uint8_t* out, std::uint64_t count,
              const std::uint8_t* table);
}  // namespace quorin

template <class T, class I = unsigned int>
class CTLut : public CTVector<T, I> {
  public:
    // Identity ramp: entry i = floor(i x (m-1) / (n-1)).
    CTLut(I n, I m);
    // Window ramp: 0 below `low`, a ramp from 0 at `low` to m-1 at `high`, m-1 from `high` on;
    // the identity ramp unless low < high <= n.
    CTLut(I n, I m, I low, I high);
    // Mixed-power curve f(x) = x^b (1-w) + x^a w at x = (i+1)/n, scaled so the last entry is m-1.
    CTLut(I n, I m, double a, double b, double w);
    CTLut(const CTLut&) = default;
    CTLut& operator=(const CTLut&) = default;
    virtual ~CTLut() = default;

    void SetIdentity();
    I EntryCount() const { return m_entries; }
    I LevelCount() const { return m_levels; }

    // The output level of a pixel value; values above the last entry take the last entry.
    template <class P>
    T Map(P value) const {
        const T* data = this->Data();
        if (data == nullptr) return T(0);
        const I top = this->Last();
        return data[static_cast<std::uint64_t>(value) < top ? static_cast<I>(value) : top];
    }

    // out[k] = Map(in[k]) for `count` values.
    template <class P>
    void MapAll(const P* in, T* out, std::uint64_t count) const {
        const T* data = this->Data();
        if (data == nullptr) {
            std::fill(out, out + count, T(0));
            return;
        }
        const std::uint64_t top = this->Last();
        std::uint64_t k = 0;
        if constexpr (sizeof(P) == 1 && sizeof(T) == 1) {
            // Bytes through a table of all 256 levels need no limit.
            if (top >= 255) {
                quorin::MapBytes(reinterpret_cast<const std::uint8_t*>(in),
                                 reinterpret_cast<std::uint8_t*>(out), count,
                                 reinterpret_cast<const std::uint8_t*>(data));
                return;
            }
        }
        for (; k < count; ++k) out[k] = data[std::min<std::uint64_t>(in[k], top)];
    }

    // The three parameters (p0, p1, p2) of the panoramic contrast curve from a 2 x 3 statistics
    // matrix; null when the matrix is missing or too small, n is 0, or on failure.
    static CTVector<double, I>* BuildFromCharacteristicPoints(const CTMatrix<double, I>* statistics,
                                                              I n);

  private:
    T Level(std::uint64_t value) const;  // kept within m-1 and the entry type

    I m_entries = 0;
    I m_levels = 0;
};

extern template class CTLut<unsigned char>;
extern template class CTLut<unsigned short>;
extern template class CTLut<unsigned int>;
