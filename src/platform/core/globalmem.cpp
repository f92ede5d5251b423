// Global memory blocks. A handle is a small record of its own; the bytes live in a separate
// allocation that moves only on reallocation of an unlocked moveable block. Every live handle is
// registered, so calls on freed or foreign handles answer null/0 instead of touching memory.
#include "platform/core/globalmem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/core/lasterror.h"

namespace win {

struct GlobalBlock {
    unsigned char* data = nullptr;  // null for a size-0 block
    SIZE_T size = 0;
    SIZE_T capacity = 0;  // bytes allocated; in-place growth is possible up to here
    UINT flags = 0;
    UINT locks = 0;  // moveable blocks only; fixed blocks are never counted, as on Windows
};

namespace {

// A 32-bit process never saw a block this large; refusing it keeps a size read from a hostile
// file from asking the system for gigabytes.
constexpr SIZE_T kMaxBlockBytes = 0x7FFFFFFF;

struct Registry {
    std::mutex mutex;
    std::unordered_set<GlobalBlock*> live;
    std::unordered_map<const void*, GlobalBlock*> byBase;
    long failAfter = -1;
    SIZE_T liveBytes = 0;  // capacity of the live blocks
    SIZE_T peakBytes = 0;
};

Registry& State() {
    static Registry* state = new Registry;  // never destroyed: blocks may outlive static objects
    return *state;
}

bool IsMoveable(const GlobalBlock& block) {
    return (block.flags & GMEM_MOVEABLE) != 0;
}

// The failure injected by the tests: true for the one allocation that is to fail.
bool InjectedFailure(Registry& state) {
    if (state.failAfter < 0) return false;
    if (state.failAfter == 0) {
        state.failAfter = -1;
        return true;
    }
    --state.failAfter;
    return false;
}

// Zero-filled: the bytes of a block never show earlier contents, whatever the flags.
unsigned char* AllocateBytes(SIZE_T bytes) {
    if (bytes > kMaxBlockBytes) return nullptr;
    return static_cast<unsigned char*>(std::calloc(bytes, 1));
}

// Every change of a block's capacity goes through here, for the byte count of the tests.
void SetCapacity(Registry& state, GlobalBlock* block, SIZE_T capacity) {
    state.liveBytes = state.liveBytes - block->capacity + capacity;
    state.peakBytes = std::max(state.peakBytes, state.liveBytes);
    block->capacity = capacity;
}

GlobalBlock* Live(Registry& state, HGLOBAL block) {
    if (block == nullptr || state.live.count(block) == 0) return nullptr;
    return block;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    auto* block = new (std::nothrow) GlobalBlock;
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    block->flags = flags & (GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (InjectedFailure(state) || (bytes > 0 && (block->data = AllocateBytes(bytes)) == nullptr)) {
        delete block;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    block->size = bytes;
    SetCapacity(state, block, bytes);
    try {  // the registry's own entries may find no memory either
        state.live.insert(block);
        if (block->data != nullptr) state.byBase.emplace(block->data, block);
    } catch (const std::bad_alloc&) {
        state.live.erase(block);
        SetCapacity(state, block, 0);
        std::free(block->data);
        delete block;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return block;
}

void* GlobalLock(HGLOBAL handle) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (block->data == nullptr) return nullptr;  // size 0: nothing to lock, as on Windows
    if (IsMoveable(*block)) ++block->locks;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (block->locks == 0) {
        SetLastError(ERROR_SUCCESS);  // "not locked" on Windows (158) is no error for callers
        return 0;
    }
    --block->locks;
    if (block->locks == 0) SetLastError(ERROR_SUCCESS);
    return block->locks > 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
    if (handle == nullptr) return nullptr;
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return handle;
    }
    state.live.erase(block);
    if (block->data != nullptr) state.byBase.erase(block->data);
    SetCapacity(state, block, 0);
    std::free(block->data);
    delete block;
    return nullptr;
}

HGLOBAL GlobalHandle(const void* lockedBase) {
    if (lockedBase == nullptr) return nullptr;
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    auto it = state.byBase.find(lockedBase);
    if (it == state.byBase.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

SIZE_T GlobalSize(HGLOBAL handle) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return block->size;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A locked block never moves; a fixed one moves only when the caller allows it.
    const bool mayMove = block->locks == 0 && (IsMoveable(*block) || (flags & GMEM_MOVEABLE) != 0);
    if (bytes == 0) {
        if (block->locks > 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (block->data != nullptr) state.byBase.erase(block->data);
        std::free(block->data);
        block->data = nullptr;
        block->size = 0;
        SetCapacity(state, block, 0);
        return block;
    }
    if (bytes <= block->capacity) {
        if (bytes > block->size) std::memset(block->data + block->size, 0, bytes - block->size);
        block->size = bytes;
        // A block that may move gives back most of its room when it shrinks a lot.
        if (mayMove && bytes < block->capacity / 2) {
            state.byBase.erase(block->data);
            if (auto* smaller = static_cast<unsigned char*>(std::realloc(block->data, bytes))) {
                block->data = smaller;
                SetCapacity(state, block, bytes);
            }
            state.byBase.emplace(block->data, block);
        }
        return block;
    }
    if (!mayMove && block->data != nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    unsigned char* data = InjectedFailure(state) ? nullptr : AllocateBytes(bytes);
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;  // the old block stays as it was
    }
    if (block->data != nullptr) {
        std::memcpy(data, block->data, block->size);
        state.byBase.erase(block->data);
        std::free(block->data);
    }
    block->data = data;
    block->size = bytes;
    SetCapacity(state, block, bytes);
    state.byBase.emplace(data, block);
    return block;
}

namespace globalmem_testing {

SIZE_T LiveBlocks() {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    return state.live.size();
}

UINT LockCount(HGLOBAL handle) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    GlobalBlock* block = Live(state, handle);
    return block != nullptr ? block->locks : 0;
}

void FailAllocationAfter(long count) {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    state.failAfter = count < 0 ? -1 : count;
}

SIZE_T LiveBytes() {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    return state.liveBytes;
}

SIZE_T PeakBytes() {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    return state.peakBytes;
}

void ResetPeakBytes() {
    Registry& state = State();
    std::lock_guard lock(state.mutex);
    state.peakBytes = state.liveBytes;
}

}  // namespace globalmem_testing

}  // namespace win
