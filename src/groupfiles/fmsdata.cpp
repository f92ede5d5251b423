// Full-mouth series and template files: the template, series and frame elements, the upgrade of
// older coordinates, and loading and saving through the shared group steps.
#include "groupfiles/fmsdata.h"

#include <cmath>
#include <string>

#include "groupfiles/xmldocument.h"
#include "records/core/textops.h"

namespace {

using quorin::ReadGroupFlag;
using quorin::ReadGroupInt;
using quorin::ReadGroupText;

constexpr const char* kCenterNames[] = {"X", "Y"};
constexpr const char* kToothNames[] = {"ToothNumber",  "ToothNumber1", "ToothNumber2",
                                       "ToothNumber3", "ToothNumber4", "ToothNumber5"};
constexpr const char* kFrameValueNames[] = {"FrameNumber",      "TopAttachment",   "TopFrame",
                                            "BottomAttachment", "BottomFrame",     "LeftAttachment",
                                            "LeftFrame",        "RightAttachment", "RightFrame"};
static_assert(std::size(kFrameValueNames) == CFmsImageData::FRAME_VALUE_COUNT);

std::int32_t ToOldUnit(std::int32_t value) {
    return static_cast<std::int32_t>(std::trunc(value * CFmsTemplateData::kOldUnitToPixels));
}

}  // namespace

// ---- CFmsTemplateData

CFmsTemplateData::CFmsTemplateData() {
    Reset(false);
}

CFmsTemplateData::~CFmsTemplateData() {
    Free(false);
}

CFmsTemplateData& CFmsTemplateData::operator=(const CFmsTemplateData& other) {
    if (this == &other) return *this;
    CCoreGroupData::operator=(other);
    m_center = other.m_center;
    m_fitImageToFrame = other.m_fitImageToFrame;
    m_secondFit = other.m_secondFit;
    m_freeFormat = other.m_freeFormat;
    m_userDefined = other.m_userDefined;
    m_extraOralFMS = other.m_extraOralFMS;
    m_superimpositionFMS = other.m_superimpositionFMS;
    m_templateIdentifier = other.m_templateIdentifier;
    return *this;
}

void CFmsTemplateData::Free(bool withBase) {
    if (withBase) CCoreGroupData::Free(true);
}

void CFmsTemplateData::Reset(bool withBase) {
    if (withBase) CCoreGroupData::Reset(true);
    SetClassID(CLASSID_FMS_TEMPLATE);
    m_center = CGroupPoint{};
    m_fitImageToFrame = 0;
    m_secondFit = 1;
    m_freeFormat = 0;
    m_userDefined = 1;
    m_extraOralFMS = 0;
    m_superimpositionFMS = 0;
    m_templateIdentifier.clear();
}

void CFmsTemplateData::Read(CXmlElement& node) {
    CCoreGroupData::Read(node);
    FreeAndReset(false);
    ReadGroupInt(node, "CenterLocation/X", m_center.X);
    ReadGroupInt(node, "CenterLocation/Y", m_center.Y);
    if (ReadGroupFlag(node, "FitImageToFrame", m_fitImageToFrame)) m_secondFit = 0;
    ReadGroupFlag(node, "FreeFormat", m_freeFormat);
    ReadGroupFlag(node, "UserDefined", m_userDefined);
    ReadGroupFlag(node, "ExtraOralFMS", m_extraOralFMS);
    ReadGroupFlag(node, "SuperimpositionFMS", m_superimpositionFMS);
    UpgradeOldVersion();
}

bool CFmsTemplateData::Write(CXmlElement& node) {
    bool ok = CCoreGroupData::Write(node);
    const std::int32_t center[] = {m_center.X, m_center.Y};
    ok &= quorin::WriteGroupInts(node, "CenterLocation", kCenterNames, center, 2);
    ok &= node.AddFlagChild("FitImageToFrame", m_fitImageToFrame);
    ok &= node.AddFlagChild("FreeFormat", m_freeFormat);
    ok &= node.AddFlagChild("UserDefined", m_userDefined);
    ok &= node.AddFlagChild("ExtraOralFMS", m_extraOralFMS);
    ok &= node.AddFlagChild("SuperimpositionFMS", m_superimpositionFMS);
    return ok;
}

bool CFmsTemplateData::Load(const std::string& path, bool withIcon) {
    return LoadXml(path, withIcon, RootName());
}

bool CFmsTemplateData::Save() {
    return Save(GetIdentifier());
}

bool CFmsTemplateData::Save(const std::string& path) {
    return SaveXml(path, RootName(), CommentText());
}

void CFmsTemplateData::UpgradeOldVersion() {
    if (GetVersion() == 2 && GetName() == "FMS1") m_center.Y = 1690;
    if (GetVersion() >= kCurrentVersion && GetPixelSize() != 0.0f) return;
    // Older files (and any with a pixel size of exactly 0) count in the older unit.
    for (std::size_t i = 0; i < GetItemCount(); ++i) {
        CCoreItemData* item = GetItem(static_cast<std::int64_t>(i));
        CGroupRect frame = item->GetFrameLocation();
        frame = {ToOldUnit(frame.X1), ToOldUnit(frame.Y1), ToOldUnit(frame.X2),
                 ToOldUnit(frame.Y2)};
        item->SetFrameLocation(frame);
    }
    const CGroupSize screen = GetScreenSize();
    SetScreenSize({ToOldUnit(screen.Dx), ToOldUnit(screen.Dy)});
    m_center = {ToOldUnit(m_center.X), ToOldUnit(m_center.Y)};
    SetPixelSize(1.0f);
}

