// Dental code tables. The tooth codes are the DICOM context groups for intra-oral radiography:
// CID 4018 (permanent dentition) and CID 4019 (deciduous dentition), each concept with its
// SNOMED CT identifier and the SNOMED RT code that older files carry; the regions and modifiers
// are CID 4016 and CID 4017.
#include "records/core/dentalcodes.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

struct ToothRow {
    const char* fdiPermanent;
    const char* fdiDeciduous;  // "" where no deciduous tooth stands
    const char* universalPermanent;
    const char* universalDeciduous;
    const char* sctPermanent;
    const char* srtPermanent;
    const char* sctDeciduous;
    const char* srtDeciduous;
};

// Universal order: upper right to upper left, then lower left to lower right.
constexpr std::array<ToothRow, kToothRowCount> kTeeth = {{
    {"18", "", "1", "", "68085002", "T-54210", "", ""},
    {"17", "", "2", "", "7121006", "T-54220", "", ""},
    {"16", "", "3", "", "5140004", "T-54230", "", ""},
    {"15", "55", "4", "A", "36492000", "T-54240", "27855007", "T-54650"},
    {"14", "54", "5", "B", "57826002", "T-54250", "245616001", "T-54641"},
    {"13", "53", "6", "C", "80647007", "T-54260", "30618001", "T-54630"},
    {"12", "52", "7", "D", "11712009", "T-54270", "245619008", "T-54621"},
    {"11", "51", "8", "E", "22120004", "T-54280", "245620002", "T-54611"},
    {"21", "61", "9", "F", "31982000", "T-54290", "51678005", "T-54660"},
    {"22", "62", "10", "G", "25748002", "T-54300", "43622005", "T-54670"},
    {"23", "63", "11", "H", "72876007", "T-54310", "73937000", "T-54680"},
    {"24", "64", "12", "I", "61897005", "T-54320", "45234009", "T-54690"},
    {"25", "65", "13", "J", "23226009", "T-54330", "51943008", "T-54700"},
    {"26", "", "14", "", "23427002", "T-54340", "", ""},
    {"27", "", "15", "", "66303006", "T-54350", "", ""},
    {"28", "", "16", "", "87704003", "T-54360", "", ""},
    {"38", "", "17", "", "74344005", "T-54370", "", ""},
    {"37", "", "18", "", "48402004", "T-54380", "", ""},
    {"36", "", "19", "", "89625000", "T-54390", "", ""},
    {"35", "75", "20", "K", "24573005", "T-54400", "49330006", "T-54800"},
    {"34", "74", "21", "L", "2400006", "T-54410", "38896004", "T-54790"},
    {"33", "73", "22", "M", "39844006", "T-54420", "245639007", "T-54781"},
    {"32", "72", "23", "N", "77130001", "T-54430", "14770005", "T-54770"},
    {"31", "71", "24", "O", "113278005", "T-54440", "89552004", "T-54760"},
    {"41", "81", "25", "P", "15422005", "T-54450", "67834006", "T-54710"},
    {"42", "82", "26", "Q", "82628004", "T-54460", "22445006", "T-54720"},
    {"43", "83", "27", "R", "47055002", "T-54470", "6062009", "T-54730"},
    {"44", "84", "28", "S", "80140008", "T-54480", "245631005", "T-54741"},
    {"45", "85", "29", "T", "8873007", "T-54490", "61868007", "T-54750"},
    {"46", "", "30", "", "28480000", "T-54500", "", ""},
    {"47", "", "31", "", "40005008", "T-54510", "", ""},
    {"48", "", "32", "", "38994002", "T-54520", "", ""},
}};

// Which jaws a region covers.
enum JawBits : unsigned { kUpperJaw = 1, kLowerJaw = 2 };

struct RegionCode {
    const char* sct;
    const char* srt;
    unsigned jaws;
};

constexpr std::array<RegionCode, 4> kRegions = {{
    {"70925003", "T-11170", kUpperJaw},              // maxilla
    {"91609006", "T-11180", kLowerJaw},              // mandible
    {"661005", "T-D1213", kUpperJaw | kLowerJaw},    // jaw region
    {"28035005", "T-54000", kUpperJaw | kLowerJaw},  // teeth, gums and supporting structures
}};

struct ModifierCode {
    const char* sct;
    const char* srt;
    int position;  // second FDI digit: 1 central incisor .. 8 third molar
};

constexpr std::array<ModifierCode, 8> kModifiers = {{
    {"699453001", "R-FB322", 1},  // central incisor region
    {"699511000", "R-FB35C", 2},  // lateral incisor region
    {"699510004", "R-FB35B", 3},  // canine region
    {"699509009", "R-FB35A", 4},  // first premolar region
    {"699508001", "R-FB359", 5},  // second premolar region
    {"699507006", "R-FB358", 6},  // first molar region
    {"699505003", "R-FB356", 7},  // second molar region
    {"699503005", "R-FB354", 8},  // third molar region
}};

// Program table: the maker's panoramic and cephalometric programs. No row is known, so every
// program answers the default region and an empty model name.
struct ProgramRow {
    std::int32_t programCode;
    const char* regionMeaning;
    const char* modelName;
};

constexpr std::array<ProgramRow, 0> kPrograms = {};

constexpr const char* kDefaultProgramRegion = "Jaw Region";

