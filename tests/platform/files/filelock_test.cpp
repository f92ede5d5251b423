// The bounded wait for a file's lock: a peer that never lets go is waited for no longer than the
// bound, one that lets go is waited for, and a signal neither fails nor shortens the wait.
#include "platform/files/filelock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "common/test_util.h"

using quorin::LockExclusiveWithin;
using quorin::test::TempDir;
using quorin::test::WriteText;
using namespace std::chrono_literals;

namespace {

// Two open file descriptions of one file: flock treats them as two holders, as two processes.
struct TwoOpens {
    explicit TwoOpens(const std::string& path)
        : peer(::open(path.c_str(), O_RDONLY)), self(::open(path.c_str(), O_RDONLY)) {}
    ~TwoOpens() {
        ::close(peer);
        ::close(self);
    }
    int peer, self;
};

void Ignore(int) {}

}  // namespace

TEST(FileLock, WaitsForAPeerUpToTheBoundAndNoLonger) {
    TempDir dir;
    const std::string path = dir.path() + "/f";
    WriteText(path, "x");
    TwoOpens files(path);
    ASSERT_EQ(LockExclusiveWithin(files.self, 0ms), 0);  // nobody holds it: at once
    ASSERT_EQ(::flock(files.self, LOCK_UN), 0);

    ASSERT_EQ(::flock(files.peer, LOCK_EX), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(LockExclusiveWithin(files.self, 300ms), EWOULDBLOCK);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 2s);

    std::thread release([&] {
        std::this_thread::sleep_for(200ms);
        ::flock(files.peer, LOCK_UN);
    });
    EXPECT_EQ(LockExclusiveWithin(files.self, 5s), 0);
    release.join();
    EXPECT_NE(::flock(files.peer, LOCK_SH | LOCK_NB), 0);  // ours alone: not even shared
}

TEST(FileLock, ASignalHandledDuringTheWaitChangesNothing) {
    TempDir dir;
    const std::string path = dir.path() + "/f";
    WriteText(path, "x");
    TwoOpens files(path);
    ASSERT_EQ(::flock(files.peer, LOCK_EX), 0);
    struct sigaction action {
    }, before{};
    action.sa_handler = Ignore;  // no SA_RESTART: every sleep and flock is interrupted
    ASSERT_EQ(::sigaction(SIGALRM, &action, &before), 0);
    itimerval every20ms{{0, 20000}, {0, 20000}};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &every20ms, nullptr), 0);

    const auto start = std::chrono::steady_clock::now();
    const int timedOut = LockExclusiveWithin(files.self, 300ms);
    const auto waited = std::chrono::steady_clock::now() - start;
    std::thread release([&] {
        std::this_thread::sleep_for(150ms);
        ::flock(files.peer, LOCK_UN);
    });
    const int taken = LockExclusiveWithin(files.self, 5s);
    release.join();

    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &before, nullptr);
    EXPECT_EQ(timedOut, EWOULDBLOCK);
    EXPECT_GE(waited, 300ms);
    EXPECT_EQ(taken, 0);
}
