// Vectors, matrices, look-up tables and two-dimensional arrays: ownership of their global blocks,
// empty containers, ramps and curves, lookups of values beyond the table, and the byte look-up
// of every length on each processor path.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "common/leak_guard.h"
#include "common/platform/every_path.h"
#include "pixel/core/arrays.h"
#include "pixel/core/lut.h"
#include "platform/core/globalmem.h"

namespace {

using quorin::test::NoLeaks;

TEST(Vector, EmptyVectorsAnswerNull) {
    CTVector<unsigned short> empty;
    EXPECT_EQ(empty.At(0), nullptr);
    EXPECT_EQ(empty.At(0xFFFFFFFFu), nullptr);
    CTVector<double> zero(0u);
    EXPECT_EQ(zero.At(3), nullptr);
    CTVector<unsigned char> wrapNothing(4, nullptr, true);
    EXPECT_EQ(wrapNothing.At(1), nullptr);
}

TEST(Vector, OutOfRangeIndicesAreMaskedInsideTheBlock) {
    NoLeaks noLeaks;
    CTVector<unsigned int> v(8);
    for (unsigned i = 0; i < 8; ++i) *v.At(i) = i * 10;
    EXPECT_EQ(*v.At(9), 10u);  // a power of two wraps round
    CTVector<unsigned int> odd(5);
    EXPECT_GE(odd.At(1000), odd.Data());
    EXPECT_LE(odd.At(1000), odd.Data() + 4);
}

TEST(Vector, CopiesOwnTheirBlocksAndWrappersBorrowOrAdopt) {
    NoLeaks noLeaks;
    CTVector<unsigned short> a(4);
    *a.At(2) = 7;
    CTVector<unsigned short> b(a);
    *b.At(2) = 9;
    EXPECT_EQ(*a.At(2), 7);
    a = b;
    EXPECT_EQ(*a.At(2), 9);
    EXPECT_NE(a.Data(), b.Data());
    {
        CTVector<unsigned short> view(4, a.Data(), true, true);  // borrows: frees nothing
        EXPECT_TRUE(view.Wraps());
        EXPECT_EQ(*view.At(2), 9);
    }
    EXPECT_EQ(win::GlobalHandle(a.Data()) != nullptr, true);
    auto* block = static_cast<unsigned short*>(quorin::AllocLockedBlock(8));
    CTVector<unsigned short> adopted(4, block, true);  // adopts: freed with the vector
    CTVector<unsigned short> kept(4, true);
    void* data = kept.Data();
    kept.Release();
    EXPECT_NE(win::GlobalHandle(data), nullptr);  // the no-free flag kept the block
    quorin::FreeLockedBlock(data);
}

TEST(Matrix, OneBlockRowViewsAndExternalBlocks) {
    NoLeaks noLeaks;
    CTMatrix<unsigned short> m(3, 4);
    ASSERT_FALSE(m.IsEmpty());
    *m.At(2, 3) = 77;
    EXPECT_EQ(m.Data()[2 * 4 + 3], 77);
    EXPECT_EQ(*m.Row(2)->At(3), 77);
    EXPECT_EQ(m.Row(3), nullptr);
    EXPECT_EQ(m.At(0, 4), nullptr);
    CTMatrix<unsigned short> copy(m);
    EXPECT_EQ(*copy.At(2, 3), 77);
    EXPECT_NE(copy.Data(), m.Data());
    // A block handed to an SImage: marked external, never freed by the matrix.
    unsigned short* handed = m.Data();
    m.SetExternal(true);
    m.Release();
    EXPECT_NE(win::GlobalHandle(handed), nullptr);
    // ...and taken back: adopted without a copy.
    CTMatrix<unsigned short> adopted(3, 4, handed, false);
    EXPECT_EQ(*adopted.At(2, 3), 77);
    EXPECT_EQ((CTMatrix<double>(70000, 70000).IsEmpty()), true);  // 39 GB refused
}

TEST(Lut, IdentityAndWindowRamps) {
    NoLeaks noLeaks;
    CTLut<unsigned short> identity(4096, 4096);
    for (unsigned i = 0; i < 4096; ++i) ASSERT_EQ(*identity.At(i), i);
    CTLut<unsigned char> window(256, 256, 10, 20);
    for (unsigned i = 0; i < 10; ++i) EXPECT_EQ(*window.At(i), 0);
    EXPECT_EQ(*window.At(15), 127);
    for (unsigned i = 20; i < 256; ++i) EXPECT_EQ(*window.At(i), 255);
    CTLut<unsigned char> fallback(256, 256, 20, 20);
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(*fallback.At(i), i);
    // Large tables do not wrap their 32-bit accumulator: entry 2^20 - 1 is the top level.
    CTLut<unsigned int> large(1u << 20, 1u << 16);
    EXPECT_EQ(*large.At((1u << 20) - 1), (1u << 16) - 1);
    EXPECT_EQ(*large.At(1u << 19), (std::uint64_t(1) << 19) * 65535 / ((1u << 20) - 1));
}

TEST(Lut, LookupsClampStrayHighBitsToTheTopLevel) {
    CTLut<unsigned char> lut(4096, 256);
    EXPECT_EQ(lut.Map<unsigned short>(4095), 255);
    EXPECT_EQ(lut.Map<unsigned short>(0x1FFF), 255);  // a stray bit 12
    EXPECT_EQ(lut.Map<unsigned int>(0xFFFFFFFFu), 255);
    EXPECT_EQ(lut.Map<unsigned short>(2048), 2048 * 255 / 4095);
}

TEST(Lut, ByteLookUpOfEveryLengthOnEveryPath) {
    // Lengths 0..130 end in every tail of the 64- and 32-byte blocks and the 8-byte words. The
    // output is followed by a sentinel the table never gives: every byte mapped, none past the
    // end touched; the input is exactly as long as asked, for the sanitizer builds.
    constexpr std::uint8_t kSentinel = 0xA5;
    std::mt19937 random(28);
    std::array<std::uint8_t, 256> table;
    for (auto& entry : table) entry = static_cast<std::uint8_t>(random());
    std::replace(table.begin(), table.end(), kSentinel, std::uint8_t(0x5A));
    std::vector<std::uint8_t> bytes(130);
    for (auto& v : bytes) v = static_cast<std::uint8_t>(random());
    quorin::test::OnEveryPath([&](int path) {
        for (std::size_t n = 0; n <= bytes.size(); ++n) {
            const std::vector<std::uint8_t> in(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
            std::vector<std::uint8_t> out(n + 64, kSentinel);
            quorin::MapBytes(in.data(), out.data(), n, table.data());
            for (std::size_t k = 0; k < out.size(); ++k)
                ASSERT_EQ(out[k], k < n ? table[in[k]] : kSentinel)
                    << "path " << path << ", length " << n << ", byte " << k;
        }
    });
}

TEST(Lut, MixedPowerCurve) {
    CTLut<unsigned char> line(256, 256, 1.0, 1.0, 1.0);
    for (unsigned i = 0; i < 256; ++i)
        EXPECT_EQ(*line.At(i), static_cast<unsigned char>((i + 1) * 255.0 / 256 + 0.5));
    EXPECT_EQ(*line.At(255), 255);
    CTLut<unsigned char> curve(256, 256, 2.3, 1.0, 0.5);
    for (unsigned i = 1; i < 256; ++i) EXPECT_GE(*curve.At(i), *curve.At(i - 1));
}

TEST(Lut, CharacteristicPoints) {
    NoLeaks noLeaks;
    EXPECT_EQ(CTLut<unsigned char>::BuildFromCharacteristicPoints(nullptr, 256), nullptr);
    CTMatrix<double> stats(2, 3);
    double* s = stats.Data();
    s[0] = 128, s[1] = 0.5, s[2] = 0.3, s[3] = 200, s[4] = 0.6, s[5] = 0.4;
    std::unique_ptr<CTVector<double>> p(
        CTLut<unsigned char>::BuildFromCharacteristicPoints(&stats, 256));
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(*p->At(0), double(0.95f));
    // The gain brings g x x^0.95 into [0.29, 0.30] at x = 129/256.
    const double v = *p->At(2) * std::pow(129.0 / 256, double(0.95f));
    EXPECT_LE(v, 0.3);
    EXPECT_GE(v, 0.3 - 0.0101);
    const double w = double(0.95f) * std::pow(201.0 / 256, *p->At(1));
    EXPECT_LE(w, 0.4);
    EXPECT_GE(w, 0.4 - 0.0101);
    s[4] = 0.1;  // t1 < t2: a neutral curve
    p.reset(CTLut<unsigned char>::BuildFromCharacteristicPoints(&stats, 256));
    EXPECT_EQ(*p->At(0), 1.0);
    EXPECT_EQ(*p->At(1), 1.0);
    EXPECT_EQ(*p->At(2), 1.0);
}

TEST(Arrays, CreateViewsAndSubArrays) {
    C2DArr<unsigned short> a;
    ASSERT_TRUE(a.Create(5, 4, 4, nullptr));  // stride 12 bytes
    EXPECT_EQ(C2DArr<unsigned short>::Stride(5, 4), 12u);
    EXPECT_EQ(C2DArr<unsigned short>::Stride(5, 3),
              12u);  // an odd alignment keeps elements aligned
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(a.Row(1)) - reinterpret_cast<std::uint8_t*>(a.Row(0)),
              12);
    for (unsigned r = 0; r < 4; ++r)
        for (unsigned c = 0; c < 5; ++c) a.Row(r)[c] = static_cast<unsigned short>(r * 10 + c);
    std::unique_ptr<C2DArr<unsigned short>> view(a.SubArray(1, 1, 9, 3, false));
    ASSERT_TRUE(view);
    EXPECT_EQ(view->Width(), 4u);  // clipped to the array
    EXPECT_EQ(view->Height(), 2u);
    EXPECT_EQ(view->Row(1)[0], 21);
    view->Row(0)[0] = 999;
    EXPECT_EQ(a.Row(1)[1], 999);
    std::unique_ptr<C2DArr<unsigned short>> copy(a.SubArray(1, 1, 3, 3, true));
    copy->Row(0)[0] = 5;
    EXPECT_EQ(a.Row(1)[1], 999);
    EXPECT_EQ(a.SubArray(3, 3, 3, 4, false), nullptr);
    C2DArr<unsigned short> same;
    ASSERT_TRUE(same.Create(5, 4, 1, nullptr));
    EXPECT_TRUE(same.CopyFrom(a));
    EXPECT_EQ(same.Row(3)[4], 34);
    EXPECT_FALSE(same.CopyFrom(*copy));
    unsigned short external[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CImage<unsigned short> image;
    ASSERT_TRUE(image.Create(4, 2, 1, external));
    EXPECT_EQ(image.Row(1)[0], 5);
    EXPECT_EQ(image.Value(), -1.0);
    EXPECT_FALSE(a.Create(0, 4, 1, nullptr));
}

}  // namespace
