// The header of each image kind: CHeader's common information plus the records only that kind
// has (exposure, display and grey look-up table of X-ray images, the panoramic and
// cephalometric programs, the intra-oral sensor record, the colour settings of camera and
// scanned images, the plate-scanner values of computed radiography). Reset sets the kind's
// image type code, which tells a reader which class to build:
//   CHeaderSC 10 (4 and 5 too)   CHeaderVL 9     CHeaderWlk 2 (a CHeaderVL)
//   CHeaderDX 7    CHeaderIO 8 (a CHeaderDX)     CHeaderZel 1 (a CHeaderIO)
//   CHeaderCeph 6  CHeaderPano 3 (CHeaderDX)     CHeaderCR 13 (a CHeaderDX)
//   CHeaderCRIO 14  CHeaderCRPano 15  CHeaderCRCeph 16 (each a CHeaderCR)
// Every class converts its base's fields first, then its own. Copies are deep; an assignment
// resets the target through its own Reset, then copies base first, own members after. The kinds
// that only retype their base, and the two intra-oral kinds, are instances of one template each.
#pragma once
#include <quorin/equipment.h>
#include <quorin/geometry.h>
#include <quorin/header.h>

#include <cstdint>
#include <string>

#include "records/core/imagetype.h"
#include "records/info/equipment.h"
#include "records/info/geometry.h"
#include "records/info/lutgray.h"
#include "records/info/sensor.h"

// A kind that converts exactly as its base kind and differs only by its image type code.
template <class Base, std::int32_t kType>
class CTHeaderRetyped : public Base {
  public:
    CTHeaderRetyped() { CTHeaderRetyped::Reset(); }

    void Reset() override {
        Base::Reset();
        this->m_imageType = kType;
    }
};

// An intra-oral kind: a retyped kind that carries the intra-oral sensor record as well.
template <class Base, std::int32_t kType>
class CTHeaderIntraOral : public CTHeaderRetyped<Base, kType> {
  public:
    void Reset() override {
        CTHeaderRetyped<Base, kType>::Reset();
        m_zel.Reset();
    }
    void FromSOMU(SOMUImage& record) override {
        Base::FromSOMU(record);
        m_zel.FromSOMU(record);
    }
    bool ToSOMU(SOMUImage& record) override {
        const bool ok = Base::ToSOMU(record);
        m_zel.ToSOMU(record);
        return ok;
    }

    CInfosZel& InfosZel() { return m_zel; }
    const CInfosZel& InfosZel() const { return m_zel; }

  private:
    CInfosZel m_zel;
};

