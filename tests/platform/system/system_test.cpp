// The small system services: notices, local time, the machine number, the priority guard, the
// processor's vector paths, the bitmap resources and the device-library loader.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "common/platform/every_path.h"
#include "platform/core/lasterror.h"
#include "platform/core/notify.h"
#include "platform/system/bitmap.h"
#include "platform/system/clock.h"
#include "platform/system/cpu.h"
#include "platform/system/devicelib.h"
#include "platform/system/paths.h"
#include "platform/system/priority.h"

using namespace win;

namespace {

TEST(Notify, HandlerReceivesAndDefaultComesBack) {
    std::vector<std::string> seen;
    NotifyHandler previous = SetNotifyHandler([&](std::string_view caption, std::string_view text) {
        seen.push_back(std::string(caption) + "|" + std::string(text));
    });
    Notify("Title", "Text");
    EXPECT_EQ(seen, std::vector<std::string>{"Title|Text"});
    SetNotifyHandler([](std::string_view, std::string_view) { throw 1; });
    Notify("Still", "no throw out of Notify");
    SetNotifyHandler(previous);
    testing::internal::CaptureStderr();
    Notify("Cap", "two\nlines");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cap: two lines\n");
}

TEST(Clock, LocalTimeFollowsTz) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "America/New_York"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (std::int64_t t :
             {std::int64_t{0}, std::int64_t{1720000000}, std::int64_t{951782400}}) {
            std::tm ours{}, libc{};
            ASSERT_TRUE(LocalTime(t, ours));
            const std::time_t tt = static_cast<std::time_t>(t);
            localtime_r(&tt, &libc);
            EXPECT_EQ(ours.tm_hour, libc.tm_hour) << zone;
            EXPECT_EQ(ours.tm_mday, libc.tm_mday) << zone;
            EXPECT_EQ(ours.tm_isdst, libc.tm_isdst) << zone;
        }
    }
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    std::tm summer{};
    ASSERT_TRUE(LocalTime(1720000000, summer));  // 2024-07-03 09:46:40 UTC
    EXPECT_EQ(summer.tm_hour, 11);
    EXPECT_EQ(summer.tm_year, 124);
    std::tm far{};
    EXPECT_FALSE(LocalTime(std::int64_t{1} << 62, far));
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    const std::int64_t now = NowMilliseconds();
    EXPECT_GT(now, std::int64_t{1600000000} * 1000);
}

TEST(Clock, MachineNumberIsStable) {
    const std::uint32_t first = MachineNumber();
    std::uint32_t fromThread = 0;
    std::thread([&] { fromThread = MachineNumber(); }).join();
    EXPECT_EQ(MachineNumber(), first);
    EXPECT_EQ(fromThread, first);
}

int Nice() {
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
}

TEST(PriorityGuard, AlwaysRestores) {
    const int before = Nice();
    {
        PriorityGuard guard;
        if (guard.Raised())
            EXPECT_LT(Nice(), before);
        else
            EXPECT_EQ(Nice(), before) << "a refused raise changes nothing";
        { PriorityGuard nested; }
        EXPECT_EQ(Nice() < before, guard.Raised());
    }
    EXPECT_EQ(Nice(), before);
    // Started from a lowered priority (no privilege needed to lower), it comes back there.
    std::thread([] {
        ASSERT_EQ(setpriority(PRIO_PROCESS, 0, Nice() + 3 > 19 ? 19 : Nice() + 3), 0);
        const int lowered = Nice();
        { PriorityGuard guard; }
        EXPECT_EQ(Nice(), lowered);
    }).join();
}

// Bodies that tell which path ran them.
void RanBaseline(int* path) {
    *path = 0;
}
void RanAvx2(int* path) {
    *path = 1;
}
void RanAvx512(int* path) {
    *path = 2;
}

// The paths follow the processor's flags as the kernel lists them, and the test hooks turn the
// higher ones off while they live, nested or not; the suites' helper runs a kernel once on each,
// and a kernel's per-path builds run the body of the path chosen.
TEST(Cpu, PathsFollowTheFlagsAndTheHooks) {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    std::set<std::string> flags;
    while (std::getline(info, line))
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            for (std::string word; words >> word;) flags.insert(word);
            break;
        }
    if (flags.empty()) GTEST_SKIP() << "no processor flags listed";
    const bool avx2 = flags.count("avx2") > 0;
    bool avx512 = avx2;
    for (const char* flag : {"avx512f", "avx512bw", "avx512vl", "avx512dq", "avx512vbmi"})
        avx512 = avx512 && flags.count(flag) > 0;
    EXPECT_EQ(quorin::cpu::UseAvx2(), avx2);
    EXPECT_EQ(quorin::cpu::UseAvx512(), avx512);
    {
        quorin::cpu::ScopedAvx2Only outer;
        {
            quorin::cpu::ScopedAvx2Only inner;
            EXPECT_FALSE(quorin::cpu::UseAvx512());
        }
        EXPECT_FALSE(quorin::cpu::UseAvx512());
        EXPECT_EQ(quorin::cpu::UseAvx2(), avx2);
    }
    EXPECT_EQ(quorin::cpu::UseAvx512(), avx512);
    {
        quorin::cpu::ScopedBaselineOnly only;
        EXPECT_FALSE(quorin::cpu::UseAvx2());
        EXPECT_FALSE(quorin::cpu::UseAvx512());
    }
    EXPECT_EQ(quorin::cpu::UseAvx2(), avx2);
    std::pair<bool, bool> seen[3];
    quorin::test::OnEveryPath([&](int path) {
        seen[path] = {quorin::cpu::UseAvx2(), quorin::cpu::UseAvx512()};
    });
    EXPECT_EQ(seen[0], std::pair(avx2, avx512));
    EXPECT_EQ(seen[1], std::pair(avx2, false));
    EXPECT_EQ(seen[2], std::pair(false, false));
    int ran[3] = {-1, -1, -1};
    quorin::test::OnEveryPath([&](int path) {
        quorin::cpu::Paths<RanBaseline, RanAvx2, RanAvx512>::Choose()(&ran[path]);
    });
    EXPECT_EQ(ran[0], avx512 ? 2 : avx2 ? 1 : 0);
    EXPECT_EQ(ran[1], avx2 ? 1 : 0);
    EXPECT_EQ(ran[2], 0);
}

TEST(Resources, NoBitmapsAndNoDeviceLibraries) {
    for (int id : {0, 1, 100, 130, 32754, -1}) EXPECT_EQ(LoadBitmapResource(id), nullptr) << id;
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("SensorDriver.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "Init"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

}  // namespace
