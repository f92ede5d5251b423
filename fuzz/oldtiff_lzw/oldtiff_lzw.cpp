// LZW strip decoding over arbitrary bytes; the first two bytes choose the output size.
#include <cstdint>
#include <vector>

#include "oldtiff/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t outSize = (static_cast<std::size_t>(data[0]) << 8 | data[1]) * 4;
    std::vector<std::uint8_t> out(outSize);
    // An exact-size input copy, so that reading one byte too far is caught.
    std::vector<std::uint8_t> in(data + 2, data + size);
    const std::size_t n = DecodeLzw(in.data(), in.size(), out.data(), out.size());
    if (n > outSize) __builtin_trap();
    return 0;
}
