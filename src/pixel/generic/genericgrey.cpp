#include "pixel/generic/genericgrey.h"

#include <algorithm>
#include <cstring>

#include "pixel/filters/filters8.h"
#include "records/dib/dibbuffer.h"

namespace quorin {

namespace {

// A zero-filled work block on the global heap, freed on scope exit.
template <class T>
class WorkBlock {
  public:
    explicit WorkBlock(std::uint64_t count)
        : m_data(static_cast<T*>(AllocLockedBlock(count * sizeof(T)))) {}
    ~WorkBlock() { FreeLockedBlock(m_data); }
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;
    T* get() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }

  private:
    T* m_data;
};

// Sum of the 3 x 3 block around (y, x) of a w-wide picture.
template <class T>
std::int32_t Sum3x3(const T* p, std::int64_t w, std::int64_t y, std::int64_t x) {
    std::int32_t sum = 0;
    for (std::int64_t i = -1; i <= 1; ++i)
        for (std::int64_t j = -1; j <= 1; ++j) sum += p[(y + i) * w + x + j];
    return sum;
}

}  // namespace

bool GenericDetailFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                         std::uint32_t height, std::int32_t scale, std::int32_t gain) {
    if (source == nullptr || target == nullptr || width == 0 || height == 0 ||
        width > kMaxImageSide || height > kMaxImageSide || scale < 1)
        return false;
    const std::int64_t f = scale;
    const std::int64_t w = width, h = height;
    const std::int64_t ws = w / f, hs = h / f;
    const std::uint64_t count = std::uint64_t(w) * std::uint64_t(h);
    if (ws < 3 || hs < 3) {
        std::memcpy(target, source, count);
        return true;
    }
    const std::uint64_t smallCount = std::uint64_t(ws) * std::uint64_t(hs);
    WorkBlock<std::uint8_t> reduced(smallCount), clipped(smallCount);
    WorkBlock<std::int16_t> detail(smallCount), smooth(smallCount), expanded(count);
    WorkBlock<std::int32_t> correction(count);
    if (!reduced || !clipped || !detail || !smooth || !expanded || !correction) return false;

    std::uint8_t* small = reduced.get();
    for (std::int64_t y = 0; y < hs; ++y)
        for (std::int64_t x = 0; x < ws; ++x) {
            std::int64_t sum = 0;
            for (std::int64_t i = 0; i < f; ++i)
                for (std::int64_t j = 0; j < f; ++j) sum += source[(y * f + i) * w + x * f + j];
            small[y * ws + x] = static_cast<std::uint8_t>(sum / f / f);
        }
    if (!ClipToNeighbourRange(small, clipped.get(), std::uint32_t(ws), std::uint32_t(hs)))
        return false;

    // Laplacian inside a 2-pixel border; doubled in integers so that halving truncates toward 0.
    const std::uint8_t* s = clipped.get();
    std::int16_t* lap = detail.get();
    for (std::int64_t y = 2; y + 2 < hs; ++y)
        for (std::int64_t x = 2; x + 2 < ws; ++x) {
            const std::uint8_t* p = s + y * ws + x;
            const std::int64_t n = ws;
            const std::int32_t twice = 16 * p[0] - 2 * (p[-n] + p[n] + p[-1] + p[1]) -
                                       (p[-n - 1] + p[-n + 1] + p[n - 1] + p[n + 1]) -
                                       (p[-2 * n] + p[2 * n] + p[-2] + p[2]);
            lap[y * ws + x] = static_cast<std::int16_t>(twice / 2);
        }
    std::int16_t* sm = smooth.get();
    std::memcpy(sm, lap, smallCount * sizeof(std::int16_t));
    for (std::int64_t y = 2; y + 2 < hs; ++y)
        for (std::int64_t x = 2; x + 2 < ws; ++x)
            sm[y * ws + x] = static_cast<std::int16_t>(Sum3x3(lap, ws, y, x) / 9);

    std::int16_t* full = expanded.get();
    for (std::int64_t y = 2; y + 2 < hs; ++y)
        for (std::int64_t x = 2; x + 2 < ws; ++x)
            for (std::int64_t i = 0; i < f; ++i)
                std::fill_n(full + (y * f + i) * w + x * f, f, sm[y * ws + x]);

    std::int32_t* corr = correction.get();
    for (std::int64_t y = 2; y + 2 < h; ++y)
        for (std::int64_t x = 2; x + 2 < w; ++x)
            corr[y * w + x] += Sum3x3(full, w, y, x) * gain / 36;
    for (std::uint64_t k = 0; k < count; ++k)
        target[k] = static_cast<std::uint8_t>(std::clamp(source[k] + corr[k], 0, 255));
    return true;
}

}  // namespace quorin

