#include "pixel/pyramid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pixel/filterutil.h"

using quorin::PyramidWeights;

// ---- work lines ----

template <class T>
bool CArr<T>::Allocate(std::int32_t n) {
    Release();
    if (n < 1 || std::uint64_t(n) > quorin::kMaxBlockBytes / sizeof(T)) return false;
    m_data = new (std::nothrow) T[std::size_t(n)]();
    if (m_data == nullptr) return false;
    m_count = n;
    m_owns = true;
    return true;
}

template <class T>
bool CArr<T>::Resize(std::int32_t n, bool keep) {
    if (n == m_count && m_data != nullptr) return true;
    if (n < 1 || std::uint64_t(n) > quorin::kMaxBlockBytes / sizeof(T)) return false;
    T* data = new (std::nothrow) T[std::size_t(n)]();
    if (data == nullptr) return false;
    if (keep && m_data != nullptr)
        std::memcpy(data, m_data, std::size_t(std::min(n, m_count)) * sizeof(T));
    Release();
    m_data = data;
    m_count = n;
    m_owns = true;
    return true;
}

template class CArr<float>;
template class CNumArr<float>;

namespace {

constexpr PyramidWeights kWeights[] = {
    {{0.4f, 0.25f, 0.05f, 0.0f}},
    {{0.375f, 0.25f, 0.0625f, 0.0f}},
    {{0.6f, 0.25f, -0.05f, 0.0f}},
};

// Reduce taps reach 3 samples either side; expand taps 2 input samples.
constexpr std::int64_t kReduceReach = 3;
constexpr std::int64_t kRing = 8;

float ReduceAt(float a, float b, float c, float d, float e, float f, float g, const float* w) {
    // Written out so the order of the float operations is fixed: centre, then pairs outwards.
    return w[0] * a + w[1] * (b + c) + w[2] * (d + e) + w[3] * (f + g);
}

// Padded-index tables: reduce takes 3 extra samples each side (mirrored about the end sample).
bool ReduceTable(std::vector<std::int32_t>& table, std::int64_t n) {
    return quorin::BorderTable(table, n, kReduceReach, kReduceReach, quorin::MirrorWhole);
}

// Expand reads input samples -1 .. m + 1; input j sits at output position 2j, mirrored about
// the first and the last output sample.
bool ExpandTable(std::vector<std::int32_t>& table, std::int64_t n) {
    const std::int64_t m = (n + 1) >> 1;
    try {
        table.resize(std::size_t(m + 3));
    } catch (...) {
        return false;
    }
    for (std::int64_t j = -1; j <= m + 1; ++j)
        table[std::size_t(j + 1)] = static_cast<std::int32_t>(quorin::MirrorWhole(2 * j, n) / 2);
    return true;
}

// The separable reduce and expand of one level, through row pointers: the vertical steps run
// along whole rows so the inner loops stay unit-stride.
class Resampler {
  public:
    explicit Resampler(const PyramidWeights& w) {
        for (int i = 0; i < 4; ++i) {
            m_w[i] = w.w[i];
            m_c[i] = 2.0f * w.w[i];
        }
    }

    // The level (C x R) reduced into child: each row reduced horizontally (the rows of H,
    // (C+1)>>1 wide), then H's columns vertically. H is never held whole: its rows are made on
    // demand into a ring of 8, enough for the 7 rows one output row reads.
    bool Reduce(const C2DArr<float>& level, C2DArr<float>& child) {
        const std::int64_t C = level.Width(), R = level.Height(), width = child.Width();
        std::vector<std::int32_t> columns, rows;
        if (!ReduceTable(columns, C) || !ReduceTable(rows, R) || !Line(C + 2 * kReduceReach) ||
            !Ring(width))
            return false;
        const std::int64_t m = (R + 1) >> 1;
        for (std::int64_t k = 0; k < m; ++k) {
            const float* r[7];
            for (int t = 0; t < 7; ++t) {
                const std::int64_t y = rows[std::size_t(2 * k + t)];
                float* slot = &m_ring[std::size_t(y % kRing) * std::size_t(width)];
                if (m_tags[std::size_t(y % kRing)] != y) {
                    Pad(level.Row(std::uint32_t(y)), columns, kReduceReach, C);
                    ReduceLinePadded(m_line.data() + kReduceReach, slot, C);
                    m_tags[std::size_t(y % kRing)] = y;
                }
                r[t] = slot;
            }
            float* out = child.Row(std::uint32_t(k));
            const float w0 = m_w[0], w1 = m_w[1], w2 = m_w[2];
            if (m_w[3] == 0.0f) {
                for (std::int64_t x = 0; x < width; ++x)
                    out[x] = w0 * r[3][x] + w1 * (r[2][x] + r[4][x]) + w2 * (r[1][x] + r[5][x]);
            } else {
                for (std::int64_t x = 0; x < width; ++x)
                    out[x] = ReduceAt(r[3][x], r[2][x], r[4][x], r[1][x], r[5][x], r[0][x], r[6][x],
                                      m_w);
            }
        }
        return true;
    }

