// Platform answers at their exact edges: a seek to just before the start, the Windows creation
// dispositions on a file that exists, and a block regrown inside the room it kept.
#include <gtest/gtest.h>

#include <cstring>

#include "common/test_util.h"
#include "platform/core/globalmem.h"
#include "platform/core/lasterror.h"
#include "platform/files/file.h"
#include "platform/files/rawfile.h"

using namespace win;
using quorin::test::TempDir;

namespace {

TEST(PlatformBoundaries, SeekBeforeTheStartFailsAndKeepsThePosition) {
    TempDir dir;
    quorin::test::WriteText(dir.file("s.bin"), "0123456789");
    CFile file;
    ASSERT_TRUE(file.Open(dir.file("s.bin").c_str(), CFile::modeRead));
    CMemFile memory;
    memory.Write("0123456789", 10);
    for (CFile* f : {static_cast<CFile*>(&file), static_cast<CFile*>(&memory)}) {
        ASSERT_EQ(f->Seek(3, CFile::begin), 3);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(f->Seek(-1, CFile::begin), -1);
        EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
        EXPECT_EQ(f->Seek(-4, CFile::current), -1);
        EXPECT_EQ(f->Seek(-11, CFile::end), -1);
        EXPECT_EQ(f->GetPosition(), 3u);
        EXPECT_EQ(f->Seek(-3, CFile::current), 0) << "the start itself is a position";
    }
    HANDLE h = CreateFileA(dir.file("s.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u);
    CloseHandle(h);
}

TEST(PlatformBoundaries, CreationDispositionsOnAnExistingFile) {
    // CREATE_NEW 1, OPEN_ALWAYS 4, TRUNCATE_EXISTING 5 as the Windows headers number them.
    struct Case {
        DWORD disposition;
        bool opens;
        DWORD error;  // when refused
        DWORD size;   // when opened
    };
    const Case cases[] = {{1, false, ERROR_FILE_EXISTS, 0}, {4, true, 0, 6}, {5, true, 0, 0}};
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("d.bin");
        quorin::test::WriteText(path, "kept!\n");
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               c.disposition, 0, nullptr);
        if (!c.opens) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.disposition;
            EXPECT_EQ(GetLastError(), c.error) << c.disposition;
            EXPECT_EQ(quorin::test::ReadBytes(path).size(), 6u) << c.disposition;
            continue;
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.disposition;
        EXPECT_EQ(GetFileSize(h, nullptr), c.size) << c.disposition;
        CloseHandle(h);
    }
    // On a missing file OPEN_ALWAYS creates it and TRUNCATE_EXISTING fails.
    TempDir dir;
    HANDLE h = CreateFileA(dir.file("none").c_str(), GENERIC_WRITE, 0, nullptr, 5, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    h = CreateFileA(dir.file("none").c_str(), GENERIC_WRITE, 0, nullptr, 4, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    CloseHandle(h);
}

TEST(PlatformBoundaries, BlockShrunkALittleAndRegrownReadsZeros) {
    // 100 -> 90 keeps the block's room (it shrank by less than half); growing back to 100 must
    // not bring the old bytes 90..99 back.
    for (UINT flags : {UINT(GMEM_MOVEABLE), UINT(GMEM_FIXED)}) {
        HGLOBAL h = GlobalAlloc(flags, 100);
        ASSERT_NE(h, nullptr);
        std::memset(GlobalLock(h), 0xAB, 100);
        GlobalUnlock(h);
        h = GlobalReAlloc(h, 90, GMEM_MOVEABLE);
        ASSERT_NE(h, nullptr);
        h = GlobalReAlloc(h, 100, GMEM_MOVEABLE | GMEM_ZEROINIT);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(GlobalSize(h), 100u);
        const auto* p = static_cast<const unsigned char*>(GlobalLock(h));
        EXPECT_EQ(p[89], 0xAB);
        for (int i = 90; i < 100; ++i) EXPECT_EQ(p[i], 0) << "byte " << i;
        GlobalUnlock(h);
        GlobalFree(h);
    }
}

}  // namespace
