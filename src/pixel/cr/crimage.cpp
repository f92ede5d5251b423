#include "pixel/cr/crimage.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "pixel/core/arrays.h"
#include "pixel/intraoral/intraoralhist.h"
#include "pixel/intraoral/intraorallut.h"

namespace quorin {

bool CRPyramidEnhance(const CTMatrix<unsigned short>& source, CTMatrix<unsigned short>& target,
                      const SCRFilterParam* records, bool scaleNoise) {
    if (records == nullptr || source.IsEmpty() || target.IsEmpty() ||
        source.Rows() != target.Rows() || source.Columns() != target.Columns())
        return false;
    const std::uint32_t width = source.Columns(), height = source.Rows();
    // Views over the two pixel blocks, rows of width x 2 bytes; nothing is copied.
    CImage<unsigned short> in, out;
    if (!in.Create(width, height, sizeof(unsigned short), source.Data()) ||
        !out.Create(width, height, sizeof(unsigned short), target.Data()))
        return false;
    in.SetBits(12);
    out.SetBits(12);
    CPyramidFilter filter(12);
    if (filter.Decompose(in) != 0) return false;
    SCRFilterParam set[kPyramidLevels];
    std::copy(records, records + kPyramidLevels, set);
    if (scaleNoise &&
        (set[0].NOISETHRESHOLD != 0 || set[1].NOISETHRESHOLD != 0 || set[2].NOISETHRESHOLD != 0))
        for (int level = 0; level < 3; ++level)
            set[level].NOISETHRESHOLD *= float(std::sqrt(filter.NoiseEstimate(level)));
    return filter.Enhance(set) == 0 && filter.Reconstruct(out) == 0;
}

}  // namespace quorin

// ---- plate image ------------------------------------------------------------------------------

CTImgULMA::CTImgULMA(const CTImgULMA& other) : Base(other) {
    if (other.m_plate) m_plate.reset(new (std::nothrow) CTLut<unsigned short>(*other.m_plate));
}

CTImgULMA::~CTImgULMA() = default;

bool CTImgULMA::BuildPlateTable() {
    m_plate.reset();
    const std::uint64_t n = LevelCount();
    if (n < 2 || n > (std::uint64_t{1} << 16)) return false;
    m_plate.reset(new (std::nothrow)
                      CTLut<unsigned short>(static_cast<unsigned>(n), static_cast<unsigned>(n)));
    if (!m_plate || m_plate->Size() != n) {
        m_plate.reset();
        return false;
    }
    std::fill(m_plate->Data(), m_plate->Data() + n, 0);
    return true;
}

bool CTImgULMA::ApplyPlateTable(CTImgULMA& target) const {
    if (!m_plate || !HasPixels() || !target.HasPixels() || target.Height() != Height() ||
        target.Width() != Width())
        return false;
    const unsigned short* in = Pixels()->Data();
    unsigned short* out = target.Pixels()->Data();
    const std::uint64_t count = std::uint64_t(Height()) * Width();
    for (std::uint64_t k = 0; k < count; ++k) out[k] = m_plate->Map(in[k]);
    target.PixelsChanged();
    return true;
}

CusUlma::CusUlma(SImage* image) : CTImgULMA(image) {
    EnsureLUTInfo();
    BuildPlateTable();
}

CusUlma::CusUlma(std::uint32_t height, std::uint32_t width) : CTImgULMA(height, width) {
    EnsureLUTInfo();
    BuildPlateTable();
}

CusUlma::~CusUlma() = default;

void CusUlma::GetExposureState(int* state, float* gain, float* second) {
    CTImgULMA::GetExposureState(state, gain, second);
}

bool CusUlma::BuildPlateTable() {
    if (!CTImgULMA::BuildPlateTable()) return false;
    unsigned short* table = m_plate->Data();
    const std::uint64_t n = m_plate->Size();
    const double scale = std::log(3800.0 / 70.0);
    for (std::uint64_t i = 0; i < n; ++i) {
        const double x = std::max(double(std::int64_t(i) - 5), 70.0);
        const double value = double(n - 1) * (1.0 - std::log(3800.0 / x) / scale);
        table[i] = static_cast<unsigned short>(std::min<double>(std::trunc(value), double(n - 1)));
    }
    return true;
}

