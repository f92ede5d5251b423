#include "records/core/uid.h"

#include <fcntl.h>
#include <pthread.h>
#include <quorin/uid.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/files/file.h"
#include "platform/files/filelock.h"
#include "platform/files/registry.h"
#include "platform/system/clock.h"

namespace {

// Two roads keep generated UIDs apart, told apart by the issuer number that follows the machine
// number. The user's road: the last stamp is kept in a file beside the user's settings, private
// to the user and locked while it is read and written, so that the user's processes share one
// rising sequence (which may run ahead of the clock in a burst); its UIDs carry 2 x the user
// number. The process's road, wherever that file cannot serve: its UIDs carry 2 x the process
// number + 1, and a stamp is only handed out once the clock has passed it, so that a later
// process given the same number (after this one ended) starts above every stamp of this one.
constexpr const char* kStampFileName = "uid-stamp";
// The lock is held for microseconds; one held longer (a process of the user stopped) is waited
// for this long, then the process's road serves. After such a wait the lock is only tried, not
// waited for, until it is taken again: a holder that keeps it for good costs one wait, not one
// per UID.
constexpr std::chrono::milliseconds kStampLockBound{2000};
constexpr std::uint64_t kStampBytes = 8;  // little-endian, at the start of the file
// A stored stamp this far ahead of the clock (one day) is not one this system wrote.
constexpr std::int64_t kStampLead = 86'400'000;
// The process's road waits for the clock to pass its stamp, a millisecond at most; a clock set
// back meanwhile is not waited out.
constexpr std::chrono::milliseconds kClockWait{2};

struct StampState {
    std::mutex mutex;
    std::int64_t last = 0;     // every stamp handed out by this process is at most this
    std::int64_t ownLast = 0;  // the last stamp of the process's road
    int fd = -1;
    pid_t pid = 0;            // the process that opened it: a forked child must open its own
    uid_t owner = 0;          // the user it is kept for: a process that changed user opens again
    bool lockRanOut = false;  // the last wait for the file's lock ended at its bound
};

// No guard of a first use that a fork could find held.
constinit StampState gState;

// A child forked while another thread is inside a stamp would find the mutex held for good, and
// would share the file's open description, and with it the lock, with its parent. Forks wait for
// the stamp in hand; the child closes its copy of the file and opens its own.
void BeforeFork() {
    gState.mutex.lock();
}
void AfterForkInParent() {
    gState.mutex.unlock();
}
void AfterForkInChild() {
    if (gState.fd >= 0) ::close(gState.fd);
    gState.fd = -1;
    gState.mutex.unlock();
}
[[maybe_unused]] const int gForkHandlers =
    ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);

