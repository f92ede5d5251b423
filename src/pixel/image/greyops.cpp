#include "pixel/image/greyops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "records/dib/dibbuffer.h"

namespace quorin {

template <class P>
bool MirrorPixelsHorizontal(CTMatrix<P>& pixels) {
    if (pixels.IsEmpty()) return false;
    for (unsigned r = 0; r < pixels.Rows(); ++r) {
        P* row = pixels.RowData(r);
        std::reverse(row, row + pixels.Columns());
    }
    return true;
}

template <class P>
bool MirrorPixelsVertical(CTMatrix<P>& pixels) {
    if (pixels.IsEmpty()) return false;
    const std::size_t columns = pixels.Columns();
    for (unsigned top = 0, bottom = pixels.Rows() - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels.RowData(top), pixels.RowData(top) + columns,
                         pixels.RowData(bottom));
    return true;
}

template <class P>
CTMatrix<P>* RotatedPixels(const CTMatrix<P>& pixels, std::int32_t angle, bool clockwise) {
    if (pixels.IsEmpty() || (angle != 90 && angle != 180 && angle != 270)) return nullptr;
    const unsigned height = pixels.Rows();
    const unsigned width = pixels.Columns();
    const bool quarter = angle != 180;
    std::unique_ptr<CTMatrix<P>> result(quarter ? new (std::nothrow) CTMatrix<P>(width, height)
                                                : new (std::nothrow) CTMatrix<P>(height, width));
    if (!result || result->IsEmpty()) return nullptr;
    if (!quarter) {
        for (unsigned r = 0; r < height; ++r) {
            const P* in = pixels.RowData(r);
            std::reverse_copy(in, in + width, result->RowData(height - 1 - r));
        }
        return result.release();
    }
    // Walk the source row by row; each source row becomes one column of the result.
    const bool turnRight = (angle == 90) == clockwise;
    for (unsigned r = 0; r < height; ++r) {
        const P* in = pixels.RowData(r);
        if (turnRight) {  // (r, c) -> (c, height-1-r)
            const unsigned column = height - 1 - r;
            for (unsigned c = 0; c < width; ++c) result->RowData(c)[column] = in[c];
        } else {  // (r, c) -> (width-1-c, r)
            for (unsigned c = 0; c < width; ++c) result->RowData(width - 1 - c)[r] = in[c];
        }
    }
    return result.release();
}

bool ZoomedSize(std::uint32_t height, std::uint32_t width, double factor, std::uint32_t* newHeight,
                std::uint32_t* newWidth) {
    if (!(factor > 0.0) || !std::isfinite(factor) || height == 0 || width == 0) return false;
    const double h = std::floor(double(height) * factor);
    const double w = std::floor(double(width) * factor);
    if (h > double(kMaxImageSide) || w > double(kMaxImageSide)) return false;
    *newHeight = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(h));
    *newWidth = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(w));
    return true;
}

template <class P>
CTMatrix<P>* ZoomedPixels(const CTMatrix<P>& pixels, double factor) {
    std::uint32_t newHeight = 0, newWidth = 0;
    if (pixels.IsEmpty() ||
        !ZoomedSize(pixels.Rows(), pixels.Columns(), factor, &newHeight, &newWidth))
        return nullptr;
    return ResizedPixels(pixels, newHeight, newWidth);
}

