// Write paths at their exact limits: the largest value a 16-bit length field can carry, odd AS
// values, odd encapsulated fragments and the 12-character IS value.
#include <gtest/gtest.h>

#include <vector>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/number.h"
#include "dicom/dataset/text.h"
#include "roundtrip.h"

using namespace quorin::test;

TEST(WriteBoundaries, ShortLengthFieldHoldsAtMost65534Bytes) {
    // Explicit VR US: a 16-bit length field, whose largest even value is 65,534.
    struct Case {
        std::uint32_t count;
        bool written;
    };
    for (const Case c : {Case{32767, true}, Case{32768, false}}) {
        const std::vector<std::uint16_t> values(c.count, 0x0102);
        CElementUSMultiple us(3, 0x0028, 0x3006, 0u, 0, 1);
        ASSERT_TRUE(us.SetNumbers(values.data(), c.count));
        const auto bytes = Written(us);
        if (c.written) {
            EXPECT_EQ(us.m_nStatus, 0);
            ASSERT_EQ(bytes.size(), 8u + 65534u);
            EXPECT_EQ(bytes[6] | bytes[7] << 8, 65534);
        } else {
            EXPECT_EQ(us.m_nStatus, 14) << "65,536 bytes cannot be described in 16 bits";
            EXPECT_TRUE(bytes.empty()) << "nothing of a refused element reaches the file";
        }
    }
}

TEST(WriteBoundaries, OddTextValuesArePaddedWithASpace) {
    CElementAS age(3, 0x0010, 0x1010);
    age.SetText("12Y");
    Bytes expected(Syntax::ExplicitLE);
    expected.element(0x0010, 0x1010, "AS", "12Y ");
    EXPECT_EQ(Written(age), expected.data);

    // IS keeps twelve characters: the twelfth stays, a thirteenth goes.
    CElementIS number(3, 0x0020, 0x0013);
    number.SetText("123456789012");
    EXPECT_EQ(number.Value(), "123456789012");
    number.SetText("1234567890123");
    EXPECT_EQ(number.Value(), "123456789012");
}

TEST(WriteBoundaries, OddFragmentsGetEvenItemLengths) {
    // Items of an encapsulated value have even lengths, so each header after an odd fragment
    // stays where a reader expects it: offset table, then 3 + pad, then 5 + pad, then the end.
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    b.item(3).raw({1, 2, 3}).item(5).raw({4, 5, 6, 7, 8}).sequenceEnd();
    auto ob = ReadFirst<CElementOB>(b, 0x7FE0, 0x0010);
    ASSERT_EQ(ob.m_nStatus, 0);
    Bytes expected(Syntax::ExplicitLE);
    expected.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    expected.item(4).raw({1, 2, 3, 0}).item(6).raw({4, 5, 6, 7, 8, 0}).sequenceEnd();
    EXPECT_EQ(FirstDifference(Written(ob), expected.data), "");

    // A value set whole (5 bytes) is written as one fragment of 6.
    CElementOB whole(3, 0x7FE0, 0x0010, 5u, 0, 1);
    const std::uint8_t five[5] = {9, 8, 7, 6, 5};
    const std::uint8_t* value = five;
    whole.SetValue(&value);
    whole.m_bEncapsulated = 1;
    Bytes single(Syntax::ExplicitLE);
    single.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    single.item(6).raw({9, 8, 7, 6, 5, 0}).sequenceEnd();
    EXPECT_EQ(FirstDifference(Written(whole), single.data), "");
}
