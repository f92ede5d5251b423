// The tag dictionary: value representation and keyword of every data element of the DICOM
// standard's registry, plus the system's own private tags.
#pragma once
#include <cstdint>

// Copies the two-letter VR of (group, element) and a NUL into vrOut (3 bytes). "OX"-style
// ambiguous VRs ("OB or OW") resolve to "OW"; "US or SS" and "US or (SS or) OW" resolve to "US".
// Repeating tags (60xx overlays, 50xx curves, (0020,31xx)...) are answered for every group or
// element of their range. The system's own private elements in group 0009 have their VRs. A tag not
// in the dictionary gets "UL" when its element is 0000, "LO" when its group is odd and its element
// is below 0100 (a private creator), else "UN". The delimiter tags (FFFE,E00D) and (FFFE,E0DD) have
// VR "DL".
void DicomDictionaryLookup(std::uint16_t group, std::uint16_t element, char* vrOut);

// The keyword of (group, element) ("PatientName"), or null when the tag is not in the dictionary.
const char* DicomDictionaryKeyword(std::uint16_t group, std::uint16_t element);
