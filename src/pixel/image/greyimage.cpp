#include "pixel/image/greyimage.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "pixel/image/greymorph.h"
#include "pixel/image/greyops.h"
#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

namespace quorin {

WindowRamp::WindowRamp(std::uint64_t n, std::uint32_t m, std::uint64_t low, std::uint64_t high)
    : m_entries(n), m_levels(m), m_low(low), m_high(high), m_window(low < high && high <= n) {
    if (n < 2 || m == 0) {
        m_levels = 0;
        return;
    }
    if (n <= (std::uint64_t{1} << 16)) {
        const auto entries = static_cast<unsigned>(n);
        m_table.reset(m_window ? new (std::nothrow)
                                     CTLut<unsigned int>(entries, m, static_cast<unsigned>(low),
                                                         static_cast<unsigned>(high))
                               : new (std::nothrow) CTLut<unsigned int>(entries, m));
    } else {
        m_formula = true;
    }
}

// The arithmetic of CTLut's ramps, for tables too large to build: integer quotients, not rounded.
std::uint32_t WindowRamp::Formula(std::uint64_t value) const {
    const std::uint64_t span = m_levels - 1;
    value = std::min(value, m_entries - 1);
    if (!m_window) return static_cast<std::uint32_t>(value * span / (m_entries - 1));
    if (value < m_low) return 0;
    if (value >= m_high) return static_cast<std::uint32_t>(span);
    return static_cast<std::uint32_t>((value - m_low) * span / (m_high - m_low));
}

}  // namespace quorin

namespace {

// Elements of this many bytes hold `bits` bits per sample.
constexpr std::uint32_t ElementBytesOf(std::uint32_t bits) {
    return bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 0;
}

template <class P>
std::uint64_t PixelCount(const CTMatrix<P>& m) {
    return std::uint64_t(m.Rows()) * m.Columns();
}

}  // namespace

template <class P, class L, class C>
void CTImgNB<P, L, C>::SetBits(std::uint32_t bits) {
    m_bits = bits;
    m_levelCount = std::uint64_t{1} << bits;
    m_topLevel = static_cast<P>(m_levelCount - 1);
    m_windowLow = 0;
    m_windowHigh = m_topLevel;
    m_range = m_levelCount;
}

template <class P, class L, class C>
CTImgNB<P, L, C>::CTImgNB(std::uint32_t height, std::uint32_t width) {
    SetBits(quorin::DefaultBits<P>());
    m_pixels.reset(new (std::nothrow) Matrix(height, width));
    if (m_pixels && !m_pixels->IsEmpty()) {
        m_height = height;
        m_width = width;
    }
}

template <class P, class L, class C>
CTImgNB<P, L, C>::CTImgNB(SImage* image) {
    SetBits(quorin::DefaultBits<P>());
    if (image == nullptr || image->pPixels == nullptr || image->nSamplesPerPixel != 1 ||
        ElementBytesOf(image->nBitsPerSample) != sizeof(P) || image->nWidth == 0 ||
        image->nHeight == 0 || image->nWidth > quorin::kMaxImageSide ||
        image->nHeight > quorin::kMaxImageSide)
        return;
    const std::uint64_t bytes = std::uint64_t(image->nWidth) * image->nHeight * sizeof(P);
    if (quorin::LockedBlockSize(image->pPixels) < bytes) return;
    m_pixels.reset(new (std::nothrow) Matrix(image->nHeight, image->nWidth,
                                             static_cast<P*>(image->pPixels), false));
    if (!m_pixels || m_pixels->IsEmpty()) {
        if (m_pixels) m_pixels->SetExternal(true);  // not adopted: the record keeps its block
        m_pixels.reset();
        return;
    }
    m_height = image->nHeight;
    m_width = image->nWidth;
    SetBits(image->nBitsPerSample);
}

template <class P, class L, class C>
CTImgNB<P, L, C>::CTImgNB(const CTImgNB& other)
    : m_height(other.m_height),
      m_width(other.m_width),
      m_bits(other.m_bits),
      m_levelCount(other.m_levelCount),
      m_topLevel(other.m_topLevel),
      m_windowLow(other.m_windowLow),
      m_windowHigh(other.m_windowHigh),
      m_range(other.m_range),
      m_exposureState(other.m_exposureState) {
    if (other.m_pixels) {
        m_pixels.reset(new (std::nothrow) Matrix(*other.m_pixels));
        if (!m_pixels || m_pixels->IsEmpty()) m_height = m_width = 0;
    }
}