    // child expanded back to C x R and subtracted from (sign -1) or added to (sign +1) level:
    // row y of the vertical expansion is made into a line, then expanded along the row.
    bool Expand(const C2DArr<float>& child, C2DArr<float>& level, int sign) {
        const std::int64_t C = level.Width(), R = level.Height(), width = child.Width();
        std::vector<std::int32_t> rows, columns;
        if (!ExpandTable(rows, R) || !ExpandTable(columns, C) || !Line(C + 8) || !Ring(width))
            return false;
        float* line = m_ring.data();
        for (std::int64_t y = 0; y < R; ++y) {
            const std::int64_t k = y >> 1;
            if (R <= 2) {  // a line of one or two samples expands to copies of its one sample
                std::memcpy(line, child.Row(0), std::size_t(width) * sizeof(float));
            } else {
                const float* a = child.Row(std::uint32_t(rows[std::size_t(k)]));      // k - 1
                const float* b = child.Row(std::uint32_t(rows[std::size_t(k + 1)]));  // k
                const float* c = child.Row(std::uint32_t(rows[std::size_t(k + 2)]));  // k + 1
                if ((y & 1) == 0) {
                    for (std::int64_t x = 0; x < width; ++x)
                        line[x] = m_c[0] * b[x] + m_c[2] * (a[x] + c[x]);
                } else {
                    const float* d = child.Row(std::uint32_t(rows[std::size_t(k + 3)]));  // k + 2
                    if (m_c[3] == 0.0f) {
                        for (std::int64_t x = 0; x < width; ++x) line[x] = m_c[1] * (b[x] + c[x]);
                    } else {
                        for (std::int64_t x = 0; x < width; ++x)
                            line[x] = m_c[1] * (b[x] + c[x]) + m_c[3] * (a[x] + d[x]);
                    }
                }
            }
            Pad(line, columns, 1, width);
            float* out = level.Row(std::uint32_t(y));
            if (C <= 2) {
                float expanded[2] = {0.0f, 0.0f};
                ExpandLinePadded(m_line.data() + 1, expanded, C);
                for (std::int64_t x = 0; x < C; ++x)
                    out[x] = sign < 0 ? out[x] - expanded[std::size_t(x)]
                                      : out[x] + expanded[std::size_t(x)];
                continue;
            }
            // Even and odd outputs in two unit-stride runs, then merged into the level.
            ExpandHalves(m_line.data() + 1, width);
            const float* even = m_even.data();
            const float* odd = m_odd.data();
            const std::int64_t pairs = C >> 1;
            if (sign < 0) {
                for (std::int64_t k2 = 0; k2 < pairs; ++k2) {
                    out[2 * k2] = out[2 * k2] - even[k2];
                    out[2 * k2 + 1] = out[2 * k2 + 1] - odd[k2];
                }
                if (C & 1) out[C - 1] = out[C - 1] - even[pairs];
            } else {
                for (std::int64_t k2 = 0; k2 < pairs; ++k2) {
                    out[2 * k2] = out[2 * k2] + even[k2];
                    out[2 * k2 + 1] = out[2 * k2 + 1] + odd[k2];
                }
                if (C & 1) out[C - 1] = out[C - 1] + even[pairs];
            }
        }
        return true;
    }

    // m_line = the n samples of `in` with the border samples of `table` around them (the
    // table's entries between the borders are the identity).
    void Pad(const float* in, const std::vector<std::int32_t>& table, std::int64_t before,
             std::int64_t n) {
        std::memcpy(m_line.data() + before, in, std::size_t(n) * sizeof(float));
        for (std::int64_t k = 0; k < before; ++k)
            m_line[std::size_t(k)] = in[table[std::size_t(k)]];
        for (std::size_t k = std::size_t(before + n); k < table.size(); ++k)
            m_line[k] = in[table[k]];
    }

