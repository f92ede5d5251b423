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

#include "pixel/filterutil.h"

namespace quorin {

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

    // out[x] = (sum over t of kernel[t] x source(t)[x]) / sum, for x over the width, truncated.
    // 32-bit sums multiply 16 by 16 bits (the widening multiply vectorises); 64-bit sums take a
    // symmetric kernel's mirrored taps with one product (the integer sum is the same).
    template <class Acc, class Source>
    void Convolve(Acc* acc, Source source, std::uint16_t* out) const {
        const std::size_t width = std::size_t(m_width), n = m_kernel.size();
        const bool paired = m_symmetric && (sizeof(Acc) == 8 || m_smallValues);
        const std::size_t centre = paired ? n / 2 : 0;
        {
            const std::uint16_t* s = source(centre);
            const std::uint16_t k = m_kernel[centre];
            for (std::size_t x = 0; x < width; ++x) acc[x] = Acc(k) * Acc(s[x]);
        }
        if (paired && sizeof(Acc) == 4) {
            for (std::size_t t = 0; t < n / 2; ++t) {
                const std::uint16_t k = m_kernel[t];
                const std::uint16_t* a = source(t);
                const std::uint16_t* b = source(n - 1 - t);
                for (std::size_t x = 0; x < width; ++x)
                    acc[x] += Acc(k) * Acc(static_cast<std::uint16_t>(a[x] + b[x]));
            }
        } else if (paired) {
            for (std::size_t t = 0; t < n / 2; ++t) {
                const Acc k = m_kernel[t];
                const std::uint16_t* a = source(t);
                const std::uint16_t* b = source(n - 1 - t);
                for (std::size_t x = 0; x < width; ++x) acc[x] += k * (Acc(a[x]) + b[x]);
            }
        } else {
            for (std::size_t t = 1; t < n; ++t) {
                const std::uint16_t k = m_kernel[t];
                if (k == 0) continue;
                const std::uint16_t* s = source(t);
                for (std::size_t x = 0; x < width; ++x) acc[x] += Acc(k) * Acc(s[x]);
            }
        }
        if constexpr (sizeof(Acc) == 4) {
            // The quotient (at most 65535) estimated in float is off by at most one; the
            // remainder puts it right, so the result is the exact truncated quotient.
            const auto d = static_cast<std::int32_t>(m_sum);
            const float scale = 2.0f / float(m_sum);
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t v = acc[x];
                std::int32_t q = static_cast<std::int32_t>(float(std::int32_t(v >> 1)) * scale);
                const auto r = static_cast<std::int32_t>(v - std::uint32_t(q) * std::uint32_t(d));
                q += (r >= d) - (r < 0);
                out[x] = static_cast<std::uint16_t>(q);
            }
        } else {
            for (std::size_t x = 0; x < width; ++x)
                out[x] = static_cast<std::uint16_t>(acc[x] / m_sum);
        }
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
    std::unique_ptr<std::uint16_t[]> m_line;
    std::unique_ptr<std::uint32_t[]> m_acc32;
    std::unique_ptr<std::uint64_t[]> m_acc64;
};

}  // namespace quorin
