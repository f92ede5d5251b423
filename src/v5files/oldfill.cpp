// Fillings of the header model and the preview record from the older header records.
#include "v5files/oldfill.h"

#include <quorin/basicpreview.h>

#include <string>

#include "records/core/dentalcodes.h"
#include "records/headers/headerkinds.h"
#include "v5files/colourrecord.h"
#include "v5files/oldfile.h"
#include "v5files/oldheader.h"
#include "v5files/oldname.h"

namespace {

namespace R = old_record;
namespace C = colour_record;

constexpr const char* kSoftwareName = "QUORIN WINDOWS 5";
constexpr const char* kFrameGrabber = "Frame Grabber";

std::int32_t SignedByte(std::uint8_t b) {
    return static_cast<std::int8_t>(b);
}

void SetEquipment(CHeader& header, const std::string& model) {
    CEquipment& e = header.Equipment();
    if (!model.empty()) e.SetModelName(model);
    e.SetSoftwareVersions(kSoftwareName);
    e.SetManufacturer(CEquipment::kManufacturer);
}

// Date (year-month-day) and comments of a record into an image information record.
void SetDateAndComments(CInfosImage& info, const std::uint8_t* date, const std::uint8_t* comments,
                        std::size_t commentBytes) {
    info.DateTime1().SetDate(OldRecordText(date, 8), DATE_ORDER_YMD);
    info.SetImageComments(OldRecordText(comments, commentBytes));
}

// The common filling of the 356-byte record.
void FillCommon(CHeader& header, const std::uint8_t* r, std::int32_t lossy) {
    CInfosImage& info = header.ImageInfo();
    SetDateAndComments(info, r + R::kDate, r + R::kComments, R::kCommentBytes);
    info.SetLossyCompression(lossy == 1 ? 2 : 3, "");

    CAnatTeethList teeth;
    if (ReadOldToothFields(r + R::kTeeth, R::kToothFields, teeth, IsUniversalToothNotation()) > 0)
        header.TeethList() = teeth;

    header.Orient().SetMirror(r[R::kMirror] != 0 ? 1 : 0);

    const std::int32_t kind = r[R::kFilterKind];
    const std::int32_t parameter = OldRecordWord(r, R::kFilterParameter);
    header.Filter().SetFilter((kind == 1 || kind == 4 || kind == 5) ? 3 : kind, parameter);
}

// Grey look-up table, inversion and display mode, for the header kinds that keep them.
void FillDisplay(CHeader& header, const std::uint8_t* r) {
    CInfosLUTGray* lut = nullptr;
    CInfosDisplay* display = nullptr;
    if (auto* dx = dynamic_cast<CHeaderDX*>(&header)) {
        lut = &dx->LUTGray();
        display = &dx->Display();
    } else if (auto* sc = dynamic_cast<CHeaderSC*>(&header)) {
        lut = &sc->LUTGray();
        display = &sc->Display();
    }
    const std::uint8_t flags = r[R::kDisplay];
    if (lut != nullptr)
        lut->SetSettings(SignedByte(r[R::kBrightness]), SignedByte(r[R::kContrast]),
                         SignedByte(r[R::kGamma]), (flags & 2) ? 1 : 0, lut->GetMaxEntries());
    if (display != nullptr) display->SetColorLUT((flags & 4) ? 2 : (flags & 1) ? 1 : 0);
}

void FillExposure(CHeader& header, const std::uint8_t* r) {
    auto* dx = dynamic_cast<CHeaderDX*>(&header);
    if (dx == nullptr) return;
    if (OldRecordWord(r, R::kExposureGate) != 0 || OldRecordWord(r, R::kExposureGate + 2) != 0 ||
        OldRecordWord(r, R::kExposureGate + 4) != 0)
        return;
    dx->Exposure().SetExposure(OldRecordWord(r, R::kExposure), OldRecordWord(r, R::kExposure + 2),
                               OldRecordWord(r, R::kExposure + 4));
}

void FillPixelSize(CHeader& header, const std::uint8_t* r) {
    const double x = OldRecordPixelSize(r, R::kPixelSizeX);
    const double y = OldRecordPixelSize(r, R::kPixelSizeY);
    header.PixelSize(0).Set(x, y);
    header.PixelSize(1).Set(x, y);
}

}  // namespace

void FillIntraoralHeader(CHeader& header, const std::uint8_t* r, std::int32_t lossy,
                         std::string_view path) {
    SetEquipment(header,
                 OldSensorModelText(OldRecordPixelSize(r, R::kPixelSizeX),
                                    OldRecordPixelSize(r, R::kPixelSizeY),
                                    OldRecordWord(r, R::kMode1), OldRecordWord(r, R::kMode2)));
    FillCommon(header, r, lossy);
    FillDisplay(header, r);
    FillExposure(header, r);
    FillPixelSize(header, r);
    if (auto* zel = dynamic_cast<CHeaderZel*>(&header))
        zel->InfosZel().SetFilterLevel((r[R::kDisplay] >> 3) & 3);

    if (!header.PixelSize(0).IsSet()) {
        std::int32_t w = header.GetWidth(), h = header.GetHeight();
        if (header.GetSubType() != 1) {
            const std::string p(path);
            bool flag = false;
            SOldFileInfo info;
            w = h = 0;
            if (ReadOldFileInfo(p.c_str(), 0, &flag, &info) == 0) w = info.width, h = info.height;
        }
        double x = 0.0, y = 0.0;
        OldIntraoralPixelSize(w, h, &x, &y);
        header.PixelSize(0).Set(x, y);
        header.PixelSize(1).Set(x, y);
    }
}

