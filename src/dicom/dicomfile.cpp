// The DICOM file class: opening with retries, in-memory streams, transfer syntax and SOP class.
#include "dicom/dicomfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "dicom/dataset.h"
#include "dicom/multiple.h"
#include "platform/lasterror.h"
#include "platform/path.h"

namespace quorin {
namespace {

constexpr TransferSyntax kSyntaxes[] = {
    {"1.2.840.10008.1.2", 1, 1, false},     {"1.2.840.10008.1.2.1", 0, 1, false},
    {"1.2.840.10008.1.2.2", 0, 0, false},   {"1.2.840.10008.1.2.4.50", 0, 1, true},
    {"1.2.840.10008.1.2.4.51", 0, 1, true}, {"1.2.840.10008.1.2.4.57", 0, 1, true},
    {"1.2.840.10008.1.2.4.70", 0, 1, true}, {"1.2.840.10008.1.2.4.91", 0, 1, true},
    {"1.2.840.10008.1.2.4.90", 0, 1, true},
};

struct SopClassRow {
    std::int32_t types[4];  // image types; -1 fills a short list
    const char* uids[2];
};

constexpr SopClassRow kSopClasses[] = {
    {{1, 8, -1, -1}, {"1.2.840.10008.5.1.4.1.1.1.3", "1.2.840.10008.5.1.4.1.1.1.3.1"}},
    {{2, 9, -1, -1}, {"1.2.840.10008.5.1.4.1.1.77.1.4", "1.2.840.10008.5.1.4.1.1.77.1.1"}},
    {{3, 6, 7, -1}, {"1.2.840.10008.5.1.4.1.1.1.1", "1.2.840.10008.5.1.4.1.1.1.1.1"}},
    {{4, 5, 10, -1}, {"1.2.840.10008.5.1.4.1.1.7", nullptr}},
    {{13, 14, 15, 16}, {"1.2.840.10008.5.1.4.1.1.1", nullptr}},
};

}  // namespace

const TransferSyntax* FindTransferSyntax(const char* uid) {
    if (uid == nullptr) return nullptr;
    for (const auto& row : kSyntaxes)
        if (std::strcmp(row.uid, uid) == 0) return &row;
    return nullptr;
}

const char* DicomResultText(std::int32_t code) {
    switch (code) {
        case 0:
            return "read";
        case 2:
            return "not a DICOM Part 10 file: no \"DICM\" prefix at offset 128";
        case 3:
            return "element not found";
        case 5:
            return "required element read with an empty value";
        case 7:
            return "value not accepted (transfer syntax, SOP class or bits stored)";
        case 9:
            return "required element without a value";
        case 12:
            return "transfer syntax (0002,0010) absent or empty";
        case 13:
            return "short read or malformed stream";
        case 14:
            return "file exception while writing";
        default:
            return "unknown result";
    }
}

const char* DicomParseResultText(std::int32_t code) {
    switch (code) {
        case 0:
            return "parsed";
        case 2:
            return "not a DICOM Part 10 file: no \"DICM\" prefix at offset 128";
        case 3:
            return "pixel data to be measured not found";
        case 7:
            return "transfer syntax not accepted";
        case 12:
            return "no transfer syntax (0002,0010) in the meta group";
        case 13:
            return "file truncated or malformed";
        default:
            return "unknown result";
    }
}

}  // namespace quorin

CDicomTypeFile::CDicomTypeFile() = default;

CDicomTypeFile::~CDicomTypeFile() {
    CloseReader();
}

namespace {

constexpr std::uint32_t kLargestFill = 64 * 1024;

}  // namespace

void CDicomTypeFile::CloseReader() noexcept {
    if (m_nReadFd >= 0) ::close(m_nReadFd);
    m_nReadFd = -1;
    m_nReadPosition = 0;
    m_nReadLength = 0;
}