template <class P>
CTMatrix<P>* ResizedPixels(const CTMatrix<P>& pixels, std::uint32_t newHeight,
                           std::uint32_t newWidth) {
    if (pixels.IsEmpty() || newHeight == 0 || newWidth == 0 || newHeight > kMaxImageSide ||
        newWidth > kMaxImageSide)
        return nullptr;
    std::unique_ptr<CTMatrix<P>> result(new (std::nothrow) CTMatrix<P>(newHeight, newWidth));
    if (!result || result->IsEmpty()) return nullptr;
    const unsigned height = pixels.Rows();
    const unsigned width = pixels.Columns();
    const double scaleY = double(height) / newHeight;
    const double scaleX = double(width) / newWidth;
    // Each output column's source column j and weight fx are the same on every row. Columns are
    // in ascending order, so those whose j is the last source column (no right neighbour) come
    // last: the first `inner` columns interpolate, the rest repeat the last source column.
    std::vector<unsigned> columns;
    std::vector<double> weights, upper, lower;
    try {
        columns.resize(newWidth);
        weights.resize(newWidth);
        upper.resize(newWidth);
        lower.resize(newWidth);
    } catch (...) {
        return nullptr;
    }
    unsigned inner = 0;
    for (unsigned x = 0; x < newWidth; ++x) {
        const double sx = (x + 0.5) * scaleX;
        columns[x] = std::min(static_cast<unsigned>(sx), width - 1);
        weights[x] = sx - columns[x];
        if (columns[x] + 1 < width) inner = x + 1;
    }
    // One source row interpolated along the row: (1 - fx) a + fx b.
    const auto alongRow = [&](const P* row, double* line) {
        for (unsigned x = 0; x < inner; ++x) {
            const unsigned j = columns[x];
            const double fx = weights[x];
            line[x] = (1 - fx) * row[j] + fx * row[j + 1];
        }
        for (unsigned x = inner; x < newWidth; ++x) line[x] = row[columns[x]];
    };
    // Output rows between the same two source rows share their interpolated lines: `upper`
    // holds source row upperRow, `lower` source row upperRow + 1 when lowerReady.
    unsigned upperRow = 0;
    bool upperReady = false, lowerReady = false;
    for (unsigned y = 0; y < newHeight; ++y) {
        const double sy = (y + 0.5) * scaleY;
        const unsigned i = std::min(static_cast<unsigned>(sy), height - 1);
        const double fy = sy - i;
        if (!upperReady || upperRow != i) {
            if (lowerReady && upperRow + 1 == i) {
                std::swap(upper, lower);
            } else {
                alongRow(pixels.RowData(i), upper.data());
            }
            upperRow = i;
            upperReady = true;
            lowerReady = false;
        }
        P* out = result->RowData(y);
        // The values are never negative: truncation is their floor.
        if (i + 1 >= height) {
            for (unsigned x = 0; x < newWidth; ++x) out[x] = static_cast<P>(upper[x]);
            continue;
        }
        if (!lowerReady) {
            alongRow(pixels.RowData(i + 1), lower.data());
            lowerReady = true;
        }
        const double a = 1 - fy;
        for (unsigned x = 0; x < newWidth; ++x)
            out[x] = static_cast<P>(upper[x] * a + lower[x] * fy);
    }
    return result.release();
}

template <class P>
bool ReliefPixels(const CTMatrix<P>& source, CTMatrix<P>& target, std::uint64_t offset,
                  std::uint64_t ceiling) {
    if (source.IsEmpty() || target.Rows() != source.Rows() || target.Columns() != source.Columns())
        return false;
    const unsigned height = source.Rows();
    const unsigned width = source.Columns();
    const double top = double(ceiling);
    for (unsigned r = 0; r < height; ++r) {
        const P* in = source.RowData(r);
        P* out = target.RowData(r);
        if (r == 0 || r + 1 == height || width < 3) {
            std::copy(in, in + width, out);
            continue;
        }
        const P* above = source.RowData(r - 1);
        const P* below = source.RowData(r + 1);
        out[0] = in[0];
        out[width - 1] = in[width - 1];
        for (unsigned c = 1; c + 1 < width; ++c) {
            const double s = double(above[c]) + above[c + 1] + in[c + 1] - double(in[c - 1]) -
                             double(below[c - 1]) - double(below[c]);
            const double value = s * 3 / 2 + double(offset);
            out[c] = static_cast<P>(value < 0 ? 0.0 : value > top ? top : value);
        }
    }
    return true;
}

template <class P>
bool FillCornerPixels(CTMatrix<P>& pixels, P value, const std::int32_t (&pairs)[8]) {
    if (pixels.IsEmpty()) return false;
    const std::int64_t height = pixels.Rows();
    const std::int64_t width = pixels.Columns();
    bool painted = false;
    for (int corner = 0; corner < 4; ++corner) {
        const std::int64_t w = pairs[2 * corner];
        const std::int64_t h = pairs[2 * corner + 1];
        if (w <= 0 || h <= 0) continue;
        painted = true;
        const std::int64_t n = std::min(height, h + 2);
        const std::int64_t m = std::min(width, w + 2);
        for (std::int64_t k = 0; k < n; ++k) {
            const auto q = static_cast<std::int64_t>(
                std::floor((1.0 - double(k) / double(n)) * double(m) + 0.5));
            const bool top = corner < 2;
            const bool left = corner % 2 == 0;
            P* row = pixels.RowData(static_cast<unsigned>(top ? k : height - 1 - k));
            P* first = left ? row : row + (width - q);
            std::fill(first, first + q, value);
        }
    }
    return painted;
}

