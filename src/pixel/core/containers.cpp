// The members of the vector and matrix templates that take and give back global blocks, and the
// one instantiation of each element type.
#include "pixel/core/containers.h"

#include <quorin/matrix.h>
#include <quorin/vector.h>

#include "records/dib/dibbuffer.h"

template <class T, class I>
void CTVector<T, I>::Release(bool keep) {
    if (!keep && !m_noFree) quorin::FreeLockedBlock(m_data);
    m_data = nullptr;
    m_size = m_first = m_last = 0;
    m_noFree = m_wraps = false;
}

template <class T, class I>
bool CTVector<T, I>::Allocate(I n) {
    if (n == 0) return false;
    T* data = static_cast<T*>(quorin::AllocLockedBlock(std::uint64_t(n) * sizeof(T)));
    if (data == nullptr) return false;
    SetExtent(n, data);
    return true;
}

template <class T, class I>
CTMatrix<T, I>::CTMatrix(I rows, I columns, bool external) {
    const std::uint64_t bytes = BlockBytes(rows, columns);
    T* block = bytes != 0 ? static_cast<T*>(quorin::AllocLockedBlock(bytes)) : nullptr;
    if (block != nullptr && !Attach(rows, columns, block, external)) quorin::FreeLockedBlock(block);
}

template <class T, class I>
void CTMatrix<T, I>::Release() {
    delete[] m_rowTable;
    m_rowTable = nullptr;
    if (!m_external) quorin::FreeLockedBlock(m_block);
    m_block = nullptr;
    m_rows = m_columns = 0;
    m_external = false;
}

template <class T, class I>
std::uint64_t CTMatrix<T, I>::BlockBytes(I rows, I columns) {
    const std::uint64_t bytes = std::uint64_t(rows) * columns * sizeof(T);
    return bytes <= quorin::kMaxBlockBytes ? bytes : 0;
}

template class CTVector<unsigned char>;
template class CTVector<unsigned short>;
template class CTVector<unsigned int>;
template class CTVector<double>;
template class CTMatrix<unsigned char>;
template class CTMatrix<unsigned short>;
template class CTMatrix<unsigned int>;
template class CTMatrix<double>;