bool CDicomTypeFile::OpenReader(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    int fd = -1;
    try {
        fd = ::open(win::ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    } catch (...) {
        return false;
    }
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        ::close(fd);
        return false;  // the framework file reports what is wrong
    }
    try {
        m_path = path;
    } catch (...) {
        ::close(fd);
        return false;
    }
    win::CFile::Abort();
    m_nReadFd = fd;
    m_nReadPosition = 0;
    m_nReadLength = 0;
    m_nKnownLength = static_cast<std::uint64_t>(info.st_size);
    win::SetLastError(win::ERROR_SUCCESS);
    return true;
}

std::uint32_t CDicomTypeFile::ReaderRead(void* buffer, std::uint32_t count) {
    if (buffer == nullptr || count == 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint64_t position = m_nReadPosition;
        if (position >= m_nReadStart && position - m_nReadStart < m_nReadLength) {
            const auto offset = static_cast<std::uint32_t>(position - m_nReadStart);
            const std::uint32_t take = std::min(count - done, m_nReadLength - offset);
            std::memcpy(out + done, m_readBuffer + offset, take);
            done += take;
            m_nReadPosition += take;
            continue;
        }
        if (position >= static_cast<std::uint64_t>(INT64_MAX)) break;
        const std::uint32_t want = count - done;
        if (want >= kLargestFill) {  // large values go straight to their destination
            const ssize_t got = ::pread(m_nReadFd, out + done, want, static_cast<off_t>(position));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::uint32_t>(got);
            m_nReadPosition += static_cast<std::uint64_t>(got);
            continue;
        }
        // The buffer doubles with each refill: a walk through a long header reads on.
        // The first fill uses the buffer as it stands.
        const std::uint32_t fill =
            m_nReadLength == 0 && m_readBuffer == m_firstBuffer
                ? std::max(want, kFirstFill)
                : std::max(want, std::min(kLargestFill, m_nReadCapacity * 2));
        if (fill > m_nReadCapacity) {
            std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[fill]);
            if (!grown) break;  // Read never throws: the caller sees a short count
            m_largeBuffer = std::move(grown);
            m_readBuffer = m_largeBuffer.get();
            m_nReadCapacity = fill;
        }
        m_nReadLength = 0;
        const ssize_t got =
            ::pread(m_nReadFd, m_readBuffer, m_nReadCapacity, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        m_nReadStart = position;
        m_nReadLength = static_cast<std::uint32_t>(got);
    }
    return done;
}

bool CDicomTypeFile::OpenOnce(const char* path, unsigned flags, win::CFileException* error) {
    if ((flags & (modeWrite | modeReadWrite | modeCreate)) == 0 && OpenReader(path)) return true;
    return win::CFile::Open(path, flags, error);
}

void CDicomTypeFile::PauseBeforeRetry() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMilliseconds));
}

bool CDicomTypeFile::Open(const char* path, unsigned flags, win::CFileException* error) {
    m_memory.reset();
    CloseReader();
    m_nKnownLength = kUnknownLength;
    bool opened = OpenOnce(path, flags, error);
    for (int attempt = 1;
         !opened && attempt < kOpenAttempts && win::GetLastError() == win::ERROR_SHARING_VIOLATION;
         ++attempt) {
        PauseBeforeRetry();
        opened = OpenOnce(path, flags, error);
    }
    // A file opened for reading keeps its length while parsed: it is asked for at every
    // element, and asking the system each time costs more than the parse.
    if (opened && m_nReadFd < 0 && (flags & (modeWrite | modeReadWrite)) == 0)
        m_nKnownLength = win::CFile::GetLength();
    return opened;
}

bool CDicomTypeFile::OpenMemory(const void* bytes, std::size_t size, const char* path) {
    CloseReader();
    try {
        m_memory = std::make_unique<win::CMemFile>(bytes, size);
        m_path = path != nullptr ? path : "";
    } catch (...) {
        m_memory.reset();
        return false;
    }
    return true;
}

std::uint32_t CDicomTypeFile::Read(void* buffer, std::uint32_t count) {
    if (m_memory) return m_memory->Read(buffer, count);
    if (m_nReadFd >= 0) return ReaderRead(buffer, count);
    return win::CFile::Read(buffer, count);
}

