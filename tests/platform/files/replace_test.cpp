// Files are opened without ever blocking on what is not a file, and replaced safely: links
// followed, the user's permissions honoured (checked as an unprivileged user when the tests run
// as root, for root may write anything), the old content kept through any failure, a file-size
// limit refused before the process is ended by it, and the leftovers of a killed replacement
// removed by the next one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "common/platform/as_user.h"
#include "common/platform/file_size_limit.h"
#include "common/platform/folder_view.h"
#include "common/platform/scratch_mount.h"
#include "common/test_util.h"
#include "platform/core/lasterror.h"
#include "platform/files/file.h"
#include "platform/files/ini.h"
#include "platform/files/rawfile.h"

using namespace win;
using quorin::test::Actor;
using quorin::test::ActorGroup;
using quorin::test::BecomeActor;
using quorin::test::ClosedFolder;
using quorin::test::Entries;
using quorin::test::kNobody;
using quorin::test::ReadText;
using quorin::test::RunAsActor;
using quorin::test::StatOf;
using quorin::test::TempDir;
using quorin::test::WriteText;

namespace {

// `text` written to `path`, the file given to the actor.
void WriteActorsFile(const std::string& path, const std::string& text) {
    WriteText(path, text);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), Actor(), ActorGroup()), 0);
    }
}

// Whether the actor's save of `text` to `path` succeeded.
bool SavedAsActor(const std::string& path, const std::string& text,
                  const std::vector<gid_t>& extraGroups = {}) {
    return RunAsActor([&] { return quorin::ReplaceFileBytes(path, text) == ERROR_SUCCESS ? 0 : 1; },
                      extraGroups) == 0;
}

// The code a save answers under a file-size limit (all codes here are below 256; 98: the save was
// ended by the limit).
int UnderSizeLimit(rlim_t bytes, const std::function<DWORD()>& save) {
    return quorin::test::UnderSizeLimit(
        bytes, [&] { return static_cast<int>(std::min<DWORD>(save(), 255)); });
}

TEST(Opening, PipesDevicesAndFoldersAreRefusedWithoutWaiting) {
    ::alarm(60);  // an open that blocks on the pipe ends the run here instead of hanging it
    TempDir dir;
    const std::string pipe = dir.file("pipe.fms");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    struct Case {
        std::string path;
        DWORD code;
    } cases[] = {{pipe, ERROR_CANT_ACCESS_FILE},
                 {"/dev/zero", ERROR_CANT_ACCESS_FILE},
                 {dir.path(), ERROR_ACCESS_DENIED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(c.path.c_str(), CFile::modeRead, &error));
        EXPECT_EQ(error.m_lOsError, static_cast<int>(c.code));
        EXPECT_FALSE(file.Open(c.path.c_str(), CFile::modeReadWrite));
        EXPECT_EQ(CreateFileA(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.code);
        std::string bytes;
        EXPECT_EQ(quorin::ReadRegularFile(c.path, 1 << 20, bytes), c.code);
        char value[8] = "";
        EXPECT_EQ(GetPrivateProfileStringA("S", "k", "none", value, sizeof value, c.path.c_str()),
                  4u);
    }
    // A pipe nobody reads is no place to write either.
    CFile file;
    EXPECT_FALSE(file.Open(pipe.c_str(), CFile::modeWrite));
    ::alarm(0);
}

// A missing file named without a folder is a missing file (its folder, the current one, is
// there). The file-size limit binds regular files only: a device takes a write past it.
TEST(Opening, ABareMissingNameIsAMissingFileAndDevicesHaveNoSizeLimit) {
    TempDir dir;
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open("missing.fms", CFile::modeRead, &error));
    std::filesystem::current_path(here);
    EXPECT_EQ(error.m_lOsError, static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);

    EXPECT_EQ(quorin::test::InChildUnderSizeLimit(16,
                                                  [] {
                                                      CFile null;
                                                      if (!null.Open("/dev/null", CFile::modeWrite))
                                                          return 1;
                                                      const std::string bytes(100, 'x');
                                                      try {
                                                          null.Write(bytes.data(), 100);
                                                      } catch (const CFileException&) {
                                                          return 2;
                                                      }
                                                      return 0;
                                                  }),
              0);
}

