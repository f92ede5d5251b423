// Fixed-width names of the platform the system was written for, and the byte-order promise.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the host must be little-endian");
static_assert(sizeof(void*) == 8, "pointers are 64-bit: records hold real addresses");

namespace win {
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
using SIZE_T = std::size_t;
}  // namespace win
