// The compact JPEG decoder against libjpeg (cjpeg/djpeg), its own arithmetic, its input read in
// chunks of any size, its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "common/oldtiff/fixtures.h"
#include "oldtiff/jpegdecoder.h"

namespace {

using namespace quorin::test;

using Bytes = std::vector<std::uint8_t>;

// A stream in memory, read in chunks of the decoder's asking (the first ones no longer than
// `sizes`), and the picture it delivers.
struct Sink {
    Bytes data;
    std::vector<std::size_t> sizes;
    std::size_t pos = 0, chunk = 0;
    int width = 0, height = 0, components = 0;
    std::string comment;
    Bytes pixels;  // rows top-down, width x components bytes each, as delivered
    std::vector<int> rows;
    int failAtRow = -1;
    int closes = 0, ends = 0;
};

int SinkRead(void* c, std::uint8_t* buffer, int size) {
    auto* s = static_cast<Sink*>(c);
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), s->data.size() - s->pos);
    if (s->chunk < s->sizes.size()) n = std::min(n, s->sizes[s->chunk++]);
    if (n == 0) return -1;
    std::memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}
int SinkBegin(void* c, int w, int h, int comps, const char* comment) {
    auto* s = static_cast<Sink*>(c);
    s->width = w;
    s->height = h;
    s->components = comps;
    s->comment = comment;
    s->pixels.assign(static_cast<std::size_t>(w) * h * comps, 0);
    return 0;
}
int SinkRow(void* c, int row, const std::uint8_t* pixels) {
    auto* s = static_cast<Sink*>(c);
    if (row == s->failAtRow) return -1;
    s->rows.push_back(row);
    const std::size_t len = static_cast<std::size_t>(s->width) * s->components;
    std::memcpy(s->pixels.data() + len * row, pixels, len);
    return 0;
}
void SinkClose(void* c) {
    ++static_cast<Sink*>(c)->closes;
}
void SinkEnd(void* c) {
    ++static_cast<Sink*>(c)->ends;
}

int Decode(Sink& sink, int* reason = nullptr) {
    return DecodeJpegStream(nullptr, &sink, SinkRead, SinkClose, SinkBegin, SinkRow, SinkEnd,
                            reason);
}

// djpeg writes red, green, blue; the decoder blue, green, red.
void ToRgb(Bytes& pixels, int components) {
    if (components == 3)
        for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
}

struct Difference {
    int max = 0;
    double mean = 0;
};
Difference Compare(const Bytes& ours, const Bytes& ref) {
    Difference d;
    if (ours.size() != ref.size() || ours.empty()) {
        d.max = 999;
        return d;
    }
    long long total = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const int diff = int{ours[i]} - int{ref[i]};
        d.max = std::max(d.max, std::abs(diff));
        total += diff;
    }
    d.mean = static_cast<double>(total) / static_cast<double>(ours.size());
    return d;
}

class JpegAgainstLibjpeg : public ::testing::TestWithParam<const char*> {};

