// The separable integer smoothing behind the 16-bit Gaussian filters: a horizontal and a
// vertical pass, each correlating with an integer kernel (tap i at offset i - n/2, samples beyond
// an end mirrored back into the line) and dividing by the kernel sum with truncation. The
// vertical pass hands each finished row to a sink, so a caller can fuse its own per-pixel step.
// Borders go through index tables; the inner loops run over whole rows without branches.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "pixel/filters/filterutil.h"

namespace quorin {

// One output line of a pass: out[x] = (sum over t of kernel[t] x sources[t][x]) / sum, truncated,
// for x over the width. `paired` adds a symmetric kernel's mirrored taps before the product
// (in 16 bits with 32-bit sums, which needs every value below 2^15).
struct ConvolveJob16 {
    const std::uint16_t* kernel;
    std::size_t n;
    std::uint32_t sum;
    bool paired;
    std::size_t width;
    const std::uint16_t* const* sources;
    std::uint16_t* out;
};
// 32-bit sums, for sum x 65535 below 2^32; `acc` holds width values.
void ConvolveRows16(const ConvolveJob16& job, std::uint32_t* acc);
void ConvolveRows16(const ConvolveJob16& job, std::uint64_t* acc);

class Smoother16 {
  public:
    // False when the kernel is empty, its sum is 0 or the sizes are bad.
    bool Prepare(const std::uint16_t* kernel, int n, std::uint32_t sum, int width, int height) {
        if (kernel == nullptr || n < 1 || sum == 0 || ImageElements(width, height) == 0)
            return false;
        m_kernel.assign(kernel, kernel + n);
        m_symmetric =
            n % 2 == 1 && std::equal(m_kernel.begin(), m_kernel.begin() + n / 2, m_kernel.rbegin());
        m_sum = sum;
        m_width = width;
        m_height = height;
        const std::int64_t before = n / 2, after = n - 1 - n / 2;
        if (!BorderTable(m_rowTable, width, before, after, MirrorHalf) ||
            !BorderTable(m_columnTable, height, before, after, MirrorHalf))
            return false;
        m_line = WorkBuffer<std::uint16_t>(std::uint64_t(width) + n);
        m_acc32 = WorkBuffer<std::uint32_t>(std::uint64_t(width));
        m_acc64 = WorkBuffer<std::uint64_t>(std::uint64_t(width));
        m_rows.assign(std::size_t(height) + n, nullptr);
        m_sources.assign(std::size_t(n), nullptr);
        return m_line && m_acc32 && m_acc64;
    }

    // Both passes: horizontal from src into tmp, vertical from tmp, each output row given to
    // sink(y, row). tmp must hold width x height values and may not be src.
    template <class Sink>
    void Run(const std::uint16_t* src, std::uint16_t* tmp, Sink&& sink) {
        // Values below 2^15 let a symmetric kernel add mirrored samples in 16 bits; the
        // smoothed values never exceed the largest source value.
        std::uint16_t top = 0;
        const std::size_t count = std::size_t(m_width) * std::size_t(m_height);
        for (std::size_t i = 0; i < count; ++i) top = std::max(top, src[i]);
        m_smallValues = top < 0x8000;
        for (int y = 0; y < m_height; ++y)
            Horizontal(src + std::size_t(y) * m_width, tmp + std::size_t(y) * m_width);
        Vertical(tmp, sink);
    }

    // One pass along a line of `width` samples into out.
    void Horizontal(const std::uint16_t* in, std::uint16_t* out) {
        const std::size_t padded = std::size_t(m_width) + m_kernel.size() - 1;
        std::uint16_t* line = m_line.get();
        // The table's entries between the borders are the identity.
        const std::size_t before = m_kernel.size() / 2, width = std::size_t(m_width);
        std::memcpy(line + before, in, width * sizeof(std::uint16_t));
        for (std::size_t k = 0; k < before; ++k) line[k] = in[m_rowTable[k]];
        for (std::size_t k = before + width; k < padded; ++k) line[k] = in[m_rowTable[k]];
        if (Narrow())
            Convolve<std::uint32_t>(
                m_acc32.get(), [line](std::size_t t) { return line + t; }, out);
        else
            Convolve<std::uint64_t>(
                m_acc64.get(), [line](std::size_t t) { return line + t; }, out);
    }

    template <class Sink>
    void Vertical(const std::uint16_t* in, Sink&& sink) {
        const std::size_t n = m_kernel.size();
        std::uint16_t* out = m_line.get();
        for (int y = 0; y < m_height; ++y) {
            for (std::size_t t = 0; t < n; ++t)
                m_rows[t] = in + std::size_t(m_columnTable[std::size_t(y) + t]) * m_width;
            const std::uint16_t* const* rows = m_rows.data();
            if (Narrow())
                Convolve<std::uint32_t>(
                    m_acc32.get(), [rows](std::size_t t) { return rows[t]; }, out);
            else
                Convolve<std::uint64_t>(
                    m_acc64.get(), [rows](std::size_t t) { return rows[t]; }, out);
            sink(y, static_cast<const std::uint16_t*>(out));
        }
    }

  private:
    // A sum of products fits 32 bits when every value is at most 65535.
    bool Narrow() const {
        return std::uint64_t(m_sum) * 65535u <= std::numeric_limits<std::uint32_t>::max();
    }

    // out[x] = (sum over t of kernel[t] x source(t)[x]) / sum, for x over the width.
    template <class Acc, class Source>
    void Convolve(Acc* acc, Source source, std::uint16_t* out) {
        const std::size_t n = m_kernel.size();
        for (std::size_t t = 0; t < n; ++t) m_sources[t] = source(t);
        const ConvolveJob16 job{m_kernel.data(),
                                n,
                                m_sum,
                                m_symmetric && (sizeof(Acc) == 8 || m_smallValues),
                                std::size_t(m_width),
                                m_sources.data(),
                                out};
        ConvolveRows16(job, acc);
    }

    std::vector<std::uint16_t> m_kernel;
    std::uint32_t m_sum = 0;
    bool m_symmetric = false;
    bool m_smallValues = false;  // every value below 2^15 (set by Run)
    int m_width = 0;
    int m_height = 0;
    std::vector<std::int32_t> m_rowTable;     // padded column -> source column
    std::vector<std::int32_t> m_columnTable;  // padded row -> source row
    std::vector<const std::uint16_t*> m_rows;
    std::vector<const std::uint16_t*> m_sources;  // the line of each tap
    std::unique_ptr<std::uint16_t[]> m_line;
    std::unique_ptr<std::uint32_t[]> m_acc32;
    std::unique_ptr<std::uint64_t[]> m_acc64;
};

}  // namespace quorin
