// CTImgNB: the typed part of every grey image, over the pixel, LUT and count types. It owns the
// pixel matrix, knows the bit depth and the display window, and carries the operations the
// interface slots forward to: display DIB through a window ramp, copy-out to an SImage, zoom,
// highlight lens, mirror, rotation, morphology, relief, corner triangles, logo stamping and
// automatic windowing. CTImgGrey joins it with an interface layer (img.h) into a concrete image.
#pragma once
#include <quorin/matrix.h>
#include <quorin/simage.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "pixel/core/lut.h"
#include "pixel/image/greylens.h"
#include "pixel/image/img.h"
#include "platform/system/gdibitmap.h"

namespace quorin {

// The window ramp of a look-up table with n entries and m output levels (see CTLut): a table for
// depths up to 16 bits, looked up through CTLut::Map (indices clamped to the last entry); the
// same integer formula for wider pixels, whose tables would not fit.
class WindowRamp {
  public:
    // low >= high (or either beyond n) gives the identity ramp.
    WindowRamp(std::uint64_t n, std::uint32_t m, std::uint64_t low, std::uint64_t high);
    bool Valid() const { return m_levels > 0 && (m_formula || (m_table && !m_table->IsEmpty())); }
    std::uint32_t operator()(std::uint64_t value) const {
        return m_table ? m_table->Map(value) : Formula(value);
    }

  private:
    std::uint32_t Formula(std::uint64_t value) const;

    std::uint64_t m_entries;
    std::uint32_t m_levels;
    std::uint64_t m_low;
    std::uint64_t m_high;
    bool m_window;
    bool m_formula = false;
    std::unique_ptr<CTLut<unsigned int>> m_table;
};

// Depth of a pixel type when nothing says otherwise: 8, 16 or 32.
template <class P>
constexpr std::uint32_t DefaultBits() {
    return sizeof(P) == 1 ? 8 : sizeof(P) == 2 ? 16 : 32;
}

}  // namespace quorin

template <class P, class L, class C = unsigned int>
class CTImgNB {
  public:
    using Pixel = P;
    using Matrix = CTMatrix<P>;
    using DisplayImage = CTImgNB<unsigned char, unsigned char, C>;

    // A zeroed image; bits from the pixel type, window 0..top level.
    CTImgNB(std::uint32_t height, std::uint32_t width);
    // Adopts the record's pixel block (the block then belongs to the image; the record still
    // points at it, so its owner frees the record with its pixels borrowed). The block is
    // refused (the image is then empty and the record keeps it) unless the record has one
    // sample, sides of 1..65,535, a depth whose elements are this pixel type, and a block of at
    // least height x width pixels.
    explicit CTImgNB(SImage* image);
    CTImgNB(const CTImgNB& other);
    CTImgNB& operator=(const CTImgNB& other);
    virtual ~CTImgNB();

    // Template slot 1: window = smallest .. largest pixel value.
    virtual void ComputeMinMax();
    // Template slot 2: state 0, gain 0 and second value 0 (outputs that are null are skipped).
    virtual void GetExposureState(int* state, float* gain, float* second);
    // Template slot 3: the levels where the histogram of the region (null: the whole image) first
    // and last holds more than 40 pixels; the window when no histogram can be made.
    virtual bool AutoWindow(P* low, P* high, const win::RECT* region);

    bool GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>* histogram) const;
    bool CopyToSImage(SImage* image) const;
    bool CopyPixelsTo(CTImgNB& other) const;
    // target = lut[pixel]; the LUT must have exactly level-count entries.
    bool ApplyLut(DisplayImage& target, const CTLut<unsigned char>& lut) const;
    bool ApplyWindow(DisplayImage& target, bool identity) const;
    bool MakeDisplayImage(DisplayImage** target) const;
    bool Zoom(SImage* out, double factor) const;
    bool CreateHighlightLens(std::int32_t radius, std::int32_t bits);
    bool DrawHighlightLens(quorin::ImagePoint point, win::HGLOBAL dib);
    bool MirrorHorizontal();
    bool MirrorVertical();
    bool Rotate(std::int32_t angle, bool clockwise);

    // Each returns a new image for the caller to delete, or null.
    CTImgNB* Erode(const CStructElement& element) const;
    CTImgNB* Dilate(const CStructElement& element) const;
    CTImgNB* Close(const CStructElement& element) const;
    CTImgNB* Open(const CStructElement& element) const;
    CTImgNB* WhiteTopHat(const CStructElement& element) const;
    CTImgNB* BlackTopHat(const CStructElement& element) const;
    CTImgNB* MorphologicalContrast(const CStructElement& element) const;

    bool Relief(CTImgNB& target) const;
    bool FillCorners(std::uint64_t value, const std::int32_t (&pairs)[8]);
    // 8- and 16-bit pixels only; the bitmap is always deleted.
    bool StampBitmap(win::HBITMAP bitmap, bool erase, std::optional<std::int32_t> x = {},
                     std::optional<std::int32_t> y = {});
    bool StretchBetweenFractions(double f1, double f2, const win::RECT* region);
    bool TestUpperQuarterShare() const;

    // Replaces the pixels (and sizes) by those of `other`, which is deleted.
    bool TakePixels(CTImgNB* other);

    std::uint32_t Height() const { return m_height; }
    std::uint32_t Width() const { return m_width; }
    std::uint32_t Bits() const { return m_bits; }
    std::uint64_t LevelCount() const { return m_levelCount; }
    P TopLevel() const { return m_topLevel; }
    P WindowLow() const { return m_windowLow; }
    P WindowHigh() const { return m_windowHigh; }
    std::uint64_t Range() const { return m_range; }
    void SetWindow(P low, P high);
    std::uint32_t ExposureState() const { return m_exposureState; }
    Matrix* Pixels() const { return m_pixels.get(); }
    bool HasPixels() const { return m_pixels && !m_pixels->IsEmpty(); }

  protected:
    template <class P2, class L2, class C2>
    friend class CTImgNB;

    void SetBits(std::uint32_t bits);
    void PixelsChanged() {
        if (m_lens) m_lens->MarkChanged();
    }
    // A new empty image of the same depth and window for the result of an operation.
    CTImgNB* NewLike(std::uint32_t height, std::uint32_t width) const;
    bool MapThrough(const quorin::WindowRamp& ramp, DisplayImage& target) const;

    std::uint32_t m_height = 0;
    std::uint32_t m_width = 0;
    std::uint32_t m_bits = 0;
    std::uint64_t m_levelCount = 0;  // 2^bits (2^32 for 32-bit pixels)
    P m_topLevel = 0;
    P m_windowLow = 0;
    P m_windowHigh = 0;
    std::uint64_t m_range = 0;
    std::uint32_t m_exposureState = 0;
    std::unique_ptr<Matrix> m_pixels;
    std::unique_ptr<quorin::HighlightLens<P>> m_lens;
};

