// Hostile files of under a few kilobytes that claim huge images, and files that make the strip
// reader read the same bytes over and over: the information answers the directory's size unless
// the exports cannot hold it or no file of that length can, the image read delivers that size
// or refuses with its own code, bytes read and global memory stay within the image's budget, and
// qvdump refuses them quickly and small. Sound files at the extremes are still read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <quorin/v5files.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/oldtiff/tiffbuilder.h"
#include "oldtiff/lzw.h"
#include "oldtiff/oldtiff.h"
#include "platform/core/globalmem.h"
#include "platform/files/rawfile.h"
#include "records/headers/headerkinds.h"
#include "v5fixtures.h"

extern char** environ;

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

// A current (0x5409) header record with a date and no integrity sum: every 8-bit image carries
// one.
int Record(TiffBuilder& b) {
    Bytes record(356, 0);
    record[0] = 0x09, record[1] = 0x54;
    const char date[] = "20240105";
    std::copy(date, date + 8, record.begin() + 2);
    return b.Blob(record);
}

// An image directory: `bits` 8 or 24 (three SHORT values), or one value such as 6.
TiffBuilder::Directory Image(TiffBuilder& b, std::uint32_t width, std::uint32_t height,
                             std::uint16_t bits, std::uint16_t compression, int pixels,
                             std::uint32_t byteCount) {
    auto d = TiffBuilder::Grey(width, height, pixels, byteCount);
    d[4] = TiffBuilder::Value(259, 3, 1, compression);
    if (bits == 24) {
        Bytes eights;
        for (int i = 0; i < 3; ++i) TiffBuilder::Put16(eights, 8);
        d[3] = TiffBuilder::At(258, 3, 3, b.Blob(eights));
        d[7] = TiffBuilder::Value(277, 3, 1, 3);
    } else {
        d[3] = TiffBuilder::Value(258, 3, 1, bits);
    }
    d.push_back(TiffBuilder::At(270, 2, 356, Record(b)));
    return d;
}

struct Hostile {
    const char* name;
    Bytes bytes;
    int info;   // the public code the information answers
    int image;  // and the image read after an answer of 0
};

std::vector<Hostile> HostileFiles(const TempDir& dir) {
    std::vector<Hostile> files;
    {  // 65,535 x 65,535 colour and grey pixels in a strip of 16 bytes
        TiffBuilder b;
        const int strip = b.Blob(Bytes(16, 0x80));
        files.push_back({"C1.tif", b.Build({Image(b, 65535, 65535, 24, 1, strip, 16)}), 7, 7});
        files.push_back({"R2.tif", b.Build({Image(b, 65535, 65535, 8, 1, strip, 16)}), 7, 7});
    }
    {  // 65,535 strips of one row that all point at the same megabyte, each read whole: the
       // pixel road refuses them as shared strip data before the bytes they would cost are
       // weighed
        TiffBuilder b;
        const int megabyte = b.Blob(Bytes(1 << 20, 0x55));
        Bytes offsets, counts;
        for (int s = 0; s < 65535; ++s) {
            TiffBuilder::Put32(offsets, b.Offset(megabyte));
            TiffBuilder::Put32(counts, 1 << 20);
        }
        auto d = Image(b, 4096, 65535, 8, 1, 0, 0);
        d[6] = TiffBuilder::At(273, 4, 65535, b.Blob(offsets));
        d[8] = TiffBuilder::Value(278, 4, 1, 1);
        d[9] = TiffBuilder::At(279, 4, 65535, b.Blob(counts));
        files.push_back({"T3.tif", b.Build({d}), 0, 7});
    }
    {  // 16,383 x 16,383 pixels in an LZW strip of 600 bytes
        TiffBuilder b;
        Bytes strip(600, 0);
        strip[0] = 0x80;  // a clear code, then literal zeros
        files.push_back(
            {"R4.tif", b.Build({Image(b, 16383, 16383, 8, 5, b.Blob(strip), 600)}), 7, 7});
    }
    {  // a 6-bit image 40,000 pixels wide (80,000 after the doubling)
        TiffBuilder b;
        files.push_back(
            {"R5.tif", b.Build({Image(b, 40000, 4, 6, 1, b.Blob(Bytes(256)), 256)}), 7, 7});
    }
    {  // a 16 x 16 LZW image whose strip is 2 MB: more to read than the image may cost
        TiffBuilder b;
        files.push_back(
            {"R6.tif", b.Build({Image(b, 16, 16, 8, 5, b.Blob(Bytes(2 << 20)), 2 << 20)}), 0, 2});
    }
    {  // an old-style JPEG strip of 8 x 8 pixels (written by cjpeg) whose frame says 4096 x 4096
        const std::string pgm = dir.file("g.pgm"), jpg = dir.file("g.jpg");
        Bytes image = {'P', '5', '\n', '8', ' ', '8', '\n', '2', '5', '5', '\n'};
        image.resize(image.size() + 64, 0x40);
        WriteBytes(pgm, image);
        if (RunCommand("cjpeg -grayscale -baseline -outfile " + ShellQuote(jpg) + " " +
                       ShellQuote(pgm))
                .status == 0) {
            Bytes stream = ReadBytes(jpg);
            for (std::size_t i = 0; i + 8 < stream.size(); ++i)
                if (stream[i] == 0xFF && stream[i + 1] == 0xC0) {
                    stream[i + 5] = stream[i + 7] = 0x10;  // height and width 4096
                    stream[i + 6] = stream[i + 8] = 0x00;
                    break;
                }
            TiffBuilder b;
            const int at = b.Blob(stream);
            auto d = Image(b, 4096, 4096, 8, 6, at, 0);
            d.push_back(TiffBuilder::At(513, 4, 1, at));
            d.push_back(TiffBuilder::Value(514, 4, 1, static_cast<std::uint32_t>(stream.size())));
            files.push_back({"R7.tif", b.Build({d}), 7, 7});
        }
    }
    return files;
}

