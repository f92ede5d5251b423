// Handle-style file access over CFile: the same buffered reads, and the Win32 answers (TRUE with
// fewer bytes at end of file, 32-bit pointer halves, GetLastError codes). Handles are registered
// so a closed or foreign handle answers ERROR_INVALID_HANDLE instead of touching memory.
#include "platform/files/rawfile.h"

#include <atomic>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/files/file.h"

namespace win {

struct RawFile {
    CFile file;
    bool writable = false;
};

namespace {

constexpr DWORD kCreateNew = 1, kOpenAlways = 4, kTruncateExisting = 5;

std::mutex& HandlesMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_set<RawFile*>& Handles() {
    static auto* handles = new std::unordered_set<RawFile*>;  // outlives static destructors
    return *handles;
}

// The registered handle, or null (last error set). Use of one handle from several threads at once
// is the caller's business, as on Windows.
RawFile* Lookup(HANDLE handle) {
    std::lock_guard lock(HandlesMutex());
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || Handles().count(handle) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return handle;
}

}  // namespace

HANDLE CreateFileA(const char* path, DWORD access, DWORD /*share*/, void* /*security*/,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (path == nullptr || *path == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    unsigned mode = write ? (read ? CFile::modeReadWrite : CFile::modeWrite) : CFile::modeRead;
    const bool exists = FileExists(path);
    switch (disposition) {
        case CREATE_ALWAYS:
            mode |= CFile::modeCreate;
            break;
        case kCreateNew:
            if (exists) {
                SetLastError(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
            mode |= CFile::modeCreate;
            break;
        case OPEN_EXISTING:
            break;
        case kOpenAlways:
            mode |= CFile::modeCreate | CFile::modeNoTruncate;
            break;
        case kTruncateExisting:
            if (!write) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            if (!exists) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            mode |= CFile::modeCreate;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    if ((mode & CFile::modeCreate) && !write) mode |= CFile::modeReadWrite;  // creating needs write
    auto* raw = new (std::nothrow) RawFile;
    if (raw == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (!raw->file.Open(path, mode)) {  // sets the last error
        delete raw;
        return INVALID_HANDLE_VALUE;
    }
    raw->writable = write;
    {
        std::lock_guard lock(HandlesMutex());
        Handles().insert(raw);
    }
    SetLastError(ERROR_SUCCESS);
    return raw;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read, void* /*overlapped*/) {
    if (read != nullptr) *read = 0;
    RawFile* raw = Lookup(handle);
    if (raw == nullptr) return 0;
    if (buffer == nullptr && count > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD got = raw->file.Read(buffer, count);
    if (read != nullptr) *read = got;
    rawfile_testing::CountRead(got);
    return 1;  // fewer bytes than asked is end of file, not an error
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written,
               void* /*overlapped*/) {
    if (written != nullptr) *written = 0;
    RawFile* raw = Lookup(handle);
    if (raw == nullptr) return 0;
    if (!raw->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    const std::uint64_t before = raw->file.GetPosition();
    try {
        raw->file.Write(buffer, count);
    } catch (const CFileException& error) {
        if (written != nullptr) *written = static_cast<DWORD>(raw->file.GetPosition() - before);
        SetLastError(static_cast<DWORD>(error.m_lOsError));
        return 0;
    }
    if (written != nullptr) *written = count;
    return 1;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
    RawFile* raw = Lookup(handle);
    if (raw == nullptr) return INVALID_SET_FILE_POINTER;
    // Without the high half the distance is a signed 32-bit value.
    const std::int64_t offset =
        distanceHigh != nullptr
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                  static_cast<std::uint32_t>(distance))
            : static_cast<std::int64_t>(distance);
    CFile::SeekPosition from;
    switch (method) {
        case FILE_BEGIN:
            from = CFile::begin;
            break;
        case FILE_CURRENT:
            from = CFile::current;
            break;
        case FILE_END:
            from = CFile::end;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    const std::uint64_t old = raw->file.GetPosition();
    const std::int64_t position = raw->file.Seek(offset, from);
    if (position < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    } else if (position > 0xFFFFFFFFll) {
        // Without the high half the answer cannot hold the position: Windows refuses the move.
        raw->file.Seek(static_cast<std::int64_t>(old), CFile::begin);
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    SetLastError(ERROR_SUCCESS);  // 0xFFFFFFFF may be a valid low half: callers check the error
    return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE handle, DWORD* sizeHigh) {
    RawFile* raw = Lookup(handle);
    if (raw == nullptr) return INVALID_FILE_SIZE;
    const std::uint64_t size = raw->file.GetLength();
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CloseHandle(HANDLE handle) {
    {
        std::lock_guard lock(HandlesMutex());
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE || Handles().erase(handle) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    handle->file.Abort();
    delete handle;
    return 1;
}

namespace rawfile_testing {

namespace {
std::atomic<std::uint64_t> g_bytesRead{0};
}  // namespace

void CountRead(DWORD bytes) {
    g_bytesRead.fetch_add(bytes, std::memory_order_relaxed);
}

std::uint64_t BytesRead() {
    return g_bytesRead.load(std::memory_order_relaxed);
}

}  // namespace rawfile_testing

}  // namespace win
