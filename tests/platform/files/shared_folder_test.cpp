// Saves in folders several users share (sticky, as /tmp): a user allowed to write another user's
// file there saves it in place, where the sticky bit forbids replacing it; a link another user
// planted there is not followed, as the system's own path walk would not follow it. Both need a
// second user: root and nobody.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "common/platform/as_user.h"
#include "common/platform/folder_view.h"
#include "common/test_util.h"
#include "platform/core/lasterror.h"
#include "platform/files/file.h"

using quorin::test::Entries;
using quorin::test::kNobody;
using quorin::test::ReadText;
using quorin::test::RunAsActor;
using quorin::test::StatOf;
using quorin::test::TempDir;
using quorin::test::WriteText;
using win::DWORD;

namespace {

constexpr uid_t kOther = 12345;  // a third user, neither root nor the actor
constexpr uid_t kThird = 1001;   // one more, who saves files of its own

// A folder of `mode` belonging to `owner`, made below `parent`.
std::string MakeFolder(const std::string& parent, const std::string& name, uid_t owner,
                       mode_t mode) {
    const std::string folder = parent + "/" + name;
    std::filesystem::create_directory(folder);
    EXPECT_EQ(::chown(folder.c_str(), owner, owner), 0);
    EXPECT_EQ(::chmod(folder.c_str(), mode), 0);
    return folder;
}

}  // namespace

// Who may replace a file in a sticky folder: its owner, the folder's owner, root. Anybody else
// who may write the file saves it in place, no temporary file made in the folder. In a sticky
// folder everybody may write, a file that belongs neither to the saver nor to the folder's owner
// is another user's plant, as the system's fs.protected_regular sees it: refused to every saver,
// root too, by either road, the file as it was and nothing left beside it.
TEST(SharedFolder, AFileAnotherUserMayWriteIsSavedInPlace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    constexpr int kInPlace = 1, kNewFile = 2, kRefused = 10 + win::ERROR_ACCESS_DENIED;
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t folderOwner, fileOwner, saver;
        int result;  // the folder's entries the writer saw, or 10 + the code of a refusal
    } cases[] = {
        {"the folder owner's file, nobody saves", 01777, 0, 0, kNobody, kInPlace},
        {"the folder owner's file, a third user saves", 01777, kNobody, kNobody, kThird, kInPlace},
        {"the saver's file", 01777, 0, kNobody, kNobody, kNewFile},
        {"the third user's own file", 01777, 0, kThird, kThird, kNewFile},
        {"root's own file", 01777, kOther, 0, 0, kNewFile},
        {"the folder owner's file, root saves", 01777, kOther, kOther, 0, kNewFile},
        {"planted in the saver's folder", 01777, kNobody, 0, kNobody, kRefused},
        {"planted for root in another user's folder", 01777, kOther, kNobody, 0, kRefused},
        {"planted for root in root's folder", 01777, 0, kNobody, 0, kRefused},
        {"planted for nobody in root's folder", 01777, 0, kThird, kNobody, kRefused},
        {"sticky, written by a group only", 01775, kOther, kNobody, 0, kNewFile},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder =
            MakeFolder(dir.path(), std::to_string(index++), c.folderOwner, c.folderMode);
        const std::string target = folder + "/t.fms";
        WriteText(target, "old content");
        ASSERT_EQ(::chown(target.c_str(), c.fileOwner, c.fileOwner), 0);
        ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
        const ino_t inode = StatOf(target).st_ino;
        // The writer counts what the folder holds: a temporary file beside the target, or not.
        const auto save = [&] {
            std::size_t seen = 0;
            const DWORD code = quorin::ReplaceFile(target, [&](win::CFile& file) {
                seen = Entries(folder).size();
                file.Write("new", 3);
                return true;
            });
            return code == win::ERROR_SUCCESS ? static_cast<int>(seen)
                                              : 10 + static_cast<int>(std::min<DWORD>(code, 200));
        };
        EXPECT_EQ(c.saver == 0 ? save() : quorin::test::RunAsUser(c.saver, save), c.result);
        const struct stat info = StatOf(target);
        EXPECT_EQ(ReadText(target), c.result == kRefused ? "old content" : "new");
        EXPECT_EQ(info.st_ino == inode, c.result != kNewFile);
        EXPECT_EQ(info.st_uid, c.result == kNewFile && c.saver != 0 ? c.saver : c.fileOwner);
        EXPECT_EQ(info.st_mode & 07777, 0666u);
        EXPECT_EQ(Entries(folder).size(), 1u);
    }
}

