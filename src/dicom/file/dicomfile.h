// The DICOM file: a framework file (on disk, or over a byte buffer for tests and fuzzing) that
// knows the transfer syntax of its meta group, opens through a retry loop while another process
// holds it, and answers the quick questions of the exports (image type, teeth, preview values)
// by reading single elements straight from the stream.
//
// Result codes are the element status codes (quorin::ElementStatus): kStatusOk read,
// kStatusNoPrefix, kStatusNotFound, kStatusNotAccepted, kStatusNoTransferSyntax absent or
// empty, kStatusReadError short read or malformed stream.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/dataset/element.h"
#include "platform/files/file.h"

class CAnatTeethList;
class CPatient;

namespace quorin {

// A plain explanation of a result code of the element readers and the quick readers.
const char* DicomResultText(std::int32_t code);
// A plain explanation of a result code of the parser (CInfosDicomList::ReadFromStream).
const char* DicomParseResultText(std::int32_t code);

// Raw values of the patient module (group 0010), as the preview reader returns them.
struct DicomPatientValues {
    std::string family, given, middle, prefix, suffix;  // first name's components
    std::string birthDate;                              // YYYYMMDD as stored
    std::string id;
    std::string sex;
};

}  // namespace quorin

class CDicomTypeFile : public win::CFile {
  public:
    // How many times Open tries while the file is held elsewhere, and the pause between tries.
    static constexpr int kOpenAttempts = 50;
    static constexpr int kRetryMilliseconds = 50;
    // Offset of the first element after the preamble and the "DICM" prefix.
    static constexpr std::uint64_t kDataSetStart = 132;

    CDicomTypeFile();
    ~CDicomTypeFile() override;

    // The framework's open, retried while it fails with a sharing violation (last error 32),
    // pausing before each retry; the result of the last attempt.
    bool Open(const char* path, unsigned flags, win::CFileException* error = nullptr) override;
    // Reads from a copy of `size` bytes instead of a file on disk; `path` names it in messages.
    bool OpenMemory(const void* bytes, std::size_t size, const char* path = "");

    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    void Write(const void* buffer, std::uint32_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekPosition from) override;
    std::uint64_t GetPosition() const override;
    std::uint64_t GetLength() const override;
    void Flush() override;
    void Close() override;
    bool IsOpen() const override;

    // Reads (0002,0010) and sets the implicit flag and byte order: kStatusOk accepted,
    // kStatusNotAccepted not in the table, kStatusNoTransferSyntax absent or empty,
    // kStatusReadError.
    std::int32_t ReadTransferSyntax();
    // The transfer syntax UID as stored ("" when it cannot be read).
    std::string ReadTransferSyntaxUID();
    // 1 when (0002,0002) is one of the media storage SOP classes of the image type
    // (quorin::SopClassHoldsType), else 0. The whole value is compared, less one NUL padding it
    // to even length: a space or a second value after the UID is another class.
    std::int32_t ReadSOPClass(std::int32_t imageType);

    // Quick readers: each reads one element (or sequence) from the stream, searching from
    // offset 132. They read with the file's implicit flag and byte order, which only
    // ReadTransferSyntax sets: call it on the file first, or an implicit VR or big-endian file
    // is walked as explicit VR little endian and answers wrongly. kStatusOk on success,
    // kStatusReadError when an element could not be read, as documented.
    std::int32_t FindPrivateCreator();
    std::int32_t ReadPrivateUS45(std::uint16_t& value);
    std::int32_t ReadHorizontalFlip(std::int32_t& flag);
    std::int32_t ReadCaptureSource(std::int32_t& code);
    std::int32_t ReadIsColour(std::int32_t& colour);
    std::int32_t ReadBitsStored(std::int32_t& bits);
    std::int32_t ReadImageSize(std::uint32_t& rows, std::uint32_t& columns);
    std::int32_t ReadSOPInstanceUID(std::string& uid);
    std::int32_t ReadSOPClassUID(std::string& uid);
    std::int32_t ReadReferencedSOPInstanceUID(std::string& uid);
    std::int32_t ReadModelName(std::string& name);
    std::int32_t ReadPlateType(std::string& plate);
    // Name, birth date, ID and sex, each empty when absent or not read. Result kStatusOk, or
    // kStatusReadError when one of them could not be read (the stream is malformed before it
    // or inside it); the others are still given.
    std::int32_t ReadPatient(quorin::DicomPatientValues& patient);
    // Fills the patient through its setters: name (when not empty), birth date (YYYYMMDD), ID
    // and sex, each only when read intact and not empty. Result kStatusOk, or kStatusReadError
    // when one of them could not be read or memory runs out; what was read is filled even then.
    std::int32_t ReadPatient(CPatient& patient);
    // Appends FDI tooth numbers ("11".."85") to `teeth`.
    std::int32_t ReadToothNumbers(std::vector<std::string>& teeth);
    std::int32_t ReadToothNumbers(CAnatTeethList& teeth);
    std::int32_t ReadImageType(std::int32_t& type);

    std::int32_t m_bImplicit = 0;
    std::int32_t m_nByteOrder = quorin::kLittleEndian;

  protected:
    // One attempt of the framework's open; tests replace it to simulate a held file.
    virtual bool OpenOnce(const char* path, unsigned flags, win::CFileException* error);
    virtual void PauseBeforeRetry();

  private:
    std::unique_ptr<win::CMemFile> m_memory;  // set by OpenMemory
};
