// Framework files: a buffered CFile over a POSIX descriptor, and CMemFile over a byte buffer.
// Read returns a count (short at end of file) and never throws; Write throws CFileException on
// any failure, a partial write included, and on a write that would pass the process's file-size
// limit as it stood at the open (nothing of it written); Seek past the end is allowed (a read
// there gives 0).
// Below them, the opening of files that never blocks on a pipe or device, whole-file reading,
// and the safe replacement of a file that every writer of whole files uses (replace.cpp).
#pragma once
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/types.h"

struct stat;

namespace win {

class CFileException : public std::exception {
  public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };
    CFileException(int cause = none, int osError = 0, std::string fileName = {});
    const char* what() const noexcept override;

    int m_cause;
    int m_lOsError;
    std::string m_strFileName;
};

class CFile {
  public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile();
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // False (and `error` filled when given) when the file cannot be opened. A file opened for
    // reading must be a regular file (a pipe, device or folder is refused at once); a write-only
    // open may also name a device.
    virtual bool Open(const char* path, unsigned flags, CFileException* error = nullptr);
    // Open of a path already in the host's form (no drive mapping, separators as they are).
    bool OpenNative(const std::string& nativePath, unsigned flags, CFileException* error = nullptr);
    // Takes over `fd`, a regular file open for writing, as an open of `nativePath` for writing
    // would give it (at its start, the file-size limit taken now): the CFile closes it.
    void AttachNative(int fd, const std::string& nativePath);
    virtual std::uint32_t Read(void* buffer, std::uint32_t count);
    virtual void Write(const void* buffer, std::uint32_t count);  // throws CFileException
    // The new position, or -1 (position unchanged) for a target before the start. Never throws.
    virtual std::int64_t Seek(std::int64_t offset, SeekPosition from);
    void SeekToBegin() { Seek(0, begin); }
    std::uint64_t SeekToEnd() { return static_cast<std::uint64_t>(Seek(0, end)); }
    virtual std::uint64_t GetPosition() const;
    virtual std::uint64_t GetLength() const;
    virtual void Flush();   // throws CFileException
    virtual void Close();   // flushes; throws CFileException on a failed flush
    void Abort() noexcept;  // closes, ignoring every failure
    const std::string& GetFilePath() const { return m_path; }
    virtual bool IsOpen() const { return m_fd >= 0; }

  protected:
    std::string m_path;

  private:
    bool OpenAs(const char* path, const std::string& native, unsigned flags, CFileException* error);

    int m_fd = -1;
    bool m_readOnly = false;  // opened for reading only
    static constexpr std::uint64_t kNoSizeLimit = UINT64_MAX;
    std::uint64_t m_sizeLimit = kNoSizeLimit;  // a regular file's file-size limit, taken at open
    std::uint64_t m_length = 0;                // length of a read-only file, taken at open
    std::uint64_t m_pos = 0;                   // logical position
    std::unique_ptr<unsigned char[]> m_buf;    // read-ahead (not zero-filled)
    std::size_t m_bufCapacity = 0;             // grows from 4 KiB to 64 KiB as a walk reads on
    std::uint64_t m_bufStart = 0;              // file offset of m_buf[0]
    std::size_t m_bufLen = 0;                  // valid bytes in m_buf
};

// A file over a byte buffer (tests, fuzzing, in-memory streams).
class CMemFile : public CFile {
  public:
    CMemFile() = default;
    explicit CMemFile(std::vector<unsigned char> bytes) : m_data(std::move(bytes)) {}
    CMemFile(const void* bytes, std::size_t size);

    bool Open(const char*, unsigned, CFileException* = nullptr) override { return true; }
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    void Write(const void* buffer, std::uint32_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekPosition from) override;
    std::uint64_t GetPosition() const override { return m_pos; }
    std::uint64_t GetLength() const override { return m_data.size(); }
    void Flush() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }  // a memory file is always open

    const std::vector<unsigned char>& Data() const { return m_data; }
    void SetWriteLimit(std::size_t bytes) { m_writeLimit = bytes; }  // simulates a full disk

  private:
    std::vector<unsigned char> m_data;
    std::uint64_t m_pos = 0;
    std::size_t m_writeLimit = SIZE_MAX;
};

}  // namespace win

