// CMemBlock, C2DArr and CImage: the plain heap block and the two-dimensional arrays with a row
// table that the pyramid enhancement works on, either owning their rows or viewing a caller's.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "records/dib/dibbuffer.h"

// A block of n elements from the heap; released only when owned.
template <class T>
class CMemBlock {
  public:
    CMemBlock() = default;
    CMemBlock(const CMemBlock&) = delete;
    CMemBlock& operator=(const CMemBlock&) = delete;
    virtual ~CMemBlock() { Release(); }

    virtual void Release() {
        if (m_owns) delete[] m_data;
        m_data = nullptr;
        m_bytes = 0;
        m_owns = false;
    }
    virtual bool IsValid() const { return m_data != nullptr; }
    // Releases, then takes n zero-filled elements; false (and empty) when they cannot be had.
    virtual bool Allocate(std::size_t n) {
        Release();
        if (n == 0 || n > quorin::kMaxBlockBytes / sizeof(T)) return false;
        m_data = new (std::nothrow) T[n]();
        if (m_data == nullptr) return false;
        m_bytes = n * sizeof(T);
        m_owns = true;
        return true;
    }

    T* Data() const { return m_data; }
    std::size_t Bytes() const { return m_bytes; }

  private:
    T* m_data = nullptr;
    std::size_t m_bytes = 0;
    bool m_owns = false;
};

// A width x height array reached through a row table. Row stride in bytes is the row's bytes
// rounded up to the alignment (itself rounded up to a multiple of the element size).
template <class T>
class C2DArr {
  public:
    C2DArr() = default;
    C2DArr(const C2DArr&) = delete;
    C2DArr& operator=(const C2DArr&) = delete;
    virtual ~C2DArr() { Release(); }

    virtual void Release() {
        delete m_block;
        m_block = nullptr;
        m_rows = nullptr;
        m_width = m_height = 0;
        m_owns = false;
    }
    // Releases, then makes the row table (and, without external data, the zero-filled rows in
    // the same block); with external data row r starts at external + r x stride bytes.
    virtual bool Create(std::uint32_t width, std::uint32_t height, std::uint32_t alignment,
                        void* external) {
        Release();
        if (width < 1 || width > quorin::kMaxImageSide || height < 1 ||
            height > quorin::kMaxImageSide)
            return false;
        const std::uint64_t stride = Stride(width, alignment);
        constexpr std::uint64_t kUnit = sizeof(std::max_align_t);
        const std::uint64_t tableBytes = AlignUp(std::uint64_t(height) * sizeof(T*), kUnit);
        const std::uint64_t rowBytes = external != nullptr ? 0 : stride * height;
        if (tableBytes + rowBytes > quorin::kMaxBlockBytes) return false;
        auto* block = new (std::nothrow) CMemBlock<std::max_align_t>;
        const std::uint64_t units = (tableBytes + rowBytes + kUnit - 1) / kUnit;
        if (block == nullptr || !block->Allocate(units)) {
            delete block;
            return false;
        }
        auto* base = reinterpret_cast<std::uint8_t*>(block->Data());
        auto** rows = reinterpret_cast<T**>(base);
        // Rows follow the table, starting on a boundary of the stride's alignment.
        std::uint8_t* first =
            external != nullptr ? static_cast<std::uint8_t*>(external) : base + tableBytes;
        for (std::uint32_t r = 0; r < height; ++r)
            rows[r] = reinterpret_cast<T*>(first + r * stride);
        m_block = block;
        m_rows = rows;
        m_width = width;
        m_height = height;
        m_owns = external == nullptr;
        return true;
    }
    virtual bool IsValid() const { return m_rows != nullptr; }
    // Copies the rows of an array of the same size; false otherwise.
    virtual bool CopyFrom(const C2DArr& other) {
        if (!IsValid() || !other.IsValid() || other.m_width != m_width ||
            other.m_height != m_height)
            return false;
        for (std::uint32_t r = 0; r < m_height; ++r)
            std::memcpy(m_rows[r], other.m_rows[r], std::size_t(m_width) * sizeof(T));
        return true;
    }
    // A new array of columns x0..x1-1 and rows y0..y1-1 (clipped to this one): a view over these
    // rows, or with `copy` an owned copy. Null for an empty rectangle or on failure.
    virtual C2DArr* SubArray(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                             bool copy) const {
        if (!IsValid()) return nullptr;
        x0 = std::clamp<std::int64_t>(x0, 0, m_width);
        x1 = std::clamp<std::int64_t>(x1, 0, m_width);
        y0 = std::clamp<std::int64_t>(y0, 0, m_height);
        y1 = std::clamp<std::int64_t>(y1, 0, m_height);
        if (x1 <= x0 || y1 <= y0) return nullptr;
        auto* result = new (std::nothrow) C2DArr;
        if (result == nullptr) return nullptr;
        const auto width = static_cast<std::uint32_t>(x1 - x0);
        const auto height = static_cast<std::uint32_t>(y1 - y0);
        // A view gets its own row table pointing into these rows.
        if (!result->Create(width, height, sizeof(T), copy ? nullptr : m_rows[y0] + x0)) {
            delete result;
            return nullptr;
        }
        for (std::uint32_t r = 0; r < height; ++r) {
            if (copy)
                std::memcpy(result->m_rows[r], m_rows[y0 + r] + x0, std::size_t(width) * sizeof(T));
            else
                result->m_rows[r] = m_rows[y0 + r] + x0;
        }
        return result;
    }

    std::uint32_t Width() const { return m_width; }
    std::uint32_t Height() const { return m_height; }
    bool OwnsRows() const { return m_owns; }
    T* Row(std::uint32_t r) const { return r < m_height ? m_rows[r] : nullptr; }
    T** Rows() const { return m_rows; }

    static std::uint64_t Stride(std::uint32_t width, std::uint32_t alignment) {
        std::uint64_t a = alignment == 0 ? 1 : alignment;
        if (a % sizeof(T) != 0) a *= sizeof(T);
        return AlignUp(std::uint64_t(width) * sizeof(T), a);
    }

  private:
    static std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }

    CMemBlock<std::max_align_t>* m_block = nullptr;  // owned: the row table (and the rows)
    T** m_rows = nullptr;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    bool m_owns = false;
};

// A C2DArr that also knows the bit depth of its values.
template <class T>
class CImage : public C2DArr<T> {
  public:
    CImage() = default;
    std::uint32_t Bits() const { return m_bits; }
    void SetBits(std::uint32_t bits) { m_bits = bits; }
    bool Flag() const { return m_flag; }
    void SetFlag(bool flag) { m_flag = flag; }
    double Value() const { return m_value; }
    void SetValue(double value) { m_value = value; }

  private:
    bool m_flag = false;
    double m_value = -1.0;
    std::uint32_t m_bits = 0;
};
