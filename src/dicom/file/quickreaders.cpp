// The quick readers: single questions answered by constructing one element (or sequence) from
// the stream, searching from just after the "DICM" prefix. Absent or empty values read as empty
// texts; no reader dereferences a value it did not get.
#include "dicom/file/quickreaders.h"

#include <quorin/anatomy.h>
#include <quorin/patient.h>

#include <array>
#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "dicom/dataset/multiple.h"
#include "dicom/dataset/number.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/privateblocks.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dataset/text.h"
#include "dicom/file/dicomfile.h"
#include "records/core/dentalcodes.h"
#include "records/core/imagetype.h"

namespace quorin {
namespace {

template <class T>
bool TryFirst(const CElementDICOM* element, std::string& out) {
    const auto* typed = dynamic_cast<const T*>(element);
    if (typed == nullptr) return false;
    const char* text = nullptr;
    if constexpr (requires { typed->GetValue(0); })
        text = typed->GetValue(0);
    else
        text = typed->GetText();
    out = text != nullptr ? text : "";
    return true;
}

}  // namespace

std::string FirstValueText(const CElementDICOM* element) {
    std::string out;
    if (element == nullptr || element->m_nStatus != kStatusOk) return out;
    TryFirst<CElementSHMultiple>(element, out) || TryFirst<CElementLOMultiple>(element, out) ||
        TryFirst<CElementCSMultiple>(element, out) || TryFirst<CElementUIMultiple>(element, out) ||
        TryFirst<CElementAEMultiple>(element, out) || TryFirst<CElementDAMultiple>(element, out) ||
        TryFirst<CElementDSMultiple>(element, out) || TryFirst<CElementISMultiple>(element, out) ||
        TryFirst<CElementTMMultiple>(element, out) || TryFirst<CElementDTMultiple>(element, out) ||
        TryFirst<CElementPNMultiple>(element, out) || TryFirst<CElementAS>(element, out) ||
        TryFirst<CElementLT>(element, out) || TryFirst<CElementST>(element, out);
    return out;
}

namespace {

// The media storage SOP classes of the image kinds: the one table that both the image type of
// a file (ImageTypeOfSopClass) and the check of a file against a type (SopClassHoldsType)
// read. A row is one storage class: its UIDs (for presentation first where the class has that
// split), the type a file of the class reads as before its model or plate is looked at, and
// every type a file of the class may hold.
struct SopClassRow {
    std::array<const char*, 2> uids;  // null fills
    bool firstForPresentation;        // the first UID's type is final
    EImageType readAs;
    std::array<EImageType, 4> types;  // IMAGE_TYPE_UNKNOWN fills
};

constexpr SopClassRow kSopClasses[] = {
    {{"1.2.840.10008.5.1.4.1.1.1.1", "1.2.840.10008.5.1.4.1.1.1.1.1"},  // DX
     true,
     IMAGE_TYPE_DX,
     {IMAGE_TYPE_PANO, IMAGE_TYPE_CEPH, IMAGE_TYPE_DX}},
    {{"1.2.840.10008.5.1.4.1.1.1.3", "1.2.840.10008.5.1.4.1.1.1.3.1"},  // intra-oral
     true,
     IMAGE_TYPE_IO,
     {IMAGE_TYPE_ZEL, IMAGE_TYPE_IO}},
    {{"1.2.840.10008.5.1.4.1.1.77.1.4", "1.2.840.10008.5.1.4.1.1.77.1.1"},  // VL
     false,
     IMAGE_TYPE_VL,
     {IMAGE_TYPE_WLK, IMAGE_TYPE_VL}},
    {{"1.2.840.10008.5.1.4.1.1.7", nullptr},  // secondary capture
     false,
     IMAGE_TYPE_SC,
     {IMAGE_TYPE_SC_OLD4, IMAGE_TYPE_SC_OLD5, IMAGE_TYPE_SC}},
    {{"1.2.840.10008.5.1.4.1.1.1", nullptr},  // CR
     false,
     IMAGE_TYPE_CR,
     {IMAGE_TYPE_CR, IMAGE_TYPE_CRIO, IMAGE_TYPE_CRPANO, IMAGE_TYPE_CRCEPH}},
};

// Model names that make a file of a class more specific (a DX file from a panoramic unit is a
// panoramic image).
constexpr const char* kPanoramicModels[] = {"OP100",
                                            "OS500",
                                            "OS1000",
                                            "OS500-OS1000",
                                            "Panoura12-PanouraSW",
                                            "OP10",
                                            "Rotograph3",
                                            "Orthophos3",
                                            "Panoura 15-16-18",
                                            "Panoura15",
                                            "GendexSD ou OEM",
                                            "GendexSD",
                                            "Xcaliber",
                                            "Planmeca 2002",
                                            "QuorinPAN",
                                            "Velmo 5200",
                                            "Velmo 7300 Pano",
                                            "OP100D Pano",
                                            "OP200D"};
constexpr const char* kCephalometricModels[] = {"QuorinPAN-CNT", "Velmo 5200C", "Velmo 7300 Ceph",
                                                "OP100D Ceph", "OC200D"};
constexpr const char* kSensorModels[] = {"ZEL 3",          "ZEL 4",          "ZEL 5 HR",
                                         "ZEL 5 HS",       "ZEL 6",          "ZEL 6 LITE",
                                         "Velmo ZEL 3000", "Velmo ZEL 2000", "Velmo ZEL 3100",
                                         "Velmo ZEL 2100", "Velmo ZEL 3500"};
constexpr const char* kCameraModels[] = {"Frame Grabber", "WLK", "WLK Pro 2 USB", "Velmo 1400"};

struct ModelRow {
    EImageType fromType;
    EImageType toType;
    std::span<const char* const> names;
};

constexpr ModelRow kModels[] = {
    {IMAGE_TYPE_DX, IMAGE_TYPE_PANO, kPanoramicModels},
    {IMAGE_TYPE_DX, IMAGE_TYPE_CEPH, kCephalometricModels},
    {IMAGE_TYPE_IO, IMAGE_TYPE_ZEL, kSensorModels},
    {IMAGE_TYPE_VL, IMAGE_TYPE_WLK, kCameraModels},
};

// Plate types of a CR file that carries the maker's creator.
struct PlateRow {
    const char* plate;
    EImageType type;
};

constexpr PlateRow kPlates[] = {
    {"Velmo IO", IMAGE_TYPE_CRIO},
    {"Velmo PANO", IMAGE_TYPE_CRPANO},
    {"Velmo CEPH", IMAGE_TYPE_CRCEPH},
};

constexpr const SopClassRow* RowOf(const std::string_view uid) {
    for (const auto& row : kSopClasses)
        for (const char* accepted : row.uids)
            if (accepted != nullptr && uid == accepted) return &row;
    return nullptr;
}

constexpr bool Holds(const SopClassRow& row, std::int32_t type) {
    for (EImageType held : row.types)
        if (held != IMAGE_TYPE_UNKNOWN && held == type) return true;
    return false;
}

constexpr const SopClassRow* RowReadAs(EImageType type) {
    for (const auto& row : kSopClasses)
        if (row.readAs == type) return &row;
    return nullptr;
}

// A type that a model or a plate gives is one that a file of its class may hold: the class
// table and the model and plate tables cannot drift apart.
static_assert([] {
    for (const ModelRow& model : kModels) {
        const SopClassRow* row = RowReadAs(model.fromType);
        if (row == nullptr || !Holds(*row, model.toType)) return false;
    }
    for (const PlateRow& plate : kPlates)
        if (!Holds(*RowReadAs(IMAGE_TYPE_CR), plate.type)) return false;
    return true;
}());

}  // namespace

std::int32_t ImageTypeOfSopClass(const std::string& uid) {
    const SopClassRow* row = RowOf(uid);
    return row ? row->readAs : IMAGE_TYPE_UNKNOWN;
}

bool IsPresentationClass(const std::string& uid) {
    const SopClassRow* row = RowOf(uid);
    return row && row->firstForPresentation && uid == row->uids[0];
}

bool SopClassHoldsType(const std::string& uid, std::int32_t type) {
    const SopClassRow* row = RowOf(uid);
    return row && Holds(*row, type);
}

std::int32_t ImageTypeOfModel(std::int32_t type, const std::string& model) {
    for (const auto& row : kModels) {
        if (row.fromType != type) continue;
        for (const char* name : row.names)
            if (model == name) return row.toType;
    }
    return type;
}

std::int32_t ImageTypeOfPlate(const std::string& plate) {
    for (const auto& row : kPlates)
        if (plate == row.plate) return row.type;
    return IMAGE_TYPE_CR;
}

}  // namespace quorin

