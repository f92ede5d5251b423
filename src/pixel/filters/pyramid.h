// The multi-resolution (Laplacian) pyramid of the 16-bit intra-oral and computed-radiography
// enhancements: a chain of float levels, each split into a detail level and a coarser child by a
// separable 5-tap reduce and merged back by the matching expand, with the coefficient mappings
// applied between, and the driver that takes a 12-bit image through the whole round.
#pragma once
#include <cstdint>

#include "pixel/core/arrays.h"

// A one-dimensional work line of floats (or other elements).
template <class T>
class CArr {
  public:
    CArr() = default;
    explicit CArr(std::int32_t n) { Allocate(n); }
    CArr(const CArr&) = delete;
    CArr& operator=(const CArr&) = delete;
    virtual ~CArr() { Release(); }

    virtual void Release() {
        if (m_owns) delete[] m_data;
        m_data = nullptr;
        m_count = 0;
        m_owns = false;
    }
    virtual bool IsValid() const { return m_data != nullptr; }
    // Releases, then takes n zero-filled elements; false (and empty) for n < 1 or no memory.
    virtual bool Allocate(std::int32_t n);
    // n elements, the first min(old, new) kept when `keep`; the same n changes nothing.
    virtual bool Resize(std::int32_t n, bool keep);

    T* Data() const { return m_data; }
    std::int32_t Count() const { return m_count; }

  private:
    T* m_data = nullptr;
    std::int32_t m_count = 0;
    bool m_owns = false;
};

template <class T>
class CNumArr : public CArr<T> {
  public:
    using CArr<T>::CArr;
};

// One level of the chain; the root (level 0) is the finest. A node owns its data and its child.
class CMRANode {
  public:
    CMRANode() = default;
    CMRANode(const CMRANode&) = delete;
    CMRANode& operator=(const CMRANode&) = delete;
    virtual ~CMRANode();

    // Each initialise resets first, then takes the source's size and values; false (and reset)
    // for an invalid source or no memory.
    virtual bool Init(const C2DArr<float>& source);
    virtual bool Init(const C2DArr<unsigned short>& source, const float* table,
                      std::uint32_t tableEntries);
    virtual bool Init(const C2DArr<unsigned short>& source);
    virtual void Reset();  // deletes data and child, clears the links
    virtual bool Decompose() = 0;
    virtual bool Reconstruct() = 0;
    virtual bool PreDecompose() { return true; }
    virtual bool PostReconstruct() { return true; }
    virtual bool CopyFrom(const CMRANode& other);  // false here
    virtual std::uint32_t NextWidth() const;       // (columns + 1) >> 1, 0 without data
    virtual std::uint32_t NextHeight() const;

    CMRANode* Parent() const { return m_parent; }
    CMRANode* Child() const { return m_child; }
    C2DArr<float>* Data() const { return m_data; }
    std::uint32_t FilterIndex() const { return m_filterIndex; }
    void SetFilterIndex(std::uint32_t index) { m_filterIndex = index; }
    int Level() const;  // number of ancestors

  protected:
    bool CreateData(std::uint32_t width, std::uint32_t height);

    CMRANode* m_parent = nullptr;
    CMRANode* m_child = nullptr;      // owned: the next coarser level
    C2DArr<float>* m_data = nullptr;  // owned
    std::uint32_t m_filterIndex = 0;
};

class CPyramid : public CMRANode {
  public:
    CPyramid() = default;
    explicit CPyramid(std::uint32_t filterIndex) { m_filterIndex = filterIndex; }
    // Splits the level: the child becomes the level reduced by two in both directions and the
    // level keeps its detail (the level minus the expanded child).
    bool Decompose() override;
    // Adds the expanded child back into the level and deletes the child (the child must have no
    // child of its own left, i.e. the chain is merged from the coarsest level upwards).
    bool Reconstruct() override;
    // Deep copy of data and the chain below.
    bool CopyFrom(const CMRANode& other) override;
    // Deletes any child and makes a zeroed CPyramid child of NextWidth() x NextHeight().
    virtual bool CreateChild();
};

