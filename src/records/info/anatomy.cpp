#include "records/info/anatomy.h"

#include <quorin/anatomy.h>

#include <cctype>
#include <cstring>

#include "records/core/dentalcodes.h"
#include "records/core/registryreaders.h"

namespace {

struct NotationRow {
    char fdi[3];
    char universal[3];
};

// FDI number and Universal number of every tooth, permanent then primary.
constexpr NotationRow kNotation[52] = {
    {"18", "1"},  {"17", "2"},  {"16", "3"},  {"15", "4"},  {"14", "5"},  {"13", "6"},
    {"12", "7"},  {"11", "8"},  {"21", "9"},  {"22", "10"}, {"23", "11"}, {"24", "12"},
    {"25", "13"}, {"26", "14"}, {"27", "15"}, {"28", "16"}, {"38", "17"}, {"37", "18"},
    {"36", "19"}, {"35", "20"}, {"34", "21"}, {"33", "22"}, {"32", "23"}, {"31", "24"},
    {"41", "25"}, {"42", "26"}, {"43", "27"}, {"44", "28"}, {"45", "29"}, {"46", "30"},
    {"47", "31"}, {"48", "32"}, {"55", "A"},  {"54", "B"},  {"53", "C"},  {"52", "D"},
    {"51", "E"},  {"61", "F"},  {"62", "G"},  {"63", "H"},  {"64", "I"},  {"65", "J"},
    {"75", "K"},  {"74", "L"},  {"73", "M"},  {"72", "N"},  {"71", "O"},  {"81", "P"},
    {"82", "Q"},  {"83", "R"},  {"84", "S"},  {"85", "T"},
};

const NotationRow* FindRow(const std::string& text, bool universal) {
    for (const NotationRow& row : kNotation)
        if (text == (universal ? row.universal : row.fdi)) return &row;
    return nullptr;
}

// Leading blanks and zeros stripped, upper-cased.
std::string Normalised(const char* text) {
    std::string out = text != nullptr ? text : "";
    const std::size_t first = out.find_first_not_of(" 0");
    out.erase(0, first == std::string::npos ? out.size() : first);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool IsUniversalToothNotation() {
    std::int32_t value = 0;
    if (GetRegistryDword("QUORIN\\QV\\ToothNotation", "Value", &value, 0)) return value == 1;
    GetRegistryDword("QUORIN\\QV\\Language", "Value", &value, 1);
    return value == 2;
}

// ---- CAnatToothNumber -----------------------------------------------------------------------

void CAnatToothNumber::ConvertNotation(std::string& text, bool toUniversal) {
    if (const NotationRow* row = FindRow(text, !toUniversal))
        text = toUniversal ? row->universal : row->fdi;
}

bool CAnatToothNumber::ValidateOrConvert(std::string& text, bool universal) {
    if (FindRow(text, universal) != nullptr) return true;
    ConvertNotation(text, universal);
    return false;
}

void CAnatToothNumber::FormatNumber(std::string& out, bool universal) const {
    out = m_number;
    if (!universal) return;
    const NotationRow* row = FindRow(out, false);
    if (row == nullptr) return;  // not an FDI number: shown as stored
    out = row->universal;
    if (out.size() == 1 && out[0] >= '1' && out[0] <= '9') out.insert(0, 1, '0');
}

std::string CAnatToothNumber::GetDisplay() const {
    std::string out;
    FormatNumber(out, IsUniversalToothNotation());
    return out;
}

void CAnatToothNumber::SetFromUniversal(const char* text) {
    std::string number = Normalised(text);
    ConvertNotation(number, false);
    m_number = number;
}

void CAnatToothNumber::SetInNotation(const char* text, bool universal) {
    if (text == nullptr) return;
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 2) return;
    std::string copy = Normalised(text);
    ValidateOrConvert(copy, universal);
    if (universal)
        SetFromUniversal(copy.c_str());
    else
        m_number = copy;
}

bool CAnatToothNumber::IsEmpty() const {
    std::string number = Normalised(m_number.c_str());
    const std::size_t last = number.find_last_not_of(' ');
    number.erase(last == std::string::npos ? 0 : last + 1);
    return number.size() < 2;
}

// ---- CAnatRegion ----------------------------------------------------------------------------

void CAnatRegion::Reset() {
    for (std::int32_t& v : m_values) v = 0;
    m_code.clear();
}

void CAnatRegion::SetValue(int index, std::int32_t value) {
    if (index >= 0 && index < 4) m_values[index] = value;
}

std::int32_t CAnatRegion::GetValue(int index) const {
    return index >= 0 && index < 4 ? m_values[index] : 0;
}

void CAnatRegion::FromSOMU(const SOMUImage& record) {
    for (int i = 0; i < 4; ++i) m_values[i] = record.anRegion[i];
    m_code.assign(record.szRegionCode, strnlen(record.szRegionCode, sizeof record.szRegionCode));
}

void CAnatRegion::ToSOMU(SOMUImage& record) const {
    for (int i = 0; i < 4; ++i) record.anRegion[i] = m_values[i];
    std::memset(record.szRegionCode, 0, sizeof record.szRegionCode);
    m_code.copy(record.szRegionCode, sizeof record.szRegionCode - 1);
}

// ---- CAnatTeethList -------------------------------------------------------------------------

CAnatTeethList::CAnatTeethList(const CAnatTeethList& other) {
    for (const CAnatToothNumber& tooth : other.m_teeth) AddTooth(tooth);
}

CAnatTeethList& CAnatTeethList::operator=(const CAnatTeethList& other) {
    if (this != &other) m_teeth = other.m_teeth;
    return *this;
}

void CAnatTeethList::AddTooth(const CAnatToothNumber& tooth) {
    if (!tooth.IsEmpty()) m_teeth.push_back(tooth);
}

const CAnatToothNumber* CAnatTeethList::GetAt(int index) const {
    if (index < 0 || std::size_t(index) >= m_teeth.size()) return nullptr;
    return &m_teeth[std::size_t(index)];
}

void CAnatTeethList::FromSOMU(const char (&field)[kSOMUTeethCount][3]) {
    FromSOMU(field, IsUniversalToothNotation());
}

void CAnatTeethList::FromSOMU(const char (&field)[kSOMUTeethCount][3], bool universal) {
    m_teeth.clear();
    for (const char(&entry)[3] : field) {
        const std::string text(entry, strnlen(entry, sizeof entry));
        if (text.empty()) break;
        CAnatToothNumber tooth;
        tooth.SetInNotation(text.c_str(), universal);
        AddTooth(tooth);
    }
}

void CAnatTeethList::ToSOMU(char (&field)[kSOMUTeethCount][3]) const {
    ToSOMU(field, IsUniversalToothNotation());
}

void CAnatTeethList::ToSOMU(char (&field)[kSOMUTeethCount][3], bool universal) const {
    std::memset(field, 0, sizeof field);
    std::size_t entry = 0;
    for (const CAnatToothNumber& tooth : m_teeth) {
        if (entry == std::size_t(kSOMUTeethCount)) break;
        std::string text;
        tooth.FormatNumber(text, universal);
        // A number longer than an entry is left out: cut, it would name another tooth.
        if (text.size() > 2) continue;
        text.copy(field[entry++], 2);
    }
}

void AnatomicRegionFromProgram(std::int32_t program, std::int32_t& number) {
    std::string name;
    GetPanoProgramRegionMeaning(program, name);
    GetAnatomicRegionFromName(name.c_str(), number);
}
