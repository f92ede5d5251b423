// Dental code tables shared by the DICOM readers and the tooth records: the SNOMED codes of the
// teeth with their FDI (ISO 3950) and Universal numbers, the anatomic regions of the jaws with
// their modifiers, and the panoramic/cephalometric program table.
//
// The tooth table has one row per tooth position of the permanent dentition (32 rows, in
// Universal order 1..32). A row also carries the deciduous tooth that stands in that position
// (FDI 51..85, Universal A..T); the molar positions 6 to 8 have none. Row r holds permanent
// Universal number r + 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::int32_t kToothRowCount = 32;

// Which code column of a row a SNOMED code matched.
enum class ToothDentition : std::int32_t { Permanent = 0, Deciduous = 1 };

// The notation columns of a row.
enum class ToothNotation : std::int32_t {
    FdiPermanent = 0,        // "11" .. "48"
    FdiDeciduous = 1,        // "51" .. "85", empty for molar positions 6-8
    UniversalPermanent = 2,  // "1" .. "32"
    UniversalDeciduous = 3,  // "A" .. "T", empty for molar positions 6-8
};

// Searches the table for a SNOMED tooth code, either the SNOMED CT concept ("68085002") or the
// older SNOMED RT code ("T-54210"), ignoring leading and trailing spaces. Returns the row and
// sets *which (when not null) to the column it matched; -1 when no row matches (which unset).
std::int32_t FindToothRowByCode(const char* code, ToothDentition* which);

// Copies the row's text in the given notation into buffer (bufferSize bytes, NUL included).
// False, with an empty buffer when bufferSize > 0, for a row out of range, a notation without a
// value in that row, or a buffer too small; 4 bytes always suffice.
bool GetToothRowText(std::int32_t row, char* buffer, std::size_t bufferSize,
                     ToothNotation notation);

// The rows that an anatomic region (CID 4016: maxilla, mandible, jaw region, teeth and gums;
// SNOMED CT or RT code), its modifier (CID 4017: central incisor region .. third molar region)
// and the image laterality ('R' right, 'L' left, anything else both sides) select, ascending.
// A null or empty modifier selects every position of the region; an unknown region or modifier
// selects nothing (as does a failed allocation). Codes ignore leading and trailing spaces.
std::vector<std::int32_t> GetToothRowsOfRegion(const char* regionCode, const char* modifierCode,
                                               char laterality);

// The anatomic region name of a panoramic or cephalometric program from the program table;
// "Jaw Region" when the program is not in the table.
void GetPanoProgramRegionMeaning(std::int32_t program, std::string& text);

// Sets number to 0, then to the number of an anatomic region name compared exactly:
// "Maxilla and mandible" 1, "Maxilla" 2, "Mandible" 3, "Temporomandibular joint" 4,
// "Paranasal sinus" 5, "Skull" 6, "Hand" 7, "Jaw Region" 8, "Head" 9. Null or other names: 0.
void GetAnatomicRegionFromName(const char* name, std::int32_t& number);

// The model name of the program table row whose program code matches; empty when no row matches
// or its model name is empty. The rows are keyed by program code alone; the device code is
// accepted for the callers' sake.
void GetPanoProgramModelName(std::int32_t programCode, std::string& text, std::int32_t deviceCode);