using quorin::kPrivateGroup;
using quorin::kStatusOk;
using quorin::kStatusReadError;

namespace {

constexpr std::uint64_t kStart = CDicomTypeFile::kDataSetStart;

// Reads the first value of a text element of class E; `text` is emptied first and stays empty
// when the element is absent or empty. The element's status.
template <class E>
std::int32_t ReadFirstText(CDicomTypeFile* file, std::int32_t type, std::uint16_t group,
                           std::uint16_t element, std::string& text) {
    text.clear();
    E value(type, group, element, file, file->m_bImplicit, file->m_nByteOrder, kStart);
    if (value.m_nStatus == kStatusOk) text = quorin::FirstValueText(&value);
    return value.m_nStatus;
}

// Reads the first value of a US element; absent or empty leaves `number` at 0.
std::int32_t ReadFirstUS(CDicomTypeFile* file, std::int32_t type, std::uint16_t group,
                         std::uint16_t element, std::uint16_t& number) {
    number = 0;
    CElementUSMultiple value(type, group, element, file, file->m_bImplicit, file->m_nByteOrder,
                             kStart);
    if (value.m_nStatus == kStatusOk && value.m_nCount > 0) number = value.GetValue(0);
    return value.m_nStatus;
}

// A status of an optional read: absent or empty is not an error.
std::int32_t OptionalResult(std::int32_t status) {
    return status == kStatusReadError ? kStatusReadError : kStatusOk;
}

// The tooth of a code item: its (0008,0100) looked up in the dental code table; appends the
// FDI number of the matching kind. Item tags are in machine order already.
void AddToothOfItem(CElementSequence* item, std::vector<std::string>& teeth) {
    if (item == nullptr || item->m_nItemElement != 0xE000) return;
    CInfosDicomNode* node = item->Find(0x0008, 0x0100, 0);
    if (node == nullptr) return;
    const std::string code = quorin::FirstValueText(node->m_pElement);
    ToothDentition which = ToothDentition::Permanent;
    const std::int32_t row = FindToothRowByCode(code.c_str(), &which);
    if (row < 0) return;
    char fdi[8];
    const ToothNotation notation = which == ToothDentition::Deciduous ? ToothNotation::FdiDeciduous
                                                                      : ToothNotation::FdiPermanent;
    if (GetToothRowText(row, fdi, sizeof fdi, notation)) teeth.emplace_back(fdi);
}

template <class F>
std::int32_t Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        quorin::NoteOutOfMemory();
        return kStatusReadError;
    } catch (...) {
        return kStatusReadError;
    }
}

}  // namespace