TEST_P(JpegAgainstLibjpeg, WithinTheArithmeticTolerance) {
    TempDir dir;
    const std::string options = GetParam();
    const bool grey = options.find("--grey") != std::string::npos;
    const std::string path = dir.file("a.jpg");
    ASSERT_TRUE(Generate("jpeg", path, options));
    Sink sink;
    sink.data = ReadBytes(path);
    int reason = 1;
    ASSERT_EQ(Decode(sink, &reason), 0);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(sink.components, grey ? 1 : 3);
    ASSERT_EQ(static_cast<int>(sink.rows.size()), sink.height);
    ToRgb(sink.pixels, sink.components);
    const Difference d = Compare(sink.pixels, ReadBytes(path + ".raw"));
    EXPECT_LE(d.max, grey ? 2 : 5) << options;
    EXPECT_LE(d.mean, 0.0) << options;
    EXPECT_EQ(sink.closes, 1);
    EXPECT_EQ(sink.ends, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, JpegAgainstLibjpeg,
    ::testing::Values("--grey --width 64 --height 48", "--grey --width 37 --height 21",
                      "--grey --width 40 --height 33 --pattern noise", "--width 64 --height 48",
                      "--width 37 --height 21", "--width 20 --height 10 --pattern noise",
                      "--width 1 --height 1", "--width 50 --height 40 --restart 1",
                      "--grey --width 45 --height 17 --restart 3",
                      "--width 33 --height 9 --comment hello"));

// One 8 x 8 grey block holding only a DC coefficient, quantisation value 1.
Bytes DcOnlyBlock(int category, int value) {
    Bytes s = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    s.insert(s.end(), 64, 1);
    // DC table 0: one code "0" of length 1 for `category`; AC table 0: one code "0" for EOB.
    s.insert(s.end(), {0xFF, 0xC4, 0x00, 0x14, 0x00, 1});
    s.insert(s.end(), 15, 0);
    s.push_back(static_cast<std::uint8_t>(category));
    s.insert(s.end(), {0xFF, 0xC4, 0x00, 0x14, 0x10, 1});
    s.insert(s.end(), 15, 0);
    s.push_back(0x00);
    s.insert(s.end(),
             {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00});
    s.insert(s.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    // bits: DC code 0, `category` bits of value, AC code 0, padded with ones
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t v, int n) {
        bits = (bits << n) | v;
        count += n;
    };
    put(0, 1);
    put(static_cast<std::uint32_t>(value), category);
    put(0, 1);
    while (count % 8) put(1, 1);
    for (int i = count - 8; i >= 0; i -= 8) s.push_back(static_cast<std::uint8_t>(bits >> i));
    s.insert(s.end(), {0xFF, 0xD9});
    return s;
}

TEST(JpegArithmetic, TheWorkedExampleHoldsExactly) {
    // DC 8: (8 x 8,191) >> 12 = 15, both passes keep 15, >> 4 gives 0: samples 128.
    // DC 16: 31, then 1: samples 129.
    const struct { int category, value, sample; } cases[] = {{4, 8, 128}, {5, 16, 129}};
    for (const auto& c : cases) {
        Sink sink;
        sink.data = DcOnlyBlock(c.category, c.value);
        int reason = 1;
        ASSERT_EQ(Decode(sink, &reason), 0);
        EXPECT_EQ(reason, 0);
        ASSERT_EQ(sink.pixels.size(), 64u);
        for (std::uint8_t p : sink.pixels) EXPECT_EQ(p, c.sample);
    }
}

TEST(JpegColourOrder, RedAndBlueLandInTheirDibPlaces) {
    TempDir dir;
    for (const char* colour : {"red", "blue"}) {
        const std::string path = dir.file(std::string(colour) + ".jpg");
        ASSERT_TRUE(
            Generate("jpeg", path, std::string("--width 24 --height 16 --pattern ") + colour));
        Sink sink;
        sink.data = ReadBytes(path);
        ASSERT_EQ(Decode(sink), 0);
        const bool red = colour[0] == 'r';
        for (std::size_t i = 0; i < sink.pixels.size(); i += 3) {
            // blue, green, red
            EXPECT_GE(sink.pixels[i + (red ? 2 : 0)], 240) << colour;
            EXPECT_LE(sink.pixels[i + (red ? 0 : 2)], 15) << colour;
        }
    }
}

TEST(JpegRestart, MarkersResynchroniseAndChangeNothing) {
    TempDir dir;
    const std::string plain = dir.file("p.jpg"), restarted = dir.file("r.jpg");
    ASSERT_TRUE(Generate("jpeg", plain, "--width 70 --height 30 --pattern noise"));
    ASSERT_TRUE(Generate("jpeg", restarted, "--width 70 --height 30 --pattern noise --restart 2"));
    Sink a, b;
    a.data = ReadBytes(plain);
    b.data = ReadBytes(restarted);
    int reason = 1;
    ASSERT_EQ(Decode(a), 0);
    ASSERT_EQ(Decode(b, &reason), 0);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(a.pixels, b.pixels);
}

// Where the entropy-coded data of a baseline stream start: after the SOS segment.
std::size_t ScanStart(const Bytes& s) {
    std::size_t pos = 2;
    while (pos + 4 <= s.size() && s[pos] == 0xFF) {
        const std::size_t length = std::size_t{s[pos + 2]} << 8 | s[pos + 3];
        if (s[pos + 1] == 0xDA) return pos + 2 + length;
        pos += 2 + length;
    }
    return 0;
}

// The scan begins with no bits held and exactly 7 data bytes buffered (the rest comes with the
// next read): eight bytes at once would take one the input never gave, so the bytes must be
// those of the byte-by-byte road.
TEST(JpegBuffering, ScanStartingWithSevenBufferedBytesDecodesAsByteByByte) {
    TempDir dir;
    const std::string path = dir.file("g.jpg");
    ASSERT_TRUE(Generate("jpeg", path, "--grey --width 64 --height 48 --pattern noise"));
    Sink chunked;
    chunked.data = ReadBytes(path);
    const std::size_t start = ScanStart(chunked.data);
    ASSERT_GT(start, 16u);
    ASSERT_GT(chunked.data.size(), start + 64);
    for (std::size_t i = start; i < start + 7; ++i) ASSERT_NE(chunked.data[i], 0xFF) << i;
    // The second read places the header's last byte and the 7 data bytes at the front of the
    // buffer; the byte after them there is left from the first, longer read.
    chunked.sizes = {start - 1, 8};
    ASSERT_NE(chunked.data[8], 0xFF);
    ASSERT_NE(chunked.data[8], chunked.data[start + 7]);

    Sink single = chunked;
    single.sizes.assign(single.data.size(), 1);  // every read gives one byte
    int reason = 1;
    ASSERT_EQ(Decode(single, &reason), 0);
    EXPECT_EQ(reason, 0);
    ASSERT_EQ(Decode(chunked, &reason), 0);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(chunked.pixels, single.pixels);
    // Both are the stream's picture (libjpeg's decode, within the fixed-point tolerance).
    ASSERT_LE(MaxDifference(single.pixels, ReadBytes(path + ".raw")), 2);
}

TEST(JpegFile, CommentsAreCopiedUpToTheBuffer) {
    TempDir dir;
    const std::string longer = dir.file("l.jpg"), shorter = dir.file("s.jpg");
    const std::string hundred(100, 'x');
    std::string twenty = "0123456789abcdefghij";
    ASSERT_TRUE(Generate("jpeg", longer, "--width 8 --height 8 --comment " + hundred));
    ASSERT_TRUE(Generate("jpeg", shorter, "--width 8 --height 8 --comment " + twenty));

    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    int w = 0, h = 0, c = 0;
    ASSERT_EQ(DecodeJpegFile(longer.c_str(), &w, &h, &c, buffer, 56), 0);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(std::string(buffer, 56), hundred.substr(0, 56));
    EXPECT_EQ(buffer[56], '#');
    EXPECT_EQ(GetJpegCommentLength(longer.c_str()), 100);

    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(DecodeJpegFile(shorter.c_str(), nullptr, nullptr, nullptr, buffer, 56), 0);
    EXPECT_EQ(std::string(buffer, 20), twenty);
    EXPECT_EQ(buffer[20], '#');

    const std::string none = dir.file("n.jpg");
    ASSERT_TRUE(Generate("jpeg", none, "--width 8 --height 8"));
    buffer[0] = '#';
    ASSERT_EQ(DecodeJpegFile(none.c_str(), nullptr, nullptr, nullptr, buffer, 56), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(GetJpegCommentLength(none.c_str()), 0);
    EXPECT_EQ(
        DecodeJpegFile(dir.file("missing.jpg").c_str(), nullptr, nullptr, nullptr, nullptr, 0), -1);
}

TEST(JpegFile, RowsThroughTheFileRoad) {
    TempDir dir;
    const std::string path = dir.file("a.jpg");
    ASSERT_TRUE(Generate("jpeg", path, "--width 20 --height 10"));
    Sink sink;
    ASSERT_EQ(DecodeJpegFileRows(path.c_str(), &sink, SinkBegin, SinkRow, SinkEnd), 0);
    EXPECT_EQ(sink.width, 20);
    EXPECT_EQ(sink.height, 10);
    EXPECT_EQ(sink.rows, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(sink.ends, 1);
    // A long path is used whole.
    const std::string deep = dir.file(std::string(120, 'd') + ".jpg");
    WriteBytes(deep, ReadBytes(path));
    Sink again;
    EXPECT_EQ(DecodeJpegFileRows(deep.c_str(), &again, SinkBegin, SinkRow, SinkEnd), 0);
    EXPECT_EQ(again.pixels, sink.pixels);
}

TEST(JpegThreads, TwoDecodesAtOnceAreIndependent) {
    TempDir dir;
    const std::string a = dir.file("a.jpg"), b = dir.file("b.jpg");
    ASSERT_TRUE(Generate("jpeg", a, "--width 96 --height 64 --pattern noise"));
    ASSERT_TRUE(Generate("jpeg", b, "--grey --width 80 --height 72"));
    Sink refA, refB;
    refA.data = ReadBytes(a);
    refB.data = ReadBytes(b);
    ASSERT_EQ(Decode(refA), 0);
    ASSERT_EQ(Decode(refB), 0);
    for (int round = 0; round < 4; ++round) {
        Sink x, y;
        x.data = refA.data;
        y.data = refB.data;
        std::thread t1([&] { Decode(x); });
        std::thread t2([&] { Decode(y); });
        t1.join();
        t2.join();
        EXPECT_EQ(x.pixels, refA.pixels);
        EXPECT_EQ(y.pixels, refB.pixels);
    }
}

// ---------------------------------------------------------------------------------------------
// Random blocks against the definition's arithmetic, evaluated directly in 64 bits: values of
// every size, so that the decoder's exact 16-bit road and its 64-bit road both serve.

struct BitWriter {
    Bytes out;
    std::uint32_t acc = 0;
    int count = 0;
    void Put(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = (acc << 1) | ((v >> i) & 1);
            if (++count == 8) {
                out.push_back(static_cast<std::uint8_t>(acc));
                if (acc == 0xFF) out.push_back(0);
                acc = 0;
                count = 0;
            }
        }
    }
    void Value(int v, int size) {  // the low `size` bits, negatives as v + 2^size - 1
        Put(static_cast<std::uint32_t>(v < 0 ? v + (1 << size) - 1 : v), size);
    }
};

int BitLength(int v) {
    int n = 0;
    for (int a = std::abs(v); a > 0; a >>= 1) ++n;
    return n;
}

constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Samples before the level shift of a block of coefficients (natural order) and quantisation
// values (zigzag order), step by step as defined.
std::vector<std::int64_t> DefinedSamples(const std::vector<int>& c, const std::vector<int>& q) {
    const std::int64_t T[8] = {4096, 4017, 3784, 3405, 2896, 2275, 1567, 799};
    auto cosine = [&](int x, int u) -> std::int64_t {
        int a = (2 * x + 1) * u % 32;
        if (a > 16) a = 32 - a;
        return a < 8 ? T[a] : (a == 8 ? 0 : -T[16 - a]);
    };
    std::int64_t t[64], g[64];
    for (int i = 0; i < 64; ++i) {
        const int k = kZigzag[i], row = k / 8, column = k % 8;
        const std::int64_t f = k == 0 ? 8191 : (row == 0 || column == 0 ? 11585 : 16384);
        t[k] = (q[i] * f * c[k]) >> 12;
    }
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 8; ++x) {
            std::int64_t sum = 0;
            for (int u = 0; u < 8; ++u) sum += t[8 * r + u] * cosine(x, u);
            g[8 * r + x] = sum >> 12;
        }
    std::vector<std::int64_t> s(64);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            std::int64_t sum = 0;
            for (int v = 0; v < 8; ++v) sum += g[8 * v + x] * cosine(y, v);
            s[8 * y + x] = (sum >> 12) >> 4;
        }
    return s;
}

