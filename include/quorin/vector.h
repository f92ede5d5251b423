// CTVector: one run of elements in a locked, zero-filled global block (so that it can pass to
// and from an SImage without copying), or a view over a caller's elements.
#pragma once
#include <quorin/export.h>

#include <cstdint>
#include <cstring>

template <class T, class I = unsigned int>
class CTVector {
  public:
    CTVector() = default;
    // n zero-filled elements; `keep`: the block is never freed by this vector.
    explicit CTVector(I n, bool keep = false) : m_noFree(keep) { Allocate(n); }
    // wrap: the vector takes `source` as its data (and frees it on release unless `keep`, when
    // it is a global block); otherwise n elements are copied from `source`.
    CTVector(I n, T* source, bool wrap, bool keep = false) : m_noFree(keep) {
        if (wrap) {
            Wrap(n, source, keep);
        } else if (Allocate(n) && source != nullptr) {
            std::memcpy(m_data, source, std::size_t(n) * sizeof(T));
        }
    }
    CTVector(const CTVector& other) { CopyFrom(other); }
    CTVector& operator=(const CTVector& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    ~CTVector() { Release(); }

    // Address of element i; an index past the end is masked with the last index, so it never
    // leaves the block. Null for an empty vector.
    T* At(I i) const {
        if (m_data == nullptr || m_size == 0) return nullptr;
        return m_data + (i <= m_last ? i : (i & m_last));
    }
    T& operator[](I i) const { return m_data[i]; }  // unchecked, for loops within Size()

    // Frees the block unless `keep` or the no-free flag is set, then empties the vector.
    void Release(bool keep = false);

    // Releases, then views n elements at `data` (freed on release unless `keep`).
    void Wrap(I n, T* data, bool keep) {
        Release();
        m_noFree = keep;
        m_wraps = true;
        if (data != nullptr && n > 0) SetExtent(n, data);
    }

    I Size() const { return m_size; }
    I First() const { return m_first; }
    I Last() const { return m_last; }
    bool IsEmpty() const { return m_size == 0; }
    bool Wraps() const { return m_wraps; }
    bool NoFree() const { return m_noFree; }
    void SetNoFree(bool keep) { m_noFree = keep; }
    T* Data() const { return m_data; }

  private:
    // n zero-filled elements in a new locked global block; false for 0 or on failure.
    bool Allocate(I n);
    void SetExtent(I n, T* data) {
        m_size = n;
        m_first = 0;
        m_last = n - 1;
        m_data = data;
    }
    void CopyFrom(const CTVector& other) {
        if (other.m_data != nullptr && Allocate(other.m_size))
            std::memcpy(m_data, other.m_data, std::size_t(m_size) * sizeof(T));
    }

    I m_size = 0;
    I m_first = 0;
    I m_last = 0;
    bool m_noFree = false;
    bool m_wraps = false;
    T* m_data = nullptr;
};

// The library builds the vectors the statistics and their histogram work with, of doubles and of
// bytes (the rows of an 8-bit matrix); no other element type is built for other programs.
extern template class QUORIN_EXPORT CTVector<unsigned char>;
extern template class QUORIN_EXPORT CTVector<double>;
