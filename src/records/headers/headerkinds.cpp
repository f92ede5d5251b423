#include "records/headers/headerkinds.h"

#include <quorin/uid.h>

#include "sdk/somutext.h"

// ---- scanned images

void CHeaderSC::Reset() {
    CHeader::Reset();
    m_value = 0;
    m_settings = SImageSettingsSC();
    m_display = CInfosDisplay();
    m_lut = CInfosLUTGray(kLUTMask, kLUTEntries);
    m_imageType = IMAGE_TYPE_SC;
}

void CHeaderSC::FromSOMU(SOMUImage& record) {
    CHeader::FromSOMU(record);
    m_value = record.display.nScannedValue;
    m_settings.FromSOMU(record.color);
    m_display.SetColorLUT(record.display.nColorLUT);
    m_lut.FromSettings(record.display.lut);
}

bool CHeaderSC::ToSOMU(SOMUImage& record) {
    bool ok = CHeader::ToSOMU(record);
    record.display.nScannedValue = m_value;
    m_settings.ToSOMU(record.color);
    record.display.nColorLUT = m_display.GetColorLUT();
    return m_lut.ToSettings(record.display.lut) && ok;
}

// ---- visible-light and camera images

void CHeaderVL::Reset() {
    CHeader::Reset();
    m_settings = SImageSettingsSC();
    m_imageType = IMAGE_TYPE_VL;
}

void CHeaderVL::FromSOMU(SOMUImage& record) {
    CHeader::FromSOMU(record);
    m_settings.FromSOMU(record.color);
}

bool CHeaderVL::ToSOMU(SOMUImage& record) {
    const bool ok = CHeader::ToSOMU(record);
    m_settings.ToSOMU(record.color);
    return ok;
}

// ---- X-ray images

void CHeaderDX::Reset() {
    CHeader::Reset();
    m_exposure.Reset();
    m_display = CInfosDisplay();
    m_lut = CInfosLUTGray(kLUTMask, kLUTEntries);
    m_detectorSpacing.Set(0.0, 0.0);
    m_intensity = SPixelIntensity();
    m_detector.Reset();
    m_imageType = IMAGE_TYPE_DX;
}

void CHeaderDX::FromSOMU(SOMUImage& record) {
    CHeader::FromSOMU(record);
    const SOMUDisplay& display = record.display;
    m_exposure.FromSOMU(display.exposure);
    m_display.SetColorLUT(display.nColorLUT);
    m_lut.FromSettings(display.lut);
    m_detectorSpacing.Set(display.dDetectorSpacingX, display.dDetectorSpacingY);
    const SOMUIntensity& intensity = display.intensity;
    m_intensity.nValue = intensity.nValue;
    m_intensity.strText = quorin::GetFieldText(intensity.szText);
    m_intensity.nSign = intensity.nSign;
    m_intensity.fValue1 = static_cast<float>(intensity.dValue1);
    m_intensity.nValue2 = intensity.nValue2;
    m_intensity.fValue2 = static_cast<float>(intensity.dValue2);
    m_detector.FromSOMU(display.detector);
}

bool CHeaderDX::ToSOMU(SOMUImage& record) {
    const bool ok = CHeader::ToSOMU(record);
    SOMUDisplay& display = record.display;
    m_exposure.ToSOMU(display.exposure);
    display.nColorLUT = m_display.GetColorLUT();
    const bool lutOk = m_lut.ToSettings(display.lut);
    display.dDetectorSpacingX = m_detectorSpacing.GetX();
    display.dDetectorSpacingY = m_detectorSpacing.GetY();
    SOMUIntensity& intensity = display.intensity;
    intensity.nValue = m_intensity.nValue;
    quorin::PutFieldText(intensity.szText, m_intensity.strText);
    intensity.nSign = m_intensity.nSign;
    intensity.dValue1 = m_intensity.fValue1;
    intensity.nValue2 = m_intensity.nValue2;
    intensity.dValue2 = m_intensity.fValue2;
    m_detector.ToSOMU(display.detector);
    return ok && lutOk;
}