std::uint8_t Clamped(std::int64_t v) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

TEST(JpegArithmetic, RandomBlocksFollowTheDefinition) {
    std::mt19937 random(7);
    for (int round = 0; round < 24; ++round) {
        const bool colour = round % 2 == 1;
        const int units = 12, components = colour ? 3 : 1;
        std::vector<int> quant[2];
        for (auto& q : quant) {
            q.resize(64);
            for (int& v : q) v = round % 3 == 0 ? 1 : 1 + static_cast<int>(random() % 255);
        }
        // DC table: category s has the 5-bit code s. AC table: every run and size, the run of 16
        // and end of block, 8-bit codes in list order.
        std::vector<int> acSymbols = {0x00, 0xF0};
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 15; ++size) acSymbols.push_back(run << 4 | size);
        Bytes s = {0xFF, 0xD8};
        for (int n = 0; n < 2; ++n) {
            s.insert(s.end(), {0xFF, 0xDB, 0x00, 0x43, static_cast<std::uint8_t>(n)});
            for (int v : quant[n]) s.push_back(static_cast<std::uint8_t>(v));
        }
        s.insert(s.end(), {0xFF, 0xC4, 0x00, 0x23, 0x00, 0, 0, 0, 0, 16});
        s.insert(s.end(), 11, 0);
        for (int v = 0; v < 16; ++v) s.push_back(static_cast<std::uint8_t>(v));
        const int acLength = 19 + static_cast<int>(acSymbols.size());
        s.insert(s.end(), {0xFF, 0xC4, static_cast<std::uint8_t>(acLength >> 8),
                           static_cast<std::uint8_t>(acLength), 0x10, 0, 0, 0, 0, 0, 0, 0,
                           static_cast<std::uint8_t>(acSymbols.size())});
        s.insert(s.end(), 8, 0);
        for (int v : acSymbols) s.push_back(static_cast<std::uint8_t>(v));
        const int width = units * (colour ? 16 : 8);
        s.insert(s.end(),
                 {0xFF, 0xC0, 0x00, static_cast<std::uint8_t>(8 + 3 * components), 8, 0, 8, 0,
                  static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(components)});
        for (int i = 0; i < components; ++i)
            s.insert(s.end(), {static_cast<std::uint8_t>(i + 1),
                               static_cast<std::uint8_t>(i == 0 && colour ? 0x21 : 0x11),
                               static_cast<std::uint8_t>(i == 0 ? 0 : 1)});
        s.insert(s.end(), {0xFF, 0xDA, 0x00, static_cast<std::uint8_t>(6 + 2 * components),
                           static_cast<std::uint8_t>(components)});
        for (int i = 0; i < components; ++i)
            s.insert(s.end(), {static_cast<std::uint8_t>(i + 1), 0x00});
        s.insert(s.end(), {0x00, 0x3F, 0x00});

        // Blocks of values up to 2^(limit - 1), so that some exceed 16 bits after
        // dequantisation and some row-pass results do too.
        BitWriter bits;
        std::vector<std::vector<std::int64_t>> samples;  // per block, in data order
        int predictor[3] = {};
        for (int b = 0; b < units * (colour ? 4 : 1); ++b) {
            const int component = colour ? std::max(0, b % 4 - 1) : 0;
            const int limit = 1 + static_cast<int>(random() % 15);
            auto draw = [&] {
                const int v = static_cast<int>(random() % (1u << limit)) - (1 << (limit - 1));
                return v;
            };
            std::vector<int> c(64, 0);
            c[0] = draw();
            const int diff = c[0] - predictor[component];
            predictor[component] = c[0];
            bits.Put(static_cast<std::uint32_t>(BitLength(diff)), 5);
            bits.Value(diff, BitLength(diff));
            int last = 0;
            for (int i = 1; i < 64; ++i) {
                if (random() % 4 != 0 || (i > 8 && random() % 3 == 0)) continue;
                const int v = draw();
                if (v == 0) continue;
                for (; i - last - 1 > 15; last += 16) bits.Put(1, 8);  // run of 16
                const int size = BitLength(v);
                const int symbol = (i - last - 1) << 4 | size;
                bits.Put(
                    static_cast<std::uint32_t>(
                        std::find(acSymbols.begin(), acSymbols.end(), symbol) - acSymbols.begin()),
                    8);
                bits.Value(v, size);
                c[kZigzag[i]] = v;
                last = i;
            }
            if (last < 63) bits.Put(0, 8);  // end of block
            samples.push_back(DefinedSamples(c, quant[component == 0 ? 0 : 1]));
        }
        bits.Put(0x7F, 7);
        s.insert(s.end(), bits.out.begin(), bits.out.end());
        s.insert(s.end(), {0xFF, 0xD9});

        Sink sink;
        sink.data = s;
        int reason = 1;
        ASSERT_EQ(Decode(sink, &reason), 0) << round;
        ASSERT_EQ(reason, 0) << round;
        ASSERT_EQ(sink.pixels.size(), static_cast<std::size_t>(width) * 8 * components);
        for (int u = 0; u < units; ++u)
            for (int y = 0; y < 8; ++y) {
                if (!colour) {
                    for (int x = 0; x < 8; ++x)
                        ASSERT_EQ(sink.pixels[y * width + 8 * u + x],
                                  Clamped(samples[u][8 * y + x] + 128))
                            << round << " " << u << " " << y << " " << x;
                    continue;
                }
                for (int px = 0; px < 16; ++px) {
                    const std::int64_t luma = samples[4 * u + px / 8][8 * y + px % 8] + 128;
                    const std::int64_t cb = samples[4 * u + 2][8 * y + px / 2];
                    const std::int64_t cr = samples[4 * u + 3][8 * y + px / 2];
                    const std::uint8_t* p = &sink.pixels[(y * width + 16 * u + px) * 3];
                    const std::uint8_t expected[3] = {
                        Clamped(luma + ((116064 * cb) >> 16)),
                        Clamped(luma + ((-46793 * cr - 22544 * cb) >> 16)),
                        Clamped(luma + ((91881 * cr) >> 16))};
                    ASSERT_EQ(Bytes(p, p + 3), Bytes(expected, expected + 3))
                        << round << " " << u << " " << y << " " << px;
                }
            }
    }
}

