// Hostile files given to every export under names that follow the naming rule: checkit-tiff's
// files that must fail, and truncated or damaged fixture files. Clear codes, no crash, no leak.
#include <gtest/gtest.h>
#include <quorin/basicpreview.h>
#include <quorin/v5files.h>

#include <filesystem>
#include <random>
#include <set>
#include <vector>

#include "common/leak_guard.h"
#include "platform/core/globalmem.h"
#include "records/headers/headerkinds.h"
#include "v5fixtures.h"

namespace {

using quorin::test::MakeV5Fixture;
using quorin::test::ReadBytes;
using quorin::test::TempDir;
using quorin::test::WriteBytes;

const std::set<int> kCodes = {0, 1, 2, 5, 7, 8};

// Every export over one file; the header classes follow the type the information gives.
void ReadEverything(const std::string& path) {
    SCOPED_TRACE(path);
    V5Files_IsOldQuorinFile(path.c_str());
    V5Files_IsFMSFile(path.c_str());
    SBasicPreviewInfo preview;
    const int p = V5Files_ReadBasicPreviewInformation(path, preview);
    EXPECT_TRUE(p == 0 || p == 7) << p;

    for (int subType : {0, 2}) {
        CHeaderZel header;
        header.SetSubType(subType);
        const int info = V5Files_ReadQVImageInformation(path.c_str(), &header, 1);
        EXPECT_TRUE(kCodes.count(info)) << info;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(header.GetWidth()) *
                                             header.GetHeight() *
                                             std::max(header.GetSamplesPerPixel(), 0) +
                                         1);
        const int image = V5Files_ReadImage(path.c_str(), &header, 1, pixels.data());
        EXPECT_TRUE(kCodes.count(image)) << image;
    }
    // Every type road without pixels.
    for (int type : {1, 2, 3, 4, 5, 11}) {
        CHeaderPano header;
        header.SetImageType(type);
        const int image = V5Files_ReadImage(path.c_str(), &header, 0, nullptr);
        EXPECT_TRUE(kCodes.count(image)) << "type " << type << ": " << image;
    }
}

class V5Hostile : public ::testing::Test {
  protected:
    quorin::test::NoLeaks m_noLeaks;
    TempDir m_dir;
};

TEST_F(V5Hostile, CheckitTiffFilesThatMustFail) {
    const std::filesystem::path folder = "/usr/share/checkit_tiff/tiffs_should_fail";
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << "checkit-tiff is not installed";
    const char* names[] = {"R", "T", "C", "F", "P", "S"};
    int n = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::vector<std::uint8_t> bytes = ReadBytes(entry.path().string());
        const std::string name = std::string(names[n % 6]) + std::to_string(n + 1) + ".tif";
        const std::string path = m_dir.file(name);
        WriteBytes(path, bytes);
        ReadEverything(path);
        ++n;
    }
    EXPECT_GT(n, 20);
}

TEST_F(V5Hostile, TruncatedAndDamagedFiles) {
    struct Source {
        const char* kind;
        const char* name;
        const char* options;
    } sources[] = {
        {"grey", "R1.tif", "--compress lzw --rows 5 --drawing 40"},
        {"fms", "F2.tif", "--pages 2 --width 16 --height 12"},
        {"halfsize", "R3.tif", ""},
        {"colourtif", "C4.tif", "--compress lzw"},
        {"rgb565", "C5.tif", "--width 8 --height 6"},
        {"greyjpg", "R6.jpg", "--width 16 --height 16"},
        {"colourjpg", "S7.jpg", "--width 16 --height 16"},
    };
    std::mt19937 random(7);
    for (const Source& s : sources) {
        const std::string original = m_dir.file(std::string("src_") + s.name);
        ASSERT_TRUE(MakeV5Fixture(s.kind, original, s.options)) << s.kind;
        const std::vector<std::uint8_t> bytes = ReadBytes(original);
        const std::string path = m_dir.file(s.name);
        // Cut at a spread of lengths, the header's included.
        for (std::size_t cut : {std::size_t{0}, std::size_t{7}, std::size_t{20}, std::size_t{100},
                                bytes.size() / 3, bytes.size() - 1}) {
            if (cut >= bytes.size()) continue;
            WriteBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
            ReadEverything(path);
        }
        // Bytes of the directories and records set to extremes.
        for (int round = 0; round < 12; ++round) {
            std::vector<std::uint8_t> damaged = bytes;
            std::uniform_int_distribution<std::size_t> at(0, damaged.size() - 1);
            for (int k = 0; k < 6; ++k) damaged[at(random)] = (k & 1) ? 0xFF : 0x00;
            WriteBytes(path, damaged);
            ReadEverything(path);
        }
    }
}

}  // namespace
