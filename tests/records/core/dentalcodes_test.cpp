// Dental code tables: notation columns against the ISO 3950 / ADA numbering, SNOMED codes
// against pydicom's copy of the DICOM context groups, region selection, region names.
#include "records/core/dentalcodes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/records/teeth.h"
#include "common/test_util.h"

namespace {

std::string Text(std::int32_t row, ToothNotation notation) {
    char buffer[8] = "garbage";
    GetToothRowText(row, buffer, sizeof buffer, notation);
    return buffer;
}

using quorin::test::UniversalOf;

TEST(DentalCodes, NotationColumnsFollowTheNumberingRules) {
    std::set<std::string> permanent, deciduous;
    for (std::int32_t row = 0; row < kToothRowCount; ++row) {
        const std::string fdi = Text(row, ToothNotation::FdiPermanent);
        ASSERT_EQ(fdi.size(), 2u);
        permanent.insert(fdi);
        EXPECT_EQ(Text(row, ToothNotation::UniversalPermanent), UniversalOf(std::stoi(fdi)));
        EXPECT_EQ(Text(row, ToothNotation::UniversalPermanent), std::to_string(row + 1));
        const std::string child = Text(row, ToothNotation::FdiDeciduous);
        const int position = fdi[1] - '0';
        if (position > 5) {  // molars 6-8 have no deciduous predecessor
            EXPECT_EQ(child, "");
            EXPECT_EQ(Text(row, ToothNotation::UniversalDeciduous), "");
            continue;
        }
        // The deciduous tooth in the same position: quadrant + 4, same second digit.
        EXPECT_EQ(child, std::to_string(std::stoi(fdi) + 40));
        EXPECT_EQ(Text(row, ToothNotation::UniversalDeciduous), UniversalOf(std::stoi(child)));
        deciduous.insert(child);
    }
    EXPECT_EQ(permanent.size(), 32u);
    EXPECT_EQ(deciduous.size(), 20u);
    EXPECT_EQ(Text(0, ToothNotation::FdiPermanent), "18");
    EXPECT_EQ(Text(3, ToothNotation::UniversalDeciduous), "A");   // 55
    EXPECT_EQ(Text(28, ToothNotation::UniversalDeciduous), "T");  // 85
}

TEST(DentalCodes, RowTextRejectsBadArguments) {
    char buffer[4] = "xyz";
    EXPECT_FALSE(GetToothRowText(-1, buffer, sizeof buffer, ToothNotation::FdiPermanent));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(
        GetToothRowText(kToothRowCount, buffer, sizeof buffer, ToothNotation::FdiPermanent));
    EXPECT_FALSE(GetToothRowText(0, buffer, sizeof buffer, ToothNotation::FdiDeciduous));
    char small[2] = "x";
    EXPECT_FALSE(GetToothRowText(0, small, sizeof small, ToothNotation::FdiPermanent));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(GetToothRowText(0, nullptr, 4, ToothNotation::FdiPermanent));
    EXPECT_TRUE(GetToothRowText(31, buffer, 3, ToothNotation::UniversalPermanent));
    EXPECT_STREQ(buffer, "32");
}

TEST(DentalCodes, CodesFoundInTheirColumn) {
    ToothDentition which = ToothDentition::Deciduous;
    EXPECT_EQ(FindToothRowByCode("T-54210", &which), 0);  // maxillary right third molar, 18
    EXPECT_EQ(which, ToothDentition::Permanent);
    EXPECT_EQ(FindToothRowByCode("T-54210 ", &which), 0);  // padded to even length in files
    EXPECT_EQ(FindToothRowByCode("68085002", &which), 0);
    const std::int32_t row = FindToothRowByCode("T-54650", &which);  // deciduous 55
    EXPECT_EQ(which, ToothDentition::Deciduous);
    EXPECT_EQ(Text(row, ToothNotation::FdiDeciduous), "55");
    EXPECT_EQ(Text(row, ToothNotation::FdiPermanent), "15");
    which = ToothDentition::Permanent;
    EXPECT_EQ(FindToothRowByCode("T-54000", &which), -1);  // a region, not a tooth
    EXPECT_EQ(which, ToothDentition::Permanent);           // untouched
    EXPECT_EQ(FindToothRowByCode("", &which), -1);
    EXPECT_EQ(FindToothRowByCode("  ", &which), -1);
    EXPECT_EQ(FindToothRowByCode(nullptr, &which), -1);
    EXPECT_EQ(FindToothRowByCode("t-54210", nullptr), -1);  // codes are case-sensitive
    EXPECT_EQ(FindToothRowByCode("T-54210", nullptr), 0);
}

// pydicom carries the DICOM context groups with SNOMED CT concepts and a map to the SNOMED RT
// codes; each tooth's name gives its FDI number independently of our table.
const char* kPydicomTeeth = R"PY(
from pydicom.sr._cid_dict import cid_concepts
from pydicom.sr._concepts_dict import concepts
from pydicom.sr._snomed_dict import mapping
kinds = {'central incisor': 1, 'lateral incisor': 2, 'lateral tooth': 2, 'canine': 3,
         'first premolar': 4, 'second premolar': 5, 'first molar': 6, 'second molar': 7,
         'third molar': 8}
def fdi(meaning):
    m = meaning.lower()
    deciduous = m.startswith('deciduous ')
    upper = 'maxillary' in m
    right = ' right ' in m
    quadrant = (1 if right else 2) if upper else (4 if right else 3)
    tooth = [v for k, v in kinds.items() if k in m]
    assert len(tooth) == 1, meaning
    # Deciduous molars stand in the premolar positions: first molar 4, second molar 5.
    t = tooth[0] - 2 if deciduous and tooth[0] >= 6 else tooth[0]
    return (quadrant + (4 if deciduous else 0)) * 10 + t
for cid, kind in ((4018, 'P'), (4019, 'D')):
    for name in cid_concepts[cid]['SCT']:
        for code, (meaning, _) in concepts['SCT'][name].items():
            print('T', kind, code, mapping['SCT'][code], fdi(meaning))
for cid in (4016, 4017):
    for name in cid_concepts[cid]['SCT']:
        for code, (meaning, _) in concepts['SCT'][name].items():
            print('R' if cid == 4016 else 'M', code, mapping['SCT'][code], meaning.replace(' ', '_'))
)PY";