template <class P>
bool CTImgExtNB<P>::Relief() {
    using TPart = CTImgNB<P, unsigned char, unsigned int>;
    if (!this->HasPixels()) return false;
    TPart relief(this->Height(), this->Width());
    if (!relief.HasPixels() || !TPart::Relief(relief)) return false;
    std::memcpy(this->Pixels()->Data(), relief.Pixels()->Data(),
                std::uint64_t(this->Height()) * this->Width() * sizeof(P));
    this->PixelsChanged();
    this->ComputeMinMax();
    return true;
}

template class CTImgExtNB<unsigned char>;
template class CTImgExtNB<unsigned short>;
template class CTImgExtNB<unsigned int>;

CucExtNB::CucExtNB(SImage* image) : CTImgExtNB(image) {
    SetFixedLevels();
}

CucExtNB::CucExtNB(std::uint32_t height, std::uint32_t width)
    : CTImgExtNB(height, width), m_detail(1) {
    SetFixedLevels();
}

void CucExtNB::SetFixedLevels() {
    SetBits(8);  // minimum 0, maximum 255, 256 levels
}

void CucExtNB::ComputeMinMax() {
    SetWindow(0, 255);
}

namespace {

// Runs an 8-bit filter from a copy of the pixels into the pixels.
template <class Filter>
bool FilterFromCopy(CTMatrix<unsigned char>* pixels, Filter filter) {
    if (pixels == nullptr || pixels->IsEmpty()) return false;
    const std::uint64_t count = std::uint64_t(pixels->Rows()) * pixels->Columns();
    auto* copy = static_cast<std::uint8_t*>(quorin::AllocLockedBlock(count));
    if (copy == nullptr) return false;
    std::memcpy(copy, pixels->Data(), count);
    const bool done = filter(copy, pixels->Data(), pixels->Columns(), pixels->Rows());
    quorin::FreeLockedBlock(copy);
    return done;
}

}  // namespace

bool CucExtNB::MultiFilter(std::int32_t strength) {
    // Any strength beyond this saturates every pixel whose two smoothings differ, so the bound
    // changes no result and keeps the filter's weights within 32 bits.
    strength = std::clamp(strength, -65536, 65536);
    const bool done = FilterFromCopy(
        Pixels(), [strength](const std::uint8_t* s, std::uint8_t* t, std::uint32_t w,
                             std::uint32_t h) { return ::MultiFilter(s, t, w, h, strength); });
    PixelsChanged();
    return done;
}

bool CucExtNB::Relief() {
    const bool done = FilterFromCopy(Pixels(), Relief8);
    PixelsChanged();
    return done;
}

bool CucExtNB::ApplyDetailFilter() {
    m_detail = 1;
    const std::int32_t scale = m_detail != 0 ? 3 : 1;
    const bool done = FilterFromCopy(Pixels(), [scale](const std::uint8_t* s, std::uint8_t* t,
                                                       std::uint32_t w, std::uint32_t h) {
        return quorin::GenericDetailFilter(s, t, w, h, scale, 8);
    });
    PixelsChanged();
    return done;
}
