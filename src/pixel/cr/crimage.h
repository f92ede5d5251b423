// Computed-radiography images, built by the SDK for the record's image type and depth:
// - CusUlma, the plate image: 16-bit pixels and a logarithmic plate table;
// - CusCRPano, a panoramic image whose enhancement is the multi-resolution pyramid, steered by
//   the contrast set (mode 1) or the sharpness set (other modes) of pyramid parameters;
// - CusCRIO, an intra-oral image with the same pyramid enhancement and its own processing tables.
// Parameter sets are read once per image (crparams.h) and live as long as the image.
#pragma once
#include <cstdint>
#include <memory>

#include "pixel/core/lut.h"
#include "pixel/cr/crparams.h"
#include "pixel/image/greyimage.h"
#include "pixel/image/img.h"
#include "pixel/intraoral/intraoral.h"
#include "pixel/pano/pano.h"

// Interfaces that mark the image kind; they add nothing to the grey interface.
class CImgCR : public CImgNB {};
class CImgULMA : public CImgCR {};

// The plate template: the grey template with a 16-bit plate table of level-count entries.
class CTImgULMA : public CTImgNB<unsigned short, unsigned char, unsigned int> {
  public:
    using Base = CTImgNB<unsigned short, unsigned char, unsigned int>;
    using Base::Base;
    CTImgULMA(const CTImgULMA& other);
    ~CTImgULMA() override;

    // Template slot 4: target pixel = table[source pixel]; false for another size or no table.
    virtual bool ApplyPlateTable(CTImgULMA& target) const;
    // Template slot 5: the table replaced by a zeroed one (false when it cannot be made).
    virtual bool BuildPlateTable();
    const CTLut<unsigned short>* GetPlateTable() const { return m_plate.get(); }

  protected:
    std::unique_ptr<CTLut<unsigned short>> m_plate;
};

// The plate image. Only the destructor and the exposure state (state 0, gain 0, second 0) are
// its own; every other slot answers as the grey interface does.
class CusUlma : public CTImgULMA, public CImgULMA {
  public:
    explicit CusUlma(SImage* image);
    CusUlma(std::uint32_t height, std::uint32_t width);
    ~CusUlma() override;

    void GetExposureState(int* state, float* gain, float* second) override;
    // Entry i = trunc((n - 1) (1 - ln(3800 / x) / ln(3800 / 70))), x = max(i - 5, 70), at most
    // n - 1: levels up to 75 map to 0, 3805 and above to n - 1.
    bool BuildPlateTable() override;
};

class CusCRPano : public CusPano {
  public:
    explicit CusCRPano(SImage* image);
    CusCRPano(const CusCRPano& other);  // without parameter sets: read again when needed

    // Template slot 1: the percentile window over the image without a 50-pixel frame, with
    // MulDiv(width, height, 800) pixels cut at either end.
    void ComputeMinMax() override;
    // Slot 30: the LUT information; the parameter sets are dropped.
    bool EnsureLUTInfo() override;
    // Template slot 8: the pyramid enhancement of a 12-bit image with the set of the mode into a
    // target of the same size, whose window is then recomputed.
    bool ApplyPyramid(CTImgPano<unsigned short>& target, std::int32_t mode) override;
    // Template slot 9: the contrast set for mode 1, the sharpness set otherwise, read once.
    virtual bool ReadParameters(std::int32_t mode);
    // The set of the mode; null before it is read.
    const SCRFilterParam* GetRecordSet(std::int32_t mode) const;

  private:
    std::unique_ptr<SCRFilterParam[]> m_contrast;
    std::unique_ptr<SCRFilterParam[]> m_sharpness;
};

class CusCRIO : public CTImgZELRobust<CusZELus> {
  public:
    // References 0 and the top level, the robust window, both processing tables.
    explicit CusCRIO(SImage* image);
    CusCRIO(const CusCRIO& other);

    void GetExposureState(int* state, float* gain, float* second) override;  // state 0
    // The knee curve of the mode's exponent from the peak-and-valley search on the image
    // without a 200-pixel frame (thresholds 20, the low end from the first populated run).
    // Requires low < high <= top level.
    bool BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) override;
    using CusZELus::ProcessInto;
    // Template slot 7: ApplyPyramid.
    bool ProcessInto(CTImgZELus& target) override { return ApplyPyramid(target); }
    // The pyramid enhancement of a 12-bit image with the intra-oral sharpness set into a target
    // of the same size, whose window is then recomputed.
    bool ApplyPyramid(CTImgZELus& target);
    virtual bool ReadParameters();  // template slot 8, read once
    const SCRFilterParam* GetRecordSet() const { return m_sharpness.get(); }

  private:
    std::unique_ptr<SCRFilterParam[]> m_sharpness;
};

namespace quorin {
// The pyramid enhancement shared by the CR images: `source` (12 bits) decomposed into six levels,
// mapped with the six records, reconstructed into `target` (same size) clipped to 0..4095. With
// `scaleNoise` the noise thresholds of records 0..2, when any is non-zero, are scaled by the
// square root of their level's noise estimate (on a copy of the set). False, target untouched,
// on failure.
bool CRPyramidEnhance(const CTMatrix<unsigned short>& source, CTMatrix<unsigned short>& target,
                      const SCRFilterParam* records, bool scaleNoise);
}  // namespace quorin
