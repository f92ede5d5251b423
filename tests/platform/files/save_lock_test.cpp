// Saves of one target take turns on its lock: a peer that holds it for good is waited for no
// longer than the bound, a save that holds it keeps a save through a new file from replacing the
// file under it, and the save that ends last leaves its content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/as_user.h"
#include "common/platform/folder_view.h"
#include "common/test_util.h"
#include "platform/core/lasterror.h"
#include "platform/files/file.h"

using namespace std::chrono_literals;
using quorin::replace_testing::Pause;
using quorin::test::ClosedFolder;
using quorin::test::Entries;
using quorin::test::ReadText;
using quorin::test::RunAsActor;
using quorin::test::TempDir;
using win::DWORD;

namespace {

void Ignore(int) {}

// The code of the actor's save of `text`, every 10 ms interrupted by a handled signal that does
// not restart what it interrupts.
int SavedUnderSignals(const std::string& path, const std::string& text) {
    return RunAsActor([&] {
        struct sigaction action {};
        struct sigaction before {};
        action.sa_handler = Ignore;  // no SA_RESTART
        ::sigaction(SIGALRM, &action, &before);
        const itimerval every{{0, 10000}, {0, 10000}};
        ::setitimer(ITIMER_REAL, &every, nullptr);
        const DWORD code = quorin::ReplaceFileBytes(path, text);
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);  // when not root, this process is the test's own
        ::sigaction(SIGALRM, &before, nullptr);
        return static_cast<int>(std::min<DWORD>(code, 255));
    });
}

}  // namespace

// A peer that holds the target's lock (any process that may open the file can) while the actor
// saves through a new file or in place: held for good, the save is refused as a file in use
// once the bound has passed, the file byte-exact and nothing left beside it, also when the
// target is replaced meanwhile by a file a peer holds too (the bound is one for all the waits);
// let go within the bound, the save waits for it and succeeds. Signals neither fail nor shorten
// the wait.
TEST(SaveLock, APeerHoldingTheLockIsWaitedForUpToTheBound) {
    enum class Peer { holds, letsGo, replaces };
    quorin::replace_testing::SetLockWait(600ms);  // the children inherit it
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    ::chmod(dir.path().c_str(), 0777);  // beside the closed folder, the actor may make files
    const std::string open = dir.file("t.fms");
    const auto fill = [](const std::string& path) {
        quorin::test::WriteText(path, "old content");
        EXPECT_EQ(::chown(path.c_str(), quorin::test::Actor(), quorin::test::ActorGroup()), 0);
    };
    for (const bool inPlace : {false, true}) {
        for (const Peer peer : {Peer::holds, Peer::letsGo, Peer::replaces}) {
            // Only root puts a new file into the folder closed to the actor.
            if (inPlace && peer == Peer::replaces && ::geteuid() != 0) continue;
            SCOPED_TRACE(std::string(inPlace ? "in place" : "new file") + ", peer " +
                         std::to_string(static_cast<int>(peer)));
            const std::string& target = inPlace ? closed.file() : open;
            fill(target);
            const int held = ::open(target.c_str(), O_RDONLY);
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
            int next = -1;
            // 400 ms into the save the peer lets go, or lets go once it has renamed another file
            // it holds over the target (a bound that began again would end 1,000 ms in).
            std::thread peerSide([&] {
                if (peer == Peer::holds) return;
                std::this_thread::sleep_for(400ms);
                if (peer == Peer::replaces) {
                    fill(target + ".next");
                    next = ::open((target + ".next").c_str(), O_RDONLY);
                    ::flock(next, LOCK_EX);
                    ::rename((target + ".next").c_str(), target.c_str());
                }
                ::flock(held, LOCK_UN);
            });
            const auto start = std::chrono::steady_clock::now();
            const int code = SavedUnderSignals(target, "new");
            const auto waited = std::chrono::steady_clock::now() - start;
            peerSide.join();
            ::close(held);
            ::close(next);
            const bool saved = peer == Peer::letsGo;
            EXPECT_EQ(code,
                      static_cast<int>(saved ? win::ERROR_SUCCESS : win::ERROR_SHARING_VIOLATION));
            EXPECT_GE(waited, saved ? 400ms : 600ms);
            EXPECT_LT(waited, peer == Peer::replaces ? 900ms : 3000ms);
            EXPECT_EQ(ReadText(target), saved ? "new" : "old content");
            EXPECT_EQ(Entries(inPlace ? closed.folder() : dir.path()).size(), inPlace ? 1u : 2u);
        }
    }
    quorin::replace_testing::SetLockWait(quorin::kSaveLockWait);
}

