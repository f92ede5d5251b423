// Older files at their exact edges: the century of two-digit years in layouts up to 0x5405.
#include <gtest/gtest.h>

#include <cstring>

#include "nativefiles/oldheader.h"

namespace {

TEST(OldFileBoundaries, TwoDigitYearsStartingWith8Or9AreOfThe1900s) {
    // A 0x5405 record (334 bytes) keeps its date as "dd/mm/yy" from offset 2.
    struct Case {
        const char* stored;
        const char* read;
    };
    const Case cases[] = {{"12/06/79", "20790612"},
                          {"12/06/80", "19800612"},
                          {"12/06/89", "19890612"},
                          {"12/06/90", "19900612"},
                          {"12/06/99", "19990612"},
                          {"12/06/00", "20000612"},
                          {"12/06/07", "20070612"}};
    for (const Case& c : cases) {
        std::uint8_t stored[334] = {};
        stored[0] = 0x05, stored[1] = 0x54;
        std::memcpy(stored + 2, c.stored, 8);
        std::uint8_t out[kOldRecordBytes];
        ASSERT_TRUE(ConvertOldHeaderRecord(stored, sizeof stored, 1, 380, 480, nullptr, out));
        EXPECT_EQ(OldRecordText(out + old_record::kDate, 8), c.read) << c.stored;
    }
}

}  // namespace