TEST(Replace, LinksAreFollowedAndTheFileKeepsItsOwner) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    WriteText(dir.file("real/t.xml"), "old");
    ::chmod(dir.file("real/t.xml").c_str(), 0640);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(dir.file("real/t.xml").c_str(), kNobody, ActorGroup()), 0);
    }
    // A chain of ten links, each naming the next, the last the file.
    std::filesystem::create_symlink("real/t.xml", dir.file("link9.xml"));
    for (int i = 8; i >= 0; --i)
        std::filesystem::create_symlink("link" + std::to_string(i + 1) + ".xml",
                                        dir.file("link" + std::to_string(i) + ".xml"));
    std::filesystem::create_symlink("real/new.xml", dir.file("dangling.xml"));
    std::filesystem::create_symlink("loop2", dir.file("loop1"));
    std::filesystem::create_symlink("loop1", dir.file("loop2"));

    (void)quorin::replace_testing::Steps();
    EXPECT_EQ(quorin::ReplaceFileBytes(dir.file("link0.xml"), "new"), ERROR_SUCCESS);
    // Synced before its rename, given the old file's owner and mode and synced again, the folder
    // synced after it.
    EXPECT_EQ(quorin::replace_testing::Steps(), "ffrd");
    EXPECT_EQ(quorin::ReplaceFileBytes(dir.file("loop1"), "x"), ERROR_CANT_RESOLVE_FILENAME);
    EXPECT_EQ(ErrnoFromLastError(GetLastError()), ELOOP);
    // The new file named by a link where the file system cannot refuse a rename over a file: the
    // temporary file's name goes with it. Under no umask, a new file's mode is 0666.
    quorin::replace_testing::FailNext(quorin::replace_testing::Step::noReplace);
    const mode_t mask = ::umask(0);
    EXPECT_EQ(quorin::ReplaceFileBytes(dir.file("dangling.xml"), "made"), ERROR_SUCCESS);
    ::umask(mask);
    EXPECT_EQ(quorin::replace_testing::Steps(), "ffrd");
    EXPECT_TRUE(S_ISLNK(StatOf(dir.file("link0.xml")).st_mode));
    EXPECT_TRUE(S_ISLNK(StatOf(dir.file("dangling.xml")).st_mode));
    EXPECT_EQ(ReadText(dir.file("real/t.xml")), "new");
    EXPECT_EQ(ReadText(dir.file("real/new.xml")), "made");
    EXPECT_EQ(StatOf(dir.file("real/new.xml")).st_mode & 07777, 0666u);
    // A rename that cannot refuse to replace a file (EINVAL, or ENOSYS from a kernel without it)
    // gives way to a link; without hard links either (EPERM, EOPNOTSUPP), the new file is made
    // empty, of the mode asked, and written in place; any other refusal fails the save, nothing
    // made. A content exactly at the file-size limit is saved.
    using quorin::replace_testing::Step;
    const struct {
        Step step;
        int err;
        DWORD code;
        const char* steps;
    } refusals[] = {
        {Step::noReplace, EINVAL, ERROR_SUCCESS, "ffrd"},
        {Step::noReplace, ENOSYS, ERROR_SUCCESS, "ffrd"},
        {Step::noReplace, EIO, ERROR_GEN_FAILURE, "ff"},
        {Step::noLinks, EPERM, ERROR_SUCCESS, "ffp"},  // synced twice, as before a rename
        {Step::noLinks, EOPNOTSUPP, ERROR_SUCCESS, "ffp"},
        {Step::noLinks, EIO, ERROR_GEN_FAILURE, "ff"},
    };
    const std::string second = dir.file("real/second.xml");
    for (const auto& r : refusals) {
        SCOPED_TRACE(std::string(r.step == Step::noLinks ? "no links, " : "") +
                     std::strerror(r.err));
        EXPECT_EQ(quorin::test::InChildUnderSizeLimit(
                      4,
                      [&] {
                          quorin::replace_testing::FailNext(r.step, r.err);
                          (void)quorin::replace_testing::Steps();
                          const DWORD code = quorin::ReplaceFileBytes(second, "made", 0640);
                          return quorin::replace_testing::Steps() == r.steps
                                     ? static_cast<int>(code)
                                     : 200;
                      }),
                  static_cast<int>(r.code));
        const bool made = r.code == ERROR_SUCCESS;
        EXPECT_EQ(Entries(dir.file("real")).size(), made ? 3u : 2u);
        if (!made) continue;
        EXPECT_EQ(ReadText(second), "made");
        EXPECT_EQ(StatOf(second).st_mode & 07777, 0640u);
        std::filesystem::remove(second);
    }
    // A link of the process file system leads to what it names where its text names that file;
    // the text of a removed one ("... (deleted)") is no name to make a file under.
    WriteText(dir.file("real/gone.xml"), "gone");
    const int open = ::open(dir.file("real/new.xml").c_str(), O_RDONLY);
    const int gone = ::open(dir.file("real/gone.xml").c_str(), O_RDONLY);
    ASSERT_EQ(::unlink(dir.file("real/gone.xml").c_str()), 0);
    EXPECT_EQ(quorin::ReplaceFileBytes("/proc/self/fd/" + std::to_string(open), "through"),
              ERROR_SUCCESS);
    // A file that happens to bear the text's name is another file: it stays as it is.
    WriteText(dir.file("real/gone.xml (deleted)"), "other");
    EXPECT_EQ(quorin::ReplaceFileBytes("/dev/fd/" + std::to_string(gone), "x"),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadText(dir.file("real/gone.xml (deleted)")), "other");
    std::filesystem::remove(dir.file("real/gone.xml (deleted)"));
    ::close(open);
    ::close(gone);
    EXPECT_EQ(ReadText(dir.file("real/new.xml")), "through");
    EXPECT_EQ(Entries(dir.file("real")), (std::vector<std::string>{"new.xml", "t.xml"}));
    const struct stat info = StatOf(dir.file("real/t.xml"));
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(info.st_uid, kNobody) << "replaced by root, still the user's file";
    }
    // Links are followed as far as the system's own path walk follows them, and no further: a
    // chain it opens is saved, one a link longer is a loop, nothing written.
    for (const int links : {40, 41}) {
        const std::string chain = dir.file("c" + std::to_string(links) + "_");
        for (int i = 0; i < links; ++i)
            std::filesystem::create_symlink(
                i + 1 == links ? dir.file("real/new.xml") : chain + std::to_string(i + 1),
                chain + std::to_string(i));
        const int fd = ::open((chain + "0").c_str(), O_RDONLY);
        const bool opens = fd >= 0;
        if (opens) ::close(fd);
        const std::string text = "chain of " + std::to_string(links);
        EXPECT_EQ(quorin::ReplaceFileBytes(chain + "0", text),
                  opens ? ERROR_SUCCESS : ERROR_CANT_RESOLVE_FILENAME)
            << links;
        EXPECT_EQ(ReadText(dir.file("real/new.xml")), opens ? text : "chain of 40") << links;
    }
}