    // m_even[k] = output 2k and m_odd[k] = output 2k + 1 of the expansion of the m samples at
    // in (in[-1] and in[m], in[m + 1] mirrored).
    void ExpandHalves(const float* in, std::int64_t m) {
        const float c0 = m_c[0], c1 = m_c[1], c2 = m_c[2], c3 = m_c[3];
        float* even = m_even.data();
        float* odd = m_odd.data();
        for (std::int64_t k = 0; k < m; ++k) even[k] = c0 * in[k] + c2 * (in[k - 1] + in[k + 1]);
        if (c3 == 0.0f) {
            for (std::int64_t k = 0; k < m; ++k) odd[k] = c1 * (in[k] + in[k + 1]);
        } else {
            for (std::int64_t k = 0; k < m; ++k)
                odd[k] = c1 * (in[k] + in[k + 1]) + c3 * (in[k - 1] + in[k + 2]);
        }
    }

    // in: the line with kReduceReach mirrored samples either side.
    // The samples are first split into even and odd runs so that the sums run unit-stride:
    // in[2k] = E[k], in[2k - 1] = O[k - 1], in[2k + 1] = O[k] and so on.
    void ReduceLinePadded(const float* in, float* out, std::int64_t n) {
        const std::int64_t m = (n + 1) >> 1;
        float* E = m_even.data() + 1;  // E[-1] .. E[m]
        float* O = m_odd.data() + 2;   // O[-2] .. O[m]
        for (std::int64_t k = -1; k <= m; ++k) E[k] = in[2 * k];
        for (std::int64_t k = -2; k <= m; ++k) O[k] = in[2 * k + 1];
        const float w0 = m_w[0], w1 = m_w[1], w2 = m_w[2], w3 = m_w[3];
        if (w3 == 0.0f) {
            for (std::int64_t k = 0; k < m; ++k)
                out[k] = w0 * E[k] + w1 * (O[k - 1] + O[k]) + w2 * (E[k - 1] + E[k + 1]);
        } else {
            for (std::int64_t k = 0; k < m; ++k)
                out[k] =
                    ReduceAt(E[k], O[k - 1], O[k], E[k - 1], E[k + 1], O[k - 2], O[k + 1], m_w);
        }
    }

    // in: the m input samples with one mirrored sample before and two after.
    void ExpandLinePadded(const float* in, float* out, std::int64_t n) const {
        if (n <= 2) {
            for (std::int64_t x = 0; x < n; ++x) out[x] = in[0];
            return;
        }
        const std::int64_t m = (n + 1) >> 1;
        for (std::int64_t k = 0; k < m; ++k) {
            out[2 * k] = m_c[0] * in[k] + m_c[2] * (in[k - 1] + in[k + 1]);
            if (2 * k + 1 < n)
                out[2 * k + 1] = m_c[1] * (in[k] + in[k + 1]) + m_c[3] * (in[k - 1] + in[k + 2]);
        }
    }

    float* LineData() { return m_line.data(); }

    bool Ring(std::int64_t width) {
        try {
            m_ring.assign(std::size_t(kRing) * std::size_t(width), 0.0f);
            m_tags.assign(kRing, -1);
        } catch (...) {
            return false;
        }
        return true;
    }

    // Work line and the two half runs for lines of up to n samples.
    bool Line(std::int64_t n) {
        try {
            if (std::int64_t(m_line.size()) < n) m_line.resize(std::size_t(n));
            if (std::int64_t(m_even.size()) < n / 2 + 4) m_even.resize(std::size_t(n / 2 + 4));
            if (std::int64_t(m_odd.size()) < n / 2 + 4) m_odd.resize(std::size_t(n / 2 + 4));
        } catch (...) {
            return false;
        }
        return true;
    }

    float m_w[4];
    float m_c[4];
    std::vector<float> m_line;
    std::vector<float> m_even;
    std::vector<float> m_odd;
    std::vector<float> m_ring;         // kRing rows of H (reduce) or one line (expand)
    std::vector<std::int64_t> m_tags;  // the row of H each ring slot holds, -1 none
};

std::unique_ptr<C2DArr<float>> MakeArray(std::uint32_t width, std::uint32_t height) {
    std::unique_ptr<C2DArr<float>> array(new (std::nothrow) C2DArr<float>);
    if (!array || !array->Create(width, height, 1, nullptr)) return nullptr;
    return array;
}

}  // namespace

