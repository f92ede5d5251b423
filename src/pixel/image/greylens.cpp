#include "pixel/image/greylens.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "records/core/rounding.h"
#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

namespace quorin {

template <class P>
bool HighlightLens<P>::Create(std::int32_t radius, std::int32_t bits) {
    if (radius < 1 || radius > kMaxImageSide || bits < 1 || bits > kMaxHistogramBits) return false;
    m_radius = radius;
    m_halfWidths.assign(std::size_t(2 * m_radius), 0);
    for (std::int64_t k = 0; k < 2 * m_radius; ++k) {
        const double d = double(m_radius * m_radius - (k - m_radius) * (k - m_radius));
        m_halfWidths[std::size_t(k)] =
            static_cast<std::int64_t>(std::floor(std::sqrt(std::max(0.0, d))));
    }
    m_copy.Release();
    m_changed = true;
    return true;
}

template <class P>
bool HighlightLens<P>::Draw(const CTMatrix<P>& pixels, ImagePoint point, win::HGLOBAL dib) {
    if (m_radius == 0 || pixels.IsEmpty()) return false;
    if (m_changed || m_copy.Rows() != pixels.Rows() || m_copy.Columns() != pixels.Columns()) {
        m_copy = pixels;
        if (m_copy.IsEmpty()) return false;
        m_changed = false;
    }
    LockedDIB locked(dib);
    const std::int64_t height = m_copy.Rows();
    const std::int64_t width = m_copy.Columns();
    if (!locked.valid() || locked.layout().bitCount != 8 || locked.layout().width != width ||
        locked.layout().height != height)
        return false;

    // The disc rows k = 0..2r-1 lie at y - r + k; each covers the columns x +- half-width(k).
    // Rows and columns outside the image are left out (the disc keeps its shape at the edges).
    const std::int64_t x = point.x;
    const std::int64_t top = std::int64_t(point.y) - m_radius;
    const auto forEachLensPixel = [&](auto&& visit) {
        const std::int64_t kFirst = std::max<std::int64_t>(0, -top);
        const std::int64_t kEnd = std::min<std::int64_t>(2 * m_radius, height - top);
        for (std::int64_t k = kFirst; k < kEnd; ++k) {
            const std::int64_t row = top + k;
            const std::int64_t half = m_halfWidths[std::size_t(k)];
            const std::int64_t first = std::max<std::int64_t>(0, x - half);
            const std::int64_t last = std::min<std::int64_t>(width - 1, x + half);
            const P* in = m_copy.RowData(static_cast<unsigned>(row));
            for (std::int64_t c = first; c <= last; ++c) visit(row, c, in[c]);
        }
    };
    const auto level = [](P value) {
        return static_cast<unsigned>(std::min<std::uint64_t>(value, 255));
    };

    std::uint64_t counts[256] = {};
    forEachLensPixel([&](std::int64_t, std::int64_t, P value) { ++counts[level(value)]; });
    // low/high: where the running count from either end first reaches 2.
    int low = 0, high = 255;
    for (std::uint64_t sum = 0; low < 255 && (sum += counts[low]) < 2;) ++low;
    for (std::uint64_t sum = 0; high > 0 && (sum += counts[high]) < 2;) --high;
    if (high < 255) ++high;
    if (low >= 1) --low;
    std::uint8_t stretch[256];
    for (int i = 0; i < 256; ++i) {
        if (i <= low)
            stretch[i] = 0;
        else if (i >= high)
            stretch[i] = 255;
        else
            stretch[i] = RoundHalfUp<std::uint8_t>((i - low) * 255.0 / (high - low));
    }
    // DIB rows are bottom-up: image row r is stored row height-1-r.
    forEachLensPixel([&](std::int64_t row, std::int64_t c, P value) {
        locked.row(static_cast<std::int32_t>(height - 1 - row))[c] = stretch[level(value)];
    });
    return true;
}

template class HighlightLens<unsigned char>;
template class HighlightLens<unsigned short>;
template class HighlightLens<unsigned int>;

}  // namespace quorin