template <class P, class L, class C>
CTImgNB<P, L, C>& CTImgNB<P, L, C>::operator=(const CTImgNB& other) {
    if (this != &other) {
        CTImgNB copy(other);
        std::swap(m_height, copy.m_height);
        std::swap(m_width, copy.m_width);
        m_bits = copy.m_bits;
        m_levelCount = copy.m_levelCount;
        m_topLevel = copy.m_topLevel;
        m_windowLow = copy.m_windowLow;
        m_windowHigh = copy.m_windowHigh;
        m_range = copy.m_range;
        m_exposureState = copy.m_exposureState;
        std::swap(m_pixels, copy.m_pixels);
        PixelsChanged();
    }
    return *this;
}

template <class P, class L, class C>
CTImgNB<P, L, C>::~CTImgNB() = default;

template <class P, class L, class C>
void CTImgNB<P, L, C>::SetWindow(P low, P high) {
    m_windowLow = low;
    m_windowHigh = high;
    m_range = high >= low ? std::uint64_t(high) - low + 1 : 0;
}

template <class P, class L, class C>
void CTImgNB<P, L, C>::ComputeMinMax() {
    P low = m_topLevel;
    P high = 0;
    if (HasPixels()) {
        const P* data = m_pixels->Data();
        const std::uint64_t count = PixelCount(*m_pixels);
        for (std::uint64_t k = 0; k < count; ++k) {
            low = std::min(low, data[k]);
            high = std::max(high, data[k]);
        }
    }
    SetWindow(low, high);  // an empty image: range 0
}