void FillPageHeader(CHeader& header, const std::uint8_t* r) {
    SetEquipment(header, "");
    SetDateAndComments(header.ImageInfo(), r + R::kDate, r + R::kComments, R::kCommentBytes);
    header.Orient().SetMirror(r[R::kMirror] != 0 ? 1 : 0);
}

void FillPanoramicHeader(CHeader& header, const std::uint8_t* r, std::int32_t lossy) {
    std::string model;
    GetPanoProgramModelName(r[R::kProgram], model, 0);
    if (!model.empty()) SetEquipment(header, model);
    FillCommon(header, r, lossy);
    FillDisplay(header, r);
    FillExposure(header, r);
    FillPixelSize(header, r);
    if (auto* pano = dynamic_cast<CHeaderPano*>(&header)) {
        pano->InfosPano().SetProgram(r[R::kProgram]);
        std::uint32_t points[R::kPointCount];
        const int n = ReadOldPanoramicPoints(r, points);
        if (n > 0) pano->InfosPano().SetPoints(static_cast<std::uint16_t>(n), points);
    }
}

void FillScannedHeader(CHeader& header, const std::uint8_t* r, std::int32_t lossy) {
    SetEquipment(header, "");
    FillCommon(header, r, lossy);
    FillDisplay(header, r);
}

void FillColourHeader(CHeader& header, const std::uint8_t* c) {
    CEquipment& e = header.Equipment();
    e.SetManufacturer(CEquipment::kManufacturer);
    e.SetModelName(kFrameGrabber);
    SetDateAndComments(header.ImageInfo(), c + C::kDate, c + C::kComments, 256);
    CAnatTeethList teeth;
    if (ReadOldToothFields(c + C::kTeeth, 4, teeth, IsUniversalToothNotation()) > 0)
        header.TeethList() = teeth;
    header.Orient().SetMirror(c[C::kMirror] != 0 ? 1 : 0);
}

void SBasicPreviewInfo::SetCategoryFromType(std::int32_t type) {
    switch (type) {
        case 1:
        case 8:
        case 14:
            nCategory = 1;
            break;
        case 3:
        case 6:
        case 7:
        case 13:
        case 15:
        case 16:
            nCategory = 2;
            break;
        default:
            nCategory = 0;
            break;
    }
}

void SBasicPreviewInfo::SetRadiographFlag(std::int32_t type) {
    switch (type) {
        case 1:
        case 3:
        case 6:
        case 7:
        case 8:
        case 11:
        case 13:
        case 14:
        case 15:
        case 16:
        case 18:
            bRadiograph = 1;
            break;
        default:
            bRadiograph = 0;
            break;
    }
}

void FillPreviewFromRecord(SBasicPreviewInfo& info, const std::uint8_t* r, std::int32_t kind) {
    CInfosImage image = info.infosImage;
    SetDateAndComments(image, r + R::kDate, r + R::kComments, R::kCommentBytes);
    info.infosImage = image;
    CAnatTeethList teeth;
    const bool hasTeeth =
        ReadOldToothFields(r + R::kTeeth, R::kToothFields, teeth, IsUniversalToothNotation()) > 0;
    if (hasTeeth) info.SetTeethList(teeth);
    info.nBitsPerSample = 8;
    info.nSamplesPerPixel = 1;
    switch (kind) {
        case OLD_KIND_INTRAORAL:
            info.nImageType = 1, info.nCategory = 1, info.bRadiograph = 1;
            break;
        case OLD_KIND_FMS_PAGE:
            info.nImageType = 11, info.nCategory = 1, info.bRadiograph = 1;
            break;
        case OLD_KIND_PANORAMIC:
            info.nImageType = 3, info.nCategory = 2, info.bRadiograph = 1;
            break;
        case OLD_KIND_GREY_TIFF:
            info.nImageType = 10, info.nCategory = hasTeeth ? 1 : 0, info.bRadiograph = 0;
            break;
        default:
            break;
    }
}

void FillPreviewFromColourRecord(SBasicPreviewInfo& info, const std::uint8_t* c,
                                 std::int32_t kind) {
    CInfosImage image = info.infosImage;
    SetDateAndComments(image, c + C::kDate, c + C::kComments, 256);
    info.infosImage = image;
    CAnatTeethList teeth;
    const bool hasTeeth =
        ReadOldToothFields(c + C::kTeeth, 4, teeth, IsUniversalToothNotation()) > 0;
    if (hasTeeth) info.SetTeethList(teeth);
    info.nBitsPerSample = 8;
    info.nSamplesPerPixel = 3;
    info.bRadiograph = 0;
    info.nImageType = kind == OLD_KIND_VIDEO ? 2 : 10;
    if (hasTeeth) info.nCategory = 1;
    info.bMirrored = c[C::kMirror] == 1 ? 1 : 0;
}
