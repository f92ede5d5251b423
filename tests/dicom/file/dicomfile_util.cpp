#include "dicomfile_util.h"

#include <gtest/gtest.h>

#include "common/test_util.h"
#include "dicom/dictionary/vr.h"

namespace quorin::test {

Parsed ParseFile(const std::string& path, int pixelMode) {
    Parsed parsed;
    CDicomTypeFile file;
    if (!file.Open(path.c_str(), win::CFile::modeRead)) return parsed;
    parsed.result = parsed.list->ReadFromStream(&file, 1, 0, 0, pixelMode, 0);
    return parsed;
}

Parsed ParseBytes(const std::vector<std::uint8_t>& bytes, int pixelMode) {
    Parsed parsed;
    win::CMemFile file(bytes.data(), bytes.size());
    parsed.result = parsed.list->ReadFromStream(&file, 1, 0, 0, pixelMode, 0);
    return parsed;
}

std::vector<std::uint8_t> WriteToBytes(CInfosDicomList& list) {
    win::CMemFile file;
    if (list.Write(&file, 1, nullptr, 0, nullptr) != 1) return {};
    return {file.Data().begin(), file.Data().end()};
}

const std::string& GeneratedSamples() {
    // A folder of this process's own: ctest runs the suite's tests side by side, and a shared
    // folder would be rewritten under a test that is reading it.
    static const TempDir samples;
    static const std::string folder = [] {
        const std::string dir = samples.path();
        const auto result =
            RunCommand(FixtureCommand("make_dicom_samples.py") + " " + ShellQuote(dir) + " --all");
        EXPECT_EQ(result.status, 0) << "sample generator failed";
        return dir;
    }();
    return folder;
}

void PutText(std::vector<std::uint8_t>& out, const std::string& text) {
    for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value));
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutTag(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element) {
    PutU16(out, group);
    PutU16(out, element);
}

void PutExplicit(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element,
                 const char* vr, const std::string& value) {
    PutTag(out, group, element);
    out.push_back(static_cast<std::uint8_t>(vr[0]));
    out.push_back(static_cast<std::uint8_t>(vr[1]));
    if (HasLongLength(vr)) {
        PutU16(out, 0);
        PutU32(out, static_cast<std::uint32_t>(value.size()));
    } else {
        PutU16(out, static_cast<std::uint16_t>(value.size()));
    }
    PutText(out, value);
}

void PutImplicit(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element,
                 const std::string& value) {
    PutTag(out, group, element);
    PutU32(out, static_cast<std::uint32_t>(value.size()));
    PutText(out, value);
}

void PutItem(std::vector<std::uint8_t>& out, std::uint32_t length) {
    PutTag(out, 0xFFFE, 0xE000);
    PutU32(out, length);
}

void PutItemEnd(std::vector<std::uint8_t>& out) {
    PutTag(out, 0xFFFE, 0xE00D);
    PutU32(out, 0);
}

void PutSequenceEnd(std::vector<std::uint8_t>& out) {
    PutTag(out, 0xFFFE, 0xE0DD);
    PutU32(out, 0);
}

std::vector<std::uint8_t> Part10(const std::string& syntax, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 128; ++i) out.push_back(0);
    PutText(out, "DICM");
    std::string uid = syntax;
    if (uid.size() % 2) uid.push_back('\0');
    std::vector<std::uint8_t> meta;
    PutExplicit(meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    PutExplicit(meta, 0x0002, 0x0010, "UI", uid);
    std::string length(4, '\0');
    const auto n = static_cast<std::uint32_t>(meta.size());
    for (int i = 0; i < 4; ++i)
        length[static_cast<std::size_t>(i)] = static_cast<char>(n >> (8 * i));
    PutExplicit(out, 0x0002, 0x0000, "UL", length);
    out.insert(out.end(), meta.begin(), meta.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace quorin::test