TEST(DentalCodes, AgreesWithPydicomContextGroups) {
    const quorin::test::CommandResult run = quorin::test::RunPython(kPydicomTeeth);
    ASSERT_EQ(run.status, 0) << "pydicom is required";
    std::istringstream lines(run.output);
    std::string line;
    int teeth = 0, regions = 0, modifiers = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string type;
        fields >> type;
        if (type == "T") {
            std::string kind, sct, srt;
            int fdi = 0;
            fields >> kind >> sct >> srt >> fdi;
            const ToothNotation column =
                kind == "P" ? ToothNotation::FdiPermanent : ToothNotation::FdiDeciduous;
            for (const std::string& code : {sct, srt}) {
                ToothDentition which{};
                const std::int32_t row = FindToothRowByCode(code.c_str(), &which);
                ASSERT_GE(row, 0) << code;
                EXPECT_EQ(which,
                          kind == "P" ? ToothDentition::Permanent : ToothDentition::Deciduous)
                    << code;
                EXPECT_EQ(Text(row, column), std::to_string(fdi)) << code;
            }
            ++teeth;
        } else {
            std::string sct, srt, meaning;
            fields >> sct >> srt >> meaning;
            for (const std::string& code : {sct, srt}) {
                const std::vector<std::int32_t> rows =
                    type == "R" ? GetToothRowsOfRegion(code.c_str(), nullptr, 'B')
                                : GetToothRowsOfRegion("T-D1213", code.c_str(), 'B');
                // A jaw holds 16 positions, both jaws 32; a modifier picks one per quadrant.
                if (type == "R") {
                    EXPECT_EQ(rows.size(),
                              meaning == "Maxilla" || meaning == "Mandible" ? 16u : 32u)
                        << meaning;
                } else {
                    EXPECT_EQ(rows.size(), 4u) << meaning;
                }
            }
            ++(type == "R" ? regions : modifiers);
        }
    }
    EXPECT_EQ(teeth, 52);
    EXPECT_EQ(regions, 4);
    EXPECT_EQ(modifiers, 8);
}

