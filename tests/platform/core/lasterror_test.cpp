// Last error per thread, errno mapping and the error texts.
#include "platform/core/lasterror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

using namespace win;

namespace {

TEST(LastError, PerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread([] {
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        SetLastError(ERROR_DISK_FULL);
    }).join();
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, FromErrno) {
    EXPECT_EQ(LastErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastErrorFromErrno(ENOTDIR), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(LastErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(LastErrorFromErrno(ENOMEM), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(LastErrorFromErrno(0), ERROR_SUCCESS);
}

TEST(LastError, Texts) {
    EXPECT_EQ(FormatMessageText(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(FormatMessageText(5), "Access is denied.\r\n");
    EXPECT_EQ(FormatMessageText(112), "There is not enough space on the disk.\r\n");
    EXPECT_EQ(FormatMessageText(0x80070005u), "Access is denied.\r\n") << "HRESULT_FROM_WIN32";
    EXPECT_EQ(FormatMessageText(0x80004005u), "Unspecified error\r\n");
    EXPECT_EQ(FormatMessageText(ERROR_DATATYPE_MISMATCH),
              "The data supplied is of the wrong type.\r\n");
    EXPECT_EQ(FormatMessageText(1), "Incorrect function.\r\n") << "S_FALSE recorded as an error";
    EXPECT_EQ(FormatMessageText(12345), "Unknown error reason...");
    EXPECT_EQ(FormatMessageText(0x80071234u), "Unknown error reason...");
}

}  // namespace
