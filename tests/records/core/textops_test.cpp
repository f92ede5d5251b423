// Clamped substrings, the leading-digit conversion and the bounded copies into record fields.
#include "records/core/textops.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

TEST(TextOps, SubstringsClampLikeTheFrameworkString) {
    EXPECT_EQ(quorin::Left("abc", 5), "abc");
    EXPECT_EQ(quorin::Left("abc", -1), "");
    EXPECT_EQ(quorin::Right("abc", 4), "abc");
    EXPECT_EQ(quorin::Right("abc", 2), "bc");
    EXPECT_EQ(quorin::Mid("abc", 2, 5), "c");
    EXPECT_EQ(quorin::Mid("abc", 7, 1), "");
    EXPECT_EQ(quorin::Mid("abc", -3, 2), "ab");
    EXPECT_EQ(quorin::Mid("abc", 1, -2), "");
    EXPECT_EQ(quorin::Mid("abc", INT64_MAX, INT64_MAX), "");
}

TEST(TextOps, LeadingDigits) {
    EXPECT_EQ(quorin::LeadingDigitsToInt32("0042x7"), 42);
    EXPECT_EQ(quorin::LeadingDigitsToInt32(" 5"), 0);
    EXPECT_EQ(quorin::LeadingDigitsToInt32("-5"), 0);
    EXPECT_EQ(quorin::LeadingDigitsToInt32("2147483648"), INT_MAX);
}

TEST(TextOps, FieldCopiesCutAndTerminate) {
    char field[65];
    std::memset(field, 'x', sizeof field);
    EXPECT_EQ(CopyToField9(field, "2005123199"), field);
    EXPECT_STREQ(field, "20051231");
    EXPECT_EQ(field[9], 'x');  // nothing written past the field
    EXPECT_EQ(CopyToField17(field, std::string(20, '7')), field);
    EXPECT_EQ(std::strlen(field), 16u);
    EXPECT_EQ(CopyToField65(field, std::string(64, '1')), field);
    EXPECT_EQ(std::strlen(field), 64u);
    EXPECT_EQ(CopyToField65(field, ""), field);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(CopyToField9(field, static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(CopyToField9(nullptr, "a"), nullptr);
}

}  // namespace