std::vector<std::string> FdiOf(const std::vector<std::int32_t>& rows) {
    std::vector<std::string> out;
    for (std::int32_t row : rows) out.push_back(Text(row, ToothNotation::FdiPermanent));
    return out;
}

TEST(DentalCodes, RegionsSelectTheirRows) {
    using V = std::vector<std::string>;
    // Maxilla, canine region: 13 and 23; right side only: 13.
    EXPECT_EQ(FdiOf(GetToothRowsOfRegion("T-11170", "R-FB35B", 'B')), (V{"13", "23"}));
    EXPECT_EQ(FdiOf(GetToothRowsOfRegion("70925003", "699510004", 'R')), (V{"13"}));
    // Mandible, first molar region, left: 36.
    EXPECT_EQ(FdiOf(GetToothRowsOfRegion("T-11180 ", "R-FB358 ", 'L')), (V{"36"}));
    // Jaw region, third molars, both sides, in Universal order.
    EXPECT_EQ(FdiOf(GetToothRowsOfRegion("661005", "699503005", 'B')), (V{"18", "28", "38", "48"}));
    // The whole mandible on the right: 48..41 are Universal 25..32.
    EXPECT_EQ(FdiOf(GetToothRowsOfRegion("T-11180", "", 'R')),
              (V{"41", "42", "43", "44", "45", "46", "47", "48"}));
    // Unknown laterality letters and none select both sides.
    EXPECT_EQ(GetToothRowsOfRegion("T-11170", nullptr, 'U').size(), 16u);
    EXPECT_EQ(GetToothRowsOfRegion("T-11170", nullptr, '\0').size(), 16u);
    // Unknown region or modifier: nothing.
    EXPECT_TRUE(GetToothRowsOfRegion("T-12345", nullptr, 'B').empty());
    EXPECT_TRUE(GetToothRowsOfRegion(nullptr, nullptr, 'B').empty());
    EXPECT_TRUE(GetToothRowsOfRegion("T-11170", "R-00000", 'B').empty());
}

TEST(DentalCodes, AnatomicRegionNames) {
    const char* names[] = {"Maxilla and mandible",
                           "Maxilla",
                           "Mandible",
                           "Temporomandibular joint",
                           "Paranasal sinus",
                           "Skull",
                           "Hand",
                           "Jaw Region",
                           "Head"};
    for (std::int32_t i = 0; i < 9; ++i) {
        std::int32_t number = -1;
        GetAnatomicRegionFromName(names[i], number);
        EXPECT_EQ(number, i + 1) << names[i];
    }
    for (const char* other : {"maxilla", "Jaw region", "Head ", "", static_cast<const char*>(0)}) {
        std::int32_t number = 42;
        GetAnatomicRegionFromName(other, number);
        EXPECT_EQ(number, 0);
    }
}

TEST(DentalCodes, ProgramTableIsEmpty) {
    std::string text = "x";
    GetPanoProgramRegionMeaning(1, text);
    EXPECT_EQ(text, "Jaw Region");
    std::int32_t number = 0;
    GetAnatomicRegionFromName(text.c_str(), number);
    EXPECT_EQ(number, 8);
    text = "x";
    GetPanoProgramModelName(1, text, 0);
    EXPECT_EQ(text, "");
}

}  // namespace