// The stamp file of the current settings folder (the very folder the settings are saved in,
// opened as they open it), opened once per process and folder; -1 when it cannot be opened or
// is not the user's own. Only a folder of the user's that no one else may empty takes it, one
// QUORIN_CONFIG_DIR names too: a process run with another user's HOME (sudo -E) leaves that
// user's folders as they were, and a file others could remove would let the user's sequence
// start again below stamps already handed out. A link in its place is not followed (it would
// have the stamp written over the file it names, or make the file a dangling one names), and a
// file of another user, or one with other names too, is not written. A file others may open is
// made private first.
int StampFile(StampState& state) {
    // The settings folder of the open file; first made under the mutex, which forks wait for.
    static std::string path;
    const std::string folder = win::registry::UserFolder();
    if (state.fd >= 0 && path == folder && state.pid == getpid() && state.owner == ::geteuid())
        return state.fd;
    if (state.fd >= 0) ::close(state.fd);
    state.fd = -1;
    path = folder;
    state.lockRanOut = false;
    state.pid = getpid();
    state.owner = ::geteuid();
    win::DWORD code = 0;
    std::string reason;
    const int folderFd = win::registry::OpenUserFolder(&code, &reason);
    if (folderFd < 0) return -1;
    struct stat own {};
    if (::fstat(folderFd, &own) != 0 || own.st_uid != ::geteuid() ||
        ((own.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (own.st_mode & S_ISVTX) == 0)) {
        ::close(folderFd);
        return -1;
    }
    // Opened without blocking (nothing but a regular file is kept), then made blocking again.
    const int fd = ::openat(folderFd, kStampFileName,
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    ::close(folderFd);
    if (fd < 0) return -1;
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        info.st_nlink != 1 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ((info.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        return -1;
    }
    state.fd = fd;
    return fd;
}

// Raises `next` above the stamp the file keeps and stores it there; false when the file cannot
// be locked within the bound, read or written.
bool TakeUserStamp(StampState& state, std::int64_t now, std::int64_t& next) {
    const int fd = state.fd;
    const int err = quorin::LockExclusiveWithin(
        fd, state.lockRanOut ? std::chrono::milliseconds{0} : kStampLockBound);
    state.lockRanOut = err == EWOULDBLOCK;
    if (err != 0) return false;
    unsigned char bytes[kStampBytes] = {};
    std::uint64_t stored = 0;
    if (::pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes))
        for (int i = 7; i >= 0; --i) stored = (stored << 8) | bytes[i];
    if (stored > 0 && stored < static_cast<std::uint64_t>(now + kStampLead))
        next = std::max(next, static_cast<std::int64_t>(stored) + 1);
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(next) >> (8 * i));
    const bool written = ::pwrite(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes);
    ::flock(fd, LOCK_UN);
    return written;
}

// "seconds.milliseconds" of a stamp.
std::string StampText(std::int64_t stamp) {
    return std::to_string(stamp / 1000) + "." + std::to_string(stamp % 1000);
}

// A stamp of the user's road, or else of the process's: for a generated UID (`issued`) the
// process's road hands out only stamps the clock has passed.
quorin::UidStamp TakeStamp(bool issued) {
    // A clock before 1970 would print as a huge unsigned number: stamps start after it.
    const std::int64_t now = std::max<std::int64_t>(win::NowMilliseconds(), 0);
    StampState& state = gState;
    std::lock_guard lock(state.mutex);
    std::int64_t next = std::max(now, state.last + 1);
    // Under a file-size limit that leaves no room for a stamp the write would end the process:
    // the file is left alone then, as when it cannot be opened.
    if (kStampBytes <= quorin::FileSizeLimit() && StampFile(state) >= 0 &&
        TakeUserStamp(state, now, next)) {
        state.last = next;
        return {next, 2 * static_cast<std::uint64_t>(state.owner)};
    }
    if (issued) {
        next = std::max(now, state.ownLast + 1);
        const auto giveUp = std::chrono::steady_clock::now() + kClockWait;
        while (win::NowMilliseconds() <= next && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        state.ownLast = next;
    }
    state.last = std::max(state.last, next);
    return {next, 2 * static_cast<std::uint64_t>(::getpid()) + 1};
}

}  // namespace

namespace quorin {

UidStamp NextUidStamp() {
    return TakeStamp(true);
}

std::int64_t NextUidTimeStamp() {
    return TakeStamp(false).stamp;
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

std::string ComposeGeneratedUid(std::uint32_t kind, std::uint32_t machine, const UidStamp& stamp) {
    // A machine without a number of its own takes the time in seconds in its place.
    const std::string machineText =
        machine != 0 ? std::to_string(machine) : std::to_string(stamp.stamp / 1000);
    return std::string(CUid::kRoot) + "." + std::to_string(kind) + "." + machineText + "." +
           std::to_string(stamp.issuer) + "." + StampText(stamp.stamp);
}

}  // namespace quorin

bool CUid::Generate(std::uint32_t kind) {
    m_text = quorin::ComposeGeneratedUid(kind, win::MachineNumber(), quorin::NextUidStamp());
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
