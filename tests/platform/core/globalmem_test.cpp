// Global memory: lock counting, stable addresses, handles from base addresses, reallocation
// rules for locked and fixed blocks, failure injection, threads, and no leaked blocks.
#include "platform/core/globalmem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace win;
namespace gt = win::globalmem_testing;

namespace {

class GlobalMemory : public ::testing::Test {
  protected:
    void SetUp() override { m_start = gt::LiveBlocks(); }
    void TearDown() override {
        gt::FailAllocationAfter(-1);
        EXPECT_EQ(gt::LiveBlocks(), m_start);
    }
    SIZE_T m_start = 0;
};

TEST_F(GlobalMemory, LockCountsAndSameAddress) {
    HGLOBAL h = GlobalAlloc(GHND, 100);
    ASSERT_NE(h, nullptr);
    auto* first = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(first[i], 0) << "GHND zero-fills";
    EXPECT_EQ(GlobalLock(h), first);
    EXPECT_EQ(gt::LockCount(h), 2u);
    EXPECT_NE(GlobalUnlock(h), 0) << "still locked once";
    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(gt::LockCount(h), 0u);
    EXPECT_EQ(GlobalUnlock(h), 0) << "unlocking an unlocked block";
    EXPECT_EQ(GlobalLock(h), first) << "an unlocked block has not moved either";
    GlobalUnlock(h);
    EXPECT_EQ(GlobalSize(h), 100u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(GlobalMemory, HandleFromBaseAddressOnly) {
    HGLOBAL h = GlobalAlloc(GHND, 16);
    auto* base = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(GlobalHandle(base), h);
    EXPECT_EQ(GlobalHandle(base + 1), nullptr);
    int local = 0;
    EXPECT_EQ(GlobalHandle(&local), nullptr);
    EXPECT_EQ(GlobalHandle(nullptr), nullptr);
    GlobalUnlock(h);
    GlobalFree(h);
    EXPECT_EQ(GlobalHandle(base), nullptr) << "freed";
}

TEST_F(GlobalMemory, ZeroSizeAndFreedBlocks) {
    HGLOBAL h = GlobalAlloc(GHND, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    HGLOBAL grown = GlobalReAlloc(h, 8, GMEM_MOVEABLE);
    ASSERT_EQ(grown, h);
    EXPECT_NE(GlobalLock(h), nullptr);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
}

TEST_F(GlobalMemory, ReAllocKeepsContentAndZeroesTail) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    std::memcpy(GlobalLock(h), "abcd", 4);
    GlobalUnlock(h);
    h = GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
    for (SIZE_T i = 4; i < GlobalSize(h); i += 4093) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(p[(1 << 20) - 1], 0);
    GlobalUnlock(h);
    h = GlobalReAlloc(h, 2, GMEM_MOVEABLE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 2u);
    p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
    GlobalUnlock(h);
    // Growing again inside the old room still reads zeros, not the old "cd".
    h = GlobalReAlloc(h, 4, GMEM_MOVEABLE | GMEM_ZEROINIT);
    p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[3], 0);
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST_F(GlobalMemory, ShrinkingAnUnlockedBlockKeepsItsContent) {
    HGLOBAL h = GlobalAlloc(GHND, 1 << 20);
    std::memcpy(GlobalLock(h), "keep", 4);
    GlobalUnlock(h);
    ASSERT_EQ(GlobalReAlloc(h, 8, GMEM_MOVEABLE), h);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "keep", 4), 0);
    EXPECT_EQ(GlobalHandle(p), h) << "the handle follows the bytes";
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST_F(GlobalMemory, LockedBlockNeverMoves) {
    HGLOBAL h = GlobalAlloc(GHND, 64);
    void* p = GlobalLock(h);
    static_cast<unsigned char*>(p)[0] = 7;
    // Shrinking works in place; growing beyond the block would move it, so it fails.
    EXPECT_EQ(GlobalReAlloc(h, 32, GMEM_MOVEABLE), h);
    EXPECT_EQ(GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(h), 32u);
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(static_cast<unsigned char*>(p)[0], 7);
    GlobalUnlock(h);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE), h) << "unlocked: may move";
    EXPECT_EQ(static_cast<unsigned char*>(GlobalLock(h))[0], 7);
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST_F(GlobalMemory, FixedBlockMovesOnlyWhenAllowed) {
    HGLOBAL h = GlobalAlloc(GPTR, 16);
    void* p = GlobalLock(h);
    EXPECT_EQ(gt::LockCount(h), 0u) << "fixed blocks are not counted";
    EXPECT_EQ(GlobalReAlloc(h, 1 << 16, 0), nullptr);
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalReAlloc(h, 1 << 16, GMEM_MOVEABLE), h);
    EXPECT_EQ(GlobalSize(h), 1u << 16);
    EXPECT_EQ(GlobalHandle(GlobalLock(h)), h);
    (void)p;
    GlobalFree(h);
}

TEST_F(GlobalMemory, FailureInjectionLeavesOldBlockIntact) {
    HGLOBAL h = GlobalAlloc(GHND, 8);
    std::memcpy(GlobalLock(h), "12345678", 8);
    GlobalUnlock(h);
    gt::FailAllocationAfter(1);
    HGLOBAL second = GlobalAlloc(GHND, 8);
    EXPECT_NE(second, nullptr) << "one more succeeds";
    EXPECT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE), nullptr) << "then one fails";
    EXPECT_EQ(GlobalSize(h), 8u);
    EXPECT_EQ(std::memcmp(GlobalLock(h), "12345678", 8), 0);
    GlobalUnlock(h);
    HGLOBAL third = GlobalAlloc(GHND, 8);
    EXPECT_NE(third, nullptr) << "the failure happens once";
    gt::FailAllocationAfter(0);
    EXPECT_EQ(GlobalAlloc(GHND, 1), nullptr);
    GlobalFree(third);
    GlobalFree(second);
    GlobalFree(h);
}

TEST_F(GlobalMemory, HugeRequestFailsCleanly) {
    EXPECT_EQ(GlobalAlloc(GHND, SIZE_T{1} << 40), nullptr);
    EXPECT_EQ(GlobalAlloc(GHND, ~SIZE_T{0}), nullptr);
}

TEST_F(GlobalMemory, ManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                HGLOBAL h = GlobalAlloc(GHND, static_cast<SIZE_T>(1 + (i % 97)));
                auto* p = static_cast<unsigned char*>(GlobalLock(h));
                p[0] = static_cast<unsigned char>(t);
                EXPECT_EQ(GlobalHandle(p), h);
                GlobalUnlock(h);
                if (i % 3 == 0) h = GlobalReAlloc(h, 300, GMEM_MOVEABLE);
                EXPECT_EQ(static_cast<unsigned char*>(GlobalLock(h))[0], t);
                GlobalUnlock(h);
                EXPECT_EQ(GlobalFree(h), nullptr);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace
