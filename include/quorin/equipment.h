// Records of how an image was made: the acquiring device (CEquipment), the X-ray detector
// (CDetector), the image's dates, comments and lossy-compression state (CInfosImage) and the
// exposure with its display texts (CInfosExp). Each converts to and from its block of the SDK
// image record, cutting texts to the field widths.
#pragma once
#include <quorin/datetime.h>
#include <quorin/export.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class QUORIN_EXPORT CEquipment {
  public:
    static constexpr std::string_view kManufacturer = "Quorin Radiologie";

    CEquipment() { Reset(); }
    CEquipment(const CEquipment&) = default;
    CEquipment& operator=(const CEquipment&) = default;
    virtual ~CEquipment() = default;

    void Reset();

    void SetManufacturer(std::string_view text) { m_manufacturer = text; }
    void SetModelName(std::string_view text) { m_modelName = text; }
    void SetText3(std::string_view text) { m_text3 = text; }
    void SetText11(std::string_view text) { m_text11 = text; }
    void SetSoftwareVersions(std::string_view text) { m_softwareVersions = text; }
    void SetText13(std::string_view text) { m_text13 = text; }
    void SetText14(std::string_view text) { m_text14 = text; }
    void SetInstitutionName(std::string_view text) { m_institutionName = text; }
    void SetText16(std::string_view text) { m_text16 = text; }
    void SetStationName(std::string_view text) { m_stationName = text; }
    void SetText18(std::string_view text) { m_text18 = text; }
    void SetText19(std::string_view text) { m_text19 = text; }
    // At most 324 characters (the field's width less its terminating zero).
    void SetContributingEquipment(std::string_view text);
    void SetValue16(std::uint16_t value) { m_value16 = value; }
    void SetValue32(std::int32_t value) { m_value32 = value; }

    const std::string& GetManufacturer() const { return m_manufacturer; }
    const std::string& GetModelName() const { return m_modelName; }
    const std::string& GetText3() const { return m_text3; }
    const std::string& GetText11() const { return m_text11; }
    const std::string& GetSoftwareVersions() const { return m_softwareVersions; }
    const std::string& GetText13() const { return m_text13; }
    const std::string& GetText14() const { return m_text14; }
    const std::string& GetInstitutionName() const { return m_institutionName; }
    const std::string& GetText16() const { return m_text16; }
    const std::string& GetStationName() const { return m_stationName; }
    const std::string& GetText18() const { return m_text18; }
    const std::string& GetText19() const { return m_text19; }
    const std::string& GetContributingEquipment() const { return m_contributing; }
    std::uint16_t GetValue16() const { return m_value16; }
    std::int32_t GetValue32() const { return m_value32; }
    CInfosDateTime& DateTime() { return m_dateTime; }
    const CInfosDateTime& DateTime() const { return m_dateTime; }

    // The 32-bit value has no field in the record and stays as it is.
    void FromSOMU(const SOMUEquipment& block);
    void ToSOMU(SOMUEquipment& block) const;

    // Appends the acquisition modules that the named device library reports about itself
    // ("model#version#description#Acquisition Software Module\" each, at most 5) to `out`,
    // within the contributing-equipment width. Leaves `out` alone when the library is absent.
    static void GetAcquisitionModuleVersion(const char* libraryName, std::string& out);

  private:
    std::string m_manufacturer;
    std::string m_modelName;
    std::string m_text3;
    CInfosDateTime m_dateTime;
    std::string m_text11;
    std::string m_softwareVersions;
    std::string m_text13;
    std::string m_text14;
    std::string m_institutionName;
    std::string m_text16;
    std::string m_stationName;
    std::string m_text18;
    std::string m_text19;
    std::uint16_t m_value16 = 0;
    std::int32_t m_value32 = 0;
    std::string m_contributing;
};

// One entry of a device library's version list.
struct SQVVersionEntry {
    char szText1[32];
    char szText2[32];
    char szText3[32];
    SQVVersionEntry* pNext;
};

namespace quorin {
// Appends up to 5 entries of a version list to `out` (at most 12 characters of each text), never
// letting `out` pass the contributing-equipment width less its terminating zero.
void AppendVersionEntries(const SQVVersionEntry* list, std::string& out);
}  // namespace quorin

class CDetector {
  public:
    CDetector() { Reset(); }
    CDetector(const CDetector&) = default;
    CDetector& operator=(const CDetector&) = default;
    virtual ~CDetector() = default;