std::int32_t CDicomTypeFile::FindPrivateCreator() {
    return Guarded([&]() -> std::int32_t {
        for (std::uint16_t slot = quorin::kFirstCreatorSlot; slot <= quorin::kLastCreatorSlot;
             ++slot) {
            CElementLOMultiple creator(4, kPrivateGroup, slot, this, m_bImplicit, m_nByteOrder,
                                       kStart);
            if (creator.m_nStatus == kStatusOk && quorin::IsOwnCreator(creator))
                return static_cast<std::int32_t>(slot);
        }
        return 0;  // no slot
    });
}

std::int32_t CDicomTypeFile::ReadPrivateUS45(std::uint16_t& value) {
    value = 0;
    return Guarded([&]() -> std::int32_t {
        const std::int32_t cc = FindPrivateCreator();
        if (cc == 0) return kStatusOk;
        const std::uint16_t element = quorin::BlockElement(static_cast<std::uint16_t>(cc), 0x45);
        return OptionalResult(ReadFirstUS(this, 4, kPrivateGroup, element, value));
    });
}

std::int32_t CDicomTypeFile::ReadHorizontalFlip(std::int32_t& flag) {
    flag = 0;
    return Guarded([&]() -> std::int32_t {
        std::string text;
        const std::int32_t status =
            ReadFirstText<CElementCSMultiple>(this, 4, 0x0018, 0x7034, text);
        if (status == kStatusReadError) return kStatusReadError;
        if (status != quorin::kStatusNotFound) {
            flag = text == "YES" ? 1 : 0;
            return kStatusOk;
        }
        const std::int32_t cc = FindPrivateCreator();
        if (cc == 0) return kStatusOk;
        const std::uint16_t element = quorin::BlockElement(static_cast<std::uint16_t>(cc), 0x01);
        const std::int32_t privateStatus =
            ReadFirstText<CElementCSMultiple>(this, 4, kPrivateGroup, element, text);
        flag = privateStatus == kStatusOk && text == "01" ? 1 : 0;
        return OptionalResult(privateStatus);
    });
}