namespace quorin {

// The process's file-size limit in bytes (RLIM_INFINITY, above any size, when there is none).
// The system ends a process whose write would reach past it (SIGXFSZ, in every program that
// leaves the signal alone) before any failure could be handled: every write of the library stays
// within it, checked before the write.
std::uint64_t FileSizeLimit();

// open(2) of a native path (O_CLOEXEC added) that never blocks on a pipe or device: the open is
// non-blocking and the descriptor is made blocking again once its status is known. With
// `regularOnly` anything but a regular file is refused, with errno EISDIR for a folder and
// ENODEV for a pipe, device or socket. -1 with errno set on failure; `info`, when given,
// receives the open file's status.
int OpenFileDescriptor(const std::string& nativePath, int flags, bool regularOnly,
                       struct stat* info = nullptr, unsigned mode = 0666);
// The same for `name` in the folder open as `folder` (or AT_FDCWD).
int OpenFileDescriptorAt(int folder, const std::string& name, int flags, bool regularOnly,
                         struct stat* info = nullptr, unsigned mode = 0666);

// A native path joined as the system reads it ("/" only; a backslash is part of a name).
std::string JoinNative(const std::string& folder, const std::string& name);

// Whether `file` (a file or a link) in `folder` (their status) is one another user planted in a
// shared folder: in a sticky folder everybody may write, what belongs neither to this user nor to
// the folder's owner. The system follows no such link and opens no such file with O_CREAT
// (fs.protected_symlinks, fs.protected_regular), root no more than others.
bool Planted(const struct stat& folder, const struct stat& file);

// The errno value of a failed open or create of `native`, ENOTDIR for an ENOENT whose folder is
// missing: Windows tells a missing folder (path not found) from a missing file.
int FolderAware(int err, const std::string& native);

// The content of an open file of `size` bytes (as its status gave it), read from its start into
// `out`, which ends as long as what was there (shorter when the file shrank while read):
// ERROR_SUCCESS, ERROR_FILE_TOO_LARGE for a size past `cap` (nothing read), or the failure.
win::DWORD ReadWhole(int fd, std::uint64_t size, std::uint64_t cap, std::string& out);

// The whole content of the regular file at `path`, of at most `cap` bytes. ERROR_SUCCESS or the
// error code (ERROR_FILE_TOO_LARGE for a larger file).
win::DWORD ReadRegularFile(const std::string& path, std::uint64_t cap, std::string& out);

// The longest a save waits for the lock of the file it replaces, 30 s (the lock may be held by a
// peer's save, or by any process that may open the file, even one stopped): past it the save is
// refused as a file in use.
inline constexpr std::chrono::milliseconds kSaveLockWait{30000};
// A save refused on a lock held past the wait `waited`, in words: "locked by another process
// (waited 30 s)" (EWOULDBLOCK's own text would say neither whose lock nor that the save waited).
std::string LockedText(std::chrono::milliseconds waited);

// Replaces the file at `path` with what `write` puts into the CFile it is given (false: the
// write failed, the thread's last error says why). A symbolic link is followed and the file it
// names replaced where it lives, but, as the system's own path walk, a link in a sticky folder
// everybody may write is followed only when it belongs to this user or to the folder's owner
// (ERROR_ACCESS_DENIED otherwise, nothing written or made). Links in the folders before the last
// name are followed by the system's own path walk (under its fs.protected_symlinks rule, where
// on); the last name, and each link it leads through, the save checks itself. A link of the
// process file system (/proc/self/fd/N, /dev/fd/N) is followed only where its text names the
// file it leads to: for a removed file ("… (deleted)") the save answers ERROR_FILE_NOT_FOUND and
// makes nothing, for a pipe or a device ERROR_CANT_ACCESS_FILE. Links that lead round in a loop
// are ERROR_CANT_RESOLVE_FILENAME (ELOOP).
// An existing target must be a regular file the user may write (ERROR_ACCESS_DENIED otherwise,
// the file untouched). In a sticky folder everybody may write (as /tmp), a target that belongs
// neither to this user nor to the folder's owner is refused with ERROR_ACCESS_DENIED by either
// road, root's save too, nothing written and no temporary file left: the system keeps a shell's
// `>` from such a file (fs.protected_regular), and a rename never meets that rule. The target
// keeps its owner and group, its POSIX access ACL (none where it had none: not the one a folder's
// default ACL would give a new file), its permissions with their set-ID bits (in place, the
// owner's save puts back what the write clears, but for the set-group-ID bit of a file whose group
// the owner is not in, which the system lets only root or a member set; another user's write clears
// them, as the system does), and its user.* and security.* attributes (those the user may not read
// or set, as security.* for anyone but root, are left out, and one the new file cannot take for any
// other reason, as for want of room, gets the save in place, which keeps it; trusted.* ones and a
// file capability, which the system drops on any write, are not copied).
// The new content goes to a temporary file beside the target (the CFile the writer gets, named
// by its GetFilePath, /proc/self/fd/N/NAME through the save's descriptor of its folder, while
// the save runs; made through the folder opened at the start, with O_EXCL, written through
// the descriptor that made it, at most of mode 0600 until it takes an existing target's place),
// synced, given the owner, mode and attributes of the file it replaces, synced again and renamed
// over it, the folder synced after: a failure, or the process killed on the way, leaves the old
// content whole. The temporary file's name is "." + the target's name + "." + the process number
// + "." + a random decimal number + ".tmp". Temporary files left by a replacement of this user's
// that was killed (its process gone) are removed by the next one of the same target, and so, by a
// saver that may give a file any owner (root), are those that took the target's owner; other users'
// are left alone. The target is a new file then: another hard link to the old one keeps the old
// content. A folder moved away meanwhile keeps nothing of the save: the rename goes into
// the folder the save began in (whose file it locked), where the temporary file is removed too.
// A folder the user may write but not list cannot be synced: the save succeeds without it.
// Where the folder takes no new file, or keeps every entry (append-only or immutable, told by its
// flags: a temporary file there could never go; a new target is made there empty, then written
// in place), or its sticky bit keeps the user from renaming over another user's target (known
// before any temporary file is made; a rename the system refuses all the same falls back to it
// with what was written, the writer not run twice), or the target's owner and group or its ACL
// cannot be given to the new file (which would widen who may read it), a target the user may read
// and write is written in place (every hard link to it sees the new content): the new content is
// made in memory first (the writer gets a CMemFile; a writer that fails never touches the target),
// and when the target cannot take it (a full disk, a failing device) the old content, held in
// memory, is written back. From just before its first byte is written until it is synced (or
// written back), the calling thread holds back every signal whose default ends the process, the
// real-time ones too (a fault of the thread's own still ends it: the system holds that back for
// nobody); its mask comes back after, and a signal held meanwhile then takes effect. A signal
// that comes before the first byte finds the target untouched. Only SIGKILL, or a device
// that fails the write-back too, can leave such a target damaged; a reader of the file while it is
// written in place may see part old and part new content.
// On a file system that writes every block anew (btrfs, ZFS), where a rewritten block takes a free
// one, an in-place content larger than the free space is refused with ERROR_DISK_FULL before the
// target is touched, and a write-back that finds no room empties the file and syncs the file
// system, which frees its blocks, before it writes the old content whole.
// Saves of one target take turns on an exclusive flock of the target: in place from reading the
// old content to the last sync, through a new file from before its rename to after it, on
// whatever file the rename replaces (one that appeared after the save began included; a rename
// where no file was refuses to replace one that appears meanwhile, which is then locked in its
// turn, on a file system that cannot refuse a rename over a file by a hard link that refuses to
// replace one, and on one without hard links either by an empty file made with O_EXCL and written
// in place; one found to be no regular file is refused). A save that finds, once it holds the
// lock, that a new file was renamed over the one it opened starts over on the new one: the save
// that ends last leaves its content, and none reports success for content that was lost. The lock
// is waited for at most kSaveLockWait in all, however often the save starts over; past it the save
// is refused with ERROR_SHARING_VIOLATION, the target untouched and no temporary file left. A
// caller that holds such a lock on the target through another descriptor must not save it.
// The process's file-size limit (RLIMIT_FSIZE), past which the system would end the process
// mid-write, is never reached: content that would pass it, or in place an old content that a
// write-back could not restore under it, is refused with ERROR_FILE_TOO_LARGE, the old file
// untouched and no temporary file left.
// A target in a folder that does not exist is ERROR_PATH_NOT_FOUND, as opening a file there is.
// ERROR_SUCCESS or the error code, also left as the thread's last error.
win::DWORD ReplaceFile(const std::string& path, const std::function<bool(win::CFile&)>& write,
                       unsigned newFileMode = 0666);
win::DWORD ReplaceFileBytes(const std::string& path, std::string_view bytes,
                            unsigned newFileMode = 0666);
// A caller that keeps turns of its own on a target (the settings do, on a lock file only their
// writers may take) gives them to the save: every wait of the save for a lock ends at
// `deadline`, and the target's own lock is only tried, never waited for (a process that may
// merely read the file could hold it).
struct SaveTurnHeld {
    std::chrono::steady_clock::time_point deadline;
};
// ReplaceFile of a path already in the host's form: a backslash is part of a name, "c:" no drive.
win::DWORD ReplaceNativeFile(const std::string& nativePath,
                             const std::function<bool(win::CFile&)>& write,
                             unsigned newFileMode = 0666, const SaveTurnHeld* turn = nullptr);

// Test hooks.
namespace replace_testing {
enum class Step { none, cut, sync, full, acl, attribute, noReplace, noLinks };
// The next in-place write's cut to a shorter content, or its last sync, fails (EIO) as a failing
// device would, or it runs out of room (ENOSPC) once half the old bytes it overwrites are written,
// and so does the write of them back, as on a file system that writes every block anew; or the
// next ACL given to a new file is refused as by a file system without ACLs, or the next user.* or
// security.* attribute given to one finds no room (ENOSPC); or the next rename of a new file where
// no file was is refused (EINVAL) as by a file system that cannot refuse a rename over a file (NFS,
// CIFS), or the next such rename and the link that stands for it are both refused (EINVAL, EPERM)
// as by a file system without hard links; once, then every step runs again. Step::none withdraws a
// failure not yet spent. `err`, where given, is the errno value of that refused rename, or of
// that refused link, in place of EINVAL or EPERM.
void FailNext(Step step, int err = 0);
// The bound of the wait for the target's lock, in place of kSaveLockWait.
void SetLockWait(std::chrono::milliseconds bound);
enum class Pause {
    none,
    beforeLock,
    afterCheck,
    whileWriting,
    beforeTemporaryLock,
    beforeNewName,
    beforeMode
};
// Every in-place save of this process sleeps `span` between opening the target and locking it,
// once it holds the lock and has found that the path still names the file it opened, before it
// writes, or once it has written the bytes past the old end, before the others; every save
// through a new file between making its temporary file and locking it, or once it found no file
// to replace, before it gives the new file the target's name, or once the new file has the old
// one's owner, group and ACL, before its mode. Pause::none withdraws it.
void PauseAt(Pause where, std::chrono::milliseconds span = {});
// The steps the saves of this process took since the last call, in order (the last few dozen):
// 'f' a temporary file synced, 'r' renamed over the target, 'd' the folder synced, 'p' a target
// written in place synced.
std::string Steps();
}  // namespace replace_testing

}  // namespace quorin
