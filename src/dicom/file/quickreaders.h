// Helpers of the quick readers that the dump tool and the tests share: the first value of any
// text element as text, and the classification of an image type from its SOP class UID, its
// maker's private creator, plate type and model name.
#pragma once
#include <cstdint>
#include <string>

class CElementDICOM;

namespace quorin {

// The first value of a text element (any character-string VR, the person name included) without
// its padding; "" when the element is null, of another kind, or has no value.
std::string FirstValueText(const CElementDICOM* element);

// Image type code of a SOP class UID (7 DX, 8 intra-oral, 9 VL photographic, 10 secondary
// capture, 13 CR), 0 for any other or empty UID.
std::int32_t ImageTypeOfSopClass(const std::string& uid);
// True for the DX and intra-oral classes "for presentation" (their type is final).
bool IsPresentationClass(const std::string& uid);
// The type a model name gives an image of type 7, 8 or 9 (3, 6, 1, 2), or `type` unchanged.
std::int32_t ImageTypeOfModel(std::int32_t type, const std::string& model);
// The type a plate type gives a CR image with the maker's creator (14, 15, 16, else 13).
std::int32_t ImageTypeOfPlate(const std::string& plate);

}  // namespace quorin