void CDicomTypeFile::Write(const void* buffer, std::uint32_t count) {
    if (m_nReadFd >= 0) {
        // Written through the framework file opened as before, at the same position: it
        // reports the write to a file opened for reading as it always did.
        const std::string path = m_path;
        const std::uint64_t position = m_nReadPosition;
        CloseReader();
        if (win::CFile::Open(path.c_str(), modeRead))
            win::CFile::Seek(static_cast<std::int64_t>(position), begin);
    }
    m_nKnownLength = kUnknownLength;
    if (m_memory)
        m_memory->Write(buffer, count);
    else
        win::CFile::Write(buffer, count);
}

std::int64_t CDicomTypeFile::Seek(std::int64_t offset, SeekPosition from) {
    if (m_memory) return m_memory->Seek(offset, from);
    if (m_nReadFd < 0) return win::CFile::Seek(offset, from);
    // The framework file's rules: a target before the start (or past what a file can hold)
    // fails and leaves the position; past the end is allowed.
    std::int64_t base = 0;
    switch (from) {
        case begin:
            break;
        case current:
            base = static_cast<std::int64_t>(m_nReadPosition);
            break;
        case end:
            base = static_cast<std::int64_t>(m_nKnownLength);
            break;
        default:
            return -1;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        win::SetLastError(win::ERROR_NEGATIVE_SEEK);
        return -1;
    }
    m_nReadPosition = static_cast<std::uint64_t>(target);
    return target;
}

std::uint64_t CDicomTypeFile::GetPosition() const {
    if (m_memory) return m_memory->GetPosition();
    return m_nReadFd >= 0 ? m_nReadPosition : win::CFile::GetPosition();
}

bool CDicomTypeFile::IsOpen() const {
    return m_nReadFd >= 0 || win::CFile::IsOpen();
}

std::uint64_t CDicomTypeFile::GetLength() const {
    if (m_memory) return m_memory->GetLength();
    return m_nKnownLength != kUnknownLength ? m_nKnownLength : win::CFile::GetLength();
}

void CDicomTypeFile::Flush() {
    if (!m_memory && m_nReadFd < 0) win::CFile::Flush();  // nothing is pending on a reader
}

void CDicomTypeFile::Close() {
    m_nKnownLength = kUnknownLength;
    if (m_nReadFd >= 0) {
        CloseReader();
        return;
    }
    if (m_memory)
        m_memory.reset();
    else
        win::CFile::Close();
}

bool CDicomTypeFile::HasPrefix() {
    char prefix[4];
    return Seek(128, begin) == 128 && Read(prefix, 4) == 4 && std::memcmp(prefix, "DICM", 4) == 0;
}

std::int32_t CDicomTypeFile::ReadTransferSyntax() {
    try {
        return quorin::ReadTransferSyntax(this, m_bImplicit, m_nByteOrder);
    } catch (...) {
        return 13;
    }
}

std::string CDicomTypeFile::ReadTransferSyntaxUID() {
    try {
        CElementUIMultiple uid(4, 0x0002, 0x0010, this, 0, quorin::kLittleEndian, kDataSetStart);
        const char* text = uid.m_nStatus == quorin::kStatusOk ? uid.GetValue(0) : nullptr;
        return text != nullptr ? text : "";
    } catch (...) {
        return {};
    }
}

std::int32_t CDicomTypeFile::ReadSOPClass(std::int32_t imageType) {
    if (imageType <= 0) return 0;
    CElementUIMultiple uid(0, 0x0002, 0x0002, this, 0, quorin::kLittleEndian, kDataSetStart);
    if (uid.m_nStatus != quorin::kStatusOk) return 0;
    const char* text = uid.GetValue(0);
    if (text == nullptr) return 0;
    for (const auto& row : quorin::kSopClasses) {
        bool typeMatches = false;
        for (std::int32_t t : row.types) typeMatches = typeMatches || (t == imageType);
        if (!typeMatches) continue;
        for (const char* accepted : row.uids)
            if (accepted != nullptr && std::strcmp(accepted, text) == 0) return 1;
    }
    return 0;
}
