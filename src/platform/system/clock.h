// Time and the machine number: local time through the C library with the zone from the
// environment; the machine number from a hash of /etc/machine-id (fallback: the host name).
#pragma once
#include <cstdint>
#include <ctime>

namespace win {

std::int64_t NowMilliseconds();                               // milliseconds since 1970-01-01 UTC
bool LocalTime(std::int64_t secondsSince1970, std::tm& out);  // false when not representable
std::uint32_t MachineNumber();  // kept once computed, without a lock (safe across fork)

}  // namespace win