std::int32_t CDicomTypeFile::ReadCaptureSource(std::int32_t& code) {
    code = 0;
    return Guarded([&]() -> std::int32_t {
        std::string text;
        const std::int32_t status =
            ReadFirstText<CElementLOMultiple>(this, 4, 0x0018, 0x1010, text);
        static constexpr std::array<const char*, 4> kSources = {"Cut and Paste", "Twain",
                                                                "File Import", "Digital Camera"};
        for (std::size_t i = 0; i < kSources.size(); ++i)
            if (text == kSources[i]) code = static_cast<std::int32_t>(i + 1);
        return OptionalResult(status);
    });
}

std::int32_t CDicomTypeFile::ReadIsColour(std::int32_t& colour) {
    colour = 0;
    return Guarded([&]() -> std::int32_t {
        std::uint16_t samples = 0;
        const std::int32_t samplesStatus = ReadFirstUS(this, 0, 0x0028, 0x0002, samples);
        std::string photometric;
        const std::int32_t photometricStatus =
            ReadFirstText<CElementCSMultiple>(this, 0, 0x0028, 0x0004, photometric);
        if (samplesStatus == kStatusOk && samples != 1) colour = 1;
        if (photometricStatus == kStatusOk &&
            (photometric == "RGB" || photometric == "PALETTE COLOR"))
            colour = 1;
        if (samplesStatus != kStatusOk) return samplesStatus;
        return photometricStatus;
    });
}

std::int32_t CDicomTypeFile::ReadBitsStored(std::int32_t& bits) {
    bits = 0;
    return Guarded([&]() -> std::int32_t {
        std::uint16_t stored = 0;
        const std::int32_t status = ReadFirstUS(this, 0, 0x0028, 0x0101, stored);
        if (status != kStatusOk) return status;
        if (stored == 8 || stored == 10 || stored == 12 || stored == 14 || stored == 16) {
            bits = stored;
            return kStatusOk;
        }
        return quorin::kStatusNotAccepted;
    });
}

std::int32_t CDicomTypeFile::ReadImageSize(std::uint32_t& rows, std::uint32_t& columns) {
    return Guarded([&]() -> std::int32_t {
        std::uint16_t r = 0, c = 0;
        const std::int32_t rowsStatus = ReadFirstUS(this, 0, 0x0028, 0x0010, r);
        if (rowsStatus != kStatusOk) return rowsStatus;
        const std::int32_t columnsStatus = ReadFirstUS(this, 0, 0x0028, 0x0011, c);
        if (columnsStatus != kStatusOk) return columnsStatus;
        rows = r;
        columns = c;
        return kStatusOk;
    });
}