// One process saves one target in place twice: the first save leaves nothing holding the lock.
TEST(SaveLock, InPlaceSavesOneAfterTheOtherInOneProcessBothEnd) {
    quorin::replace_testing::SetLockWait(400ms);
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    EXPECT_EQ(RunAsActor([&] {
                  for (const char* text : {"first", "second"})
                      if (quorin::ReplaceFileBytes(closed.file(), text) != win::ERROR_SUCCESS)
                          return 1;
                  return 0;
              }),
              0);
    EXPECT_EQ(ReadText(closed.file()), "second");
    quorin::replace_testing::SetLockWait(quorin::kSaveLockWait);
}

// The actor saves in place (its folder takes no new file from it) while root saves the same
// target through a new file. The in-place save is held up between opening the target and
// locking it (root's new file replaces the file it opened: it starts over on the new one), or
// once it holds the lock and has found the file still in place (root's save waits for it to end
// before its rename): the content that stays is that of the save that ended last, and each save
// reports success.
TEST(SaveLock, TheSaveThatEndsLastLeavesItsContent) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    constexpr int kRounds = 10;
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    auto* ended = static_cast<std::chrono::steady_clock::rep*>(
        ::mmap(nullptr, sizeof(std::chrono::steady_clock::rep), PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(ended, MAP_FAILED);
    for (const Pause where : {Pause::beforeLock, Pause::afterCheck}) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(
                std::string(where == Pause::beforeLock ? "before the lock" : "after the check") +
                ", round " + std::to_string(round));
            closed.Fill("old content");
            const pid_t actor = ::fork();
            ASSERT_GE(actor, 0);
            if (actor == 0) {
                if (!quorin::test::BecomeActor()) ::_exit(99);
                quorin::replace_testing::PauseAt(where, 150ms);
                const DWORD code = quorin::ReplaceFileBytes(closed.file(), "in place");
                *ended = std::chrono::steady_clock::now().time_since_epoch().count();
                ::_exit(code == win::ERROR_SUCCESS ? 0 : 1);
            }
            std::this_thread::sleep_for(50ms);  // the actor's save is held up by now
            const bool rootSaved =
                quorin::ReplaceFileBytes(closed.file(), "new file") == win::ERROR_SUCCESS;
            const auto rootEnded = std::chrono::steady_clock::now().time_since_epoch().count();
            int status = 0;
            ASSERT_EQ(::waitpid(actor, &status, 0), actor);
            const bool actorSaved = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            EXPECT_TRUE(rootSaved);
            EXPECT_TRUE(actorSaved);
            // An end is taken just after the save returns: ends less than 1 ms apart are not
            // told apart (a save that waited for the other's lock ends after its rename and the
            // folder's sync; held up as it is, a save that lost its content ends 100 ms after).
            const auto apart = std::chrono::steady_clock::duration(*ended - rootEnded);
            if (apart > 1ms) {
                EXPECT_EQ(ReadText(closed.file()), "in place");
            } else if (apart < -1ms) {
                EXPECT_EQ(ReadText(closed.file()), "new file");
            }
        }
    }
    ::munmap(ended, sizeof(std::chrono::steady_clock::rep));
}

