#include "platform/system/cpu.h"

#include <atomic>

namespace quorin::cpu {
namespace {

std::atomic<int> g_baselineOnly{0};
std::atomic<int> g_avx2Only{0};

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

bool ProcessorHasAvx512() {
#if QUORIN_HAVE_AVX2_PATH
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vbmi");
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace

bool UseAvx2() {
    return g_baselineOnly.load(std::memory_order_relaxed) == 0 && ProcessorHasAvx2();
}

bool UseAvx512() {
    return g_avx2Only.load(std::memory_order_relaxed) == 0 && UseAvx2() && ProcessorHasAvx512();
}

ScopedBaselineOnly::ScopedBaselineOnly() {
    g_baselineOnly.fetch_add(1);
}
ScopedBaselineOnly::~ScopedBaselineOnly() {
    g_baselineOnly.fetch_sub(1);
}

ScopedAvx2Only::ScopedAvx2Only() {
    g_avx2Only.fetch_add(1);
}
ScopedAvx2Only::~ScopedAvx2Only() {
    g_avx2Only.fetch_sub(1);
}

}  // namespace quorin::cpu