namespace quorin {

const PyramidWeights* PyramidFilterWeights(std::uint32_t index) {
    return index < std::size(kWeights) ? &kWeights[index] : nullptr;
}

void PyramidReduceLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w) {
    std::vector<std::int32_t> table;
    if (in == nullptr || out == nullptr || n < 1 || !ReduceTable(table, n)) return;
    Resampler resampler(w);
    if (!resampler.Line(n + 2 * kReduceReach)) return;
    resampler.Pad(in, table, kReduceReach, n);
    resampler.ReduceLinePadded(resampler.LineData() + kReduceReach, out, n);
}

void PyramidExpandLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w) {
    std::vector<std::int32_t> table;
    if (in == nullptr || out == nullptr || n < 1 || !ExpandTable(table, n)) return;
    std::vector<float> line(table.size());
    for (std::size_t k = 0; k < table.size(); ++k) line[k] = in[table[k]];
    Resampler(w).ExpandLinePadded(line.data() + 1, out, n);
}

bool PyramidReduce(const C2DArr<float>& level, C2DArr<float>& child, const PyramidWeights& w) {
    if (!level.IsValid() || !child.IsValid() || child.Width() != (level.Width() + 1) >> 1 ||
        child.Height() != (level.Height() + 1) >> 1)
        return false;
    return Resampler(w).Reduce(level, child);
}

bool PyramidExpand(const C2DArr<float>& child, C2DArr<float>& level, int sign,
                   const PyramidWeights& w) {
    if (!level.IsValid() || !child.IsValid() || child.Width() != (level.Width() + 1) >> 1 ||
        child.Height() != (level.Height() + 1) >> 1)
        return false;
    return Resampler(w).Expand(child, level, sign);
}

void MapLevel(C2DArr<float>& level, float noiseThreshold, float largeThreshold, float noiseGain,
              float gain, float boost) {
    const double tn = noiseThreshold, tl = largeThreshold, gn = noiseGain, g = gain, gb = boost;
    const double middle = (gn - g) * tn, top = (g - gb) * tl + (gn - g) * tn;
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        float* row = level.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const double v = row[x], a = std::fabs(v);
            double mapped;
            if (a < tn)
                mapped = a * gn;
            else if (a < tl)
                mapped = a * g + middle;
            else
                mapped = a * gb + top;
            row[x] = static_cast<float>(v < 0.0 ? -mapped : mapped);
        }
    }
}

void MapLevelFixed(C2DArr<float>& level, int i) {
    static constexpr double kGain[kPyramidLevels] = {2.8, 3.2, 3.0, 2.75, 2.5, 2.2};
    static constexpr double kThreshold[kPyramidLevels] = {10, 25, 25, 25, 25, 25};
    if (i < 0 || i >= kPyramidLevels) return;
    const double G = kGain[i], T = kThreshold[i];
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        float* row = level.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const double v = row[x], a = std::fabs(v);
            const double mapped = a < T ? a * G : a - T + G * T;
            row[x] = static_cast<float>(v < 0.0 ? -mapped : mapped);
        }
    }
}

double EstimateNoise(const C2DArr<float>& level) {
    const std::int64_t C = level.Width(), R = level.Height();
    if (!level.IsValid()) return 1.0;
    const auto b = static_cast<std::int64_t>(std::trunc(double(std::min(C, R)) * 0.025));
    const std::int64_t y0 = b, y1 = R - b, x0 = b, x1 = C - b;
    if (y0 >= y1 || x0 >= x1) return 1.0;
    // Variance of the values with -limit < v < limit (all when limit is null), sampling every
    // `step`-th row and column; not a number when nothing is sampled.
    const auto variance = [&](std::int64_t step, const double* limit) {
        double sum = 0.0, squares = 0.0;
        std::uint64_t count = 0;
        for (std::int64_t y = y0; y < y1; y += step) {
            const float* row = level.Row(std::uint32_t(y));
            for (std::int64_t x = x0; x < x1; x += step) {
                const double v = row[x];
                if (limit != nullptr && !(v > -*limit && v < *limit)) continue;
                sum += v;
                squares += v * v;
                ++count;
            }
        }
        if (count == 0) return std::nan("");
        const double mean = sum / double(count);
        return squares / double(count) - mean * mean;
    };
    double s = variance(3, nullptr);
    if (!(s > 1.0)) return 1.0;
    double last = s;
    for (int i = 0; i < 10; ++i) {
        const double t = 3.0 * std::sqrt(s);
        const double next = variance(1, &t);
        // Nothing inside the band (a level far from zero): the estimate stays where it was.
        if (std::isnan(next)) break;
        last = next;
        if (next / s > 0.95) break;
        s = next;
    }
    return last;
}

