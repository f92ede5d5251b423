// UIDs: the generated form, the length limit, derived and number-built UIDs, and uniqueness
// under threads and across processes checked by pydicom.
#include "records/core/uid.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <quorin/uid.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "common/platform/as_user.h"
#include "common/platform/file_size_limit.h"
#include "common/platform/folder_view.h"
#include "common/test_settings.h"
#include "common/test_util.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t dot; (dot = text.find('.', start)) != std::string::npos; start = dot + 1) {
        parts.push_back(text.substr(start, dot - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The issuer of a generated UID (the number after the machine number).
std::string IssuerOf(const CUid& uid) {
    const std::vector<std::string> parts = Split(uid.GetText());
    return parts.size() == 10 ? parts[7] : "form of " + uid.GetText();
}

// The time of a generated UID in milliseconds since 1970 (far in the future when not of that form),
// and the clock's.
std::int64_t TimeOf(const CUid& uid) {
    const std::vector<std::string> parts = Split(uid.GetText());
    return parts.size() == 10 ? std::stoll(parts[8]) * 1000 + std::stoll(parts[9])
                              : std::numeric_limits<std::int64_t>::max();
}
std::int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TEST(UidGenerate, RootKindMachineIssuerAndTime) {
    quorin::test::ScopedSettings settings;  // a folder of the user's: the user's own stamp
    CUid uid;
    EXPECT_TRUE(uid.IsEmpty());
    ASSERT_TRUE(uid.GenerateSeriesUID());
    const std::vector<std::string> parts = Split(uid.GetText());
    ASSERT_EQ(parts.size(), 10u) << uid.GetText();
    EXPECT_EQ(uid.GetText().rfind("1.3.999.4.77.2.", 0), 0u);
    EXPECT_EQ(parts[7], std::to_string(2 * ::geteuid()));
    EXPECT_LT(std::stoi(parts[9]), 1000);
    EXPECT_TRUE(quorin::IsValidUid(uid.GetText()));
    ASSERT_TRUE(uid.GenerateStudyUID());
    EXPECT_EQ(Split(uid.GetText())[5], "1");
    ASSERT_TRUE(uid.GenerateInstanceUID());
    EXPECT_EQ(Split(uid.GetText())[5], "3");
    if (::geteuid() != 0) GTEST_SKIP() << "a process turning into another user needs root";
    // Root's stamp, once the process is another user, is none of that user's.
    const auto turned = [] {
        CUid made;
        if (!made.GenerateInstanceUID() || ::setresuid(1001, 1001, 1001) != 0) return 99;
        const bool own =
            made.GenerateInstanceUID() && IssuerOf(made) == std::to_string(2 * getpid() + 1);
        return own ? 0 : 1;
    };
    EXPECT_EQ(quorin::test::RunAsUser(0, turned), 0);
}

// The issuer follows the machine number; the longest UID of ordinary user and process numbers
// (below 50,000,000) leaves the 15 characters of ".seconds.ms" within 64, the longest of all 51.
TEST(UidGenerate, MachineZeroTakesTheSeconds) {
    EXPECT_EQ(quorin::ComposeGeneratedUid(3, 0, {1700000000123, 131068}),
              "1.3.999.4.77.3.1700000000.131068.1700000000.123");
    EXPECT_EQ(quorin::ComposeGeneratedUid(1, 4294967295u, {5, 1}),
              "1.3.999.4.77.1.4294967295.1.0.5");
    EXPECT_EQ(quorin::ComposeGeneratedUid(3, 4294967295u, {9999999999999, 99999999}).size(), 49u);
    EXPECT_EQ(quorin::ComposeGeneratedUid(3, 4294967295u, {9999999999999, 8589934588}).size(), 51u);
}

TEST(UidGenerate, TimeStampsStrictlyIncrease) {
    std::int64_t previous = quorin::NextUidTimeStamp();
    for (int i = 0; i < 10000; ++i) {
        const std::int64_t next = quorin::NextUidTimeStamp();
        ASSERT_GT(next, previous);
        previous = next;
    }
}

// The stamp file's 8 bytes, little-endian.
std::uint64_t StoredStamp(const std::vector<unsigned char>& bytes) {
    std::uint64_t stored = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) stored = (stored << 8) | bytes[i];
    return stored;
}

// Under a file-size limit that leaves no room for the machine stamp (SIGXFSZ at its default),
// UIDs are still made, distinct, and the stamp file is left whole as it was; a limit of exactly
// its size lets it be written.
TEST(UidGenerate, AFileSizeLimitLeavesTheStampFileAlone) {
    quorin::test::ScopedSettings settings;
    CUid first;
    ASSERT_TRUE(first.GenerateInstanceUID());  // the stamp file now holds a stamp
    const std::vector<unsigned char> stamp = quorin::test::ReadBytes(settings.file("uid-stamp"));
    ASSERT_EQ(stamp.size(), 8u);
    const auto makeTwo = [&] {
        CUid a;
        CUid b;
        const bool made = a.GenerateInstanceUID() && b.GenerateInstanceUID();
        return made && a.GetText() != b.GetText() && a.GetText() != first.GetText() ? 0 : 1;
    };
    // At 7 bytes the write would not end the process but cut the stamp short.
    for (const rlim_t limit : {0, 7}) {
        EXPECT_EQ(quorin::test::InChildUnderSizeLimit(limit, makeTwo), 0)
            << limit << " (98: ended by the limit)";
        EXPECT_EQ(quorin::test::ReadBytes(settings.file("uid-stamp")), stamp);
    }
    EXPECT_EQ(quorin::test::InChildUnderSizeLimit(8, makeTwo), 0);
    const std::vector<unsigned char> after = quorin::test::ReadBytes(settings.file("uid-stamp"));
    ASSERT_EQ(after.size(), 8u);
    EXPECT_GT(StoredStamp(after), StoredStamp(stamp));
}

// The stamp file is the user's alone: one made earlier open to others is made private. A peer
// holding its lock for good (another open of the file, as a stopped process would hold it)
// delays a UID by the 2 s bound, after which the process's own road serves (its UIDs carry
// 2 x pid + 1) and the file is left as the peer keeps it; a peer that lets go within the bound
// is waited for, and its stamp honoured.
TEST(UidProcesses, AStampFileLockedByAPeerIsWaitedForTwoSecondsAtMost) {
    using namespace std::chrono_literals;
    quorin::test::ScopedSettings settings;
    const std::string file = settings.file("uid-stamp");
    quorin::test::WriteText(file, "");
    ASSERT_EQ(::chmod(file.c_str(), 0646), 0);
    const std::int64_t first = quorin::NextUidTimeStamp();
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const int peer = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::flock(peer, LOCK_EX), 0);
    const std::uint64_t ahead = static_cast<std::uint64_t>(first) + 100'000;  // 100 s on
    std::vector<unsigned char> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(ahead >> (8 * i));
    ASSERT_EQ(::pwrite(peer, bytes.data(), 8, 0), 8);

    const auto start = std::chrono::steady_clock::now();
    const std::int64_t held = quorin::NextUidTimeStamp();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GT(held, first);
    EXPECT_LT(static_cast<std::uint64_t>(held), ahead) << "the file is not read unlocked";
    EXPECT_GE(waited, 1900ms);
    EXPECT_LT(waited, 3s);
    EXPECT_EQ(quorin::test::ReadBytes(file), bytes);

    // A peer that holds it for good costs one wait: the next UIDs only try the lock.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_GT(quorin::NextUidTimeStamp(), held);
    CUid own;
    ASSERT_TRUE(own.GenerateInstanceUID());
    EXPECT_EQ(IssuerOf(own), std::to_string(2 * ::getpid() + 1));
    EXPECT_LT(std::chrono::steady_clock::now() - again, 500ms);

    // Once the lock is had again, it is waited for again.
    ::flock(peer, LOCK_UN);
    EXPECT_GT(static_cast<std::uint64_t>(quorin::NextUidTimeStamp()), ahead);
    ASSERT_TRUE(own.GenerateInstanceUID());
    EXPECT_EQ(IssuerOf(own), std::to_string(2 * ::geteuid()));
    ASSERT_EQ(::flock(peer, LOCK_EX), 0);
    std::thread letGo([peer] {
        std::this_thread::sleep_for(300ms);
        ::flock(peer, LOCK_UN);
    });
    const std::int64_t taken = quorin::NextUidTimeStamp();
    letGo.join();
    ::close(peer);
    EXPECT_GT(static_cast<std::uint64_t>(taken), ahead);
    EXPECT_EQ(StoredStamp(quorin::test::ReadBytes(file)), static_cast<std::uint64_t>(taken));
}

