// CFile and CMemFile: buffered reads behind seeks, coherent read-write, end-of-file answers,
// write failures as exceptions (a full disk included), open failures with their cause; whole-file
// reads of files that hold fewer bytes than their status says.
#include "platform/files/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <numeric>
#include <random>

#include "common/platform/file_size_limit.h"
#include "common/test_util.h"
#include "platform/core/lasterror.h"

using namespace win;
using quorin::test::RunCommand;
using quorin::test::ShellQuote;
using quorin::test::TempDir;

namespace {

std::vector<unsigned char> Pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 131) ^ (i >> 8));
    return bytes;
}

TEST(CFile, SmallReadsBehindSeeksGiveTheRightBytes) {
    TempDir dir;
    const auto bytes = Pattern(300000);
    quorin::test::WriteBytes(dir.file("a.bin"), bytes);
    CFile file;
    ASSERT_TRUE(file.Open(dir.file("a.bin").c_str(), CFile::modeRead));
    EXPECT_EQ(file.GetLength(), bytes.size());
    std::mt19937 rng(5);
    for (int i = 0; i < 3000; ++i) {
        const std::uint64_t at = rng() % (bytes.size() + 10);
        const std::uint32_t count = 1 + rng() % (i % 50 == 0 ? 100000 : 16);
        ASSERT_EQ(file.Seek(static_cast<std::int64_t>(at), CFile::begin),
                  static_cast<std::int64_t>(at));
        std::vector<unsigned char> got(count);
        const std::uint32_t n = file.Read(got.data(), count);
        const std::uint64_t expected =
            at >= bytes.size() ? 0 : std::min<std::uint64_t>(count, bytes.size() - at);
        ASSERT_EQ(n, expected) << "at " << at;
        ASSERT_TRUE(
            std::equal(got.begin(), got.begin() + n, bytes.begin() + static_cast<long>(at)));
        EXPECT_EQ(file.GetPosition(), at + n);
    }
}

TEST(CFile, ShortReadAtEndAndSeekPastEnd) {
    TempDir dir;
    quorin::test::WriteText(dir.file("s.txt"), "hello");
    CFile file;
    ASSERT_TRUE(file.Open(dir.file("s.txt").c_str(), CFile::modeRead | CFile::typeBinary));
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(file.Read(buf, sizeof buf), 0u);
    EXPECT_EQ(file.Seek(100, CFile::begin), 100);
    EXPECT_EQ(file.Read(buf, 4), 0u);
    EXPECT_EQ(file.Seek(-2, CFile::end), 3);
    EXPECT_EQ(file.Read(buf, 4), 2u);
    EXPECT_EQ(file.Seek(-10, CFile::current), -1);
    EXPECT_EQ(file.GetPosition(), 5u) << "a failed seek leaves the position";
    file.Close();
    EXPECT_FALSE(file.IsOpen());
}

TEST(CFile, ReadWriteStaysCoherent) {
    TempDir dir;
    const std::string path = dir.file("rw.bin");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
    const auto bytes = Pattern(100000);
    file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    file.SeekToBegin();
    unsigned char b[10];
    ASSERT_EQ(file.Read(b, 10), 10u);  // fills the read buffer
    file.Seek(5, CFile::begin);
    file.Write("XYZ", 3);  // inside the buffered block
    EXPECT_EQ(file.GetPosition(), 8u);
    file.Seek(0, CFile::begin);
    ASSERT_EQ(file.Read(b, 10), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b) + 5, 3), "XYZ");
    EXPECT_EQ(b[8], bytes[8]);
    file.Seek(0, CFile::end);
    file.Write("END", 3);  // appended behind a short buffered block
    file.Seek(-3, CFile::end);
    ASSERT_EQ(file.Read(b, 10), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 3), "END");
    // Writing past the end leaves a hole of zeros.
    file.Seek(10, CFile::end);
    file.Write("Q", 1);
    EXPECT_EQ(file.GetLength(), bytes.size() + 3 + 11);
    file.Close();
    auto onDisk = quorin::test::ReadBytes(path);
    ASSERT_EQ(onDisk.size(), bytes.size() + 14);
    EXPECT_EQ(onDisk[5], 'X');
    EXPECT_EQ(onDisk[bytes.size() + 3], 0);
    EXPECT_EQ(onDisk.back(), 'Q');
}

TEST(CFile, WriteToFullDiskThrows) {
    CFile file;
    ASSERT_TRUE(file.Open("/dev/full", CFile::modeWrite));
    try {
        file.Write("abc", 3);
        FAIL() << "no exception";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.m_cause, CFileException::diskFull);
        EXPECT_EQ(error.m_lOsError, static_cast<int>(ERROR_DISK_FULL));
        EXPECT_EQ(error.m_strFileName, "/dev/full");
    }
}

