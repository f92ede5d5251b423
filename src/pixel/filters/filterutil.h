// Small helpers shared by the 16-bit filters, the multi-band enhancement and the pyramid: sizes
// checked in 64 bits, work buffers that report failure instead of throwing and border index
// tables.
#pragma once
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "records/dib/dibbuffer.h"

namespace quorin {

// width x height elements of `elementBytes` each, or 0 when a side is below 1 or above
// kMaxImageSide or the bytes exceed kMaxBlockBytes.
inline std::uint64_t ImageElements(std::int64_t width, std::int64_t height,
                                   std::uint64_t elementBytes = 2) {
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return 0;
    const std::uint64_t count = std::uint64_t(width) * std::uint64_t(height);
    return count * elementBytes <= kMaxBlockBytes ? count : 0;
}

// A work buffer of n value-initialised elements; null when it cannot be had.
template <class T>
std::unique_ptr<T[]> WorkBuffer(std::uint64_t n) {
    if (n == 0 || n > kMaxBlockBytes / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

// A work buffer of at least n elements that the calling thread keeps between calls, so that a
// filter run again on images of the same size neither allocates nor clears it; its contents are
// what the last user left. Each Tag names one buffer: a function must not hand its buffer to
// code that takes the same one. Null when it cannot be had.
template <class T, class Tag>
T* ThreadWorkBuffer(std::uint64_t n) {
    thread_local std::vector<T> buffer;
    if (n == 0 || n > kMaxBlockBytes / sizeof(T)) return nullptr;
    if (buffer.size() < n) {
        try {
            buffer = std::vector<T>();  // the old block goes before the larger one comes
            buffer.resize(n);
        } catch (...) {
            return nullptr;
        }
    }
    return buffer.data();
}

// Index i folded into 0..n-1 by mirroring about the end samples themselves, the first sample
// beyond an end being the end sample (.. b a | a b c .. c | c b ..); folds as often as needed.
inline std::int64_t MirrorHalf(std::int64_t i, std::int64_t n) {
    const std::int64_t period = 2 * n;
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - 1 - i;
}

// Index i folded into 0..n-1 by mirroring about the end samples (.. c b | a b c .. | b a ..).
inline std::int64_t MirrorWhole(std::int64_t i, std::int64_t n) {
    if (n <= 1) return 0;
    const std::int64_t period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - i;
}

// Border table of a line of n samples extended by `before` and `after` samples: entry k is the
// source index of padded position k (position `before` is sample 0).
template <class Fold>
bool BorderTable(std::vector<std::int32_t>& table, std::int64_t n, std::int64_t before,
                 std::int64_t after, Fold fold) {
    try {
        table.resize(std::size_t(before + n + after));
    } catch (...) {
        return false;
    }
    for (std::int64_t k = 0; k < before + n + after; ++k)
        table[std::size_t(k)] = static_cast<std::int32_t>(fold(k - before, n));
    return true;
}

}  // namespace quorin