    void Reset();
    void SetManufacturer(std::string_view text) { m_manufacturer = text; }
    void SetModelName(std::string_view text) { m_modelName = text; }
    void SetText3(std::string_view text) { m_text3 = text; }
    void SetValue(std::int32_t value) { m_value = value; }
    const std::string& GetManufacturer() const { return m_manufacturer; }
    const std::string& GetModelName() const { return m_modelName; }
    const std::string& GetText3() const { return m_text3; }
    std::int32_t GetValue() const { return m_value; }

    void FromSOMU(const SOMUDetector& block);
    void ToSOMU(SOMUDetector& block) const;

  private:
    std::string m_manufacturer;
    std::string m_modelName;
    std::string m_text3;
    std::int32_t m_value = 0;
};

class QUORIN_EXPORT CInfosImage {
  public:
    // The comments that fit the record's field (its width less the terminating zero).
    static constexpr std::size_t kMaxComments = kSOMUCommentsWidth - 1;

    CInfosImage() { Reset(); }
    CInfosImage(const CInfosImage&) = default;
    CInfosImage& operator=(const CInfosImage&) = default;
    virtual ~CInfosImage() = default;

    // First date-time now, second cleared, comments and ratio empty, flag and byte 0; the image
    // text stays.
    void Reset();
    void SetImageComments(std::string_view text);
    const std::string& GetImageComments() const { return m_comments; }
    void SetLossyCompression(std::int32_t flag, std::string_view ratio);
    // The flag; the ratio (empty when not lossy) when `ratio` is not null.
    std::int32_t GetLossyCompression(std::string* ratio) const;
    void SetValue(std::uint8_t value) { m_value = value; }
    std::uint8_t GetValue() const { return m_value; }
    void SetImageText(std::string_view text) { m_text = text; }
    const std::string& GetImageText() const { return m_text; }
    CInfosDateTime& DateTime1() { return m_dateTime1; }
    const CInfosDateTime& DateTime1() const { return m_dateTime1; }
    CInfosDateTime& DateTime2() { return m_dateTime2; }
    const CInfosDateTime& DateTime2() const { return m_dateTime2; }

    void FromSOMU(const SOMUImageInfo& block);
    void ToSOMU(SOMUImageInfo& block) const;

  private:
    CInfosDateTime m_dateTime1;
    std::string m_comments;
    std::int32_t m_lossy = 0;
    std::string m_ratio;
    std::uint8_t m_value = 0;
    std::string m_text;
    CInfosDateTime m_dateTime2;
};

class CInfosExp {
  public:
    CInfosExp() = default;
    CInfosExp(const CInfosExp&) = default;
    CInfosExp& operator=(const CInfosExp&) = default;
    virtual ~CInfosExp() = default;

    // Appends "70KV 7mA 120ms" (or "...1.5s" above 1000 ms); false, nothing appended, when
    // voltage, current and time are all 0.
    virtual bool GetExposureText(std::string& text) const;
    // The same text cut to size - 1 characters and terminated.
    virtual bool GetExposureText(char* buffer, std::size_t size) const;
    // Kind 1 appends the dose-area text, kind 2 the dose-length text; other kinds false.
    virtual bool GetDoseText(std::string& text, std::int32_t kind) const;

    void Reset() { *this = CInfosExp(); }
    void SetExposure(std::uint16_t voltage, std::uint16_t current, std::uint16_t time) {
        m_voltage = voltage;
        m_current = current;
        m_time = time;
    }
    void SetDoses(float area, float length) {
        m_doseArea = area;
        m_doseLength = length;
    }
    void SetValue(std::int32_t value) { m_value = value; }
    std::uint16_t GetVoltage() const { return m_voltage; }
    std::uint16_t GetCurrent() const { return m_current; }
    std::uint16_t GetTime() const { return m_time; }
    float GetDoseArea() const { return m_doseArea; }
    float GetDoseLength() const { return m_doseLength; }
    std::int32_t GetValue() const { return m_value; }

    void FromSOMU(const SOMUExposure& block);
    void ToSOMU(SOMUExposure& block) const;

  private:
    std::string ExposureText(bool unsignedTime) const;

    std::uint16_t m_voltage = 0;  // kV x 100
    std::uint16_t m_current = 0;  // mA x 100
    std::uint16_t m_time = 0;     // milliseconds
    float m_doseArea = 0.0f;      // mGy.cm2
    float m_doseLength = 0.0f;    // mGy.mm
    std::int32_t m_value = 0;
};