// A link in a sticky folder everybody may write is followed only when it belongs to the saver or
// to the folder's owner: root's save of a link another user planted there to a program of
// root's, or to a file yet to be made, is refused, nothing written or made.
TEST(SharedFolder, LinksAreFollowedOnlyWhereTheSystemWouldFollowThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t linkOwner;
        bool byActor, dangling;
        DWORD code;
    } cases[] = {
        {"planted for root", 01777, kNobody, false, false, win::ERROR_ACCESS_DENIED},
        {"planted dangling for root", 01777, kNobody, false, true, win::ERROR_ACCESS_DENIED},
        {"the saver's own", 01777, kNobody, true, false, win::ERROR_SUCCESS},
        {"the folder owner's", 01777, 0, true, false, win::ERROR_SUCCESS},
        {"sticky, written by a group only", 01775, kOther, false, false, win::ERROR_SUCCESS},
        {"everybody's, not sticky", 0777, kOther, false, false, win::ERROR_SUCCESS},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::to_string(index++);
        const std::string shared = MakeFolder(dir.path(), name + "shared", 0, c.folderMode);
        // The file the link names: a set-user-ID program of root's, or the actor's file.
        const std::string home =
            MakeFolder(dir.path(), name + "home", c.byActor ? kNobody : 0, 0755);
        const std::string target = home + (c.dangling ? "/made" : "/run");
        const mode_t mode = c.byActor ? 0644 : 04755;
        if (!c.dangling) {
            WriteText(target, "old content");
            ASSERT_EQ(::chown(target.c_str(), c.byActor ? kNobody : 0, 0), 0);
            ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        }
        const std::string link = shared + "/out.bmp";
        std::filesystem::create_symlink(target, link);
        ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);

        const auto save = [&] { return static_cast<int>(quorin::ReplaceFileBytes(link, "new")); };
        EXPECT_EQ(c.byActor ? RunAsActor(save) : save(), static_cast<int>(c.code));
        if (c.code == win::ERROR_SUCCESS) {
            EXPECT_EQ(ReadText(target), "new");
        } else if (c.dangling) {
            EXPECT_EQ(Entries(home).size(), 0u);
        } else {
            EXPECT_EQ(ReadText(target), "old content");
            EXPECT_EQ(StatOf(target).st_mode & 07777, mode);
        }
        EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode));
        EXPECT_EQ(Entries(shared).size(), 1u);
    }
}

// A file saved in place whose name the folder's owner gives to a link while the writer runs: the
// save opens no file through the link (the file it names stays as it was) and answers that the
// name is no file it may write, at once rather than after waiting for the lock.
TEST(SharedFolder, ALinkPutInTheTargetsPlaceWhileTheWriterRunsIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string shared = MakeFolder(dir.path(), "shared", 0, 01777);
    const std::string target = shared + "/t.fms";
    const std::string named = dir.file("named.fms");
    for (const std::string& path : {target, named}) {
        WriteText(path, "old content");
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    }
    int writing[2], swapped[2];
    ASSERT_EQ(::pipe(writing), 0);
    ASSERT_EQ(::pipe(swapped), 0);
    std::thread owner([&] {
        char byte = 0;
        if (::read(writing[0], &byte, 1) == 1) {
            ::rename(target.c_str(), (shared + "/moved.fms").c_str());
            ::symlink(named.c_str(), target.c_str());
        }
        (void)!::write(swapped[1], &byte, 1);
    });
    const int result = RunAsActor([&] {
        quorin::replace_testing::SetLockWait(std::chrono::milliseconds(2000));
        const DWORD code = quorin::ReplaceFile(target, [&](win::CFile& file) {
            char byte = 0;
            if (::write(writing[1], &byte, 1) != 1 || ::read(swapped[0], &byte, 1) != 1)
                return false;
            file.Write("new", 3);
            return true;
        });
        // 0: the name is no file to write; 1: saved; 2: refused otherwise (a lock waited for).
        return code == win::ERROR_CANT_ACCESS_FILE ? 0 : code == win::ERROR_SUCCESS ? 1 : 2;
    });
    ::close(writing[1]);  // a save that never wrote ends the owner's wait
    owner.join();
    for (const int fd : {writing[0], swapped[0], swapped[1]}) ::close(fd);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadText(named), "old content");
    EXPECT_EQ(ReadText(shared + "/moved.fms"), "old content");
    EXPECT_TRUE(S_ISLNK(StatOf(target).st_mode));
}