// Two UIDs made now, valid and distinct, and time stamps still rising: the process's own stamps
// serve where the file does not.
bool MadeDistinct() {
    CUid a;
    CUid b;
    const std::int64_t before = quorin::NextUidTimeStamp();
    const bool made = a.GenerateInstanceUID() && b.GenerateSeriesUID();
    return made && a.GetText() != b.GetText() && quorin::IsValidUid(a.GetText()) &&
           quorin::IsValidUid(b.GetText()) && quorin::NextUidTimeStamp() > before;
}

// A stamp that is not a regular file of the user's own is neither written nor made: a link
// another user put in the settings folder, to a file of the user's or dangling, or a second name
// of a file of the user's. The file keeps its content, nothing is made where the link points.
TEST(UidStamp, ALinkInTheSettingsFolderIsNotFollowed) {
    quorin::test::TempDir elsewhere;
    const std::string kept = elsewhere.file("kept");
    const std::string named = elsewhere.file("named");
    enum class Plant { link, dangling, secondName };
    for (const Plant plant : {Plant::link, Plant::dangling, Plant::secondName}) {
        SCOPED_TRACE(static_cast<int>(plant));
        quorin::test::ScopedSettings settings;  // a folder of the user's own
        const std::string stamp = settings.file("uid-stamp");
        quorin::test::WriteText(kept, "ROOTDATA-keep-me");
        const std::string target = plant == Plant::link ? kept : named;
        ASSERT_EQ(plant == Plant::secondName ? ::link(kept.c_str(), stamp.c_str())
                                             : ::symlink(target.c_str(), stamp.c_str()),
                  0);
        EXPECT_TRUE(MadeDistinct());
        EXPECT_EQ(quorin::test::ReadText(kept), "ROOTDATA-keep-me");
        EXPECT_FALSE(std::filesystem::exists(named));
        EXPECT_EQ(std::filesystem::is_symlink(stamp), plant != Plant::secondName);
        std::filesystem::remove(kept);
    }
}

