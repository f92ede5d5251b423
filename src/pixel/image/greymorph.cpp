#include "pixel/image/greymorph.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorin {
namespace {

template <class P>
bool SameSize(const CTMatrix<P>& a, const CTMatrix<P>& b) {
    return !a.IsEmpty() && a.Rows() == b.Rows() && a.Columns() == b.Columns() && !b.IsEmpty();
}

// One pass of erosion (Dilate false) or dilation over the interior of the image; the target
// starts as a copy of the source so that the frame keeps its values.
template <class P, bool Dilate>
bool Morph(const CTMatrix<P>& source, const CStructElement& element, P top, CTMatrix<P>& target) {
    if (!SameSize(source, target) || element.IsEmpty()) return false;
    const std::uint64_t height = source.Rows();
    const std::uint64_t width = source.Columns();
    std::memcpy(target.Data(), source.Data(), height * width * sizeof(P));
    const std::uint64_t rows = element.Rows();
    const std::uint64_t columns = element.Columns();
    if (rows > height || columns > width) return true;
    const std::uint64_t hr = (rows - 1) / 2;
    const std::uint64_t hc = (columns - 1) / 2;
    // Offsets larger than any pixel act as the top level (erosion gives 0, dilation the top).
    std::vector<std::uint64_t> b(rows * columns);
    for (std::uint64_t i = 0; i < rows; ++i)
        for (std::uint64_t j = 0; j < columns; ++j) b[i * columns + j] = element.RowData(i)[j];
    const std::uint64_t topLevel = top;
    for (std::uint64_t r = hr; r + rows - hr <= height; ++r) {
        P* out = target.RowData(static_cast<unsigned>(r));
        for (std::uint64_t c = hc; c + columns - hc <= width; ++c) {
            std::uint64_t best = Dilate ? 0 : topLevel;
            for (std::uint64_t i = 0; i < rows; ++i) {
                const P* in = source.RowData(static_cast<unsigned>(r + i - hr)) + (c - hc);
                const std::uint64_t* bi = &b[i * columns];
                for (std::uint64_t j = 0; j < columns; ++j) {
                    const std::uint64_t p = in[j];
                    if constexpr (Dilate) {
                        best = std::max(best, std::min(topLevel, p + bi[j]));
                    } else {
                        best = std::min(best, p > bi[j] ? p - bi[j] : 0);
                    }
                }
            }
            out[c] = static_cast<P>(best);
        }
    }
    return true;
}

}  // namespace

template <class P>
bool ErodePixels(const CTMatrix<P>& source, const CStructElement& element, P top,
                 CTMatrix<P>& target) {
    return Morph<P, false>(source, element, top, target);
}

template <class P>
bool DilatePixels(const CTMatrix<P>& source, const CStructElement& element, P top,
                  CTMatrix<P>& target) {
    return Morph<P, true>(source, element, top, target);
}

template <class P>
bool SubtractPixels(const CTMatrix<P>& a, const CTMatrix<P>& b, CTMatrix<P>& target) {
    if (!SameSize(a, b) || !SameSize(a, target)) return false;
    const std::uint64_t count = std::uint64_t(a.Rows()) * a.Columns();
    const P* pa = a.Data();
    const P* pb = b.Data();
    P* out = target.Data();
    for (std::uint64_t k = 0; k < count; ++k) out[k] = pa[k] > pb[k] ? P(pa[k] - pb[k]) : P(0);
    return true;
}

template <class P>
bool AddPixels(const CTMatrix<P>& a, const CTMatrix<P>& b, P top, CTMatrix<P>& target) {
    if (!SameSize(a, b) || !SameSize(a, target)) return false;
    const std::uint64_t count = std::uint64_t(a.Rows()) * a.Columns();
    const P* pa = a.Data();
    const P* pb = b.Data();
    P* out = target.Data();
    for (std::uint64_t k = 0; k < count; ++k)
        out[k] = static_cast<P>(std::min<std::uint64_t>(std::uint64_t(pa[k]) + pb[k], top));
    return true;
}

#define QUORIN_GREYMORPH(P)                                                                    \
    template bool ErodePixels<P>(const CTMatrix<P>&, const CStructElement&, P, CTMatrix<P>&);  \
    template bool DilatePixels<P>(const CTMatrix<P>&, const CStructElement&, P, CTMatrix<P>&); \
    template bool SubtractPixels<P>(const CTMatrix<P>&, const CTMatrix<P>&, CTMatrix<P>&);     \
    template bool AddPixels<P>(const CTMatrix<P>&, const CTMatrix<P>&, P, CTMatrix<P>&);
QUORIN_GREYMORPH(unsigned char)
QUORIN_GREYMORPH(unsigned short)
QUORIN_GREYMORPH(unsigned int)
#undef QUORIN_GREYMORPH

}  // namespace quorin