TEST(Replace, FilesTheUserMayNotWriteAreRefusedAndFoldersTheUserMayNotWriteAreWrittenInPlace) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    // A file the actor may not write, in a folder the actor may write.
    const std::string locked = dir.file("locked.fms");
    WriteText(locked, "kept");
    ::chmod(locked.c_str(), 0444);
    // A file the actor may write, in a folder the actor may not.
    const std::string closed = dir.file("closed");
    std::filesystem::create_directory(closed);
    const std::string open = closed + "/open.fms";
    WriteText(open, "old content");
    ::chmod(open.c_str(), 0644);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(open.c_str(), Actor(), ActorGroup()), 0);
    }
    ::chmod(closed.c_str(), 0555);
    const ino_t inode = StatOf(open).st_ino;
    // A folder the actor may write but not list (so not open to sync it either).
    const std::string unlisted = dir.file("unlisted");
    std::filesystem::create_directory(unlisted);
    WriteActorsFile(unlisted + "/t.fms", "old content");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(unlisted.c_str(), Actor(), ActorGroup()), 0);
    }
    ::chmod(unlisted.c_str(), 0300);

    const int result = RunAsActor([&] {
        if (quorin::ReplaceFileBytes(locked, "replaced") != ERROR_ACCESS_DENIED) return 1;
        if (GetLastError() != ERROR_ACCESS_DENIED) return 2;
        (void)quorin::replace_testing::Steps();
        if (quorin::ReplaceFileBytes(open, "new") != ERROR_SUCCESS) return 3;
        // Synced before it reports success.
        if (quorin::replace_testing::Steps() != "p") return 4;
        return quorin::ReplaceFileBytes(unlisted + "/t.fms", "new") == ERROR_SUCCESS ? 0 : 5;
    });
    ::chmod(closed.c_str(), 0755);
    ::chmod(unlisted.c_str(), 0755);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadText(locked), "kept");
    EXPECT_EQ(ReadText(open), "new");
    EXPECT_EQ(StatOf(open).st_ino, inode) << "written where it is";
    EXPECT_EQ(ReadText(unlisted + "/t.fms"), "new");
    EXPECT_EQ(Entries(unlisted), std::vector<std::string>{"t.fms"});
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"closed", "locked.fms", "unlisted"}));
}

// In place nothing can stand beside the target: a writer that gives up leaves it untouched; a
// file-size limit that the new content, or the old one a write-back may have to restore, would
// pass is refused before any write; and a target that fails a step after its old bytes were
// overwritten, and cut or grown, gets them back whole, its tail included, at its old length.
TEST(Replace, InPlaceFailuresLeaveTheOldBytes) {
    using quorin::replace_testing::Step;
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    std::string old(3540, '\0');
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7 + 1);
    struct Case {
        const char* name;
        std::size_t newSize;
        rlim_t limit;
        bool writerGivesUp;
        unsigned mode;
        Step failing;
        DWORD code;
    } cases[] = {
        {"writer gives up", 5000, RLIM_INFINITY, true, 0644, Step::none, ERROR_GEN_FAILURE},
        {"cannot grow past the old end", 5000, 4000, false, 0644, Step::none, ERROR_FILE_TOO_LARGE},
        {"limit inside the new bytes", 2000, 1000, false, 0644, Step::none, ERROR_FILE_TOO_LARGE},
        {"old bytes past the limit", 2000, 3539, false, 0644, Step::none, ERROR_FILE_TOO_LARGE},
        {"written only, never read", 2000, RLIM_INFINITY, false, 0200, Step::none,
         ERROR_ACCESS_DENIED},
        {"cut fails", 2000, RLIM_INFINITY, false, 0644, Step::cut, ERROR_GEN_FAILURE},
        {"last sync fails after the cut", 2000, RLIM_INFINITY, false, 0644, Step::sync,
         ERROR_GEN_FAILURE},
        {"last sync fails after growing", 5000, RLIM_INFINITY, false, 0644, Step::sync,
         ERROR_GEN_FAILURE},
        {"out of room part-way, the write-back too", 2000, RLIM_INFINITY, false, 0644, Step::full,
         ERROR_DISK_FULL},
        {"out of room part-way after growing", 5000, RLIM_INFINITY, false, 0644, Step::full,
         ERROR_DISK_FULL},
        {"longer, up to the limit", 5000, 5000, false, 0644, Step::none, ERROR_SUCCESS},
        {"shorter", 2000, 3540, false, 0644, Step::none, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closed.Fill(old, c.mode);
        const ino_t inode = StatOf(closed.file()).st_ino;
        const std::string next(c.newSize, 'n');
        EXPECT_EQ(UnderSizeLimit(c.limit,
                                 [&] {
                                     quorin::replace_testing::FailNext(c.failing);
                                     return quorin::ReplaceFile(closed.file(), [&](CFile& file) {
                                         file.Write(next.data(), 500);
                                         if (c.writerGivesUp) return false;
                                         file.Write(next.data() + 500,
                                                    static_cast<std::uint32_t>(next.size() - 500));
                                         return true;
                                     });
                                 }),
                  static_cast<int>(c.code));
        ::chmod(closed.file().c_str(), 0644);
        const std::string now = ReadText(closed.file());
        const std::string& want = c.code == ERROR_SUCCESS ? next : old;
        EXPECT_EQ(now.size(), want.size());
        EXPECT_TRUE(now == want);
        EXPECT_EQ(StatOf(closed.file()).st_ino, inode) << "written where it is";
        EXPECT_EQ(Entries(closed.folder()), std::vector<std::string>{"t.fms"});
    }
}

