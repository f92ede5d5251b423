#include "platform/system/cpu.h"

#include <atomic>

namespace quorin::cpu {
namespace {

std::atomic<int> g_baselineOnly{0};

bool ProcessorHasAvx2() {
#if QUORIN_HAVE_AVX2_PATH
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace

bool UseAvx2() { return g_baselineOnly.load(std::memory_order_relaxed) == 0 && ProcessorHasAvx2(); }

ScopedBaselineOnly::ScopedBaselineOnly() { g_baselineOnly.fetch_add(1); }
ScopedBaselineOnly::~ScopedBaselineOnly() { g_baselineOnly.fetch_sub(1); }

}  // namespace quorin::cpu