bool WriteLevel(const C2DArr<float>& level, C2DArr<unsigned short>& target, std::uint32_t top) {
    if (!level.IsValid() || !target.IsValid() || target.Width() < level.Width() ||
        target.Height() < level.Height())
        return false;
    const float limit = static_cast<float>(std::min<std::uint32_t>(top, 65535));
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        const float* in = level.Row(y);
        unsigned short* out = target.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const float v = in[x];
            out[x] = v > 0.0f ? static_cast<unsigned short>(std::trunc(std::min(v, limit))) : 0;
        }
    }
    return true;
}

}  // namespace quorin

// ---- CMRANode ----

CMRANode::~CMRANode() {
    CMRANode::Reset();
}

void CMRANode::Reset() {
    delete m_child;
    m_child = nullptr;
    delete m_data;
    m_data = nullptr;
    m_parent = nullptr;
}

bool CMRANode::CreateData(std::uint32_t width, std::uint32_t height) {
    auto array = MakeArray(width, height);
    if (!array) return false;
    m_data = array.release();
    return true;
}

bool CMRANode::Init(const C2DArr<float>& source) {
    Reset();
    if (!source.IsValid() || !CreateData(source.Width(), source.Height())) return false;
    return m_data->CopyFrom(source) || (Reset(), false);
}

bool CMRANode::Init(const C2DArr<unsigned short>& source, const float* table,
                    std::uint32_t tableEntries) {
    Reset();
    if (!source.IsValid() || table == nullptr || tableEntries == 0 ||
        !CreateData(source.Width(), source.Height()))
        return false;
    for (std::uint32_t y = 0; y < source.Height(); ++y) {
        const unsigned short* in = source.Row(y);
        float* out = m_data->Row(y);
        for (std::uint32_t x = 0; x < source.Width(); ++x)
            out[x] = table[std::min<std::uint32_t>(in[x], tableEntries - 1)];
    }
    return true;
}

bool CMRANode::Init(const C2DArr<unsigned short>& source) {
    Reset();
    if (!source.IsValid() || !CreateData(source.Width(), source.Height())) return false;
    for (std::uint32_t y = 0; y < source.Height(); ++y) {
        const unsigned short* in = source.Row(y);
        float* out = m_data->Row(y);
        for (std::uint32_t x = 0; x < source.Width(); ++x) out[x] = in[x];
    }
    return true;
}

bool CMRANode::CopyFrom(const CMRANode&) {
    return false;
}

std::uint32_t CMRANode::NextWidth() const {
    return m_data != nullptr ? (m_data->Width() + 1) >> 1 : 0;
}
std::uint32_t CMRANode::NextHeight() const {
    return m_data != nullptr ? (m_data->Height() + 1) >> 1 : 0;
}

int CMRANode::Level() const {
    int level = 0;
    for (const CMRANode* node = m_parent; node != nullptr; node = node->m_parent) ++level;
    return level;
}

// ---- CPyramid ----

bool CPyramid::CreateChild() {
    delete m_child;
    m_child = nullptr;
    if (m_data == nullptr) return false;
    auto* child = new (std::nothrow) CPyramid(m_filterIndex);
    if (child == nullptr) return false;
    child->m_parent = this;
    m_child = child;
    return child->CreateData(NextWidth(), NextHeight());
}

bool CPyramid::Decompose() {
    const PyramidWeights* weights = quorin::PyramidFilterWeights(m_filterIndex);
    if (m_data == nullptr || weights == nullptr) return false;
    if (!CreateChild()) return false;
    Resampler resampler(*weights);
    return resampler.Reduce(*m_data, *m_child->Data()) &&
           resampler.Expand(*m_child->Data(), *m_data, -1);
}

bool CPyramid::Reconstruct() {
    const PyramidWeights* weights = quorin::PyramidFilterWeights(m_filterIndex);
    if (m_data == nullptr || weights == nullptr) return false;
    if (m_child == nullptr) return true;  // the coarsest node has nothing to merge
    // Each node after its child: the chain is merged from the coarsest level upwards.
    if (m_child->Child() != nullptr && !m_child->Reconstruct()) return false;
    C2DArr<float>* child = m_child->Data();
    if (child == nullptr || child->Width() != NextWidth() || child->Height() != NextHeight())
        return false;
    if (!Resampler(*weights).Expand(*child, *m_data, +1)) return false;
    delete m_child;
    m_child = nullptr;
    return true;
}