// On a file system that writes every block anew (btrfs), a rewritten block takes a free one: a
// 4 MB file written in place (a sticky folder of a group the saver is in: the saver may write the
// file but not replace it) where about 1.4 MB are free is refused as a full disk before its first
// byte is touched, and saved once there is room.
TEST(Replace, AnInPlaceSaveOnAFullCopyOnWriteFileSystemKeepsTheOldFile) {
    using quorin::test::ScratchMount;
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const ScratchMount mount(dir.path(), ScratchMount::btrfsImage);
    if (!mount.Why().empty()) GTEST_SKIP() << mount.Why();
    constexpr gid_t kGroup = 4244;
    const std::string folder = mount.path() + "/shared";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 01775), 0);
    const std::string target = folder + "/t.bmp";
    std::string old(4 << 20, '\0');
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7 + 1);
    WriteText(target, old);
    ASSERT_EQ(::chown(target.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0664), 0);
    // Filled to the last block, then 2.6 MB given back.
    const std::string filler = mount.path() + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(1 << 20, 'f');
    off_t filled = 0;
    for (ssize_t n; (n = ::write(fd, block.data(), block.size())) > 0;) filled += n;
    ::fsync(fd);
    ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, filled - 2600 * 1024)), 0);
    ::close(fd);
    ::sync();
    const struct stat before = StatOf(target);
    const std::string next(4 << 20, 'n');
    EXPECT_EQ(RunAsActor([&] { return static_cast<int>(quorin::ReplaceFileBytes(target, next)); },
                         {kGroup}),
              static_cast<int>(ERROR_DISK_FULL));
    const struct stat after = StatOf(target);
    EXPECT_TRUE(ReadText(target) == old);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << "untouched";
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << "untouched";
    std::filesystem::remove(filler);
    ::sync();
    EXPECT_EQ(RunAsActor([&] { return static_cast<int>(quorin::ReplaceFileBytes(target, next)); },
                         {kGroup}),
              static_cast<int>(ERROR_SUCCESS));
    EXPECT_TRUE(ReadText(target) == next);
    EXPECT_EQ(StatOf(target).st_ino, before.st_ino) << "written where it is";
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"t.bmp"});
}

// The set-user-ID and set-group-ID bits stay through a save of a shorter content by the file's
// owner (through a new file, or in place, where the write and the cut clear them) and by root.
TEST(Replace, SetIdBitsAreKept) {
    TempDir dir;
    const std::string target = dir.file("run.sh");
    const bool root = ::geteuid() == 0;
    for (const auto& [byRoot, inPlace] : {std::pair{false, false}, {false, true}, {true, false}}) {
        if (byRoot && !root) continue;
        ::chmod(dir.path().c_str(), inPlace ? 0555 : 0777);
        for (const unsigned mode : {04755u, 02755u, 06755u}) {
            SCOPED_TRACE(std::string(byRoot ? "root" : "owner") + " saves mode " +
                         std::to_string(mode) + (inPlace ? " in place" : ""));
            WriteActorsFile(target, "old content");
            ASSERT_EQ(::chmod(target.c_str(), mode), 0);
            EXPECT_TRUE(byRoot ? quorin::ReplaceFileBytes(target, "new") == ERROR_SUCCESS
                               : SavedAsActor(target, "new"));
            // In place, a save whose last sync fails writes the old content back, bits and all.
            if (inPlace) {
                quorin::replace_testing::FailNext(quorin::replace_testing::Step::sync);
                EXPECT_FALSE(SavedAsActor(target, "other"));
                quorin::replace_testing::FailNext(quorin::replace_testing::Step::none);
            }
            const struct stat info = StatOf(target);
            EXPECT_EQ(info.st_mode & 07777, mode);
            EXPECT_EQ(info.st_uid, Actor());
            EXPECT_EQ(ReadText(target), "new");
        }
    }
    ::chmod(dir.path().c_str(), 0777);
    if (!root) return;
    // The owner outside the file's group: the new file cannot take the group, so the save goes
    // in place, and the write clears the set-group-ID bit, which only root or a member of the
    // group may set again.
    constexpr gid_t kSupplementary = 4242;
    WriteActorsFile(target, "old content");
    ASSERT_EQ(::chown(target.c_str(), Actor(), kSupplementary), 0);
    ASSERT_EQ(::chmod(target.c_str(), 02755), 0);
    const ino_t kept = StatOf(target).st_ino;
    EXPECT_TRUE(SavedAsActor(target, "new"));
    EXPECT_EQ(StatOf(target).st_mode & 07777, 0755u);
    EXPECT_EQ(StatOf(target).st_gid, kSupplementary);
    EXPECT_EQ(StatOf(target).st_ino, kept);
    EXPECT_EQ(ReadText(target), "new");
    // Saved by another user who may write it but cannot give a new file its owner: saved in
    // place, the file keeps its owner and group (whether or not the saver is in the group), and
    // the write clears its set-ID bits, as any write by another user does: no set-ID bit runs a
    // program as the saver, or as the owner with the saver's content.
    for (const gid_t group : {gid_t{0}, ActorGroup(), kSupplementary}) {
        SCOPED_TRACE("group " + std::to_string(group));
        WriteText(target, "old");
        ASSERT_EQ(::chown(target.c_str(), 0, group), 0);
        ASSERT_EQ(::chmod(target.c_str(), 06777), 0);
        const ino_t inode = StatOf(target).st_ino;
        EXPECT_TRUE(SavedAsActor(target, "new", {kSupplementary}));
        const struct stat info = StatOf(target);
        EXPECT_EQ(info.st_mode & 07777, 0777u);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_gid, group);
        EXPECT_EQ(info.st_ino, inode);
        EXPECT_EQ(ReadText(target), "new");
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"run.sh"});
    }
}

// A save into a folder that does not exist answers as opening a file there does.
TEST(Replace, AMissingFolderIsAPathNotFound) {
    TempDir dir;
    const std::string path = dir.file("missing/t.fms");
    std::filesystem::create_symlink("missing/t.fms", dir.file("link.fms"));
    CFile file;
    EXPECT_FALSE(file.Open(path.c_str(), CFile::modeWrite | CFile::modeCreate));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    for (const std::string& name : {path, dir.file("link.fms")}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(quorin::ReplaceFileBytes(name, "x"), ERROR_PATH_NOT_FOUND) << name;
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    }
}