std::int32_t CDicomTypeFile::ReadSOPInstanceUID(std::string& uid) {
    uid.clear();
    return Guarded([&]() -> std::int32_t {
        return ReadFirstText<CElementUIMultiple>(this, 0, 0x0008, 0x0018, uid);
    });
}

std::int32_t CDicomTypeFile::ReadSOPClassUID(std::string& uid) {
    uid.clear();
    return Guarded([&]() -> std::int32_t {
        return OptionalResult(ReadFirstText<CElementUIMultiple>(this, 0, 0x0008, 0x0016, uid));
    });
}

std::int32_t CDicomTypeFile::ReadReferencedSOPInstanceUID(std::string& uid) {
    uid.clear();
    return Guarded([&]() -> std::int32_t {
        return OptionalResult(ReadFirstText<CElementUIMultiple>(this, 4, 0x0008, 0x1155, uid));
    });
}

std::int32_t CDicomTypeFile::ReadModelName(std::string& name) {
    name.clear();
    return Guarded([&]() -> std::int32_t {
        return OptionalResult(ReadFirstText<CElementLOMultiple>(this, 4, 0x0008, 0x1090, name));
    });
}

std::int32_t CDicomTypeFile::ReadPlateType(std::string& plate) {
    plate.clear();
    return Guarded([&]() -> std::int32_t {
        return OptionalResult(ReadFirstText<CElementSHMultiple>(this, 4, 0x0018, 0x1260, plate));
    });
}

std::int32_t CDicomTypeFile::ReadPatient(quorin::DicomPatientValues& patient) {
    patient = {};
    return Guarded([&]() -> std::int32_t {
        CElementPNMultiple name(4, 0x0010, 0x0010, this, m_bImplicit, m_nByteOrder, kStart);
        if (name.m_nStatus == kStatusOk) {
            if (const CElementPN* first = name.GetItem(0)) {
                patient.family = first->m_szFamily;
                patient.given = first->m_szGiven;
                patient.middle = first->m_szMiddle;
                patient.prefix = first->m_szPrefix;
                patient.suffix = first->m_szSuffix;
            }
        }
        const std::int32_t statuses[] = {
            name.m_nStatus,
            ReadFirstText<CElementDAMultiple>(this, 4, 0x0010, 0x0030, patient.birthDate),
            ReadFirstText<CElementLOMultiple>(this, 4, 0x0010, 0x0020, patient.id),
            ReadFirstText<CElementCSMultiple>(this, 4, 0x0010, 0x0040, patient.sex)};
        // Absent or empty values are no error; a stream that could not be read is.
        for (const std::int32_t status : statuses)
            if (status == kStatusReadError) return kStatusReadError;
        return kStatusOk;
    });
}

