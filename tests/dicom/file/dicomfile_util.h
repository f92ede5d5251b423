// Helpers of the DICOM file suites: parsing a file or bytes, writing a data set to bytes, the
// fixture folder of generated samples, and hand-made streams.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dicom/dataset/dataset.h"
#include "dicom/file/dicomfile.h"

namespace quorin::test {

struct Parsed {
    std::unique_ptr<CInfosDicomList> list = std::make_unique<CInfosDicomList>();
    int result = -1;
};

Parsed ParseFile(const std::string& path, int pixelMode = 0);
Parsed ParseBytes(const std::vector<std::uint8_t>& bytes, int pixelMode = 0);
// The data set written with preamble (CInfosDicomList::Write); empty when the write failed.
std::vector<std::uint8_t> WriteToBytes(CInfosDicomList& list);
// The folder the sample generator wrote to (generated once per test run).
const std::string& GeneratedSamples();

// A Part 10 stream built by hand: preamble, "DICM", a meta group for the syntax, then `body`.
std::vector<std::uint8_t> Part10(const std::string& syntax, const std::vector<std::uint8_t>& body);
// Element encodings, little endian.
void PutTag(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element);
void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value);
// Appends the bytes of a text (byte by byte: GCC 12 at -O3 misreads a range insert).
void PutText(std::vector<std::uint8_t>& out, const std::string& text);
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value);
// Explicit VR element with a 16-bit length (or 32-bit for the long VRs).
void PutExplicit(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element,
                 const char* vr, const std::string& value);
// Implicit VR element: tag, 32-bit length, value.
void PutImplicit(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element,
                 const std::string& value);
void PutItem(std::vector<std::uint8_t>& out, std::uint32_t length);
void PutItemEnd(std::vector<std::uint8_t>& out);
void PutSequenceEnd(std::vector<std::uint8_t>& out);

}  // namespace quorin::test