// Code values are padded with spaces to an even length in files; the spaces carry no meaning.
std::string_view Trimmed(const char* text) {
    if (text == nullptr) return {};
    std::string_view view(text);
    while (!view.empty() && view.front() == ' ') view.remove_prefix(1);
    while (!view.empty() && view.back() == ' ') view.remove_suffix(1);
    return view;
}

bool SameCode(std::string_view code, const char* tableCode) {
    return !code.empty() && code == tableCode;
}

const char* ColumnText(const ToothRow& row, ToothNotation notation) {
    switch (notation) {
        case ToothNotation::FdiPermanent:
            return row.fdiPermanent;
        case ToothNotation::FdiDeciduous:
            return row.fdiDeciduous;
        case ToothNotation::UniversalPermanent:
            return row.universalPermanent;
        case ToothNotation::UniversalDeciduous:
            return row.universalDeciduous;
    }
    return "";
}

const ProgramRow* FindProgram(std::int32_t programCode) {
    for (const ProgramRow& row : kPrograms) {
        if (row.programCode == programCode) return &row;
    }
    return nullptr;
}

// Framework strings are filled without letting an allocation failure escape: the text is then
// left empty.
void AssignText(std::string& text, const char* value) {
    try {
        text = value;
    } catch (...) {
        text.clear();
    }
}

}  // namespace

std::int32_t FindToothRowByCode(const char* code, ToothDentition* which) {
    const std::string_view wanted = Trimmed(code);
    if (wanted.empty()) return -1;
    for (std::int32_t i = 0; i < kToothRowCount; ++i) {
        const ToothRow& row = kTeeth[i];
        ToothDentition found;
        if (SameCode(wanted, row.sctPermanent) || SameCode(wanted, row.srtPermanent)) {
            found = ToothDentition::Permanent;
        } else if (SameCode(wanted, row.sctDeciduous) || SameCode(wanted, row.srtDeciduous)) {
            found = ToothDentition::Deciduous;
        } else {
            continue;
        }
        if (which != nullptr) *which = found;
        return i;
    }
    return -1;
}

bool GetToothRowText(std::int32_t row, char* buffer, std::size_t bufferSize,
                     ToothNotation notation) {
    if (buffer == nullptr || bufferSize == 0) return false;
    buffer[0] = '\0';
    if (row < 0 || row >= kToothRowCount) return false;
    const char* text = ColumnText(kTeeth[row], notation);
    const std::size_t length = std::strlen(text);
    if (length == 0 || length >= bufferSize) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
}

std::vector<std::int32_t> GetToothRowsOfRegion(const char* regionCode, const char* modifierCode,
                                               char laterality) {
    std::vector<std::int32_t> rows;
    const std::string_view region = Trimmed(regionCode);
    unsigned jaws = 0;
    for (const RegionCode& entry : kRegions) {
        if (SameCode(region, entry.sct) || SameCode(region, entry.srt)) jaws = entry.jaws;
    }
    if (jaws == 0) return rows;

    const std::string_view modifier = Trimmed(modifierCode);
    int position = 0;  // 0: every position
    if (!modifier.empty()) {
        for (const ModifierCode& entry : kModifiers) {
            if (SameCode(modifier, entry.sct) || SameCode(modifier, entry.srt)) {
                position = entry.position;
            }
        }
        if (position == 0) return rows;
    }

    const bool right = laterality != 'L';
    const bool left = laterality != 'R';
    try {
        rows.reserve(kToothRowCount);
    } catch (...) {  // results, not exceptions: no memory selects nothing
        return rows;
    }
    for (std::int32_t i = 0; i < kToothRowCount; ++i) {
        const int quadrant = kTeeth[i].fdiPermanent[0] - '0';
        const int tooth = kTeeth[i].fdiPermanent[1] - '0';
        const bool upper = quadrant == 1 || quadrant == 2;
        const bool onRight = quadrant == 1 || quadrant == 4;
        if (!(jaws & (upper ? kUpperJaw : kLowerJaw))) continue;
        if (onRight ? !right : !left) continue;
        if (position != 0 && tooth != position) continue;
        rows.push_back(i);
    }
    return rows;
}

void GetPanoProgramRegionMeaning(std::int32_t program, std::string& text) {
    const ProgramRow* row = FindProgram(program);
    AssignText(text, row != nullptr ? row->regionMeaning : kDefaultProgramRegion);
}

void GetAnatomicRegionFromName(const char* name, std::int32_t& number) {
    static constexpr std::array<const char*, 9> kNames = {"Maxilla and mandible",
                                                          "Maxilla",
                                                          "Mandible",
                                                          "Temporomandibular joint",
                                                          "Paranasal sinus",
                                                          "Skull",
                                                          "Hand",
                                                          "Jaw Region",
                                                          "Head"};
    number = 0;
    if (name == nullptr) return;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (std::strcmp(name, kNames[i]) == 0) {
            number = static_cast<std::int32_t>(i + 1);
            return;
        }
    }
}

void GetPanoProgramModelName(std::int32_t programCode, std::string& text,
                             std::int32_t /*deviceCode*/) {
    const ProgramRow* row = FindProgram(programCode);
    AssignText(text, (row != nullptr && row->modelName != nullptr) ? row->modelName : "");
}