// The stamp and its folders are made only inside a folder of the user's: in a home of the user's
// own the folders missing on the way are made private; in another user's home (root with that
// user's HOME, sudo -E), settings folder or stamp file, or in a folder of the user's that others
// may empty (others may write it, and it is not sticky), nothing is made or written.
TEST(UidStamp, NothingIsMadeOrWrittenInAnotherUsersFolder) {
    constexpr uid_t kOther = 1001;
    const auto keep = [](const char* name) {
        const char* value = std::getenv(name);
        return std::make_pair(name,
                              value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    };
    const auto saved = {keep("HOME"), keep("XDG_CONFIG_HOME")};
    enum class Row { ownHome, stickyFolder, openFolder, othersHome, othersFolder, othersStamp };
    for (const Row row : {Row::ownHome, Row::stickyFolder, Row::openFolder, Row::othersHome,
                          Row::othersFolder, Row::othersStamp}) {
        SCOPED_TRACE(static_cast<int>(row));
        if (row > Row::openFolder && ::geteuid() != 0) {
            GTEST_SKIP() << "another user's folders need a second user";
        }
        quorin::test::ScopedSettings settings;
        const std::string dir = settings.file("d");
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
        ::chmod(dir.c_str(), row == Row::openFolder     ? 0777
                             : row == Row::stickyFolder ? 01777
                                                        : 0755);
        if (row == Row::othersHome || row == Row::othersFolder) {
            ASSERT_EQ(::chown(dir.c_str(), kOther, kOther), 0);
        }
        const bool home = row == Row::ownHome || row == Row::othersHome;
        const std::string stamp = home ? dir + "/.config/quorin/uid-stamp" : dir + "/uid-stamp";
        if (row == Row::othersStamp) {
            quorin::test::WriteText(stamp, "OTHERS-keep-me");
            ASSERT_EQ(::chown(stamp.c_str(), kOther, kOther), 0);
            ::chmod(stamp.c_str(), 0666);
        }
        if (home) {
            unsetenv("QUORIN_CONFIG_DIR");  // put back by the settings' end
            unsetenv("XDG_CONFIG_HOME");
            setenv("HOME", dir.c_str(), 1);
        } else {
            setenv("QUORIN_CONFIG_DIR", dir.c_str(), 1);
        }
        EXPECT_TRUE(MadeDistinct());
        for (const auto& [name, value] : saved)
            value ? setenv(name, value->c_str(), 1) : unsetenv(name);

        if (row == Row::ownHome) {
            for (const std::string& made : {dir + "/.config", dir + "/.config/quorin", stamp}) {
                const struct stat info = quorin::test::StatOf(made);
                EXPECT_EQ(info.st_uid, ::geteuid()) << made;
                EXPECT_EQ(info.st_mode & 0777, made == stamp ? 0600u : 0700u) << made;
            }
        } else if (row == Row::stickyFolder) {  // the user's file stays the user's there
            EXPECT_EQ(quorin::test::ReadBytes(stamp).size(), 8u);
        } else if (row == Row::othersStamp) {
            EXPECT_EQ(quorin::test::ReadText(stamp), "OTHERS-keep-me");
            EXPECT_EQ(quorin::test::StatOf(stamp).st_uid, kOther);
        } else {
            EXPECT_TRUE(quorin::test::Entries(dir).empty());
        }
    }
}

// The stamp lies in the very folder the settings are saved in, QUORIN_CONFIG_DIR read as the
// system reads a name: "cfg\x" one name, "C:/cfg" a folder "C:" under the current one; so does
// a configuration home ending in "/", "//" or "/./".
TEST(UidStamp, TheStampIsInTheSettingsFolderAsTheSystemNamesIt) {
    const char* const xdg = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> kept = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    for (const std::string named : {"cfg\\x", "C:/cfg", "/xdg/", "/xdg//", "/xdg/./"}) {
        SCOPED_TRACE(named);
        const bool home = named.front() == '/';
        quorin::test::ScopedSettings settings;
        quorin::test::TempDir dir;
        std::filesystem::create_directories(dir.file("cfg/x"));
        std::filesystem::create_directories(dir.file("xdg"));
        setenv("QUORIN_DRIVE_C", dir.file("cfg").c_str(), 1);
        const std::string cwd = std::filesystem::current_path();
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        if (home) unsetenv("QUORIN_CONFIG_DIR");  // put back by the settings' end
        setenv(home ? "XDG_CONFIG_HOME" : "QUORIN_CONFIG_DIR",
               (home ? dir.path() + named : named).c_str(), 1);
        EXPECT_TRUE(MadeDistinct());
        ASSERT_EQ(::chdir(cwd.c_str()), 0);
        unsetenv("QUORIN_DRIVE_C");
        kept ? setenv("XDG_CONFIG_HOME", kept->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(
            quorin::test::ReadBytes(dir.file((home ? "xdg/quorin" : named) + "/uid-stamp")).size(),
            8u);
        EXPECT_TRUE(quorin::test::Entries(dir.file("cfg/x")).empty());
    }
}

TEST(UidDerived, AppendTimeStamp) {
    CUid uid("1.2.3");
    std::string out = "stale";
    ASSERT_TRUE(uid.AppendTimeStamp(out));
    EXPECT_EQ(Split(out).size(), 5u);
    EXPECT_EQ(out.rfind("1.2.3.", 0), 0u);
    std::string again;
    ASSERT_TRUE(uid.AppendTimeStamp(again));
    EXPECT_NE(out, again);  // two derivations within one millisecond still differ
    // ".seconds.ms" adds 13 to 15 characters: 49 still fit in 64, 52 reach 65 or more.
    const std::string base = "1.2." + std::string(60, '1');
    CUid longUid(base.substr(0, 49));
    ASSERT_TRUE(longUid.AppendTimeStamp(out));
    EXPECT_LE(out.size(), 64u);
    CUid tooLong(base.substr(0, 52));
    EXPECT_FALSE(tooLong.AppendTimeStamp(out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(CUid().AppendTimeStamp(out));  // no UID: no ".seconds.ms" text
    EXPECT_EQ(out, "");
}

TEST(UidFromNumber, DigitsAndDots) {
    CUid uid;
    EXPECT_TRUE(uid.BuildFromNumber("123.456"));
    EXPECT_EQ(uid.GetText(), "1.3.999.4.77.50.123.456");
    EXPECT_FALSE(uid.BuildFromNumber("12a"));
    EXPECT_EQ(uid.GetText(), "1.3.999.4.77.50.123.456");
    // Texts that would make an invalid UID are refused and leave the UID as it was.
    for (const char* bad : {"", ".", "12.", ".12", "1..2", "012", "-1", " 1"}) {
        EXPECT_FALSE(uid.BuildFromNumber(bad)) << bad;
        EXPECT_EQ(uid.GetText(), "1.3.999.4.77.50.123.456");
    }
    EXPECT_TRUE(uid.BuildFromNumber("0"));
    const std::string fits(64 - 16, '9');
    EXPECT_TRUE(uid.BuildFromNumber(fits));
    EXPECT_EQ(uid.GetText().size(), 64u);
    EXPECT_FALSE(uid.BuildFromNumber(fits + "9"));
    EXPECT_TRUE(uid.IsEmpty());
}

TEST(UidValidity, Rules) {
    EXPECT_TRUE(quorin::IsValidUid("0"));
    EXPECT_TRUE(quorin::IsValidUid("1.2.840.10008.1.2"));
    EXPECT_FALSE(quorin::IsValidUid(""));
    EXPECT_FALSE(quorin::IsValidUid("1.02"));
    EXPECT_FALSE(quorin::IsValidUid("1.2."));
    EXPECT_FALSE(quorin::IsValidUid("1.x"));
    EXPECT_FALSE(quorin::IsValidUid("1." + std::string(63, '1')));
}

TEST(UidThreads, DistinctAndValidForPydicom) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25000;
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            made[t].reserve(kPerThread);
            CUid uid;
            for (int i = 0; i < kPerThread; ++i) {
                // Instance UIDs mostly, as a burst of acquisitions makes them.
                const bool ok = i % 10 == 0 ? uid.GenerateSeriesUID() : uid.GenerateInstanceUID();
                made[t].push_back(ok ? uid.GetText() : std::string());
            }
        });
    }
    // Children forked meanwhile, without exec, make UIDs of their own and end: whatever stamp a
    // thread was taking at the fork holds nothing of theirs, and they hold nothing of it.
#if defined(QUORIN_TEST_ADDRESS_SANITIZER)
    constexpr int kChildren = 0;  // its allocator may stay held for good in such a child
#else
    constexpr int kChildren = 20;
#endif
    std::vector<std::string> forked;
    for (int c = 0; c < kChildren; ++c) {  // no ASSERT before the threads are joined
        int line[2];
        const pid_t child = pipe(line) == 0 ? fork() : -1;
        if (child == 0) {
            // Its parent's stamp file is none of its own: sharing it would share its lock.
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                if (std::filesystem::read_symlink(fd.path(), error).filename() == "uid-stamp")
                    _exit(::write(line[1], "fd\n", 3) > 0 ? 0 : 1);
            }
            CUid uid;
            const std::string text = uid.GenerateInstanceUID() ? uid.GetText() + "\n" : "\n";
            _exit(::write(line[1], text.data(), text.size()) > 0 ? 0 : 1);
        }
        if (child < 0) break;
        ::close(line[1]);
        pollfd ready{line[0], POLLIN, 0};
        std::string text(80, '\0');
        const ssize_t got = ::poll(&ready, 1, 5000) == 1 ? ::read(line[0], text.data(), 80) : 0;
        ::close(line[0]);
        if (got <= 0) ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_GT(got, 3) << "child " << c << " made no UID within 5 s: " << text.c_str();
        if (got > 1) forked.push_back(text.substr(0, got - 1));
    }
    for (std::thread& thread : threads) thread.join();
    made.push_back(forked);

    quorin::test::TempDir dir;
    const std::string path = dir.file("uids.txt");
    std::unordered_set<std::string> distinct;
    {
        std::ofstream out(path);
        for (const auto& list : made) {
            for (const std::string& text : list) {
                out << text << '\n';
                distinct.insert(text);
            }
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kPerThread + kChildren));
    const quorin::test::CommandResult result = quorin::test::RunCommand(
        quorin::test::FixtureCommand("check_uids.py") + " " + quorin::test::ShellQuote(path));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("checked " + std::to_string(kThreads * kPerThread + kChildren)),
              std::string::npos)
        << result.output;
    if (kChildren == 0)
        GTEST_SKIP() << "children forked meanwhile: not under the address sanitizer";
}