// A save through a new file that began before its target was there locks the file that appeared
// meanwhile before it renames over it: the actor's in-place save of that file (its folder closed
// to the actor), held up once it holds the lock, ends first, and the save that ends last leaves
// its content, each reporting success; the new file takes the owner and mode of the one it
// replaced. The file appears while the new content is written, or once the save found no file to
// replace, just before the rename, which then refuses to replace it: by renameat2's own refusal,
// or, where the file system has none (forced here), by a link that refuses to replace a file, or
// where it has no links either, by making the file with O_EXCL to write it in place.
TEST(SaveLock, ATargetThatAppearedDuringASaveIsLockedToo) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    struct Case {
        const char* name;
        std::chrono::milliseconds writing, beforeRename;
        quorin::replace_testing::Step failing;
    } cases[] = {
        {"while written", 600ms, 0ms, quorin::replace_testing::Step::none},
        {"before the rename", 0ms, 600ms, quorin::replace_testing::Step::none},
        {"before a rename that cannot refuse", 0ms, 600ms,
         quorin::replace_testing::Step::noReplace},
        {"where neither a rename nor a link can refuse", 0ms, 600ms,
         quorin::replace_testing::Step::noLinks},
    };
    using Rep = std::chrono::steady_clock::rep;
    auto* ended = static_cast<Rep*>(
        ::mmap(nullptr, sizeof(Rep), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(ended, MAP_FAILED);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ClosedFolder closed(dir.path(), "t.fms");
        std::filesystem::remove(closed.file());
        const pid_t actor = ::fork();
        ASSERT_GE(actor, 0);
        if (actor == 0) {
            if (!quorin::test::BecomeActor()) ::_exit(99);
            std::this_thread::sleep_for(200ms);  // the file is there by now
            quorin::replace_testing::PauseAt(Pause::afterCheck, 800ms);
            const DWORD code = quorin::ReplaceFileBytes(closed.file(), "in place");
            *ended = std::chrono::steady_clock::now().time_since_epoch().count();
            ::_exit(code == win::ERROR_SUCCESS ? 0 : 1);
        }
        std::thread maker([&] {
            std::this_thread::sleep_for(100ms);
            closed.Fill("old content");
        });
        quorin::replace_testing::FailNext(c.failing);
        quorin::replace_testing::PauseAt(Pause::beforeNewName, c.beforeRename);
        const DWORD code = quorin::ReplaceFile(closed.file(), [&](win::CFile& file) {
            std::this_thread::sleep_for(c.writing);
            file.Write("new file", 8);
            return true;
        });
        const Rep rootEnded = std::chrono::steady_clock::now().time_since_epoch().count();
        quorin::replace_testing::PauseAt(Pause::none);
        quorin::replace_testing::FailNext(quorin::replace_testing::Step::none);
        maker.join();
        int status = 0;
        ASSERT_EQ(::waitpid(actor, &status, 0), actor);
        EXPECT_EQ(code, win::ERROR_SUCCESS);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(ReadText(closed.file()), rootEnded > *ended ? "new file" : "in place");
        EXPECT_GT(rootEnded, *ended) << "the new file waited for the in-place save";
        const struct stat info = quorin::test::StatOf(closed.file());
        EXPECT_EQ(info.st_uid, quorin::test::Actor());
        EXPECT_EQ(info.st_mode & 07777, 0644u);
        EXPECT_EQ(Entries(closed.folder()), std::vector<std::string>{"t.fms"});
    }
    ::munmap(ended, sizeof(Rep));
}