std::int32_t CDicomTypeFile::ReadToothNumbers(std::vector<std::string>& teeth) {
    return Guarded([&]() -> std::int32_t {
        const std::int32_t cc = FindPrivateCreator();

        CElementSQ primary(4, 0x0008, 0x2228, this, m_bImplicit, m_nByteOrder, kStart, 3);
        if (primary.m_nStatus == kStatusReadError) return kStatusReadError;
        if (primary.m_nStatus == kStatusOk) {
            for (auto& item : primary.m_items) AddToothOfItem(item.get(), teeth);
            return kStatusOk;
        }

        CElementSQ region(4, 0x0008, 0x2218, this, m_bImplicit, m_nByteOrder, kStart, 3);
        if (region.m_nStatus == kStatusReadError) return kStatusReadError;
        CElementSequence* first = region.m_nStatus == kStatusOk ? region.GetItem(0) : nullptr;
        CInfosDicomNode* modifiers = first ? first->Find(0x0008, 0x2220, 0) : nullptr;
        if (modifiers != nullptr) {
            CInfosDicomNode* regionCode = first->Find(0x0008, 0x0100, 0);
            if (regionCode == nullptr) return kStatusReadError;
            std::string laterality;
            const std::int32_t lateralityStatus =
                ReadFirstText<CElementCSMultiple>(this, 0, 0x0020, 0x0062, laterality);
            if (lateralityStatus == kStatusReadError) return kStatusReadError;
            const char side = laterality.empty() ? ' ' : laterality[0];
            const std::string code = quorin::FirstValueText(regionCode->m_pElement);
            auto* sequence = dynamic_cast<CElementSQ*>(modifiers->m_pElement);
            if (sequence == nullptr) return kStatusOk;
            for (auto& item : sequence->m_items) {
                if (item->m_nItemElement != 0xE000) continue;
                CInfosDicomNode* modifier = item->Find(0x0008, 0x0100, 0);
                if (modifier == nullptr) continue;
                const std::string modifierCode = quorin::FirstValueText(modifier->m_pElement);
                for (std::int32_t row :
                     GetToothRowsOfRegion(code.c_str(), modifierCode.c_str(), side)) {
                    char fdi[8];
                    if (GetToothRowText(row, fdi, sizeof fdi, ToothNotation::FdiPermanent))
                        teeth.emplace_back(fdi);
                }
            }
            return kStatusOk;
        }

        if (cc == 0) return kStatusOk;
        const std::uint16_t element = quorin::BlockElement(static_cast<std::uint16_t>(cc), 0x43);
        CElementSQ codes(4, kPrivateGroup, element, this, m_bImplicit, m_nByteOrder, kStart, 3);
        if (codes.m_nStatus == kStatusReadError) return kStatusReadError;
        if (codes.m_nStatus == kStatusOk)
            for (auto& item : codes.m_items) AddToothOfItem(item.get(), teeth);
        return kStatusOk;
    });
}

std::int32_t CDicomTypeFile::ReadImageType(std::int32_t& type) {
    type = 0;
    return Guarded([&]() -> std::int32_t {
        std::string uid;
        if (const std::int32_t result = ReadSOPClassUID(uid); result != kStatusOk) return result;
        const std::int32_t byClass = quorin::ImageTypeOfSopClass(uid);
        if (byClass == IMAGE_TYPE_UNKNOWN) return quorin::kStatusNotAccepted;
        type = byClass;
        if (quorin::IsPresentationClass(uid)) return kStatusOk;
        const bool creator = FindPrivateCreator() != 0;
        if (type == IMAGE_TYPE_VL && !creator) return kStatusOk;
        if (type == IMAGE_TYPE_CR) {
            if (!creator) return kStatusOk;
            std::string plate;
            if (const std::int32_t result = ReadPlateType(plate); result != kStatusOk)
                return result;
            type = quorin::ImageTypeOfPlate(plate);
            return kStatusOk;
        }
        std::string model;
        if (const std::int32_t result = ReadModelName(model); result != kStatusOk) return result;
        if (!model.empty()) type = quorin::ImageTypeOfModel(type, model);
        return kStatusOk;
    });
}

std::int32_t CDicomTypeFile::ReadPatient(CPatient& patient) {
    // A stream that breaks after some of the elements still gives those: every value read
    // intact is taken, and the result says the rest could not be read.
    quorin::DicomPatientValues values;
    const std::int32_t result = ReadPatient(values);
    const std::int32_t filled = Guarded([&]() -> std::int32_t {
        if (!(values.family + values.given + values.middle + values.prefix + values.suffix).empty())
            patient.SetName(values.family, values.given, values.middle, values.prefix,
                            values.suffix);
        if (!values.birthDate.empty())
            patient.BirthDate().SetDate(values.birthDate, DATE_ORDER_YMD);
        if (!values.id.empty()) patient.SetPatientID(values.id);
        if (!values.sex.empty()) patient.SetSex(values.sex);
        return kStatusOk;
    });
    return result != kStatusOk ? result : filled;
}

std::int32_t CDicomTypeFile::ReadToothNumbers(CAnatTeethList& teeth) {
    std::vector<std::string> numbers;
    const std::int32_t result = ReadToothNumbers(numbers);
    return Guarded([&]() -> std::int32_t {
        for (const auto& number : numbers) teeth.AddTooth(CAnatToothNumber(number.c_str()));
        return result;
    });
}
