// Tooth numbers in FDI and Universal notation (checked against the ISO 3950 and ADA numbering
// rules, not against our table), the notation setting, tooth lists in the SDK record and the
// anatomic region.
#include "records/info/anatomy.h"

#include <gtest/gtest.h>
#include <quorin/anatomy.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/records/teeth.h"
#include "common/test_settings.h"
#include "common/test_util.h"
#include "platform/files/registry.h"

using namespace win;

namespace {

struct Tooth {
    std::string fdi;
    std::string universal;
};

std::vector<Tooth> AllTeeth() {
    std::vector<Tooth> teeth;
    for (int q = 1; q <= 8; ++q)
        for (int t = 1; t <= (q <= 4 ? 8 : 5); ++t)
            teeth.push_back({std::to_string(q * 10 + t), quorin::test::UniversalOf(q * 10 + t)});
    return teeth;
}

class ToothSettings : public ::testing::Test {
  protected:
    static void Notation(const char* toothNotation, const char* language) {
        std::string text = "REGEDIT4\n";
        if (toothNotation)
            text += std::string("[HKEY_CURRENT_USER\\Software\\QUORIN\\QV\\ToothNotation]\n") +
                    "\"Value\"=" + toothNotation + "\n";
        if (language)
            text += std::string("[HKEY_CURRENT_USER\\Software\\QUORIN\\QV\\Language]\n") +
                    "\"Value\"=" + language + "\n";
        registry::LoadHiveText(0, text);
    }
    quorin::test::ScopedSettings m_settings;  // hives of the test's own
};

TEST_F(ToothSettings, AllTeethInUniversalNotation) {
    Notation("dword:00000001", nullptr);
    ASSERT_TRUE(IsUniversalToothNotation());
    const auto teeth = AllTeeth();
    ASSERT_EQ(teeth.size(), 52u);
    for (const Tooth& t : teeth) {
        SCOPED_TRACE(t.fdi);
        const std::string shown = t.universal.size() == 1 && std::isdigit(t.universal[0])
                                      ? "0" + t.universal
                                      : t.universal;
        EXPECT_EQ(CAnatToothNumber(t.fdi.c_str()).GetDisplay(), shown);
        CAnatToothNumber entered;
        entered.SetFromDisplay(t.universal.c_str());
        EXPECT_EQ(entered.GetNumber(), t.fdi);
        entered.SetFromDisplay(shown.c_str());
        EXPECT_EQ(entered.GetNumber(), t.fdi);
        std::string lower = t.universal;
        lower[0] = char(std::tolower(lower[0]));
        entered.Clear();
        entered.SetFromDisplay(lower.c_str());
        EXPECT_EQ(entered.GetNumber(), t.fdi);
    }
}

TEST_F(ToothSettings, AllTeethInFdiNotation) {
    Notation("dword:00000000", "dword:00000002");  // the tooth notation value wins
    ASSERT_FALSE(IsUniversalToothNotation());
    for (const Tooth& t : AllTeeth()) {
        SCOPED_TRACE(t.fdi);
        EXPECT_EQ(CAnatToothNumber(t.fdi.c_str()).GetDisplay(), t.fdi);
        CAnatToothNumber entered;
        entered.SetFromDisplay(t.fdi.c_str());
        EXPECT_EQ(entered.GetNumber(), t.fdi);
        std::string text = t.fdi;
        CAnatToothNumber::ConvertNotation(text, true);
        EXPECT_EQ(text, t.universal);
        CAnatToothNumber::ConvertNotation(text, false);
        EXPECT_EQ(text, t.fdi);
    }
}

TEST_F(ToothSettings, LanguageDecidesWithoutToothNotation) {
    EXPECT_FALSE(IsUniversalToothNotation());  // nothing set: Language defaults to 1
    Notation(nullptr, "dword:00000002");
    EXPECT_TRUE(IsUniversalToothNotation());
    Notation(nullptr, "dword:00000003");
    EXPECT_FALSE(IsUniversalToothNotation());
    Notation("\"1\"", "dword:00000002");  // a text is no tooth notation value
    EXPECT_TRUE(IsUniversalToothNotation());
    Notation("dword:00000002", "dword:00000002");  // anything but 1 is FDI
    EXPECT_FALSE(IsUniversalToothNotation());
}

TEST_F(ToothSettings, EdgeCasesOfEntry) {
    Notation("dword:00000001", nullptr);
    CAnatToothNumber t;
    t.SetFromDisplay("01");
    EXPECT_EQ(t.GetNumber(), "18");
    t.SetFromDisplay("8");
    EXPECT_EQ(t.GetNumber(), "11");
    t.SetFromDisplay("t");
    EXPECT_EQ(t.GetNumber(), "85");
    t.SetFromDisplay("123");  // longer than 2: nothing changes
    EXPECT_EQ(t.GetNumber(), "85");
    t.SetFromDisplay("");
    EXPECT_EQ(t.GetNumber(), "85");
    // An FDI number typed while the notation is Universal is taken as FDI.
    t.SetFromDisplay("48");
    EXPECT_EQ(t.GetNumber(), "48");
    // ...unless it is also a Universal number: 18 is Universal 18, FDI 37.
    t.SetFromDisplay("18");
    EXPECT_EQ(t.GetNumber(), "37");

    t.SetInNotation("A", false);  // a Universal letter typed in FDI
    EXPECT_EQ(t.GetNumber(), "55");
    std::string text = "99";
    EXPECT_FALSE(CAnatToothNumber::ValidateOrConvert(text, false));
    EXPECT_EQ(text, "99");
    text = "11";
    EXPECT_TRUE(CAnatToothNumber::ValidateOrConvert(text, false));
}

TEST(ToothNumber, Emptiness) {
    EXPECT_TRUE(CAnatToothNumber("7").IsEmpty());
    EXPECT_TRUE(CAnatToothNumber(" 07 ").IsEmpty());
    EXPECT_TRUE(CAnatToothNumber("").IsEmpty());
    EXPECT_FALSE(CAnatToothNumber("11").IsEmpty());
    CAnatTeethList list;
    list.AddTooth(CAnatToothNumber("7"));
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(TeethList, RecordFieldInGivenNotation) {
    CAnatTeethList list;
    for (const char* fdi : {"18", "21", "38", "55", "11", "12", "13", "14"})
        list.AddTooth(CAnatToothNumber(fdi));
    char field[kSOMUTeethCount][3];
    std::memset(field, 'x', sizeof field);
    list.ToSOMU(field, true);
    EXPECT_STREQ(field[0], "01");
    EXPECT_STREQ(field[1], "09");
    EXPECT_STREQ(field[2], "17");
    EXPECT_STREQ(field[3], "A");
    EXPECT_STREQ(field[5], "07");  // only the first six
    CAnatTeethList back;
    back.FromSOMU(field, true);
    ASSERT_EQ(back.GetCount(), 6);
    EXPECT_EQ(back.GetAt(3)->GetNumber(), "55");
    EXPECT_EQ(back.GetAt(5)->GetNumber(), "12");
    std::string shown;
    CAnatToothNumber("99").FormatNumber(shown, true);  // no tooth: shown as stored
    EXPECT_EQ(shown, "99");

    list.ToSOMU(field, false);
    EXPECT_STREQ(field[0], "18");
    std::memset(field[2], 0, 3);
    back.FromSOMU(field, false);
    EXPECT_EQ(back.GetCount(), 2);  // stops at the first empty entry

    // A number too long for an entry is left out rather than cut into another tooth.
    CAnatTeethList odd;
    odd.AddTooth(CAnatToothNumber("123"));
    odd.AddTooth(CAnatToothNumber("44"));
    odd.ToSOMU(field, false);
    EXPECT_STREQ(field[0], "44");
    EXPECT_STREQ(field[1], "");
    // An entry without its NUL is read as 3 characters and skipped.
    std::memcpy(field[0], "123", 3);
    std::memcpy(field[1], "44", 3);
    back.FromSOMU(field, false);
    ASSERT_EQ(back.GetCount(), 1);
    EXPECT_EQ(back.GetAt(0)->GetNumber(), "44");
}

TEST_F(ToothSettings, RecordFieldInTheUsersNotation) {
    Notation("dword:00000001", nullptr);
    CAnatTeethList list;
    list.AddTooth(CAnatToothNumber("48"));
    list.AddTooth(CAnatToothNumber("61"));
    CAnatTeethList copy(list);
    EXPECT_EQ(copy.GetCount(), 2);
    char field[kSOMUTeethCount][3];
    list.ToSOMU(field);
    EXPECT_STREQ(field[0], "32");
    EXPECT_STREQ(field[1], "F");
    Notation("dword:00000000", nullptr);
    CAnatTeethList back;
    back.FromSOMU(field);  // read in FDI now: "32" is tooth 32 of FDI, "F" the Universal F
    EXPECT_EQ(back.GetAt(0)->GetNumber(), "32");
    EXPECT_EQ(back.GetAt(1)->GetNumber(), "61");
}

TEST(AnatRegion, RecordExchange) {
    SOMUImage record{};
    CAnatRegion region;
    region.SetValue(0, 5);
    region.SetValue(3, -2);
    region.SetCode("T-11170-LONG-CODE-TEXT");
    region.ToSOMU(record);
    EXPECT_EQ(record.anRegion[3], -2);
    EXPECT_STREQ(record.szRegionCode, "T-11170-LONG-COD");      // 16 characters and the NUL
    std::memcpy(record.szRegionCode, "ABCDEFGHIJKLMNOPQ", 17);  // no NUL at all
    CAnatRegion back;
    back.FromSOMU(record);
    EXPECT_EQ(back.GetCode(), "ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(back.GetValue(0), 5);
    back.Reset();
    EXPECT_EQ(back.GetValue(0), 0);
    EXPECT_EQ(back.GetCode(), "");
}

TEST(AnatRegion, FromProgram) {
    std::int32_t number = -1;
    AnatomicRegionFromProgram(-12345, number);  // unknown program: "Jaw Region"
    EXPECT_EQ(number, 8);
}

}  // namespace
