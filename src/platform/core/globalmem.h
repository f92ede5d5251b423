// Global memory blocks: the handles that carry records, pixel buffers and DIBs across rooms.
// Same observable behaviour as the Windows heap functions: lock counts, the same address on
// every lock, blocks that never move while locked, a size-0 block that locks to null.
#pragma once
#include "platform/core/types.h"

namespace win {

struct GlobalBlock;  // opaque
using HGLOBAL = GlobalBlock*;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);  // null on failure
void* GlobalLock(HGLOBAL block);                // null for null, freed or size 0
BOOL GlobalUnlock(HGLOBAL block);               // non-zero while still locked
HGLOBAL GlobalFree(HGLOBAL block);              // null on success, the block otherwise
HGLOBAL GlobalHandle(const void* lockedBase);   // null unless a block's base address
SIZE_T GlobalSize(HGLOBAL block);               // 0 for null or freed
HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);  // old block intact on failure

// Test hooks.
namespace globalmem_testing {
SIZE_T LiveBlocks();                   // blocks allocated and not yet freed
UINT LockCount(HGLOBAL block);         // current lock count of a live block
void FailAllocationAfter(long count);  // the allocation after `count` more succeed fails; -1: never
SIZE_T LiveBytes();                    // bytes held by live blocks
SIZE_T PeakBytes();                    // the most LiveBytes has been since the last reset
void ResetPeakBytes();                 // the peak becomes the bytes live now
}  // namespace globalmem_testing

}  // namespace win
