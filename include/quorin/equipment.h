// Records of how an image was made: the acquiring device (CEquipment) and the image's dates,
// comments and lossy-compression state (CInfosImage). Each converts to and from its block of the
// SDK image record, cutting texts to the field widths.
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