// Parameters of one pyramid level of the computed-radiography enhancement (a record set holds
// six, record i for level i).
struct SCRFilterParam {
    float ENHFACTOR;
    float LARGESCALETHRESHOLD;
    float NOISESUPPRESSFACTOR;
    float NOISETHRESHOLD;
    float LARGESCALEBOOSTFACTOR;
};

namespace quorin {

inline constexpr int kPyramidLevels = 6;

// Reduce and expand weights (w0..w3) of the pyramid filters; index 0 is the one in use.
struct PyramidWeights {
    float w[4];
};
// Null for an index beyond the table.
const PyramidWeights* PyramidFilterWeights(std::uint32_t index);

// One line of n samples reduced to (n + 1) >> 1 samples / one line of (n + 1) >> 1 samples
// expanded to n, with mirrored ends; exposed for the tests.
void PyramidReduceLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w);
void PyramidExpandLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w);

// The level (C x R) reduced into child ((C+1)>>1 x (R+1)>>1) / child expanded back to the
// level's size and added to it (sign +1) or subtracted from it (sign -1): the two halves of a
// decomposition step. False on a size mismatch or when a work array cannot be had.
bool PyramidReduce(const C2DArr<float>& level, C2DArr<float>& child, const PyramidWeights& w);
bool PyramidExpand(const C2DArr<float>& child, C2DArr<float>& level, int sign,
                   const PyramidWeights& w);

// The continuous three-slope mapping of the coefficients of one level.
void MapLevel(C2DArr<float>& level, float noiseThreshold, float largeThreshold, float noiseGain,
              float gain, float boost);
// The fixed mapping of the intra-oral images on level i (0..5).
void MapLevelFixed(C2DArr<float>& level, int i);
// Noise variance estimate of a detail level (at least 1.0 when its spread is that small).
double EstimateNoise(const C2DArr<float>& level);
// Root values to 16-bit pixels: truncated, 0 for values at or below 0 or not a number, at most
// `top`. False when the sizes differ.
bool WriteLevel(const C2DArr<float>& level, C2DArr<unsigned short>& target, std::uint32_t top);

}  // namespace quorin

// Takes one 16-bit image through decomposition, coefficient mapping and reconstruction.
class CPyramidFilter {
  public:
    explicit CPyramidFilter(std::uint32_t bits = 12);
    ~CPyramidFilter();
    CPyramidFilter(const CPyramidFilter&) = delete;
    CPyramidFilter& operator=(const CPyramidFilter&) = delete;

    // 0 on success (state decomposed); -1 (state failed) when not idle or on failure.
    int Decompose(const C2DArr<unsigned short>& source);
    // Noise estimate of level k (0..5) when decomposed; -1.0 otherwise.
    double NoiseEstimate(int k) const;
    // Maps levels 0..5 with records 0..5 of the set; 0, or -1 (state failed) when not
    // decomposed or the set is null.
    int Enhance(const SCRFilterParam* records);
    // Merges the chain back and writes the root into the target, clipped to 0..2^bits - 1; the
    // driver is then idle again. -1 (state failed, nothing written) on failure.
    int Reconstruct(C2DArr<unsigned short>& target);
    void Release();

    int State() const { return m_state; }
    CPyramid* Root() const { return m_root; }

  private:
    std::uint32_t m_bits = 12;
    const C2DArr<unsigned short>* m_source = nullptr;
    std::int32_t m_state = 0;  // 0 idle, 1 decomposed, -1 failed
    CPyramid* m_root = nullptr;
};

// The fixed-gain enhancement of the 16-bit intra-oral images: six levels, the fixed mapping on
// each, reconstruction clipped to 0..4095 into target (the size of source). False (target
// untouched) on failure.
bool PyramidFixedGainEnhance(C2DArr<unsigned short>& target, const C2DArr<unsigned short>& source);