class CHeaderSC : public CHeader {
  public:
    CHeaderSC() : m_lut(kLUTMask, kLUTEntries) { CHeaderSC::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    // The kind's own 32-bit value, carried unchanged.
    std::int32_t GetSCValue() const { return m_value; }
    void SetSCValue(std::int32_t value) { m_value = value; }
    SImageSettingsSC& Settings() { return m_settings; }
    const SImageSettingsSC& Settings() const { return m_settings; }
    CInfosDisplay& Display() { return m_display; }
    const CInfosDisplay& Display() const { return m_display; }
    CInfosLUTGray& LUTGray() { return m_lut; }
    const CInfosLUTGray& LUTGray() const { return m_lut; }

    static constexpr std::uint8_t kLUTMask = 239;
    static constexpr std::uint16_t kLUTEntries = 256;

  private:
    std::int32_t m_value = 0;
    SImageSettingsSC m_settings;
    CInfosDisplay m_display;
    CInfosLUTGray m_lut;
};

class CHeaderVL : public CHeader {
  public:
    CHeaderVL() { CHeaderVL::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    SImageSettingsSC& Settings() { return m_settings; }
    const SImageSettingsSC& Settings() const { return m_settings; }

  private:
    SImageSettingsSC m_settings;
};

// Converts exactly as CHeaderVL; only its type differs.
using CHeaderWlk = CTHeaderRetyped<CHeaderVL, IMAGE_TYPE_WLK>;

// Pixel-intensity fields of X-ray images, as the record's intensity block carries them.
struct SPixelIntensity {
    std::int32_t nValue = -1;
    std::string strText = "LIN";  // at most 16 characters in the record
    std::uint16_t nSign = 65535;
    float fValue1 = 0.0f;  // doubles in the record
    std::int32_t nValue2 = 0;
    float fValue2 = 0.0f;
};

class CHeaderDX : public CHeader {
  public:
    CHeaderDX() : m_lut(kLUTMask, kLUTEntries) { CHeaderDX::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    CInfosExp& Exposure() { return m_exposure; }
    const CInfosExp& Exposure() const { return m_exposure; }
    CInfosDisplay& Display() { return m_display; }
    const CInfosDisplay& Display() const { return m_display; }
    CInfosLUTGray& LUTGray() { return m_lut; }
    const CInfosLUTGray& LUTGray() const { return m_lut; }
    CPixelSize& DetectorPixelSpacing() { return m_detectorSpacing; }
    const CPixelSize& DetectorPixelSpacing() const { return m_detectorSpacing; }
    SPixelIntensity& PixelIntensity() { return m_intensity; }
    const SPixelIntensity& PixelIntensity() const { return m_intensity; }
    CDetector& Detector() { return m_detector; }
    const CDetector& Detector() const { return m_detector; }

    static constexpr std::uint8_t kLUTMask = 239;
    static constexpr std::uint16_t kLUTEntries = 256;

  private:
    CInfosExp m_exposure;
    CInfosDisplay m_display;
    CInfosLUTGray m_lut;
    CPixelSize m_detectorSpacing;
    SPixelIntensity m_intensity;
    CDetector m_detector;
};

using CHeaderIO = CTHeaderRetyped<CHeaderDX, IMAGE_TYPE_IO>;
using CHeaderZel = CTHeaderIntraOral<CHeaderIO, IMAGE_TYPE_ZEL>;

class CHeaderCeph : public CHeaderDX {
  public:
    CHeaderCeph() { CHeaderCeph::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    virtual const CInfosCeph& GetCephInfo() const { return m_ceph; }
    virtual void SetCephInfo(const CInfosCeph& info) { m_ceph = info; }

  private:
    CInfosCeph m_ceph;
};

class CHeaderPano : public CHeaderDX {
  public:
    CHeaderPano() { CHeaderPano::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    CInfosPano& InfosPano() { return m_pano; }
    const CInfosPano& InfosPano() const { return m_pano; }
    CInfosPanoProcess& PanoProcess() { return m_panoProcess; }
    const CInfosPanoProcess& PanoProcess() const { return m_panoProcess; }

  private:
    CInfosPano m_pano;
    CInfosPanoProcess m_panoProcess;
};

// Computed radiography (plate scanner). The second CR value shares its record field with the
// filter level of a CR intra-oral image's sensor record.
class CHeaderCR : public CHeaderDX {
  public:
    CHeaderCR() { CHeaderCR::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    // Turns the header into that of a derived image of the same patient: types 13, 15 and 16
    // become 7 (".dxfp" when processed, else ".dx"), type 14 becomes 8 (".iofp" or ".io"); a
    // new name in the patient's folder, new series and instance UIDs, the processed flag, the
    // series date-time now, numbers "1", the source as referenced image. Other types: nothing
    // changes and the result is false. False also when no name could be made (path empty).
    virtual bool ConvertToDX(bool processed);
    virtual void SetCRFlag(std::uint8_t flag) { m_crFlag = flag; }
    virtual void SetCRParameters(const CValuePair& pair) {
        m_crValue1 = pair.nFirst;
        m_crValue2 = pair.nSecond;
    }
    std::uint8_t GetCRFlag() const { return m_crFlag; }
    CValuePair GetCRParameters() const { return CValuePair{m_crValue1, m_crValue2}; }

  private:
    std::int32_t m_crValue1 = 0;
    std::int32_t m_crValue2 = 0;
    std::uint8_t m_crFlag = 0;
};

using CHeaderCRIO = CTHeaderIntraOral<CHeaderCR, IMAGE_TYPE_CRIO>;

class CHeaderCRPano : public CHeaderCR {
  public:
    CHeaderCRPano() { CHeaderCRPano::Reset(); }

    void Reset() override;
    void FromSOMU(SOMUImage& record) override;
    bool ToSOMU(SOMUImage& record) override;

    CInfosPanoProcess& PanoProcess() { return m_panoProcess; }
    const CInfosPanoProcess& PanoProcess() const { return m_panoProcess; }

  private:
    CInfosPanoProcess m_panoProcess;
};

using CHeaderCRCeph = CTHeaderRetyped<CHeaderCR, IMAGE_TYPE_CRCEPH>;
