// LZW strips: hand-written code streams for the rules and the hostile cases (real strips
// written by libtiff are checked through the container).
#include "oldtiff/lzw.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes codes most significant bit first, following the decoder's width rule.
struct CodeWriter {
    std::vector<std::uint8_t> bytes;
    std::uint64_t bits = 0;
    int count = 0;
    unsigned width = 9;
    std::uint32_t next = 258;
    bool afterClear = true;

    CodeWriter& Put(std::uint32_t code) {
        bits = (bits << width) | code;
        count += static_cast<int>(width);
        while (count >= 8) {
            bytes.push_back(static_cast<std::uint8_t>(bits >> (count - 8)));
            count -= 8;
        }
        if (code == 256) {
            width = 9;
            next = 258;
            afterClear = true;
        } else if (code != 257) {
            if (!afterClear) {
                ++next;
                if (next == (1u << width) - 1 && width < 12) ++width;
            }
            afterClear = false;
        }
        return *this;
    }
    std::vector<std::uint8_t> Done() {
        if (count > 0) bytes.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
        count = 0;
        return bytes;
    }
};

std::string Decode(const std::vector<std::uint8_t>& in, std::size_t outSize = 64) {
    std::vector<std::uint8_t> out(outSize, 0xEE);
    const std::size_t n = DecodeLzw(in.data(), in.size(), out.data(), out.size());
    return std::string(out.begin(), out.begin() + static_cast<long>(n));
}

TEST(Lzw, ClearLiteralsStringsAndEnd) {
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put('A').Put('B').Put(257).Done()), "AB");
    // 258 = "AB", 259 = "BA"; 260 is defined by its own use: "ABA".
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put('A').Put('B').Put(258).Put(260).Put(257).Done()),
              "ABABABA");
    // Code equal to the next free entry right after a literal: "A" + "AA".
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put('A').Put(258).Put(257).Done()), "AAA");
    // A clear in the middle starts over at 9 bits.
    EXPECT_EQ(
        Decode(CodeWriter().Put(256).Put('x').Put(256).Put('y').Put('y').Put(258).Put(257).Done()),
        "xyyyy");
}

TEST(Lzw, OutputIsCutAtTheBufferEnd) {
    const auto stream = CodeWriter().Put(256).Put('A').Put('B').Put(258).Put(260).Put(257).Done();
    EXPECT_EQ(Decode(stream, 5), "ABABA");
    EXPECT_EQ(Decode(stream, 3), "ABA");
    EXPECT_EQ(Decode(stream, 0), "");
}

TEST(Lzw, HostileCodesStopWithWhatWasDecoded) {
    // A code above the next free entry.
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put('A').Put('B').Put(300).Put('C').Done()), "AB");
    // A string code right after a clear.
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put(258).Put('A').Done()), "");
    EXPECT_EQ(Decode(CodeWriter().Put(256).Put('A').Put(256).Put(259).Done()), "A");
    // A stream that ends inside a code: nothing past the input is read.
    auto cut = CodeWriter().Put(256).Put('A').Put('B').Done();
    cut.pop_back();
    EXPECT_EQ(Decode(cut), "A");
    // Without a leading clear the table starts fresh.
    EXPECT_EQ(Decode(CodeWriter().Put('Q').Put('R').Put(257).Done()), "QR");
}

TEST(Lzw, WidthsGrowOneCodeEarlyAndTheTableStopsAt4096) {
    // Literals only: each adds an entry, so widths step at 511, 1023 and 2047 entries.
    CodeWriter w;
    w.Put(256);
    std::string expected;
    for (int i = 0; i < 3839; ++i) {  // the first adds nothing; the rest fill 258..4095
        w.Put(static_cast<std::uint32_t>(i % 251));
        expected += static_cast<char>(i % 251);
    }
    EXPECT_EQ(w.width, 12u);
    EXPECT_EQ(w.next, 4096u);
    w.Put('Z');  // would add entry 4096
    w.Put(257);
    const std::string decoded = Decode(w.Done(), 8192);
    EXPECT_EQ(decoded.size(), expected.size());
    EXPECT_TRUE(decoded == expected);
}

TEST(Lzw, ExpansionPerInputByteIsBounded) {
    // The largest output a table can give: every code the entry being defined, each string one
    // byte longer than the last (code k yields k bytes), until the table is full; twice over.
    CodeWriter w;
    std::uint64_t expected = 0;
    for (int round = 0; round < 2; ++round) {
        w.Put(256).Put(0);
        expected += 1;
        for (std::uint64_t k = 2; k <= 3839; ++k) {
            w.Put(w.next);
            expected += k;
        }
    }
    w.Put(257);
    const std::vector<std::uint8_t> in = w.Done();
    std::vector<std::uint8_t> out(expected + 16, 0xEE);
    EXPECT_EQ(DecodeLzw(in.data(), in.size(), out.data(), out.size()), expected);
    EXPECT_LE(expected, kLzwMaxExpansion * in.size());
    // The bound is close: a container limit below it would refuse such sound strips.
    EXPECT_GT(expected, (kLzwMaxExpansion - 8) * in.size());
}

}  // namespace
