// Wall clock, local time with the zone from the environment, and the machine number.
#include "platform/system/clock.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <string>

namespace win {
namespace {

std::uint32_t Fnv1a(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string Trimmed(std::string text) {
    const char* space = " \t\r\n";
    text.erase(text.find_last_not_of(space) + 1);
    text.erase(0, text.find_first_not_of(space));
    return text;
}

std::uint32_t ComputeMachineNumber() {
    std::string id;
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream in(path);
        if (std::getline(in, id) && !(id = Trimmed(id)).empty()) return Fnv1a(id);
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') return Fnv1a(host);
    return Fnv1a("localhost");
}

}  // namespace

std::int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool LocalTime(std::int64_t secondsSince1970, std::tm& out) {
    if (secondsSince1970 < std::numeric_limits<std::time_t>::min() ||
        secondsSince1970 > std::numeric_limits<std::time_t>::max())
        return false;
    const std::time_t seconds = static_cast<std::time_t>(secondsSince1970);
    // localtime_r need not look at TZ again; tzset makes a changed zone count.
    tzset();
    return localtime_r(&seconds, &out) != nullptr;
}

std::uint32_t MachineNumber() {
    static const std::uint32_t number = ComputeMachineNumber();
    return number;
}

}  // namespace win
