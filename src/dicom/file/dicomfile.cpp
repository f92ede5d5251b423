// The DICOM file class: opening with retries, in-memory streams, transfer syntax and SOP class.
#include "dicom/file/dicomfile.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>

#include "dicom/dataset/dataset.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/text.h"
#include "dicom/file/quickreaders.h"
#include "platform/core/lasterror.h"
#include "platform/core/path.h"

namespace quorin {
const char* DicomResultText(std::int32_t code) {
    switch (code) {
        case kStatusOk:
            return "read";
        case kStatusNoPrefix:
            return "not a DICOM Part 10 file: no \"DICM\" prefix at offset 128";
        case kStatusNotFound:
            return "element not found";
        case kStatusEmpty:
            return "required element read with an empty value";
        case kStatusNotAccepted:
            return "value not accepted (transfer syntax, SOP class or bits stored)";
        case kStatusNoValue:
            return "required element without a value";
        case kStatusNoTransferSyntax:
            return "transfer syntax (0002,0010) absent or empty";
        case kStatusReadError:
            return "short read or malformed stream";
        case kStatusWriteError:
            return "file exception while writing";
        default:
            return "unknown result";
    }
}

const char* DicomParseResultText(std::int32_t code) {
    switch (code) {
        case kStatusOk:
            return "parsed";
        case kStatusNoPrefix:
            return "not a DICOM Part 10 file: no \"DICM\" prefix at offset 128";
        case kStatusNotFound:
            return "pixel data to be measured not found";
        case kStatusNotAccepted:
            return "transfer syntax not accepted";
        case kStatusNoTransferSyntax:
            return "no transfer syntax (0002,0010) in the meta group";
        case kStatusReadError:
            return "file truncated or malformed";
        default:
            return "unknown result";
    }
}

}  // namespace quorin

CDicomTypeFile::CDicomTypeFile() = default;

CDicomTypeFile::~CDicomTypeFile() = default;

bool CDicomTypeFile::OpenOnce(const char* path, unsigned flags, win::CFileException* error) {
    return win::CFile::Open(path, flags, error);
}

void CDicomTypeFile::PauseBeforeRetry() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMilliseconds));
}

bool CDicomTypeFile::Open(const char* path, unsigned flags, win::CFileException* error) {
    m_memory.reset();
    bool opened = OpenOnce(path, flags, error);
    for (int attempt = 1;
         !opened && attempt < kOpenAttempts && win::GetLastError() == win::ERROR_SHARING_VIOLATION;
         ++attempt) {
        PauseBeforeRetry();
        opened = OpenOnce(path, flags, error);
    }
    return opened;
}

bool CDicomTypeFile::OpenMemory(const void* bytes, std::size_t size, const char* path) {
    win::CFile::Abort();
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
    return m_memory ? m_memory->Read(buffer, count) : win::CFile::Read(buffer, count);
}

void CDicomTypeFile::Write(const void* buffer, std::uint32_t count) {
    if (m_memory)
        m_memory->Write(buffer, count);
    else
        win::CFile::Write(buffer, count);
}

std::int64_t CDicomTypeFile::Seek(std::int64_t offset, SeekPosition from) {
    return m_memory ? m_memory->Seek(offset, from) : win::CFile::Seek(offset, from);
}

std::uint64_t CDicomTypeFile::GetPosition() const {
    return m_memory ? m_memory->GetPosition() : win::CFile::GetPosition();
}

bool CDicomTypeFile::IsOpen() const {
    return m_memory != nullptr || win::CFile::IsOpen();
}

std::uint64_t CDicomTypeFile::GetLength() const {
    return m_memory ? m_memory->GetLength() : win::CFile::GetLength();
}

void CDicomTypeFile::Flush() {
    if (!m_memory) win::CFile::Flush();
}

void CDicomTypeFile::Close() {
    if (m_memory)
        m_memory.reset();
    else
        win::CFile::Close();
}

std::int32_t CDicomTypeFile::ReadTransferSyntax() {
    try {
        return quorin::ReadTransferSyntax(this, m_bImplicit, m_nByteOrder);
    } catch (...) {
        return quorin::kStatusReadError;
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
    try {
        // The value as stored, not its first value: a UID padded with a space or followed by a
        // second value names no class. Only the NUL that pads a UID to even length is dropped.
        CElementUN uid(0, 0x0002, 0x0002, this, 0, quorin::kLittleEndian, kDataSetStart,
                       quorin::kNoLimit, "UI");
        if (uid.m_nStatus != quorin::kStatusOk || uid.GetValue() == nullptr) return 0;
        std::string_view value(reinterpret_cast<const char*>(uid.GetValue()), uid.m_nLength);
        if (!value.empty() && value.back() == '\0') value.remove_suffix(1);
        return quorin::SopClassHoldsType(std::string(value), imageType) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