// A name in the host's form is taken as the system takes it: a backslash is part of the name, and
// "c:" no drive, wherever the name stands on the path. Under no umask, a new file's mode is 0666.
TEST(Replace, ANativeNameIsTheFileTheSystemNames) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("d/keep"));
    WriteText(dir.file("d/keep/me.bmp"), "precious");
    const auto writer = [](CFile& file) {
        file.Write("new", 3);
        return true;
    };
    const mode_t mask = ::umask(0);
    for (const std::string name : {"d/keep\\me.bmp", "d/c:me.bmp"}) {
        EXPECT_EQ(quorin::ReplaceNativeFile(dir.file(name), writer), ERROR_SUCCESS) << name;
        EXPECT_EQ(ReadText(dir.file(name)), "new") << name;
        EXPECT_EQ(StatOf(dir.file(name)).st_mode & 07777, 0666u) << name;
    }
    EXPECT_EQ(quorin::ReplaceFile(dir.file("d/plain.bmp"), writer), ERROR_SUCCESS);
    ::umask(mask);
    // A name as long as a folder entry's may be (255 bytes), made then replaced, leaves nothing
    // beside it.
    const std::string longest = dir.file("d/" + std::string(251, 'n') + ".bmp");
    EXPECT_EQ(quorin::ReplaceFileBytes(longest, "made"), ERROR_SUCCESS);
    EXPECT_EQ(quorin::ReplaceFileBytes(longest, "replaced"), ERROR_SUCCESS);
    EXPECT_EQ(ReadText(longest), "replaced");
    EXPECT_EQ(StatOf(dir.file("d/plain.bmp")).st_mode & 07777, 0666u);
    EXPECT_EQ(ReadText(dir.file("d/keep/me.bmp")), "precious");
    EXPECT_EQ(Entries(dir.file("d")).size(), 5u);  // keep, and the four new files
}

// One processor the test may run on, alone.
cpu_set_t OneProcessor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    EXPECT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (cpu < CPU_SETSIZE - 1 && !CPU_ISSET(cpu, &allowed)) ++cpu;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return one;
}

// Both longer than the old content, and of different lengths: a save that took a stale old length
// for the file's would leave the longer one's tail behind.
const std::string kOld(1 << 20, 'o');
const std::string kContents[2] = {std::string(3 << 20, 'a'), std::string(2 << 20, 'b')};

std::string Letters(const std::string& text) {
    std::string counts;
    for (const char letter : {'a', 'b', 'o'})
        counts += std::to_string(std::count(text.begin(), text.end(), letter)) + " " + letter + " ";
    return counts;
}

// Two saves of one target in place at once, every process on one processor so that a save is put
// aside in the middle of its writes: the target ends holding one whole content, never the head of
// one and the tail of the other.
TEST(Replace, InPlaceSavesAtOnceEachEndWhole) {
    constexpr int kPairs = 8;
    constexpr int kRounds = 8;
    const cpu_set_t one = OneProcessor();
    TempDir dir;
    std::vector<std::unique_ptr<ClosedFolder>> targets;
    for (int p = 0; p < kPairs; ++p) {
        const std::string parent = dir.file(std::to_string(p));
        std::filesystem::create_directory(parent);
        targets.push_back(std::make_unique<ClosedFolder>(parent, "t.fms"));
    }
    ::chmod(dir.path().c_str(), 0755);
    for (int round = 0; round < kRounds; ++round) {
        for (const auto& target : targets) target->Fill(kOld);
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        pid_t children[kPairs][2];
        for (int p = 0; p < kPairs; ++p) {
            for (int s = 0; s < 2; ++s) {
                children[p][s] = ::fork();
                ASSERT_GE(children[p][s], 0);
                if (children[p][s] != 0) continue;
                ::close(gate[1]);
                if (::sched_setaffinity(0, sizeof one, &one) != 0 || !BecomeActor()) ::_exit(99);
                char byte;  // the read returns at the parent's close: all start at once
                (void)!::read(gate[0], &byte, 1);
                const DWORD code = quorin::ReplaceFileBytes(targets[p]->file(), kContents[s]);
                ::_exit(code == ERROR_SUCCESS ? 0 : 1);
            }
        }
        ::close(gate[0]);
        ::close(gate[1]);
        for (int p = 0; p < kPairs; ++p) {
            SCOPED_TRACE("round " + std::to_string(round) + ", pair " + std::to_string(p));
            for (int s = 0; s < 2; ++s) {
                int status = 0;
                ASSERT_EQ(::waitpid(children[p][s], &status, 0), children[p][s]);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "save " << s;
            }
            const std::string now = ReadText(targets[p]->file());
            EXPECT_TRUE(now == kContents[0] || now == kContents[1]) << Letters(now);
        }
    }
}

// A save in place whose last sync fails puts the old content back before the next save of the
// target reads it: the next save's content ends whole. The next save starts once the first one is
// writing and, where the system allows it, at real-time priority on the same processor, so that
// it runs the moment the target is free.
TEST(Replace, AnInPlaceWriteBackEndsBeforeTheNextSave) {
    const cpu_set_t one = OneProcessor();
    TempDir dir;
    ClosedFolder closed(dir.path(), "t.fms");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        closed.Fill(kOld);
        pid_t children[2];
        for (int s = 0; s < 2; ++s) {
            children[s] = ::fork();
            ASSERT_GE(children[s], 0);
            if (children[s] != 0) continue;
            if (::sched_setaffinity(0, sizeof one, &one) != 0) ::_exit(99);
            if (s == 1) {
                const sched_param first{1};
                (void)::sched_setscheduler(0, SCHED_FIFO, &first);
            }
            if (!BecomeActor()) ::_exit(99);
            if (s == 0) {
                quorin::replace_testing::FailNext(quorin::replace_testing::Step::sync);
            } else {
                // Until the first save has begun to write (or a while has passed).
                struct stat info {};
                for (int wait = 0; wait < 100000 && ::stat(closed.file().c_str(), &info) == 0 &&
                                   info.st_size == static_cast<off_t>(kOld.size());
                     ++wait)
                    ::usleep(50);
            }
            const DWORD code = quorin::ReplaceFileBytes(closed.file(), kContents[s]);
            ::_exit(code == ERROR_SUCCESS ? 0 : 1);
        }
        int status[2] = {};
        for (int s = 0; s < 2; ++s) ASSERT_EQ(::waitpid(children[s], &status[s], 0), children[s]);
        EXPECT_TRUE(WIFEXITED(status[0]) && WEXITSTATUS(status[0]) == 1);
        EXPECT_TRUE(WIFEXITED(status[1]) && WEXITSTATUS(status[1]) == 0);
        const std::string now = ReadText(closed.file());
        EXPECT_TRUE(now == kContents[1]) << Letters(now);
    }
}