// Processes released at the same moment, each making UIDs: two sharing a settings folder (their
// stamps come from one sequence), users each with a folder of their own, and processes with no
// settings folder at all (no home, no folder named), whose UIDs never name a time to come. No UID
// is made twice (checked by pydicom).
TEST(UidProcesses, ProcessesAtOnceNeverCollide) {
    constexpr uid_t kSelf = static_cast<uid_t>(-1);
    enum class Folder { shared, perUser, none };
    struct Row {
        std::vector<uid_t> users;  // one process each
        Folder folder;
        int each;
    };
    const bool root = ::geteuid() == 0;
    const uid_t alone = root ? quorin::test::kNobody : kSelf;
    const Row rows[] = {{{kSelf, kSelf}, Folder::shared, 50000},
                        {{alone, alone, alone}, Folder::none, 200},
                        {{1001, 1002}, Folder::perUser, 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.folder));
        if (row.folder == Folder::perUser && !root) GTEST_SKIP() << "two users need root";
        ASSERT_FALSE(std::filesystem::exists("/nonexistent"));
        quorin::test::ScopedSettings settings;
        ::chmod(settings.folder().c_str(), 0755);  // the other users reach their folders
        const std::string all = settings.file("uids.txt");
        // Each process adds its list in one write.
        const int out = ::open(all.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        int gate[2];
        ASSERT_TRUE(out >= 0 && pipe(gate) == 0);
        std::vector<pid_t> children;
        for (const uid_t user : row.users) {
            const std::string folder = settings.file("u" + std::to_string(children.size()));
            if (row.folder == Folder::perUser) {
                EXPECT_TRUE(::mkdir(folder.c_str(), 0700) == 0 &&
                            ::chown(folder.c_str(), user, user) == 0);
            }
            children.push_back(fork());
            if (children.back() != 0) continue;
            close(gate[1]);
            if (user != kSelf &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
                 ::setresuid(user, user, user) != 0))
                _exit(99);
            if (row.folder == Folder::perUser) setenv("QUORIN_CONFIG_DIR", folder.c_str(), 1);
            if (row.folder == Folder::none) {
                unsetenv("QUORIN_CONFIG_DIR");
                unsetenv("XDG_CONFIG_HOME");
                setenv("HOME", "/nonexistent", 1);
            }
            char byte;
            (void)!read(gate[0], &byte, 1);  // returns at the parent's close: all start at once
            std::string made;
            CUid uid;
            bool ahead = false;  // a process alone never hands out a time the clock has not passed
            for (int i = 0; i < row.each; ++i) {
                made += (uid.GenerateInstanceUID() ? uid.GetText() : std::string()) + "\n";
                ahead |= row.folder == Folder::none && TimeOf(uid) >= NowMilliseconds();
            }
            const bool written =
                ::write(out, made.data(), made.size()) == static_cast<ssize_t>(made.size());
            _exit(ahead ? 3 : written ? 0 : 1);
        }
        ::close(out);
        close(gate[0]);
        close(gate[1]);
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        const quorin::test::CommandResult result = quorin::test::RunCommand(
            quorin::test::FixtureCommand("check_uids.py") + " " + quorin::test::ShellQuote(all));
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_NE(result.output.find("checked " + std::to_string(row.users.size() * row.each)),
                  std::string::npos)
            << result.output;
    }
}

}  // namespace
