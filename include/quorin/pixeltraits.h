// What the pixel containers need to know about a pixel or bin type, chosen at compile time.
#pragma once
#include <cstdint>
#include <type_traits>

namespace quorin {

template <class P>
struct PixelTraits {
    static_assert(std::is_unsigned_v<P>, "pixels are unsigned integers");
    // Depth of a histogram built without an explicit depth: 8 for unsigned char, 16 for
    // unsigned short; wider pixels have no default (their histograms need an explicit depth).
    static constexpr int kDefaultBits = sizeof(P) <= 2 ? int(sizeof(P) * 8) : 0;
};

// The type a sum of bins is kept in: double for double bins, 64-bit integers otherwise.
template <class B>
using BinSum = std::conditional_t<std::is_floating_point_v<B>, double, std::uint64_t>;

}  // namespace quorin
