// Handle-style reader: Win32 answers for reads at the end, pointer moves and sizes, and handles
// that are closed or were never opened.
#include "platform/files/rawfile.h"

#include <gtest/gtest.h>

#include "common/test_util.h"
#include "platform/core/lasterror.h"

using namespace win;
using quorin::test::TempDir;

namespace {

TEST(RawFile, ReadSeekSizeAndShortReadAtEnd) {
    TempDir dir;
    quorin::test::WriteText(dir.file("r.bin"), "0123456789");
    HANDLE h = CreateFileA(dir.file("r.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    char buf[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(SetFilePointer(h, 7, nullptr, FILE_BEGIN), 7u);
    EXPECT_TRUE(ReadFile(h, buf, 8, &got, nullptr)) << "end of file is no error";
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_TRUE(ReadFile(h, buf, 8, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 7u);
    EXPECT_EQ(SetFilePointer(h, -8, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 7u) << "position unchanged";
    LONG hi = 1;  // 4 GiB + 1: past the end is allowed
    EXPECT_EQ(SetFilePointer(h, 1, &hi, FILE_BEGIN), 1u);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(ReadFile(h, buf, 8, &got, nullptr));
    EXPECT_EQ(got, 0u);
    DWORD written = 5;
    EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr)) << "opened for reading";
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buf, 1, &got, nullptr));
    EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
}

TEST(RawFile, MissingFileAndCreate) {
    TempDir dir;
    EXPECT_EQ(
        CreateFileA(dir.file("none").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE h = CreateFileA(dir.file("new").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    char buf[4] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "abc");
    EXPECT_TRUE(CloseHandle(h));
}

TEST(RawFile, WriteToFullDiskReportsDiskFull) {
    HANDLE h = CreateFileA("/dev/full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 9;
    EXPECT_FALSE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
