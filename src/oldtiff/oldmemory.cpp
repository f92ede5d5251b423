// Memory layer of the older-file readers.
#include "oldtiff/oldmemory.h"

#include <cstring>

#include "platform/core/notify.h"

namespace quorin {

void* OldAllocLocked(std::size_t bytes) {
    win::HGLOBAL block = win::GlobalAlloc(win::GHND, bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        win::Notify("GlobalAlloc", "Erreur Allocation");
        return nullptr;
    }
    void* data = win::GlobalLock(block);
    if (data == nullptr) {
        win::Notify("GlobalLock", "Erreur Allocation");
        win::GlobalFree(block);
        return nullptr;
    }
    return data;
}

void OldFreeLocked(void* locked) {
    if (locked == nullptr) return;
    win::HGLOBAL block = win::GlobalHandle(locked);
    if (block == nullptr) {
        win::Notify("GlobalHandle", "Erreur Handle");
        return;
    }
    while (win::GlobalUnlock(block)) win::Notify("GlobalUnlock", "Encore locké");
    if (win::GlobalFree(block) != nullptr) win::Notify("GlobalFree", "Pas libéré");
}

bool COldBlock::Allocate(std::size_t bytes) {
    Free();
    m_data = OldAllocLocked(bytes);
    m_size = m_data != nullptr ? bytes : 0;
    return m_data != nullptr;
}

bool COldBlock::Grow(std::size_t bytes) {
    if (bytes <= m_size && m_data != nullptr) return true;
    void* larger = OldAllocLocked(bytes);
    if (larger == nullptr) return false;
    if (m_data != nullptr && m_size > 0) std::memcpy(larger, m_data, m_size);
    Free();
    m_data = larger;
    m_size = bytes;
    return true;
}

void COldBlock::Free() {
    OldFreeLocked(m_data);
    m_data = nullptr;
    m_size = 0;
}

void* COldBlock::Release() {
    void* data = m_data;
    m_data = nullptr;
    m_size = 0;
    return data;
}

}  // namespace quorin
