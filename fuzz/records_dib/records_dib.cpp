// Any bytes as a packed DIB block: every query, transform and conversion must answer without
// reading outside the block, and leave no lock or block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"
#include "records/dib/dibresample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const win::SIZE_T live = win::globalmem_testing::LiveBlocks();
    win::HGLOBAL dib = win::GlobalAlloc(win::GHND, size);
    if (dib == nullptr) return 0;
    if (void* base = win::GlobalLock(dib)) {
        std::memcpy(base, data, size);
        win::GlobalUnlock(dib);
    }
    std::int32_t width = 0, height = 0;
    GetDIBSize(dib, &width, &height);
    GetDIBBitCount(dib);
    GetDIBStride(dib);
    if (LockDIBBits(dib) != nullptr) UnlockDIB(dib);
    for (win::HGLOBAL made :
         {DuplicateDIB(dib), RotateDIB(dib, 90), RotateDIB(dib, 180), RotateDIB(dib, 270),
          MirrorDIB(dib), ResizeDIBTo380x480(dib, width, height)}) {
        if (made != nullptr && win::globalmem_testing::LockCount(made) != 0) std::abort();
        FreeDIB(made);
    }
    SImage image{};
    if (DIBToSImage(dib, &image, false)) {
        MirrorSImage(&image);
        FreePixelBuffer(&image.pPixels);
    }
    if (win::globalmem_testing::LockCount(dib) != 0) std::abort();
    FreeDIB(dib);
    if (win::globalmem_testing::LiveBlocks() != live) std::abort();
    return 0;
}