// Twenty saves of one target at once, 3 MB each: sixteen of root's through new files, four of
// the actor's in place (its folder closed to it). However often each finds the file replaced
// under it, all succeed within the one bound, and the file holds one of the contents whole.
TEST(SaveLock, TwentySavesAtOnceAllSucceed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    constexpr int kSavers = 20, kInPlace = 4;
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    closed.Fill(std::string(1 << 20, '-'));
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    pid_t savers[kSavers];
    for (int s = 0; s < kSavers; ++s) {
        savers[s] = ::fork();
        ASSERT_GE(savers[s], 0);
        if (savers[s] != 0) continue;
        ::close(gate[1]);
        if (s < kInPlace && !quorin::test::BecomeActor()) ::_exit(99);
        char byte;  // the read returns at the parent's close: all start at once
        (void)!::read(gate[0], &byte, 1);
        const std::string content(3 << 20, static_cast<char>('a' + s));
        ::_exit(quorin::ReplaceFileBytes(closed.file(), content) == win::ERROR_SUCCESS ? 0 : 1);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (int s = 0; s < kSavers; ++s) {
        int status = 0;
        ASSERT_EQ(::waitpid(savers[s], &status, 0), savers[s]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "save " << s;
    }
    const std::string now = ReadText(closed.file());
    ASSERT_EQ(now.size(), std::size_t{3} << 20);
    EXPECT_EQ(now.find_first_not_of(now[0]), std::string::npos);
    EXPECT_EQ(Entries(closed.folder()), std::vector<std::string>{"t.fms"});
}

// A save waiting for a held lock while its folder is moved away (mv d d.old; mkdir d) leaves
// nothing of its own behind: refused once the bound passed, its temporary file goes from the
// folder it was made in; let go within it, it replaces the file it locked, in the folder it began
// in. A second of that wait costs the processor little: the save sleeps. The name its writer got
// leads to the temporary file in the folder moved.
TEST(SaveLock, AFolderMovedAwayMeanwhileKeepsNothingOfTheSave) {
    quorin::replace_testing::SetLockWait(1000ms);
    TempDir dir;
    const std::string folder = dir.file("d"), moved = dir.file("d.old");
    for (const bool letsGo : {false, true}) {
        SCOPED_TRACE(letsGo ? "let go" : "held");
        std::filesystem::remove_all(moved);
        std::filesystem::create_directory(folder);
        quorin::test::WriteText(folder + "/t.fms", "old content");
        const int held = ::open((folder + "/t.fms").c_str(), O_RDONLY);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        std::promise<std::string> named;
        bool leads = false;
        std::thread peer([&] {
            const std::string written = named.get_future().get();
            std::this_thread::sleep_for(200ms);
            ::rename(folder.c_str(), moved.c_str());
            ::mkdir(folder.c_str(), 0755);
            leads = ::access(written.c_str(), F_OK) == 0;
            if (letsGo) ::flock(held, LOCK_UN);
        });
        timespec before{}, after{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
        const DWORD code = quorin::ReplaceFile(folder + "/t.fms", [&](win::CFile& file) {
            named.set_value(file.GetFilePath());
            file.Write("new", 3);
            return true;
        });
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
        peer.join();
        ::close(held);
        EXPECT_EQ(code, letsGo ? win::ERROR_SUCCESS : win::ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(leads);
        if (!letsGo) {
            EXPECT_LT((after.tv_sec - before.tv_sec) * 1e9 + (after.tv_nsec - before.tv_nsec),
                      0.2e9);
        }
        EXPECT_EQ(ReadText(moved + "/t.fms"), letsGo ? "new" : "old content");
        EXPECT_EQ(Entries(moved), std::vector<std::string>{"t.fms"});
        EXPECT_TRUE(Entries(folder).empty());
        std::filesystem::remove_all(folder);
    }
    quorin::replace_testing::SetLockWait(quorin::kSaveLockWait);
}

namespace {

// Every signal whose default action ends a process (signal(7)): each a process may catch (a full
// set leaves out the numbers the C library keeps for itself) but SIGKILL, and those whose default
// ignores the signal, stops or continues the process.
std::vector<int> SignalsThatEndAProcess() {
    const std::set<int> others = {SIGKILL, SIGCHLD, SIGURG,  SIGWINCH, SIGCONT,
                                  SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU};
    sigset_t all;
    ::sigfillset(&all);
    std::vector<int> ending;
    for (int signal = 1; signal <= SIGRTMAX; ++signal)
        if (::sigismember(&all, signal) == 1 && others.count(signal) == 0) ending.push_back(signal);
    return ending;
}

}  // namespace

// Every signal whose default ends the process, at its default, sent to an in-place save: before
// the first byte of the target is written it ends the save at once, the target untouched; once
// the write has begun (the bytes past the old end written), the write and its sync end first,
// the target whole, and the signal then ends the process. One save per signal, all at once.
TEST(SaveLock, AnEndingSignalNeverCutsAnInPlaceWrite) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::vector<int> ending = SignalsThatEndAProcess();
    std::vector<std::unique_ptr<ClosedFolder>> closed;
    for (const int signal : ending) {
        std::filesystem::create_directory(dir.file(std::to_string(signal)));
        closed.push_back(std::make_unique<ClosedFolder>(dir.file(std::to_string(signal)), "t.fms"));
    }
    const std::string old = "old content", next = "a new content, longer than the old one";
    for (const Pause where : {Pause::afterCheck, Pause::whileWriting}) {
        SCOPED_TRACE(where == Pause::afterCheck ? "before the write" : "while writing");
        std::vector<pid_t> savers;
        for (std::size_t i = 0; i < ending.size(); ++i) {
            closed[i]->Fill(old);
            const pid_t saver = ::fork();
            ASSERT_GE(saver, 0);
            if (saver == 0) {
                ::signal(ending[i], SIG_DFL);
                sigset_t none;
                ::sigemptyset(&none);
                ::sigprocmask(SIG_SETMASK, &none, nullptr);
                if (!quorin::test::BecomeActor()) ::_exit(99);
                quorin::replace_testing::PauseAt(where, 600ms);
                (void)quorin::ReplaceFileBytes(closed[i]->file(), next);
                ::_exit(0);
            }
            savers.push_back(saver);
        }
        // While writing: sent once the target has grown, in the pause after its new end.
        std::this_thread::sleep_for(where == Pause::afterCheck ? 200ms : 0ms);
        const auto sent = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < ending.size(); ++i) {
            while (where == Pause::whileWriting &&
                   std::filesystem::file_size(closed[i]->file()) == old.size() &&
                   std::chrono::steady_clock::now() - sent < 10s)
                std::this_thread::sleep_for(1ms);
            ::kill(savers[i], ending[i]);
        }
        for (std::size_t i = 0; i < ending.size(); ++i) {
            int status = 0;
            ASSERT_EQ(::waitpid(savers[i], &status, 0), savers[i]);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ending[i])
                << "signal " << ending[i] << ", status " << status;
            EXPECT_EQ(ReadText(closed[i]->file()), where == Pause::afterCheck ? old : next)
                << "signal " << ending[i];
        }
        if (where == Pause::afterCheck) {
            EXPECT_LT(std::chrono::steady_clock::now() - sent, 300ms);
        }
    }
}