extern template class CTImgNB<unsigned char, unsigned char, unsigned int>;
extern template class CTImgNB<unsigned short, unsigned char, unsigned int>;
extern template class CTImgNB<unsigned short, unsigned short, unsigned int>;
extern template class CTImgNB<unsigned int, unsigned char, unsigned int>;
extern template class CTImgNB<unsigned int, unsigned int, unsigned int>;

// A concrete grey image: the typed part TPart (CTImgNB or a refinement) joined with the interface
// layer IPart (CImgNB or a refinement); every implemented slot forwards to the typed part. The
// modality images derive from it and override what their kind does differently.
template <class TPart, class IPart = CImgNB>
class CTImgGrey : public TPart, public IPart {
  public:
    CTImgGrey(std::uint32_t height, std::uint32_t width) : TPart(height, width) {
        IPart::EnsureLUTInfo();
    }
    explicit CTImgGrey(SImage* image) : TPart(image) { IPart::EnsureLUTInfo(); }
    CTImgGrey(const CTImgGrey& other) : TPart(other), IPart(other) {
        IPart::EnsureLUTInfo();
        IPart::CopyLUTInfoFrom(other);
    }
    CTImgGrey& operator=(const CTImgGrey&) = delete;
    ~CTImgGrey() override = default;

    // Both parts name a relief: the typed one into a target, the slot in place.
    using IPart::Relief;
    using TPart::Relief;

    bool GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>* histogram = nullptr) override {
        return TPart::GetDisplayDIB(dib, histogram);
    }
    // Slot 3: the four (width, height) pairs come from the corners information; an image
    // without one has nothing to fill.
    bool FillCorners(std::uint32_t value) override {
        const CInfosCorners* corners = IPart::GetCornersInfo();
        if (corners == nullptr) return true;
        std::int32_t pairs[8] = {};
        for (int i = 0; i < 4; ++i) corners->GetCorner(i, &pairs[2 * i], &pairs[2 * i + 1]);
        return TPart::FillCorners(value, pairs);
    }
    void GetExposureState(int* state, float* gain, float* second) override {
        TPart::GetExposureState(state, gain, second);
    }
    bool CopyToSImage(SImage* image) override { return TPart::CopyToSImage(image); }
    bool Zoom(SImage* out, double factor) override { return TPart::Zoom(out, factor); }
    bool CreateHighlightLens(std::int32_t radius, std::int32_t bits) override {
        return TPart::CreateHighlightLens(radius, bits);
    }
    bool DrawHighlightLens(quorin::ImagePoint point, win::HGLOBAL dib) override {
        return TPart::DrawHighlightLens(point, dib);
    }
    // The corners follow the pixels (only once the pixels have moved).
    bool MirrorHorizontal() override {
        if (!TPart::MirrorHorizontal()) return false;
        IPart::MirrorCornersInfo(true);
        return true;
    }
    bool MirrorVertical() override {
        if (!TPart::MirrorVertical()) return false;
        IPart::MirrorCornersInfo(false);
        return true;
    }
    bool Rotate(std::int32_t angle, bool clockwise) override {
        if (!TPart::Rotate(angle, clockwise)) return false;
        IPart::RotateCornersInfo(angle, clockwise);
        return true;
    }
    bool Erode(const CStructElement* e) override { return Replace(e, &TPart::Erode); }
    bool Dilate(const CStructElement* e) override { return Replace(e, &TPart::Dilate); }
    bool Close(const CStructElement* e) override { return Replace(e, &TPart::Close); }
    bool Open(const CStructElement* e) override { return Replace(e, &TPart::Open); }
    bool WhiteTopHat(const CStructElement* e) override { return Replace(e, &TPart::WhiteTopHat); }
    bool BlackTopHat(const CStructElement* e) override { return Replace(e, &TPart::BlackTopHat); }
    bool MorphologicalContrast(const CStructElement* e) override {
        return Replace(e, &TPart::MorphologicalContrast);
    }
    std::uint32_t GetHeight() const override { return TPart::Height(); }
    std::uint32_t GetWidth() const override { return TPart::Width(); }
    std::uint32_t GetBits() const override { return TPart::Bits(); }

  private:
    template <class Op>
    bool Replace(const CStructElement* element, Op op) {
        if (element == nullptr) return false;
        auto* result = (static_cast<const TPart&>(*this).*op)(*element);
        return result != nullptr && TPart::TakePixels(result);
    }
};