// ---- CFmsData

CFmsData::CFmsData() {
    Reset(false);
}

CFmsData::~CFmsData() {
    Free(false);
}

CFmsData& CFmsData::operator=(const CFmsData& other) {
    if (this == &other) return *this;
    CFmsTemplateData::operator=(other);
    m_fmsUID = other.m_fmsUID;
    return *this;
}

void CFmsData::Free(bool withBase) {
    if (withBase) CFmsTemplateData::Free(true);
}

void CFmsData::Reset(bool withBase) {
    if (withBase) CFmsTemplateData::Reset(true);
    SetClassID(CLASSID_FMS);
    m_fmsUID.Clear();
}

void CFmsData::Read(CXmlElement& node) {
    CFmsTemplateData::Read(node);
    FreeAndReset(false);
    std::string text;
    if (ReadGroupText(node, "TemplateIdentifier", text)) SetTemplateIdentifier(text);
    if (ReadGroupText(node, "FMSUID", text)) m_fmsUID.SetText(text);
}

bool CFmsData::Write(CXmlElement& node) {
    bool ok = CFmsTemplateData::Write(node);
    ok &= node.AddTextChild("TemplateIdentifier", GetTemplateIdentifier());
    ok &= node.AddTextChild("FMSUID", m_fmsUID.GetText());
    return ok;
}

// ---- CFmsImageData

CFmsImageData::CFmsImageData() {
    Reset(false);
}

CFmsImageData::~CFmsImageData() {
    Free(false);
}

CFmsImageData& CFmsImageData::operator=(const CFmsImageData& other) {
    if (this == &other) return *this;
    CCoreImageData::operator=(other);
    m_acquisitionDate = other.m_acquisitionDate;
    m_frameType = other.m_frameType;
    m_frameImageType = other.m_frameImageType;
    for (int i = 0; i < kToothCount; ++i) SetToothNumber(other.GetToothNumber(i), i);
    for (int i = 0; i < FRAME_VALUE_COUNT; ++i) m_frameValues[i] = other.m_frameValues[i];
    return *this;
}

void CFmsImageData::Free(bool withBase) {
    if (withBase) CCoreImageData::Free(true);
}

void CFmsImageData::Reset(bool withBase) {
    if (withBase) CCoreImageData::Reset(true);
    SetClassID(CLASSID_FMS_IMAGE);
    m_acquisitionDate.Clear();
    m_frameType = 1;
    m_frameImageType = 1;
    for (std::int32_t& tooth : m_teeth) tooth = 0;
    for (std::int32_t& value : m_frameValues) value = 0;
}

std::int32_t CFmsImageData::GetToothNumber(int index) const {
    return index >= 0 && index < kToothCount ? m_teeth[index] : 0;
}

void CFmsImageData::SetToothNumber(std::int32_t value, int index) {
    if (index >= 0 && index < kToothCount) m_teeth[index] = value;
}

std::int32_t CFmsImageData::GetFrameValue(EFrameValue which) const {
    return which >= 0 && which < FRAME_VALUE_COUNT ? m_frameValues[which] : 0;
}

void CFmsImageData::SetFrameValue(EFrameValue which, std::int32_t value) {
    if (which >= 0 && which < FRAME_VALUE_COUNT) m_frameValues[which] = value;
}

void CFmsImageData::Read(CXmlElement& node) {
    CCoreImageData::Read(node);
    FreeAndReset(false);
    std::string text;
    if (ReadGroupText(node, "ImageInfos/AcquisitionDate", text)) {
        // Date in the first 8 characters, time in the last 6 of "YYYYMMDDHHMMSS"; a text with
        // no room for both takes its time from what follows the date only.
        const std::string_view all(text);
        const std::string_view time =
            all.size() >= 14 ? quorin::Right(all, 6) : quorin::Mid(all, 8, 6);
        m_acquisitionDate.SetDateTime(quorin::Left(all, 8), time, DATE_ORDER_YMD);
    }
    ReadGroupInt(node, "FrameType", m_frameType);
    ReadGroupInt(node, "FrameImageType", m_frameImageType);
    if (!ReadGroupInt(node, "TeethNumber/ToothNumber", m_teeth[0]))
        ReadGroupInt(node, "ToothNumber", m_teeth[0]);
    for (int i = 1; i < kToothCount; ++i)
        ReadGroupInt(node, std::string("TeethNumber/") + kToothNames[i], m_teeth[i]);
    for (int i = 0; i < FRAME_VALUE_COUNT; ++i)
        ReadGroupInt(node, kFrameValueNames[i], m_frameValues[i]);
}

bool CFmsImageData::Write(CXmlElement& node) {
    bool ok = CCoreImageData::Write(node);
    std::string date, time;
    m_acquisitionDate.GetDateTime(date, time, DATE_ORDER_YMD);
    std::unique_ptr<CXmlElement> info = node.CreateChild("ImageInfos", "");
    ok = ok && info && info->AddTextChild("AcquisitionDate", date + time) &&
         quorin::CloseGroupElement(*info);
    ok &= node.AddIntChild("FrameType", m_frameType);
    ok &= node.AddIntChild("FrameImageType", m_frameImageType);
    ok &= quorin::WriteGroupInts(node, "TeethNumber", kToothNames, m_teeth, kToothCount);
    for (int i = 0; i < FRAME_VALUE_COUNT; ++i)
        ok &= node.AddIntChild(kFrameValueNames[i], m_frameValues[i]);
    return ok;
}