// ---------------------------------------------------------------------------------------------
// Refusals

std::size_t FindMarker(const Bytes& s, std::uint8_t code) {
    for (std::size_t i = 2; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == code) return i;
    return s.size();
}

Bytes Stream(const char* options) {
    TempDir dir;
    const std::string path = dir.file("a.jpg");
    if (!Generate("jpeg", path, options)) return {};
    return ReadBytes(path);
}

struct Outcome {
    int result;
    int reason;
    std::size_t rows;
};
Outcome Attempt(const Bytes& data, int failAtRow = -1) {
    Sink sink;
    sink.data = data;
    sink.failAtRow = failAtRow;
    int reason = 0;
    const int result = Decode(sink, &reason);
    return {result, reason, sink.rows.size()};
}

TEST(JpegRefusals, SegmentsBeforeTheFrame) {
    const Bytes base = Stream("--width 16 --height 16");
    ASSERT_FALSE(base.empty());
    const std::size_t sof = FindMarker(base, 0xC0);

    Bytes dac = base;
    dac.insert(dac.begin() + 2, {0xFF, 0xCC, 0x00, 0x04, 0x00, 0x00});
    EXPECT_EQ(Attempt(dac).result, -110);
    EXPECT_EQ(Attempt(dac).reason, -114);

    Bytes dri = base;
    dri.insert(dri.begin() + 2, {0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01, 0x00});
    EXPECT_EQ(Attempt(dri).result, -110);
    EXPECT_EQ(Attempt(dri).reason, -125);

    Bytes twelveBit = base;
    twelveBit[sof + 4] = 12;
    EXPECT_EQ(Attempt(twelveBit).result, -111);
    EXPECT_EQ(Attempt(twelveBit).reason, -130);

    Bytes progressive = base;
    progressive[sof + 1] = 0xC2;
    EXPECT_EQ(Attempt(progressive).result, -111);
    EXPECT_EQ(Attempt(progressive).reason, -117);

    Bytes noSoi = base;
    noSoi[1] = 0xD9;
    EXPECT_EQ(Attempt(noSoi).result, -108);

    // cjpeg writes its Huffman tables after the frame: a refused table there fails with -1.
    Bytes tableTwo = base;
    tableTwo[FindMarker(base, 0xC4) + 4] = 0x12;
    EXPECT_EQ(Attempt(tableTwo).result, -1);
    EXPECT_EQ(Attempt(tableTwo).reason, -104);

    Bytes shortApp = base;
    shortApp.insert(shortApp.begin() + 2, {0xFF, 0xE3, 0x00, 0x01});
    EXPECT_EQ(Attempt(shortApp).reason, -147);

    Bytes quantTwo = base;
    quantTwo[sof + 12] = 2;  // first component's quantisation table
    EXPECT_EQ(Attempt(quantTwo).result, -111);
    EXPECT_EQ(Attempt(quantTwo).reason, -128);
}