void CHeaderCeph::Reset() {
    CHeaderDX::Reset();
    m_ceph.Reset();
    m_imageType = IMAGE_TYPE_CEPH;
}

void CHeaderCeph::FromSOMU(SOMUImage& record) {
    CHeaderDX::FromSOMU(record);
    m_ceph.FromSOMU(record.ceph);
}

bool CHeaderCeph::ToSOMU(SOMUImage& record) {
    const bool ok = CHeaderDX::ToSOMU(record);
    m_ceph.ToSOMU(record.ceph);
    return ok;
}

void CHeaderPano::Reset() {
    CHeaderDX::Reset();
    m_pano = CInfosPano();
    m_panoProcess.Reset();
    m_imageType = IMAGE_TYPE_PANO;
}

void CHeaderPano::FromSOMU(SOMUImage& record) {
    CHeaderDX::FromSOMU(record);
    m_pano.FromSOMU(record.pano);
    m_panoProcess.FromSOMU(record.pano);
}

bool CHeaderPano::ToSOMU(SOMUImage& record) {
    const bool ok = CHeaderDX::ToSOMU(record);
    const bool pointsOk = m_pano.ToSOMU(record.pano);
    m_panoProcess.ToSOMU(record.pano);
    return ok && pointsOk;
}

// ---- computed radiography

void CHeaderCR::Reset() {
    CHeaderDX::Reset();
    m_crValue1 = 0;
    m_crValue2 = 0;
    m_crFlag = 0;
    m_imageType = IMAGE_TYPE_CR;
}

void CHeaderCR::FromSOMU(SOMUImage& record) {
    CHeaderDX::FromSOMU(record);
    m_crFlag = record.cr.bFlag;
    m_crValue1 = record.cr.nValue1;
    m_crValue2 = record.cr.nValue2;
}

bool CHeaderCR::ToSOMU(SOMUImage& record) {
    const bool ok = CHeaderDX::ToSOMU(record);
    record.cr.bFlag = m_crFlag;
    record.cr.nValue1 = m_crValue1;
    record.cr.nValue2 = m_crValue2;
    return ok;
}

bool CHeaderCR::ConvertToDX(bool processed) {
    std::int32_t newType = 0;
    const char* ext = nullptr;
    switch (m_imageType) {
        case IMAGE_TYPE_CR:
        case IMAGE_TYPE_CRPANO:
        case IMAGE_TYPE_CRCEPH:
            newType = IMAGE_TYPE_DX;
            ext = processed ? ".dxfp" : ".dx";
            break;
        case IMAGE_TYPE_CRIO:
            newType = IMAGE_TYPE_IO;
            ext = processed ? ".iofp" : ".io";
            break;
        default:
            return false;
    }
    CImageGroup& group = ImageGroup();
    const std::string sourceUID = group.InstanceUID().GetText();
    const std::int32_t sourceType = m_imageType;
    m_imageType = newType;
    const bool named = MakeNewFilePath(newType, ext);
    // Empty texts have fresh UIDs generated.
    group.SetSeriesUID("");
    group.SetInstanceUID("");
    Filter().SetProcessed(processed ? 1 : 0);
    group.DateTime().SetNow();
    group.SetSeriesNumber("1");
    group.SetInstanceNumber("1");
    group.SetReferencedImage(sourceUID, sourceType, 0);
    return named;
}

void CHeaderCRPano::Reset() {
    CHeaderCR::Reset();
    m_panoProcess.Reset();
    m_imageType = IMAGE_TYPE_CRPANO;
}

void CHeaderCRPano::FromSOMU(SOMUImage& record) {
    CHeaderCR::FromSOMU(record);
    m_panoProcess.FromSOMU(record.pano);
}

bool CHeaderCRPano::ToSOMU(SOMUImage& record) {
    const bool ok = CHeaderCR::ToSOMU(record);
    m_panoProcess.ToSOMU(record.pano);
    return ok;
}