// A write that would pass the file-size limit fails whole, before any of it reaches the file, in
// a process that leaves SIGXFSZ at its default (which the system would end mid-write); a write up
// to the limit exactly is made.
TEST(CFile, WritePastTheFileSizeLimitFailsWhole) {
    TempDir dir;
    const std::string path = dir.file("limited.bin");
    const auto bytes = Pattern(1500);
    const int result = quorin::test::InChildUnderSizeLimit(1000, [&] {
        CFile file;
        if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite)) return 1;
        file.Write(bytes.data(), 600);
        try {
            file.Write(bytes.data() + 600, 500);
            return 2;
        } catch (const CFileException& error) {
            if (error.m_lOsError != static_cast<int>(ERROR_FILE_TOO_LARGE) ||
                GetLastError() != ERROR_FILE_TOO_LARGE || file.GetPosition() != 600)
                return 3;
        }
        file.Write(bytes.data() + 600, 400);
        file.Close();
        return 0;
    });
    ASSERT_EQ(result, 0);
    const auto onDisk = quorin::test::ReadBytes(path);
    ASSERT_EQ(onDisk.size(), 1000u);
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), bytes.begin()));
}

TEST(CFile, WriteOnReadOnlyFileThrows) {
    TempDir dir;
    quorin::test::WriteText(dir.file("r.txt"), "x");
    CFile file;
    ASSERT_TRUE(file.Open(dir.file("r.txt").c_str(), CFile::modeRead));
    EXPECT_THROW(file.Write("a", 1), CFileException);
    CFile closed;
    EXPECT_THROW(closed.Write("a", 1), CFileException);
    EXPECT_EQ(closed.Read(nullptr, 0), 0u);
}

TEST(CFile, OpenFailureGivesCause) {
    TempDir dir;
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(dir.file("missing.dcm").c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(file.Open(dir.file("no/such/x.dcm").c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    quorin::test::WriteText(dir.file("plain"), "x");
    EXPECT_FALSE(
        file.Open(dir.file("plain/x.dcm").c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
    EXPECT_FALSE(file.Open(dir.path().c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied) << "a folder is no file";
    EXPECT_FALSE(file.IsOpen());
}

TEST(CFile, OpenAcceptsBackslashes) {
    TempDir dir;
    quorin::test::WriteText(dir.file("b.txt"), "ok");
    std::string windowsStyle = dir.path() + "\\b.txt";
    CFile file;
    ASSERT_TRUE(file.Open(windowsStyle.c_str(), CFile::modeRead));
    EXPECT_EQ(file.GetFilePath(), windowsStyle);
    EXPECT_EQ(file.GetLength(), 2u);
}

TEST(CFile, CreateWithoutTruncateKeepsContent) {
    TempDir dir;
    quorin::test::WriteText(dir.file("k.txt"), "keep");
    CFile file;
    ASSERT_TRUE(file.Open(dir.file("k.txt").c_str(),
                          CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
    EXPECT_EQ(file.GetLength(), 4u);
    ASSERT_TRUE(file.Open(dir.file("k.txt").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(file.GetLength(), 0u);
}

TEST(CMemFile, SameSemantics) {
    CMemFile file(std::vector<unsigned char>{1, 2, 3, 4, 5});
    EXPECT_TRUE(file.IsOpen());
    unsigned char b[8] = {};
    EXPECT_EQ(file.Read(b, 3), 3u);
    EXPECT_EQ(file.Read(b, 8), 2u);
    EXPECT_EQ(b[1], 5);
    EXPECT_EQ(file.Read(b, 8), 0u);
    EXPECT_EQ(file.Seek(-1, CFile::begin), -1);
    EXPECT_EQ(file.Seek(10, CFile::begin), 10);
    EXPECT_EQ(file.Read(b, 1), 0u);
    file.Write("z", 1);
    ASSERT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.Data()[7], 0) << "the hole reads zero";
    EXPECT_EQ(file.Data()[10], 'z');
}

TEST(CMemFile, WriteLimitIsAFullDiskWithPartialWrite) {
    CMemFile file;
    file.SetWriteLimit(6);
    file.Write("abcd", 4);
    try {
        file.Write("efgh", 4);
        FAIL() << "no exception";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.m_cause, CFileException::diskFull);
    }
    EXPECT_EQ(file.GetLength(), 6u);
    EXPECT_EQ(file.GetPosition(), 6u);
    EXPECT_EQ(std::string(file.Data().begin(), file.Data().end()), "abcdef");
    EXPECT_THROW(file.Write("x", 1), CFileException);
    file.Seek(std::int64_t{1} << 40, CFile::begin);
    CMemFile unlimited;
    unlimited.Seek(std::int64_t{1} << 40, CFile::begin);
    EXPECT_THROW(unlimited.Write("x", 1), CFileException) << "no terabyte request";
    EXPECT_EQ(unlimited.GetLength(), 0u);
}

// Files under /sys state a size of a page but hold a line: a whole-file read gives that line, as
// cat reads it, not the page its status promised.
TEST(ReadRegularFile, GivesTheBytesThereWhenTheStatusSaysMore) {
    for (const std::string path :
         {"/sys/devices/system/cpu/possible", "/sys/devices/system/cpu/present",
          "/sys/kernel/mm/transparent_hugepage/enabled"}) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const auto cat = RunCommand("cat " + ShellQuote(path));
        if (cat.status != 0 || cat.output.empty() ||
            cat.output.size() >= static_cast<std::size_t>(info.st_size))
            continue;
        std::string got;
        ASSERT_EQ(quorin::ReadRegularFile(path, 1 << 20, got), ERROR_SUCCESS) << path;
        EXPECT_EQ(got, cat.output) << path;
        return;
    }
    GTEST_SKIP() << "no file under /sys holds fewer bytes than its status says";
}

}  // namespace
