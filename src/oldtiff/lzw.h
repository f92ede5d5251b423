// LZW decoding of TIFF strips (the TIFF variant: codes most significant bit first, width
// changes one code early, 256 clears the table, 257 ends the strip).
#pragma once
#include <cstddef>
#include <cstdint>

// The most bytes one input byte can decode to. After a clear the k-th code yields at most k bytes
// (every table string is the previous one plus a byte), and a table fills after 3,839 codes of
// 9 to 12 bits: 7,370,880 bytes from 5,408 bytes of codes, 1,363.2 per byte at best.
constexpr std::uint64_t kLzwMaxExpansion = 1364;

// Decodes one strip into `out` and returns the number of bytes written. Decoding stops at the
// end code, at the end of the input, when the output is full (the last string is cut), or at
// the first code a sound encoder cannot produce (a code above the next free entry, a string
// code right after a clear, a table grown past 4,096 entries): the bytes decoded so far stand.
std::size_t DecodeLzw(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                      std::size_t outputSize);
