// Runs a piece of work on every processor path the kernels dispatch to: run(0) on the path the
// processor picks (AVX-512 where it has it), run(1) on the AVX2 path, run(2) on the baseline
// path. A gtest ASSERT inside `run` leaves only `run`: wrap the call in ASSERT_NO_FATAL_FAILURE
// where the test must stop.
#pragma once
#include "platform/system/cpu.h"

namespace quorin::test {

template <class Run>
void OnEveryPath(Run run) {
    run(0);
    {
        quorin::cpu::ScopedAvx2Only only;
        run(1);
    }
    {
        quorin::cpu::ScopedBaselineOnly only;
        run(2);
    }
}

}  // namespace quorin::test
