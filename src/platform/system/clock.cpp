// Wall clock, local time with the zone from the environment, and the machine number.
#include "platform/system/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

// Read with plain system calls and kept without a lock: a child forked while another thread
// computes it must not find a lock held for good.
std::uint32_t ComputeMachineNumber() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char text[256] = {};
        const ssize_t got = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (got <= 0) continue;
        std::string id(text, static_cast<std::size_t>(got));
        id = Trimmed(id.substr(0, id.find('\n')));
        if (!id.empty()) return Fnv1a(id);
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
    // Computed again by a thread that finds it not yet kept: every thread computes the same.
    static std::atomic<std::uint64_t> kept{0};  // the number + 2^32 once known
    std::uint64_t known = kept.load(std::memory_order_relaxed);
    if (known == 0) {
        known = ComputeMachineNumber() + (std::uint64_t{1} << 32);
        kept.store(known, std::memory_order_relaxed);
    }
    return static_cast<std::uint32_t>(known);
}

}  // namespace win