bool CPyramid::CopyFrom(const CMRANode& other) {
    CMRANode* parent = m_parent;
    Reset();
    m_parent = parent;
    if (other.Data() == nullptr) return false;
    m_filterIndex = other.FilterIndex();
    if (!CreateData(other.Data()->Width(), other.Data()->Height()) ||
        !m_data->CopyFrom(*other.Data()))
        return false;
    if (other.Child() == nullptr) return true;
    auto* child = new (std::nothrow) CPyramid(m_filterIndex);
    if (child == nullptr) return false;
    child->m_parent = this;
    m_child = child;
    return child->CopyFrom(*other.Child());
}

// ---- CPyramidFilter ----

namespace {

bool DecomposeChain(CPyramid& root) {
    CMRANode* node = &root;
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        if (node == nullptr || !node->Decompose()) return false;
        node = node->Child();
    }
    return true;
}

// Node k steps below the root; null past the chain's end.
CMRANode* NodeAt(CMRANode* root, int k) {
    for (int i = 0; i < k && root != nullptr; ++i) root = root->Child();
    return root;
}

}  // namespace

CPyramidFilter::CPyramidFilter(std::uint32_t bits) : m_bits(bits) {}

CPyramidFilter::~CPyramidFilter() {
    Release();
}

void CPyramidFilter::Release() {
    m_state = 0;
    delete m_root;
    m_root = nullptr;
    m_source = nullptr;
}

int CPyramidFilter::Decompose(const C2DArr<unsigned short>& source) {
    if (m_state != 0) {
        m_state = -1;
        return -1;
    }
    m_source = &source;
    m_root = new (std::nothrow) CPyramid(0);
    if (m_root == nullptr || !m_root->Init(source) || !DecomposeChain(*m_root)) {
        delete m_root;
        m_root = nullptr;
        m_state = -1;
        return -1;
    }
    m_state = 1;
    return 0;
}

double CPyramidFilter::NoiseEstimate(int k) const {
    if (m_state != 1 || k < 0 || k >= quorin::kPyramidLevels) return -1.0;
    const CMRANode* node = NodeAt(m_root, k);
    return node != nullptr && node->Data() != nullptr ? quorin::EstimateNoise(*node->Data()) : -1.0;
}

int CPyramidFilter::Enhance(const SCRFilterParam* records) {
    if (m_state != 1 || records == nullptr) {
        m_state = -1;
        return -1;
    }
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        CMRANode* node = NodeAt(m_root, i);
        if (node == nullptr || node->Data() == nullptr || node->Child() == nullptr) continue;
        const SCRFilterParam& r = records[i];
        quorin::MapLevel(*node->Data(), r.NOISETHRESHOLD,
                         std::max(r.LARGESCALETHRESHOLD, r.NOISETHRESHOLD),
                         r.NOISESUPPRESSFACTOR * r.ENHFACTOR, r.ENHFACTOR,
                         std::min(r.LARGESCALEBOOSTFACTOR, r.ENHFACTOR));
    }
    return 0;
}

int CPyramidFilter::Reconstruct(C2DArr<unsigned short>& target) {
    const std::uint32_t bits = std::clamp<std::uint32_t>(m_bits, 1, 16);
    if (m_root == nullptr || m_root->Data() == nullptr || !target.IsValid() ||
        target.Width() < m_root->Data()->Width() || target.Height() < m_root->Data()->Height() ||
        !m_root->Reconstruct() || !quorin::WriteLevel(*m_root->Data(), target, (1u << bits) - 1)) {
        Release();
        m_state = -1;
        return -1;
    }
    Release();
    return 0;
}

bool PyramidFixedGainEnhance(C2DArr<unsigned short>& target, const C2DArr<unsigned short>& source) {
    if (!source.IsValid() || !target.IsValid() || target.Width() < source.Width() ||
        target.Height() < source.Height())
        return false;
    CPyramid root(0);
    if (!root.Init(source) || !DecomposeChain(root)) return false;
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        CMRANode* node = NodeAt(&root, i);
        if (node != nullptr && node->Child() != nullptr) quorin::MapLevelFixed(*node->Data(), i);
    }
    return root.Reconstruct() && quorin::WriteLevel(*root.Data(), target, 4095);
}
