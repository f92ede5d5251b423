// Older files at their exact edges: the century of two-digit years in layouts up to 0x5405,
// and the size of the integrity mark.
#include <gtest/gtest.h>

#include <cstring>

#include "records/dib/dib.h"
#include "v5files/oldheader.h"
#include "v5files/oldmark.h"

namespace {

TEST(OldFileBoundaries, TwoDigitYearsStartingWith8Or9AreOfThe1900s) {
    // A 0x5405 record (334 bytes) keeps its date as "dd/mm/yy" from offset 2.
    struct Case {
        const char* stored;
        const char* read;
    };
    const Case cases[] = {{"12/06/79", "20790612"}, {"12/06/80", "19800612"},
                          {"12/06/89", "19890612"}, {"12/06/90", "19900612"},
                          {"12/06/99", "19990612"}, {"12/06/00", "20000612"},
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

TEST(OldFileBoundaries, TheHighResolutionMarkFromExactly1024PixelsWideOrHigh) {
    const win::BitmapResource* normal = LoadOldMark(OldMarkModule(), "IDB_NOCOPYRIGHT");
    const win::BitmapResource* high = LoadOldMark(OldMarkModule(), "IDB_NOCOPYRIGHT_HR");
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(high, nullptr);
    ASSERT_NE(normal->width, high->width);
    struct Case {
        std::int32_t w, h;
        bool highResolution;
    };
    for (const Case c : {Case{1023, 200, false}, Case{1024, 200, true}, Case{200, 1023, false},
                         Case{200, 1024, true}}) {
        win::HGLOBAL dib = CreateDIB(c.w, c.h, 8);
        ASSERT_NE(dib, nullptr);
        ASSERT_TRUE(StampMismatchMark(dib, OldMarkModule()));
        const win::BitmapResource& mark = c.highResolution ? *high : *normal;
        {
            quorin::LockedDIB picture(dib);
            int differences = 0;
            // The top-left copy: picture row i is stored row h - 1 - i.
            for (std::int32_t i = 0; i < mark.height; ++i)
                for (std::int32_t j = 0; j < mark.width; ++j) {
                    const std::uint8_t v = mark.bits[i * mark.width + j];
                    if (v != 192 && picture.row(c.h - 1 - i)[j] != v) ++differences;
                }
            EXPECT_EQ(differences, 0) << c.w << " x " << c.h;
        }
        FreeDIB(dib);
    }
}

}  // namespace