// A save of `target` in a child (as the actor, when asked) killed while it writes; true when it
// was so ended.
bool KilledWhileSaving(const std::string& target, bool asActor) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!asActor || BecomeActor())
            quorin::ReplaceFile(target, [](CFile& file) {
                file.Write("half", 4);
                ::raise(SIGKILL);
                return true;
            });
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status);
}

TEST(Replace, FailuresKeepTheOldContentAndLeftoversOfAKilledReplacementGo) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string target = dir.file("t.cqv");
    WriteActorsFile(target, "first");

    // Under a file-size limit (SIGXFSZ at its default): content up to it is written, content past
    // it refused as a file too large before it reaches the disk, nothing left beside the target.
    const std::string old(1000, 'o');
    EXPECT_EQ(UnderSizeLimit(1000, [&] { return quorin::ReplaceFileBytes(target, old); }),
              static_cast<int>(ERROR_SUCCESS));
    EXPECT_EQ(UnderSizeLimit(1000, [&] { return quorin::ReplaceFileBytes(target, old + 'x'); }),
              static_cast<int>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(ReadText(target), old);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.cqv"});
    // A writer that gives up.
    EXPECT_NE(quorin::ReplaceFile(target,
                                  [](CFile& file) {
                                      file.Write("partial", 7);
                                      return false;
                                  }),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(target), old);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.cqv"});

    // A replacement killed while writing leaves its temporary file; the next one removes it.
    ASSERT_TRUE(KilledWhileSaving(target, false));
    EXPECT_EQ(Entries(dir.path()).size(), 2u);
    EXPECT_EQ(quorin::ReplaceFileBytes(target, "new"), ERROR_SUCCESS);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.cqv"});
    EXPECT_EQ(ReadText(target), "new");
}

// Only a dead save's own temporary file is a leftover: a pipe or a link named like one stays, and
// so does the file the link names, and another user's file of such a name; the save does not wait
// on the pipe. Names planted for every counter of the saver's own process number take nothing
// from it: its temporary file's name holds a number nobody foresees.
TEST(Replace, APipeOrALinkNamedLikeALeftoverStays) {
    ::alarm(60);  // a save that waits on the pipe ends the run here instead of hanging it
    TempDir dir;
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string leftover = ".t.cqv." + std::to_string(dead) + ".";
    ASSERT_EQ(::mkfifo(dir.file(leftover + "0.tmp").c_str(), 0600), 0);
    WriteText(dir.file("kept"), "kept");
    std::filesystem::create_symlink("kept", dir.file(leftover + "1.tmp"));
    std::vector<std::string> stay = {leftover + "0.tmp", leftover + "1.tmp", "kept", "t.cqv"};
    if (::geteuid() == 0) {
        WriteText(dir.file(leftover + "2.tmp"), "another user's");
        ASSERT_EQ(::chown(dir.file(leftover + "2.tmp").c_str(), kNobody, ActorGroup()), 0);
        stay.push_back(leftover + "2.tmp");
    }
    const std::string planted = ".t.cqv." + std::to_string(::getpid()) + ".";
    for (int i = 0; i < 100; ++i) {
        WriteText(dir.file(planted + std::to_string(i) + ".tmp"), "planted");
        stay.push_back(planted + std::to_string(i) + ".tmp");
    }
    std::sort(stay.begin(), stay.end());
    EXPECT_EQ(quorin::ReplaceFileBytes(dir.file("t.cqv"), "new"), ERROR_SUCCESS);
    ::alarm(0);
    EXPECT_EQ(Entries(dir.path()), stay);
    EXPECT_EQ(ReadText(dir.file("kept")), "kept");
    EXPECT_EQ(ReadText(dir.file("t.cqv")), "new");
}

// A save of a write-only target killed once the mode was copied leaves a temporary file its user
// may write but not read: that user's next save removes it all the same.
TEST(Replace, AWriteOnlyLeftoverGoes) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string target = dir.file("t.cqv");
    WriteActorsFile(target, "first");
    ::chmod(target.c_str(), 0200);
    ASSERT_TRUE(KilledWhileSaving(target, true));
    const std::vector<std::string> names = Entries(dir.path());
    ASSERT_EQ(names.size(), 2u);
    ASSERT_EQ(::chmod(dir.file(names[0]).c_str(), 0200), 0);  // the temporary file sorts first
    EXPECT_TRUE(SavedAsActor(target, "new"));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.cqv"});
}

// Root's save of the actor's file killed once its temporary file took the actor's owner leaves a
// leftover of the actor's: root's next save, which could have made it, removes it. A user who
// could give no file another owner leaves the target owner's leftovers alone.
TEST(Replace, AKilledSaveOfAnotherUsersFileLeavesNothingForRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string target = dir.file("t.cqv");
    WriteActorsFile(target, "first");
    quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::beforeMode,
                                     std::chrono::seconds(20));
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(static_cast<int>(quorin::ReplaceFileBytes(target, "half")));
    quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::none);
    std::string leftover;
    for (int wait = 0; wait < 2000 && leftover.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (const std::string& name : Entries(dir.path()))
            if (name != "t.cqv" && StatOf(dir.file(name)).st_uid == Actor()) leftover = name;
    }
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    ASSERT_FALSE(leftover.empty());
    // The actor's save of a third user's file, in place, keeps that user's leftover.
    constexpr uid_t kThird = 1001;
    const std::string other = dir.file("o.cqv");
    WriteText(other, "first");
    const std::string others = leftover.substr(std::string(".t.cqv").size());  // ".PID.N.tmp"
    WriteText(dir.file(".o.cqv" + others), "third user's");
    for (const std::string& name : {other, dir.file(".o.cqv" + others)}) {
        ASSERT_EQ(::chown(name.c_str(), kThird, kThird), 0);
        ASSERT_EQ(::chmod(name.c_str(), 0666), 0);
    }
    EXPECT_TRUE(SavedAsActor(other, "new"));
    EXPECT_EQ(quorin::ReplaceFileBytes(target, "new"), ERROR_SUCCESS);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{".o.cqv" + others, "o.cqv", "t.cqv"}));
    EXPECT_EQ(ReadText(target), "new");
    EXPECT_EQ(StatOf(target).st_uid, Actor());
}