// Runs a program with its standard error in a file; its exit status and peak resident size.
struct Measured {
    int status = -1;
    long maxRssKb = 0;
    std::string output;  // standard error
};
Measured RunMeasured(const std::vector<std::string>& args, const std::string& outputPath) {
    Measured m;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // qvdump's refusals are on standard error: kept; its dump is not.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.maxRssKb = usage.ru_maxrss;
    const Bytes out = ReadBytes(outputPath);
    m.output.assign(out.begin(), out.end());
    return m;
}

// Bytes read and peak global memory of one export call.
struct Cost {
    std::uint64_t read = 0;
    std::uint64_t peak = 0;
};
template <class Call>
Cost Measure(Call call) {
    const std::uint64_t read = win::rawfile_testing::BytesRead();
    const win::SIZE_T live = win::globalmem_testing::LiveBytes();
    win::globalmem_testing::ResetPeakBytes();
    call();
    return {win::rawfile_testing::BytesRead() - read, win::globalmem_testing::PeakBytes() - live};
}

// Information, then the image read into a buffer sized from the answer, as callers do. Each
// costs no more than the answered image allows.
void ReadAsACaller(const std::string& path, std::uint64_t fileSize, int expectedInfo,
                   int expectedImage) {
    SCOPED_TRACE(path);
    CHeaderPano header;
    int info = 0;
    Cost cost = Measure([&] { info = V5Files_ReadQVImageInformation(path.c_str(), &header, 0); });
    const std::uint16_t width = header.GetWidth(), height = header.GetHeight();
    EXPECT_EQ(info, expectedInfo);
    const std::uint64_t imageBytes =
        info != 0 ? 0 : std::uint64_t{width} * height * std::uint64_t(header.GetSamplesPerPixel());
    // Directories, strip arrays and records come on top of the image data, once per road.
    const std::uint64_t readCap = OldTiffReadBudget(imageBytes) + 2 * fileSize;
    const std::uint64_t memoryCap = 3 * imageBytes + (std::uint64_t{8} << 20);
    EXPECT_LE(cost.read, readCap);
    EXPECT_LE(cost.peak, memoryCap);

    if (info != 0) header.SetImageType(1);  // a caller that reads anyway
    // Zero pages left untouched, as qvdump takes them: a child spawned below inherits this
    // process's peak size in its own (the spawn shares this memory until the exec).
    const std::unique_ptr<std::uint8_t, decltype(&std::free)> pixels(
        static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(imageBytes) + 1, 1)),
        &std::free);
    ASSERT_NE(pixels, nullptr);
    int image = 0;
    cost = Measure([&] { image = V5Files_ReadImage(path.c_str(), &header, 0, pixels.get()); });
    EXPECT_LE(cost.read, readCap);
    EXPECT_LE(cost.peak, memoryCap);
    if (info == 0) {
        // A read succeeds only with a picture of the answered size.
        EXPECT_EQ(image, expectedImage);
        EXPECT_EQ(header.GetWidth(), width);
        EXPECT_EQ(header.GetHeight(), height);
    } else {
        EXPECT_NE(image, 0);
    }
}

