// CTMatrix: rows x columns elements in one contiguous locked global block, row after row, with
// one view vector per row. Pixel (row, column) is element column of row `row`, rows top-down.
// A block handed to or taken from an SImage is marked external and is then never freed here.
#pragma once
#include <quorin/export.h>
#include <quorin/vector.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

template <class T, class I = unsigned int>
class CTMatrix {
  public:
    CTMatrix() = default;
    // One zero-filled block; `external`: the block is never freed by this matrix.
    CTMatrix(I rows, I columns, bool external = false);
    // Over a caller's locked block of rows x columns elements (the pixel block of an SImage):
    // with `external` false the matrix adopts it and frees it when released.
    CTMatrix(I rows, I columns, T* block, bool external) {
        if (block != nullptr && BlockBytes(rows, columns) != 0)
            Attach(rows, columns, block, external);
    }
    CTMatrix(const CTMatrix& other) { CopyFrom(other); }
    CTMatrix& operator=(const CTMatrix& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    ~CTMatrix() { Release(); }

    // Frees the block (unless external) and the row views; the matrix is then 0 x 0.
    void Release();

    I Rows() const { return m_rows; }
    I Columns() const { return m_columns; }
    bool IsEmpty() const { return m_block == nullptr; }
    bool IsExternal() const { return m_external; }
    void SetExternal(bool external) { m_external = external; }
    T* Data() const { return m_block; }
    // The view of row r; null outside the matrix.
    CTVector<T, I>* Row(I r) const { return r < m_rows ? &m_rowTable[r] : nullptr; }
    // Address of the first element of row r (unchecked, for loops within Rows()).
    T* RowData(I r) const { return m_block + std::size_t(r) * m_columns; }
    // Address of element (r, c); null outside the matrix.
    T* At(I r, I c) const { return r < m_rows && c < m_columns ? RowData(r) + c : nullptr; }

  private:
    // rows x columns elements in bytes; 0 when that is more than a block may hold.
    static std::uint64_t BlockBytes(I rows, I columns);
    bool Attach(I rows, I columns, T* block, bool external) {
        auto* table = new (std::nothrow) CTVector<T, I>[rows];
        if (table == nullptr) return false;
        for (I r = 0; r < rows; ++r) table[r].Wrap(columns, block + std::size_t(r) * columns, true);
        m_rowTable = table;
        m_block = block;
        m_rows = rows;
        m_columns = columns;
        m_external = external;
        return true;
    }
    void CopyFrom(const CTMatrix& other) {
        CTMatrix copy(other.m_rows, other.m_columns);
        if (copy.IsEmpty()) return;
        std::memcpy(copy.m_block, other.m_block,
                    std::size_t(other.m_rows) * other.m_columns * sizeof(T));
        Swap(copy);
    }
    void Swap(CTMatrix& other) {
        std::swap(m_rows, other.m_rows);
        std::swap(m_columns, other.m_columns);
        std::swap(m_external, other.m_external);
        std::swap(m_rowTable, other.m_rowTable);
        std::swap(m_block, other.m_block);
    }

    I m_rows = 0;
    I m_columns = 0;
    bool m_external = false;
    CTVector<T, I>* m_rowTable = nullptr;  // views over the block, owned
    T* m_block = nullptr;                  // the pixels, owned unless external
};

// The library builds the matrices the statistics work with: of doubles, and of bytes (the 8-bit
// pixels a histogram counts); no other element type is built for other programs.
extern template class QUORIN_EXPORT CTMatrix<unsigned char>;
extern template class QUORIN_EXPORT CTMatrix<double>;