// A save keeps exactly who may read the file, as `getfacl -p` shows it before and after, and the
// user the file keeps out cannot read the new content. Through a new file: the old file's ACL and
// user.* attribute (the content unreadable but to the owner while written); where the folder's
// default ACL would give the new file an ACL the old one had none of; never the capability the
// system drops on any write. In place: where the ACL or an attribute (no room for it) cannot be
// given to the new file, or its owner and group (the saver's group would read it, its owner no
// longer). A capability is dropped.
TEST(Replace, TheAclAndAttributesAreKept) {
    using quorin::replace_testing::Step;
    using quorin::test::RunCommand;
    if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
    constexpr uid_t kKeptOut = 1001, kOwner = 1003;
    constexpr gid_t kGroup = 4243;
    const char* const kDenied = "setfacl -m u:1001:--- F && setfattr -n user.note -v x F";
    struct Case {
        const char* name;
        const char* folderAcl;  // setfacl arguments for the folder
        uid_t folderOwner, owner;
        gid_t group;
        const char* prepare;  // a command on the file, F
        uid_t saver;
        Step failing;
        const char* steps;
        uid_t keptOut, reader;  // who must not read the new content (in its group), who must
        gid_t keptOutGroup;
        bool watched = false;  // the kept-out user tries the temporary file before its mode
    } cases[] = {
        {"through a new file", "", 0, 0, kKeptOut, kDenied, 0, Step::none, "ffrd", kKeptOut, 0,
         kKeptOut},
        {"the ACL refused: in place", "", 0, 0, kKeptOut, kDenied, 0, Step::acl, "fp", kKeptOut, 0,
         kKeptOut},
        {"no room for an attribute: in place", "", 0, 0, kKeptOut, kDenied, 0, Step::attribute,
         "fp", kKeptOut, 0, kKeptOut},
        {"a folder's default ACL, none on the file", "-d -m u:1001:r", 0, 0, 0, "setfacl -b F", 0,
         Step::none, "ffrd", kKeptOut, 0, kKeptOut, true},
        {"an owner and group the saver cannot give: in place", "", kNobody, kOwner, kGroup,
         "setfacl -m u:nobody:rw F", kNobody, Step::none, "fp", 1002, kOwner, ActorGroup()},
        {"a capability", "", 0, 0, 0, "setcap cap_net_raw+ep F", 0, Step::none, "ffrd", kKeptOut, 0,
         kKeptOut},
    };
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.file(std::to_string(index++));
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, c.folderOwner), 0);
        const std::string target = folder + "/t.fms";
        const std::string quoted = quorin::test::ShellQuote(target);
        if (*c.folderAcl != '\0' && RunCommand("setfacl " + std::string(c.folderAcl) + " " +
                                               quorin::test::ShellQuote(folder))
                                            .status != 0)
            GTEST_SKIP() << "no ACL here (Debian's acl)";
        WriteText(target, "old content");
        ASSERT_EQ(::chown(target.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        std::string prepare = c.prepare;
        for (std::size_t at; (at = prepare.find(" F")) != std::string::npos;)
            prepare.replace(at, 2, " " + quoted);
        if (RunCommand(prepare).status != 0)
            GTEST_SKIP()
                << "no ACL, attribute or capability here (Debian's acl, attr, libcap2-bin)";
        const std::string acl = RunCommand("getfacl -p " + quoted).output;
        const std::string attributes = RunCommand("getfattr -d -m '^user\\.' " + quoted).output;
        const ino_t inode = StatOf(target).st_ino;
        const auto save = [&] {
            quorin::replace_testing::FailNext(c.failing);
            (void)quorin::replace_testing::Steps();
            mode_t whileWritten = 0;
            const DWORD code = quorin::ReplaceFile(target, [&](CFile& file) {
                whileWritten = StatOf(file.GetFilePath()).st_mode & 07777;
                file.Write("new content", 11);
                return true;
            });
            quorin::replace_testing::FailNext(Step::none);
            if (code != ERROR_SUCCESS) return 1;
            if (whileWritten != 0600) return 2;
            return quorin::replace_testing::Steps() == c.steps ? 0 : 3;
        };
        // The user kept out tries the new file while it is held before its mode is given: the
        // ACL the folder gave it is gone by then.
        int whileHeld = 1;
        std::thread watcher([&] {
            if (!c.watched) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            for (const std::string& name : Entries(folder))
                if (name != "t.fms")
                    whileHeld = quorin::test::RunAsUser(c.keptOut, [&] {
                        const int fd = ::open((folder + "/" + name).c_str(), O_RDONLY);
                        return fd < 0 && errno == EACCES ? 1 : 0;
                    });
        });
        quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::beforeMode,
                                         std::chrono::milliseconds(c.watched ? 400 : 0));
        EXPECT_EQ(c.saver == 0 ? save() : quorin::test::RunAsUser(c.saver, save, ActorGroup()), 0);
        quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::none);
        watcher.join();
        EXPECT_EQ(whileHeld, 1);
        EXPECT_EQ(ReadText(target), "new content");
        EXPECT_EQ(StatOf(target).st_ino == inode, std::string(c.steps) == "fp");
        EXPECT_EQ(RunCommand("getfacl -p " + quoted).output, acl);
        EXPECT_EQ(RunCommand("getfattr -d -m '^user\\.' " + quoted).output, attributes);
        EXPECT_EQ(RunCommand("getcap " + quoted).output, "");
        const auto reads = [&] {
            const int fd = ::open(target.c_str(), O_RDONLY);
            if (fd >= 0) ::close(fd);
            return fd >= 0 ? 0 : errno == EACCES ? 1 : 2;
        };
        EXPECT_EQ(quorin::test::RunAsUser(c.keptOut, reads, c.keptOutGroup), 1);
        if (c.reader != 0) {
            EXPECT_EQ(quorin::test::RunAsUser(c.reader, reads), 0);
        }
        EXPECT_EQ(Entries(folder), std::vector<std::string>{"t.fms"});
    }
}