TEST(V5Limits, HostileFilesAreRefusedCheaply) {
    TempDir dir;
    const auto files = HostileFiles(dir);
    ASSERT_EQ(files.size(), 7u) << "cjpeg (libjpeg-turbo-progs) is missing";
    for (const Hostile& f : files) {
        const std::string path = dir.file(f.name);
        WriteBytes(path, f.bytes);
        ReadAsACaller(path, f.bytes.size(), f.info, f.image);

        const Measured run = RunMeasured({std::string(QUORIN_BINARY_DIR) + "/qvdump", path},
                                         dir.file(std::string(f.name) + ".out"));
        EXPECT_EQ(run.status, 1) << run.output;
        const std::string said = f.info != 0 ? "information: result " + std::to_string(f.info)
                                             : "image: result " + std::to_string(f.image);
        EXPECT_NE(run.output.find(said + " ("), std::string::npos) << run.output;
        EXPECT_LT(run.maxRssKb, 300 * 1024) << f.name;
    }
}

TEST(V5Limits, SoundFilesAtTheExtremesAreRead) {
    TempDir dir;
    // The largest intra-oral sensor image, uncompressed and in LZW strips of 8 rows.
    for (const char* options : {"--width 1840 --height 1360",
                                "--width 1840 --height 1360 "
                                "--compress lzw --rows 8"}) {
        const std::string path = dir.file("R10.tif");
        ASSERT_TRUE(MakeV5Fixture("grey", path, options));
        ReadAsACaller(path, ReadBytes(path).size(), 0, 0);
    }
    // libtiff's LZW of a uniform colour picture in one strip: close to the largest expansion
    // there is.
    TiffBuilder b;
    const std::uint32_t side = 1024, bytes = side * side * 3;
    const int pixels = b.Blob(Bytes(bytes, 0));
    const std::string plain = dir.file("plain.tif"), lzw = dir.file("C11.tif");
    WriteBytes(plain, b.Build({Image(b, side, side, 24, 1, pixels, bytes)}));
    ASSERT_EQ(
        RunCommand("tiffcp -c lzw -r 1024 " + ShellQuote(plain) + " " + ShellQuote(lzw)).status, 0);
    const std::uint64_t size = ReadBytes(lzw).size();
    EXPECT_LT(size, bytes / 800);  // directory and record included
    ReadAsACaller(lzw, size, 0, 0);
}

// Compression and strips are the pixel road's to judge: the information answers the directory's
// size (6-bit sides doubled) whatever they are, up to the densest picture a file of its length
// can hold (LZW strips at their largest expansion, each byte shared by the most strips allowed).
TEST(V5Limits, InformationAnswersWhatTheFileCanHold) {
    TempDir dir;
    struct Case {
        std::uint32_t width, height;
        std::uint16_t bits, compression;
        int info, image;
    };
    // Every file is as long: its sides sit in their entries.
    const std::uint64_t length = [] {
        TiffBuilder b;
        return b.Build({Image(b, 1, 1, 8, kOldTiffJpeg, b.Blob(Bytes(16)), 16)}).size();
    }();
    const std::uint32_t densest = kOldTiffMaxStripOverlap * kLzwMaxExpansion / 2;  // rows
    const auto wide = static_cast<std::uint32_t>(2 * length);
    const Case cases[] = {
        {64, 64, 8, kOldTiffJpeg, 0, 7},             // an unknown compression
        {64, 64, 8, kOldTiffUncompressed, 0, 2},     // a strip past the end of the file
        {100, 4, 6, kOldTiffUncompressed, 0, 7},     // 6 bits, but not the half-size form
        {wide, densest, 8, kOldTiffJpeg, 0, 7},      // as much as the file can hold
        {wide + 1, densest, 8, kOldTiffJpeg, 7, 7},  // one column more
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                     std::to_string(c.bits) + " bits, compression " +
                     std::to_string(c.compression));
        TiffBuilder b;
        const std::string path = dir.file("R12.tif");
        WriteBytes(path, b.Build({Image(b, c.width, c.height, c.bits, c.compression,
                                        b.Blob(Bytes(16)), c.width * c.height)}));
        ASSERT_EQ(ReadBytes(path).size(), length);
        CHeaderZel header;
        ASSERT_EQ(V5Files_ReadQVImageInformation(path.c_str(), &header, 0), c.info);
        const std::uint32_t twice = c.bits == 6 ? 2 : 1;
        EXPECT_EQ(header.GetWidth(), c.info == 0 ? twice * c.width : 0);
        EXPECT_EQ(header.GetHeight(), c.info == 0 ? twice * c.height : 0);
        if (c.info != 0) continue;
        EXPECT_EQ(header.GetSamplesPerPixel(), 1);
        EXPECT_EQ(header.GetImageType(), 1);
        Bytes pixels(std::size_t{header.GetWidth()} * header.GetHeight());
        EXPECT_EQ(V5Files_ReadImage(path.c_str(), &header, 0, pixels.data()), c.image);
    }
}

}  // namespace
