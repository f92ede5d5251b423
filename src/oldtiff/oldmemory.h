// Memory layer of the older-file readers: global blocks whose failures are also shown to the
// user in message boxes (French texts, the failing function's name as caption).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/core/globalmem.h"

namespace quorin {

// A moveable, zero-filled block, locked for the owner's lifetime and freed with it.
class COldBlock {
  public:
    COldBlock() = default;
    explicit COldBlock(std::size_t bytes) { Allocate(bytes); }
    ~COldBlock() { Free(); }
    COldBlock(const COldBlock&) = delete;
    COldBlock& operator=(const COldBlock&) = delete;

    // Replaces the block by a new zero-filled one; false (and a message) on failure.
    bool Allocate(std::size_t bytes);
    // Makes the block at least `bytes` long, keeping its contents; false on failure (the old
    // block stays).
    bool Grow(std::size_t bytes);
    void Free();

    std::uint8_t* data() const { return static_cast<std::uint8_t*>(m_data); }
    std::size_t size() const { return m_size; }
    // Hands the locked block over to the caller, who frees it with OldFreeLocked.
    void* Release();

  private:
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

// Allocates and locks a moveable zero-filled block; null (after a message) on failure.
void* OldAllocLocked(std::size_t bytes);
// Finds the block of a locked address, unlocks it until its lock count is 0 and frees it, with
// a message for every step that fails. Null is ignored.
void OldFreeLocked(void* locked);

}  // namespace quorin