TEST(JpegRefusals, LayoutsTheDecoderCannotPlace) {
    // Chroma sampled 2 x 2 would place blocks outside the band.
    const Bytes quarter = Stream("--width 16 --height 16");
    Bytes twoByTwo = quarter;
    twoByTwo[FindMarker(quarter, 0xC0) + 11] = 0x22;
    EXPECT_EQ(Attempt(twoByTwo).result, -1);
    EXPECT_EQ(Attempt(twoByTwo).reason, -141);
    EXPECT_EQ(Attempt(twoByTwo).rows, 0u);

    // Five components do not fit the frame's four slots.
    Bytes five = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 8 + 15, 8, 0, 8, 0, 8, 5};
    for (int i = 0; i < 5; ++i)
        five.insert(five.end(), {static_cast<std::uint8_t>(i + 1), 0x11, 0});
    EXPECT_EQ(Attempt(five).result, -111);
    EXPECT_EQ(Attempt(five).reason, -140);
}

TEST(JpegRefusals, DamageInsideTheScanStillDeliversEveryRow) {
    const Bytes base = Stream("--width 40 --height 24 --pattern noise");
    ASSERT_FALSE(base.empty());
    // Cut in the middle of the data: rows still come, the result is 0, the reason says why.
    Bytes cut(base.begin(), base.begin() + static_cast<long>(base.size() / 2));
    Outcome o = Attempt(cut);
    EXPECT_EQ(o.result, 0);
    EXPECT_NE(o.reason, 0);
    EXPECT_EQ(o.rows, 24u);

    // A DC category above 15 in a hand-built block.
    o = Attempt(DcOnlyBlock(0, 0));
    EXPECT_EQ(o.result, 0);
    Bytes sixteen = DcOnlyBlock(4, 8);
    sixteen[FindMarker(sixteen, 0xC4) + 4 + 17] = 16;  // the DC table's only value
    o = Attempt(sixteen);
    EXPECT_EQ(o.reason, -144);
    EXPECT_EQ(o.rows, 8u);

    // A row callback that fails at row 3 gets no further row; the result stays 0.
    o = Attempt(base, 3);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.reason, -113);
    EXPECT_EQ(o.rows, 3u);
}

TEST(JpegRefusals, HuffmanCountsOutOfRange) {
    Bytes zero = DcOnlyBlock(4, 8);
    const std::size_t dht = FindMarker(zero, 0xC4);
    zero[dht + 5] = 0;  // no codes at all
    EXPECT_EQ(Attempt(zero).result, -110);
    EXPECT_EQ(Attempt(zero).reason, -142);

    Bytes tooMany = DcOnlyBlock(4, 8);
    tooMany[dht + 5] = 3;  // three codes of length 1 cannot exist
    EXPECT_EQ(Attempt(tooMany).result, -110);
}

}  // namespace