template <class P>
bool StampBitmapPixels(CTMatrix<P>& pixels, P value, win::HBITMAP bitmap,
                       std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
    struct Deleter {
        win::HBITMAP bitmap;
        ~Deleter() {
            if (bitmap != nullptr) win::DeleteObject(bitmap);
        }
    } deleter{bitmap};
    if (bitmap == nullptr || pixels.IsEmpty()) return false;
    win::BITMAP description{};
    if (win::GetObject(bitmap, sizeof(description), &description) == 0) return false;
    const std::int64_t w = description.bmWidth;
    const std::int64_t h = description.bmHeight;
    const std::int64_t stride = description.bmWidthBytes;
    const int bpp = description.bmBitsPixel;
    const auto* bits = static_cast<const std::uint8_t*>(description.bmBits);
    if (bits == nullptr || w <= 0 || h <= 0 || (bpp != 1 && bpp % 8 != 0) || stride * 8 < w * bpp ||
        std::uint64_t(stride * h) > bitmap->bits.size())
        return false;
    const std::int64_t height = pixels.Rows();
    const std::int64_t width = pixels.Columns();
    std::int64_t left = x.value_or(static_cast<std::int32_t>(-(w + 1)));
    std::int64_t bottom = y.value_or(static_cast<std::int32_t>(h + 1));
    if (left < 0) left = std::max<std::int64_t>(0, width + left);
    if (bottom < 0) bottom = std::max<std::int64_t>(0, height + bottom);
    // The bitmap must lie inside the image both ways.
    const std::int64_t firstRow = height - bottom - 1;
    if (left + w > width || firstRow < 0 || firstRow + h > height) return false;
    for (std::int64_t k = 0; k < h; ++k) {
        const std::uint8_t* in = bits + k * stride;
        P* out = pixels.RowData(static_cast<unsigned>(firstRow + k)) + left;
        for (std::int64_t c = 0; c < w; ++c) {
            const bool set =
                bpp == 1 ? (in[c / 8] & (0x80 >> (c % 8))) != 0 : in[c * (bpp / 8)] != 0;
            if (set) out[c] = value;
        }
    }
    return true;
}

win::HBITMAP LoadLogoBitmap(int id) {
    const win::BitmapResource* resource = win::LoadBitmapResource(id);
    if (resource == nullptr || resource->bits == nullptr || resource->width <= 0 ||
        resource->height <= 0)
        return nullptr;
    // Resources hold unpadded rows; bitmaps pad each row to 2 bytes.
    const std::uint64_t rowBytes =
        (std::uint64_t(resource->width) * resource->bitsPerPixel + 7) / 8;
    const std::uint64_t stride = (rowBytes + 1) / 2 * 2;
    std::vector<std::uint8_t> bits(stride * std::uint64_t(resource->height), 0);
    for (std::uint64_t r = 0; r < std::uint64_t(resource->height); ++r)
        std::memcpy(bits.data() + r * stride, resource->bits + r * rowBytes, rowBytes);
    return win::CreateBitmap(resource->width, resource->height, 1,
                             static_cast<win::UINT>(resource->bitsPerPixel), bits.data());
}

#define QUORIN_GREYOPS(P)                                                                          \
    template bool MirrorPixelsHorizontal<P>(CTMatrix<P>&);                                         \
    template bool MirrorPixelsVertical<P>(CTMatrix<P>&);                                           \
    template CTMatrix<P>* RotatedPixels<P>(const CTMatrix<P>&, std::int32_t, bool);                \
    template CTMatrix<P>* ZoomedPixels<P>(const CTMatrix<P>&, double);                             \
    template CTMatrix<P>* ResizedPixels<P>(const CTMatrix<P>&, std::uint32_t, std::uint32_t);      \
    template bool ReliefPixels<P>(const CTMatrix<P>&, CTMatrix<P>&, std::uint64_t, std::uint64_t); \
    template bool FillCornerPixels<P>(CTMatrix<P>&, P, const std::int32_t(&)[8]);                  \
    template bool StampBitmapPixels<P>(CTMatrix<P>&, P, win::HBITMAP, std::optional<std::int32_t>, \
                                       std::optional<std::int32_t>);
QUORIN_GREYOPS(unsigned char)
QUORIN_GREYOPS(unsigned short)
QUORIN_GREYOPS(unsigned int)
#undef QUORIN_GREYOPS

}  // namespace quorin