// A folder whose entries cannot be removed (chattr +a, +i) is saved in place from the start, a
// new file made there empty and written in place: three saves leave nothing beside the target,
// as lsattr tells the folder's flag. A file system without extended attributes takes saves
// through a new file, which keeps the owner and mode.
TEST(Replace, FoldersAndFileSystemsOfTheirOwnKindLeaveNothingBeside) {
    using quorin::test::ScratchMount;
    struct Case {
        const char* name;
        ScratchMount::Kind kind;
        const char* flag;  // chattr's, for the folder
        bool exists, byActor;
        const char* steps;  // of each save
    } cases[] = {
        {"append-only", ScratchMount::ext4Image, "a", true, false, "p"},
        {"append-only, the actor's file", ScratchMount::ext4Image, "a", true, true, "p"},
        {"append-only, a new file", ScratchMount::ext4Image, "a", false, false, "p"},
        {"immutable", ScratchMount::ext4Image, "i", true, false, "p"},
        {"no extended attributes", ScratchMount::ramfs, "", true, false, "ffrd"},
        {"no extended attributes, the actor's file", ScratchMount::ramfs, "", true, true, "ffrd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ::chmod(dir.path().c_str(), 0755);
        const ScratchMount mount(dir.path(), c.kind);
        if (!mount.Why().empty()) GTEST_SKIP() << mount.Why();
        const std::string folder = mount.path() + "/d";
        std::filesystem::create_directory(folder);
        ::chmod(folder.c_str(), 0777);
        const std::string target = folder + "/t.fms";
        if (c.exists) {
            WriteActorsFile(target, "old content");
            ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        }
        const ino_t inode = c.exists ? StatOf(target).st_ino : 0;
        const std::string quoted = quorin::test::ShellQuote(folder);
        if (*c.flag != '\0') {
            ASSERT_EQ(
                quorin::test::RunCommand("chattr +" + std::string(c.flag) + " " + quoted).status,
                0);
            EXPECT_NE(quorin::test::RunCommand("lsattr -d " + quoted).output.find(c.flag),
                      std::string::npos);
        }
        for (int round = 0; round < 3; ++round) {
            const std::string text = "save " + std::to_string(round);
            const auto save = [&] {
                (void)quorin::replace_testing::Steps();
                if (quorin::ReplaceFileBytes(target, text, 0640) != ERROR_SUCCESS) return 1;
                return quorin::replace_testing::Steps() == c.steps ? 0 : 2;
            };
            EXPECT_EQ(c.byActor ? RunAsActor(save) : save(), 0) << text;
            EXPECT_EQ(ReadText(target), text);
            EXPECT_EQ(Entries(folder), std::vector<std::string>{"t.fms"});
        }
        const std::string next64(64, 'x');
        // A new file past the file-size limit is refused before anything is made: nothing could
        // ever remove it from such a folder.
        EXPECT_EQ(
            UnderSizeLimit(
                64,
                [&] { return quorin::ReplaceFileBytes(folder + "/u.fms", std::string(100, 'x')); }),
            static_cast<int>(ERROR_FILE_TOO_LARGE));
        EXPECT_EQ(Entries(folder), std::vector<std::string>{"t.fms"});
        // One of the limit's size exactly is made, where the folder takes new names.
        if (std::string(c.flag) != "i") {
            EXPECT_EQ(UnderSizeLimit(
                          64, [&] { return quorin::ReplaceFileBytes(folder + "/u.fms", next64); }),
                      static_cast<int>(ERROR_SUCCESS));
            EXPECT_EQ(ReadText(folder + "/u.fms"), next64);
        }
        const struct stat info = StatOf(target);
        EXPECT_EQ(info.st_ino == inode, *c.flag != '\0' && c.exists);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
        EXPECT_EQ(info.st_uid, c.exists ? Actor() : 0u);
        if (*c.flag != '\0') {
            EXPECT_EQ(
                quorin::test::RunCommand("chattr -" + std::string(c.flag) + " " + quoted).status,
                0);
        }
    }
}

// A peer's clean-up removes the temporary file between its making and its lock (a save in another
// process namespace, to which this one looks gone): the save makes another, and the target keeps
// its owner and mode, its new content synced.
TEST(Replace, ATemporaryFileRemovedByAPeerIsMadeAgain) {
    TempDir dir;
    const std::string target = dir.file("t.fms");
    WriteActorsFile(target, "old content");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::beforeTemporaryLock,
                                     std::chrono::milliseconds(300));
    std::thread peer([&] {
        for (int wait = 0; wait < 200; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (const std::string& name : Entries(dir.path()))
                if (name != "t.fms" && ::unlink(dir.file(name).c_str()) == 0) return;
        }
    });
    (void)quorin::replace_testing::Steps();
    EXPECT_EQ(quorin::ReplaceFileBytes(target, "new"), ERROR_SUCCESS);
    peer.join();
    quorin::replace_testing::PauseAt(quorin::replace_testing::Pause::none);
    EXPECT_EQ(quorin::replace_testing::Steps(), "ffrd");
    const struct stat info = StatOf(target);
    EXPECT_EQ(info.st_uid, Actor());
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadText(target), "new");
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.fms"});
}

}  // namespace