template <class P, class L, class C>
void CTImgNB<P, L, C>::GetExposureState(int* state, float* gain, float* second) {
    if (state != nullptr) *state = 0;
    if (gain != nullptr) *gain = 0.0f;
    if (second != nullptr) *second = 0.0f;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::AutoWindow(P* low, P* high, const win::RECT* region) {
    P first = m_windowLow;
    P last = m_windowHigh;
    if (HasPixels() && m_bits <= unsigned(quorin::kMaxHistogramBits)) {
        CTHistogram<P> histogram(region, int(m_bits));
        if (histogram.Calculate(m_pixels.get())) histogram.Bounds(40, 40, &first, &last);
    }
    if (low != nullptr) *low = first;
    if (high != nullptr) *high = last;
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>* histogram) const {
    if (dib == nullptr || !HasPixels()) return false;
    if (histogram != nullptr && (histogram->Data() == nullptr || histogram->Size() < 256))
        return false;
    std::int32_t dibWidth = 0, dibHeight = 0;
    if (*dib == nullptr || GetDIBBitCount(*dib) != 8 || !GetDIBSize(*dib, &dibWidth, &dibHeight) ||
        std::uint32_t(dibWidth) != m_width || std::uint32_t(dibHeight) != m_height) {
        if (*dib != nullptr) FreeDIB(*dib);
        *dib = CreateDIB(std::int32_t(m_width), std::int32_t(m_height), 8);
        if (*dib == nullptr) return false;
    }
    quorin::LockedDIB locked(*dib);
    if (!locked.valid()) return false;
    unsigned int* counts = histogram != nullptr ? histogram->Data() : nullptr;
    if (counts != nullptr) std::fill(counts, counts + 256, 0u);

    // Deep images with a window above 255 go through the window ramp; the others show their
    // levels as they are (levels above 255 show as 255).
    const bool useRamp = m_bits != 8 && m_windowHigh > 255;
    const quorin::WindowRamp ramp(m_levelCount, 256, m_windowLow, m_windowHigh);
    if (useRamp && !ramp.Valid()) return false;
    for (std::uint32_t r = 0; r < m_height; ++r) {
        const P* in = m_pixels->RowData(r);
        std::uint8_t* out = locked.row(std::int32_t(m_height - 1 - r));
        if (useRamp) {
            for (std::uint32_t c = 0; c < m_width; ++c) out[c] = std::uint8_t(ramp(in[c]));
        } else {
            for (std::uint32_t c = 0; c < m_width; ++c)
                out[c] = std::uint8_t(std::min<std::uint64_t>(in[c], 255));
        }
        if (counts != nullptr)
            for (std::uint32_t c = 0; c < m_width; ++c) ++counts[out[c]];
    }
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::CopyToSImage(SImage* image) const {
    if (image == nullptr || image->pPixels != nullptr || !HasPixels()) return false;
    const std::uint64_t bytes = PixelCount(*m_pixels) * sizeof(P);
    void* block = quorin::AllocLockedBlock(bytes);
    if (block == nullptr) return false;
    std::memcpy(block, m_pixels->Data(), bytes);
    image->nWidth = m_width;
    image->nHeight = m_height;
    image->nSamplesPerPixel = 1;
    image->nBitsPerSample = m_bits;
    image->pPixels = block;
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::CopyPixelsTo(CTImgNB& other) const {
    if (!HasPixels() || !other.HasPixels() || other.m_height != m_height ||
        other.m_width != m_width)
        return false;
    std::memcpy(other.m_pixels->Data(), m_pixels->Data(), PixelCount(*m_pixels) * sizeof(P));
    other.PixelsChanged();
    other.ComputeMinMax();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::MapThrough(const quorin::WindowRamp& ramp, DisplayImage& target) const {
    if (!ramp.Valid() || !HasPixels() || !target.HasPixels() || target.m_height != m_height ||
        target.m_width != m_width)
        return false;
    const P* in = m_pixels->Data();
    unsigned char* out = target.m_pixels->Data();
    const std::uint64_t count = PixelCount(*m_pixels);
    for (std::uint64_t k = 0; k < count; ++k) out[k] = static_cast<unsigned char>(ramp(in[k]));
    target.PixelsChanged();
    target.ComputeMinMax();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::ApplyLut(DisplayImage& target, const CTLut<unsigned char>& lut) const {
    if (lut.Size() != m_levelCount || !HasPixels() || !target.HasPixels() ||
        target.m_height != m_height || target.m_width != m_width)
        return false;
    const P* in = m_pixels->Data();
    unsigned char* out = target.m_pixels->Data();
    const std::uint64_t count = PixelCount(*m_pixels);
    lut.MapAll(in, out, count);
    target.PixelsChanged();
    target.ComputeMinMax();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::ApplyWindow(DisplayImage& target, bool identity) const {
    const quorin::WindowRamp ramp(m_levelCount, std::uint32_t(target.m_levelCount),
                                  identity ? 0 : m_windowLow, identity ? 0 : m_windowHigh);
    return MapThrough(ramp, target);
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::MakeDisplayImage(DisplayImage** target) const {
    if (target == nullptr || *target != nullptr || !HasPixels()) return false;
    std::unique_ptr<DisplayImage> image(new (std::nothrow) DisplayImage(m_height, m_width));
    if (!image || !image->HasPixels()) return false;
    if (!MapThrough(quorin::WindowRamp(m_levelCount, 256, m_windowLow, m_windowHigh), *image))
        return false;
    *target = image.release();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::Zoom(SImage* out, double factor) const {
    if (out == nullptr || out->pPixels != nullptr || !HasPixels()) return false;
    std::unique_ptr<Matrix> zoomed(quorin::ZoomedPixels(*m_pixels, factor));
    if (!zoomed) return false;
    const quorin::WindowRamp ramp(m_levelCount, 256, m_windowLow, m_windowHigh);
    if (!ramp.Valid()) return false;
    const std::uint64_t count = PixelCount(*zoomed);
    auto* block = static_cast<std::uint8_t*>(quorin::AllocLockedBlock(count));
    if (block == nullptr) return false;
    const P* in = zoomed->Data();
    for (std::uint64_t k = 0; k < count; ++k) block[k] = std::uint8_t(ramp(in[k]));
    out->nWidth = zoomed->Columns();
    out->nHeight = zoomed->Rows();
    out->nSamplesPerPixel = 1;
    out->nBitsPerSample = 8;
    out->pPixels = block;
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::CreateHighlightLens(std::int32_t radius, std::int32_t bits) {
    std::unique_ptr<quorin::HighlightLens<P>> lens(new (std::nothrow) quorin::HighlightLens<P>());
    if (!lens || !lens->Create(radius, bits)) return false;
    m_lens = std::move(lens);
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::DrawHighlightLens(quorin::ImagePoint point, win::HGLOBAL dib) {
    return m_lens && HasPixels() && m_lens->Draw(*m_pixels, point, dib);
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::MirrorHorizontal() {
    if (!HasPixels() || !quorin::MirrorPixelsHorizontal(*m_pixels)) return false;
    PixelsChanged();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::MirrorVertical() {
    if (!HasPixels() || !quorin::MirrorPixelsVertical(*m_pixels)) return false;
    PixelsChanged();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::Rotate(std::int32_t angle, bool clockwise) {
    if (angle != 90 && angle != 180 && angle != 270) return true;  // nothing to turn
    if (!HasPixels()) return false;
    std::unique_ptr<Matrix> turned(quorin::RotatedPixels(*m_pixels, angle, clockwise));
    if (!turned) return false;
    m_height = turned->Rows();
    m_width = turned->Columns();
    m_pixels = std::move(turned);
    PixelsChanged();
    return true;
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::NewLike(std::uint32_t height, std::uint32_t width) const {
    std::unique_ptr<CTImgNB> image(new (std::nothrow) CTImgNB(height, width));
    if (!image || !image->HasPixels()) return nullptr;
    image->SetBits(m_bits);
    image->SetWindow(m_windowLow, m_windowHigh);
    image->m_exposureState = m_exposureState;
    return image.release();
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::Erode(const CStructElement& element) const {
    if (!HasPixels()) return nullptr;
    std::unique_ptr<CTImgNB> result(NewLike(m_height, m_width));
    if (!result || !quorin::ErodePixels(*m_pixels, element, m_topLevel, *result->m_pixels))
        return nullptr;
    return result.release();
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::Dilate(const CStructElement& element) const {
    if (!HasPixels()) return nullptr;
    std::unique_ptr<CTImgNB> result(NewLike(m_height, m_width));
    if (!result || !quorin::DilatePixels(*m_pixels, element, m_topLevel, *result->m_pixels))
        return nullptr;
    return result.release();
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::Close(const CStructElement& element) const {
    std::unique_ptr<CTImgNB> dilated(Dilate(element));
    return dilated ? dilated->Erode(element) : nullptr;
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::Open(const CStructElement& element) const {
    std::unique_ptr<CTImgNB> eroded(Erode(element));
    return eroded ? eroded->Dilate(element) : nullptr;
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::WhiteTopHat(const CStructElement& element) const {
    std::unique_ptr<CTImgNB> opened(Open(element));
    if (!opened || !quorin::SubtractPixels(*m_pixels, *opened->m_pixels, *opened->m_pixels))
        return nullptr;
    return opened.release();
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::BlackTopHat(const CStructElement& element) const {
    std::unique_ptr<CTImgNB> closed(Close(element));
    if (!closed || !quorin::SubtractPixels(*closed->m_pixels, *m_pixels, *closed->m_pixels))
        return nullptr;
    return closed.release();
}

template <class P, class L, class C>
CTImgNB<P, L, C>* CTImgNB<P, L, C>::MorphologicalContrast(const CStructElement& element) const {
    std::unique_ptr<CTImgNB> white(WhiteTopHat(element));
    std::unique_ptr<CTImgNB> black(BlackTopHat(element));
    if (!white || !black ||
        !quorin::AddPixels(*m_pixels, *white->m_pixels, m_topLevel, *white->m_pixels) ||
        !quorin::SubtractPixels(*white->m_pixels, *black->m_pixels, *white->m_pixels))
        return nullptr;
    return white.release();
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::Relief(CTImgNB& target) const {
    if (!HasPixels() || !target.HasPixels()) return false;
    std::uint64_t offset = m_levelCount * 150 / 256;
    std::uint64_t ceiling = m_topLevel;
    if (m_windowHigh < 256) {
        offset = 150;
        ceiling = 255;
    }
    if (!quorin::ReliefPixels(*m_pixels, *target.m_pixels, offset,
                              std::min<std::uint64_t>(ceiling, m_topLevel)))
        return false;
    target.PixelsChanged();
    target.ComputeMinMax();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::FillCorners(std::uint64_t value, const std::int32_t (&pairs)[8]) {
    if (!HasPixels() || value > m_topLevel) return false;
    if (!quorin::FillCornerPixels(*m_pixels, static_cast<P>(value), pairs)) return false;
    PixelsChanged();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::StampBitmap(win::HBITMAP bitmap, bool erase, std::optional<std::int32_t> x,
                                   std::optional<std::int32_t> y) {
    if (sizeof(P) > 2 || !HasPixels()) {
        if (bitmap != nullptr) win::DeleteObject(bitmap);
        return false;
    }
    if (!quorin::StampBitmapPixels(*m_pixels, erase ? P(0) : m_topLevel, bitmap, x, y))
        return false;
    PixelsChanged();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::StretchBetweenFractions(double f1, double f2, const win::RECT* region) {
    if (!(0.0 <= f1 && f1 <= f2 && f2 <= 1.0) || !HasPixels() ||
        m_bits > unsigned(quorin::kMaxHistogramBits))
        return false;
    CTHistogram<P> histogram(region, int(m_bits));
    if (!histogram.Calculate(m_pixels.get())) return false;
    std::unique_ptr<CTVector<double>> cumulative(histogram.CumulativeNormalised());
    if (!cumulative) return false;
    const double* values = cumulative->Data();
    const std::uint64_t n = cumulative->Size();
    std::uint64_t low = 0;
    while (low < n && !(values[low] > f1)) ++low;
    std::uint64_t high = 0;
    while (high < n && !(values[high] >= f2)) ++high;
    low = std::min(low, n - 1);  // a search that finds nothing ends at the top level
    high = std::min(high, n - 1);
    SetWindow(static_cast<P>(low), static_cast<P>(high));
    const quorin::WindowRamp ramp(m_levelCount, std::uint32_t(m_levelCount), low, high);
    if (!ramp.Valid()) return false;
    P* data = m_pixels->Data();
    const std::uint64_t count = PixelCount(*m_pixels);
    for (std::uint64_t k = 0; k < count; ++k) data[k] = static_cast<P>(ramp(data[k]));
    PixelsChanged();
    ComputeMinMax();
    return true;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::TestUpperQuarterShare() const {
    if (!HasPixels() || m_bits > unsigned(quorin::kMaxHistogramBits)) return false;
    CTHistogram<P> histogram(nullptr, int(m_bits));
    if (!histogram.Calculate(m_pixels.get())) return false;
    const unsigned int* bins = histogram.BinData();
    const std::uint64_t n = histogram.BinCount();
    const double total = double(histogram.Total());
    std::uint64_t top = n - 1;
    while (top > 0 && !(bins[top] > 5)) --top;
    std::uint64_t low = 0;
    if (total > 0) {
        const double threshold = 0.001 * total;
        double running = 0;
        while (low < n && (running += bins[low]) < threshold) ++low;
        low = std::min(low, n - 1);
    }
    const std::uint64_t t = ((low + top) / 2 + top) / 2;
    double above = 0;
    for (std::uint64_t i = t + 1; i < n; ++i) above += bins[i];
    return total > 0 && above >= 0.3 * total;
}

template <class P, class L, class C>
bool CTImgNB<P, L, C>::TakePixels(CTImgNB* other) {
    std::unique_ptr<CTImgNB> owned(other);
    if (!owned || !owned->HasPixels()) return false;
    m_pixels = std::move(owned->m_pixels);
    m_height = owned->m_height;
    m_width = owned->m_width;
    PixelsChanged();
    return true;
}

template class CTImgNB<unsigned char, unsigned char, unsigned int>;
template class CTImgNB<unsigned short, unsigned char, unsigned int>;
template class CTImgNB<unsigned short, unsigned short, unsigned int>;
template class CTImgNB<unsigned int, unsigned char, unsigned int>;
template class CTImgNB<unsigned int, unsigned int, unsigned int>;
