// The library's own records beside those of <quorin/equipment.h>: the device libraries' version
// lists, the X-ray detector (CDetector) and the exposure with its display texts (CInfosExp), which
// the per-kind headers hold. Each converts to and from its block of the SDK image record.
#pragma once
#include <quorin/equipment.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