// ---- CR panoramic image ------------------------------------------------------------------------

CusCRPano::CusCRPano(SImage* image) : CusPano(image, 17) {
    EnsureLUTInfo();
    ComputeMinMax();
}

CusCRPano::CusCRPano(const CusCRPano& other) : CusPano(other) {
    ComputeMinMax();
}

void CusCRPano::ComputeMinMax() {
    const win::RECT region{50, 50, static_cast<win::LONG>(std::int64_t(Width()) - 50),
                           static_cast<win::LONG>(std::int64_t(Height()) - 50)};
    PercentileWindow(&region, 800);
}

bool CusCRPano::EnsureLUTInfo() {
    const bool done = CusPano::EnsureLUTInfo();
    m_contrast.reset();
    m_sharpness.reset();
    return done;
}

const SCRFilterParam* CusCRPano::GetRecordSet(std::int32_t mode) const {
    return mode == 1 ? m_contrast.get() : m_sharpness.get();
}

bool CusCRPano::ReadParameters(std::int32_t mode) {
    auto& set = mode == 1 ? m_contrast : m_sharpness;
    if (set) return true;
    set = quorin::ReadCRRecordSet(mode == 1 ? quorin::CRParamSet::kPanoContrast
                                            : quorin::CRParamSet::kPanoSharpness);
    return set != nullptr;
}

bool CusCRPano::ApplyPyramid(CTImgPano<unsigned short>& target, std::int32_t mode) {
    if (!HasPixels() || !target.HasPixels() || target.Height() != Height() ||
        target.Width() != Width() || Bits() != 12 || !ReadParameters(mode))
        return false;
    const SCRFilterParam* set = GetRecordSet(mode);
    CTImgNB<unsigned short, unsigned char, unsigned int> result(Height(), Width());
    return set != nullptr && result.HasPixels() &&
           quorin::CRPyramidEnhance(*Pixels(), *result.Pixels(), set, true) &&
           result.CopyPixelsTo(target);  // the target recomputes its window
}

// ---- CR intra-oral image -----------------------------------------------------------------------

CusCRIO::CusCRIO(SImage* image) : CTImgZELRobust(image, 0, 4095) {
    SetReferences(0, m_topLevel);
    Initialise();
}

CusCRIO::CusCRIO(const CusCRIO& other) : CTImgZELRobust(other, 0, 4095) {
    SetReferences(0, m_topLevel);
    Initialise();
}

void CusCRIO::GetExposureState(int* state, float* gain, float* second) {
    CTImgZELus::Base::GetExposureState(state, gain, second);
}

bool CusCRIO::BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) {
    if (!CusZELus::BuildProcessingLUT(mode, low, high)) return false;
    const auto top = std::int64_t(m_topLevel);
    if (!(low >= 0 && low <= top && high <= top && low < high)) return false;
    return BuildKneeLUT(mode, 200, 20, true);
}

bool CusCRIO::ReadParameters() {
    if (m_sharpness) return true;
    m_sharpness = quorin::ReadCRRecordSet(quorin::CRParamSet::kIntraOralSharpness);
    return m_sharpness != nullptr;
}

bool CusCRIO::ApplyPyramid(CTImgZELus& target) {
    if (!HasPixels() || !target.HasPixels() || target.Height() != m_height ||
        target.Width() != m_width || m_bits != 12 || !ReadParameters())
        return false;
    CTImgNB<unsigned short, unsigned short, unsigned int> result(m_height, m_width);
    return result.HasPixels() &&
           quorin::CRPyramidEnhance(*Pixels(), *result.Pixels(), m_sharpness.get(), false) &&
           result.CopyPixelsTo(target);  // the target recomputes its window
}
