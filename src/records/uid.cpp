#include "records/uid.h"

#include <algorithm>
#include <atomic>

#include "platform/clock.h"

namespace {

std::atomic<std::int64_t> g_lastStamp{0};

// "seconds.milliseconds" of a stamp.
std::string StampText(std::int64_t stamp) {
    return std::to_string(stamp / 1000) + "." + std::to_string(stamp % 1000);
}

}  // namespace

namespace quorin {

std::int64_t NextUidTimeStamp() {
    // A clock before 1970 would print as a huge unsigned number: stamps start after it.
    const std::int64_t now = std::max<std::int64_t>(win::NowMilliseconds(), 0);
    std::int64_t previous = g_lastStamp.load(std::memory_order_relaxed);
    std::int64_t next = 0;
    do {
        next = std::max(now, previous + 1);
    } while (!g_lastStamp.compare_exchange_weak(previous, next, std::memory_order_relaxed));
    return next;
}

bool IsValidUid(std::string_view text) {
    if (text.empty() || text.size() > CUid::kMaxLength) return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || (part.size() > 1 && part[0] == '0')) return false;
        if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

std::string ComposeGeneratedUid(std::uint32_t kind, std::uint32_t machine, std::int64_t stamp) {
    // A machine without a number of its own takes the time in seconds in its place.
    const std::string machineText =
        machine != 0 ? std::to_string(machine) : std::to_string(stamp / 1000);
    return std::string(CUid::kRoot) + "." + std::to_string(kind) + "." + machineText + "." +
           StampText(stamp);
}

}  // namespace quorin

bool CUid::Generate(std::uint32_t kind) {
    m_text = quorin::ComposeGeneratedUid(kind, win::MachineNumber(), quorin::NextUidTimeStamp());
    if (m_text.size() > kMaxLength) {
        m_text.clear();
        return false;
    }
    return true;
}

bool CUid::GenerateStudyUID() {
    return Generate(KIND_STUDY);
}
bool CUid::GenerateSeriesUID() {
    return Generate(KIND_SERIES);
}
bool CUid::GenerateInstanceUID() {
    return Generate(KIND_INSTANCE);
}

bool CUid::AppendTimeStamp(std::string& out) const {
    out.clear();
    // An empty UID would give a text that starts with a dot: no UID at all.
    if (m_text.empty()) return false;
    std::string derived = m_text + "." + StampText(quorin::NextUidTimeStamp());
    if (derived.size() > kMaxLength) return false;
    out = std::move(derived);
    return true;
}

bool CUid::BuildFromNumber(std::string_view text) {
    if (text.find_first_not_of("1234567890.") != std::string_view::npos) return false;
    std::string built =
        std::string(kRoot) + "." + std::to_string(KIND_NUMBER) + "." + std::string(text);
    if (built.size() > kMaxLength) {
        m_text.clear();
        return false;
    }
    // Empty, doubled or leading-zero components would make a UID that no peer accepts.
    if (!quorin::IsValidUid(built)) return false;
    m_text = std::move(built);
    return true;
}
