// Person names: components in and out, splitting and joining fields.
#include "dicom/dataset/personname.h"

#include <gtest/gtest.h>

#include "roundtrip.h"

using namespace quorin::test;

namespace {

std::string WrittenValue(CElementDICOM& e) {
    const auto bytes = Written(e);
    return std::string(bytes.begin() + 8, bytes.end());
}

CElementPNMultiple Names(const std::string& field) {
    CElementPNMultiple pn(3, 0x0010, 0x0010, 0u, 0, 1);
    pn.TakeValueBytes(reinterpret_cast<const std::uint8_t*>(field.data()),
                      std::uint32_t(field.size()));
    return pn;
}

}  // namespace

TEST(PersonNames, ComponentsAreJoinedAndPadded) {
    CElementPNMultiple pn(3, 0x0010, 0x0010, 1u, 0, 1);
    pn.SetComponents(0, "DOE", "JOHN", "", "", "");
    EXPECT_EQ(WrittenValue(pn), "DOE^JOHN");
    pn.SetComponents(0, "DOE", "JON", "", "", "");
    EXPECT_EQ(WrittenValue(pn), "DOE^JON ");
    EXPECT_EQ(pn.GetItem(1), nullptr);
}

TEST(PersonNames, FieldsSplitIntoComponents) {
    auto one = Names("DOE^JOHN^^^ ");
    ASSERT_EQ(one.m_nCount, 1u);
    EXPECT_EQ(one.GetItem(0)->m_szFamily, "DOE");
    EXPECT_EQ(one.GetItem(0)->m_szGiven, "JOHN");
    EXPECT_EQ(one.GetItem(0)->m_szSuffix, "");
    auto two = Names("SMITH^ANN\\DOE^JOHN");
    ASSERT_EQ(two.m_nCount, 2u);
    EXPECT_EQ(WrittenValue(two), "SMITH^ANN\\DOE^JOHN");
    auto full = Names("DOE^JOHN^Q^DR^JR");
    const CElementPN* item = full.GetItem(0);
    EXPECT_EQ(item->m_szMiddle, "Q");
    EXPECT_EQ(item->m_szPrefix, "DR");
    EXPECT_EQ(item->m_szSuffix, "JR");
    EXPECT_EQ(item->m_szFullName, "DOE^JOHN^Q^DR^JR");
}

TEST(PersonNames, LongNamesAreCutAtSixtyFour) {
    const std::string family(40, 'F'), given(40, 'G');
    CElementPNMultiple pn(3, 0x0010, 0x0010, 1u, 0, 1);
    pn.SetComponents(0, family.c_str(), given.c_str(), "M", "", "");
    EXPECT_EQ(WrittenValue(pn), (family + "^" + given).substr(0, 64));
    EXPECT_EQ(pn.GetItem(0)->m_szFullName, family + "^^^^");
}

TEST(PersonNames, ManyLongNamesAreJoinedWhole) {
    std::string field;
    for (int i = 0; i < 8; ++i) field += std::string(30, char('A' + i)) + "^GIVEN\\";
    field.pop_back();  // 8 names, 295 bytes: past the old 328-byte join buffer with padding
    field += "X";
    auto pn = Names(field);
    EXPECT_EQ(pn.m_nCount, 8u);
    EXPECT_EQ(WrittenValue(pn), field);
}
