// The lens enhancement of the cephalometric units that deliver 12-bit images with a device code:
// CusCephVelmoLens (built-in multi-band parameters) and CusCephVelmoLensV3 (registry parameters,
// float multi-scale enhancement). Each keeps the enhanced result of its "edges" and "bone"
// settings in a cache, turned with the image on mirror and rotation, and builds the display
// window from the cache's histogram statistics.
#pragma once
#include <cstdint>
#include <memory>

#include "pixel/ceph/ceph.h"
#include "pixel/filters/floatmultiscale.h"

namespace quorin {

// A view on an enhanced 16-bit buffer: displayed pixel (r, c) is buffer[origin + r x rowStep +
// c x columnStep]; width and height are the displayed sides. The histogram statistics of the
// buffer place the display window.
class CephLensCache {
  public:
    bool Empty() const { return !m_buffer; }
    // A new buffer of width x height in display order (the view reset); false without memory.
    bool Allocate(std::uint32_t width, std::uint32_t height);
    std::uint16_t* Buffer() const { return m_buffer.get(); }
    std::uint16_t At(std::uint32_t r, std::uint32_t c) const {
        return m_buffer[std::size_t(m_origin + std::int64_t(r) * m_rowStep +
                                    std::int64_t(c) * m_columnStep)];
    }
    std::uint32_t Width() const { return m_width; }
    std::uint32_t Height() const { return m_height; }

    // The view turns as the image does (an empty cache has nothing to turn).
    void MirrorHorizontal();
    void MirrorVertical();
    void Rotate(std::int32_t angle, bool clockwise);

    double first = 0.0, second = 0.0;                  // the two statistics doubles
    std::uint16_t level1 = 0, level2 = 0, level3 = 0;  // first, second and third levels

  private:
    std::int64_t m_columnStep = 1, m_rowStep = 0, m_origin = 0;
    std::uint32_t m_width = 0, m_height = 0;
    std::unique_ptr<std::uint16_t[]> m_buffer;
};

// mean(R, a, b) = sum i R[i] / sum R[i] over a..b; 0 for a > b or empty bins.
double BinMean(const std::uint32_t* R, std::int64_t a, std::int64_t b);
// The bin that splits R (m bins) into two parts of least spread, by the excess of each bin over
// the mean count; 0 when nothing splits better than no split.
std::int64_t HistogramSplit(const std::uint32_t* R, std::int64_t m);
// The cache statistics from the histogram h of n counts and the top level T; the cache keeps its
// values when T is below 16 (no reduced histogram) or memory is short.
void CacheStatistics(const std::uint32_t* h, std::int64_t n, std::int64_t top,
                     CephLensCache* cache);

// Level count: doublings of 1 to reach `size` (0 for size 1 or less) less the unenhanced levels,
// limited to 0..13; maximum level 2^bits - 1.
void SetLensLevelCount(LensParameters* parameters, std::int64_t size, int bits);
// The registry parameters of the lens units for modes 4 and 9 (edges) and 8 (bone); false and
// nothing read for other modes. Values are bounded so that no size or kernel can be hostile.
bool LoadLensParameters(LensParameters* parameters, int mode, std::int64_t size, int bits,
                        std::uint16_t deviceCode);

// The display window of a filled cache: low and high levels and the two-segment gamma points.
struct LensWindow {
    std::int64_t low = 0, high = 0, start = 0, end = 0;
};
LensWindow ComputeLensWindow(const CephLensCache& cache, std::int64_t maximumLevel,
                             std::int32_t s100, std::int32_t s200, std::uint16_t deviceCode);

}  // namespace quorin

class CusCephVelmoLens : public CusCeph {
  public:
    CusCephVelmoLens(SImage* image, std::uint16_t deviceCode)
        : CusCeph(image), m_deviceCode(deviceCode) {}
    CusCephVelmoLens(std::uint32_t height, std::uint32_t width, std::uint16_t deviceCode)
        : CusCeph(height, width), m_deviceCode(deviceCode) {}
    ~CusCephVelmoLens() override;

    // Interface slot 4 and template slot 2: (mode, brightness ratio, level ratio), the mode chosen
    // once from the region less 50 pixels a side and remembered.
    void GetExposureState(int* mode, float* brightness, float* levelRatio) override;
    // Template slot 5: true, the pixels untouched.
    bool ApplyProcessingLut(CusCeph* destination, bool apply, int recompute) override;
    // Template slot 6: no correction; the pixels are copied into an output given.
    bool Correct(CusCeph* output, const double* intensity, int intensityCount, double cx, double cy,
                 const double* geometric, int geometricValid, double scale1, double scale2,
                 std::uint32_t unused, bool recompute) override;
    // Template slot 7: mode 0 window only, 3 window and combined enhancement, 4 and 9 edges, 8
    // bone; any other mode does nothing and answers false.
    bool Enhance(CusCeph* destination, int mode, int option) override;
    void BuildProcessingLut(std::uint16_t* table, std::int64_t n, std::int64_t low,
                            std::int64_t high, int curveFlag) override;  // full scale
    bool MirrorHorizontal() override;
    bool MirrorVertical() override;
    bool Rotate(std::int32_t angle, bool clockwise) override;

    std::uint16_t DeviceCode() const { return m_deviceCode; }
    const quorin::CephLensCache& BoneCache() const { return m_bone; }
    const quorin::CephLensCache& EdgesCache() const { return m_edges; }

  protected:
    // The enhancement run of both classes; `registry` selects the V3 scheme.
    bool Run(CusCeph* destination, int mode, int option, bool registry);
    bool WideUnit() const {
        return m_deviceCode == 192 || m_deviceCode == 193 || m_deviceCode == 196;
    }

  private:
    bool FillBuiltIn(quorin::CephLensCache& cache, const quorin::LensParameters& parameters,
                     std::int64_t strength);
    bool FillFromRegistry(quorin::CephLensCache& cache, int mode, quorin::LensParameters* p);

    std::uint16_t m_deviceCode = 0;
    quorin::CephLensCache m_bone;
    quorin::CephLensCache m_edges;
};

class CusCephVelmoLensV3 : public CusCephVelmoLens {
  public:
    using CusCephVelmoLens::CusCephVelmoLens;
    ~CusCephVelmoLensV3() override;
    bool AddLogo() override;  // bitmap 8010
    bool Enhance(CusCeph* destination, int mode, int option) override;
};
