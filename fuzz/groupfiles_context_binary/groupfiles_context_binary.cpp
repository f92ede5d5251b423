// Any bytes as an older binary context file, with and without its icon: the reader must stay
// inside the bytes, keep nothing of a failed read, and leave no global block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "groupfiles/contextdata.h"
#include "platform/core/globalmem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const win::SIZE_T live = win::globalmem_testing::LiveBlocks();
    for (bool withIcon : {false, true}) {
        CCqvDataQV5 context;
        if (!context.ReadOldContext(data, size, withIcon, 1024, 768)) {
            if (context.GetItemCount() != 0 || context.PeekIcon() != nullptr ||
                context.GetOldFormat() != 0)
                std::abort();  // a failed read keeps nothing
        }
    }
    if (win::globalmem_testing::LiveBlocks() != live) std::abort();
    return 0;
}
