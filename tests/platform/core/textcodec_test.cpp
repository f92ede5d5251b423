// The 8-bit code page against UTF-16 and UTF-8: every byte survives, foreign characters become '?'.
#include "platform/core/textcodec.h"

#include <gtest/gtest.h>

#include "common/test_util.h"

using namespace quorin;

namespace {

TEST(TextCodec, EveryByteRoundTrips) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(Utf16LeToAnsi(AnsiToUtf16Le(all)), all);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
    EXPECT_EQ(AnsiToUtf8("\x80\xe9"), "\xe2\x82\xac\xc3\xa9");  // euro sign, e acute
}

// Python's own cp1252 codec agrees on every byte it defines (it leaves five undefined, which
// Windows maps to the C1 controls of the same value).
TEST(TextCodec, AgreesWithPythonCp1252) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const quorin::test::CommandResult python = quorin::test::RunPython(
        "import sys\n"
        "out = bytearray()\n"
        "for b in range(1, 256):\n"
        "    try:\n"
        "        out += bytes([b]).decode('cp1252').encode('utf-8')\n"
        "    except UnicodeDecodeError:\n"
        "        out += chr(b).encode('utf-8')\n"
        "sys.stdout.buffer.write(bytes(out))\n");
    ASSERT_EQ(python.status, 0);
    EXPECT_EQ(AnsiToUtf8(all), python.output);
}

TEST(TextCodec, ForeignAndBrokenInput) {
    EXPECT_EQ(Utf8ToAnsi("\xd0\x96x"), "?x");                           // Cyrillic
    EXPECT_EQ(Utf8ToAnsi("\xf0\x9f\x98\x80!"), "?!");                   // outside the BMP: one '?'
    EXPECT_EQ(Utf8ToAnsi("\xc0\xaf\xe2\x82"), "???");                   // overlong, truncated
    EXPECT_EQ(Utf16LeToAnsi(std::string("\x3d\xd8\x00\xde", 4)), "?");  // a surrogate pair
    EXPECT_EQ(Utf16LeToAnsi(std::string("A\0B", 3)), "A?");
}

TEST(TextCodec, FileDecodingByMark) {
    EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE"
                                         "a\0\xe9\0",
                                         6)),
              "a\xe9");
    EXPECT_EQ(DecodeTextFile(std::string("\xFE\xFF\0a\0\xe9", 6)), "a\xe9");
    EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF"
                             "a\xc3\xa9"),
              "a\xe9");
    EXPECT_EQ(DecodeTextFile("plain \xe9"), "plain \xe9");
}

}  // namespace
