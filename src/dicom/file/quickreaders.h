// Helpers of the quick readers that the dump tool and the tests share: the first value of any
// text element as text, and the classification of an image type (EImageType, records/core/
// imagetype.h) from its SOP class UID, its maker's private creator, plate type and model name.
#pragma once
#include <cstdint>
#include <string>

class CElementDICOM;

namespace quorin {

// The first value of a text element (any character-string VR, the person name included) without
// its padding; "" when the element is null, of another kind, or has no value.
std::string FirstValueText(const CElementDICOM* element);

// The image type (EImageType) a file of a media storage SOP class reads as before its model
// or plate is looked at: IMAGE_TYPE_DX, IMAGE_TYPE_IO, IMAGE_TYPE_VL, IMAGE_TYPE_SC or
// IMAGE_TYPE_CR; IMAGE_TYPE_UNKNOWN for any other or empty UID.
std::int32_t ImageTypeOfSopClass(const std::string& uid);
// True for the DX and intra-oral classes "for presentation" (their type is final).
bool IsPresentationClass(const std::string& uid);
// Whether a file of image type `type` may carry the SOP class `uid`: the type is the one the
// class reads as, or one its model or plate gives (CDicomTypeFile::ReadSOPClass). Read from
// the same table as ImageTypeOfSopClass.
bool SopClassHoldsType(const std::string& uid, std::int32_t type);
// The type a model name gives a file of type IMAGE_TYPE_DX (panoramic or cephalometric),
// IMAGE_TYPE_IO (intra-oral sensor) or IMAGE_TYPE_VL (video camera), or `type` unchanged.
std::int32_t ImageTypeOfModel(std::int32_t type, const std::string& model);
// The type a plate type gives a CR file with the maker's creator (IMAGE_TYPE_CRIO,
// IMAGE_TYPE_CRPANO, IMAGE_TYPE_CRCEPH, else IMAGE_TYPE_CR).
std::int32_t ImageTypeOfPlate(const std::string& plate);

}  // namespace quorin
