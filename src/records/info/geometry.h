// The library's own small records beside those of <quorin/geometry.h>, held by the per-kind
// headers and the pixel images: the colour look-up choice, the pixel size of intra-oral sensor
// images, the panoramic program with its point table, the cephalometric program with its two
// value arrays, and the colour settings of scanned and camera images. Each travels to and from
// its block of the SDK image record.
#pragma once
#include <quorin/geometry.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CInfosDisplay {
  public:
    CInfosDisplay() = default;
    CInfosDisplay(const CInfosDisplay&) = default;
    CInfosDisplay& operator=(const CInfosDisplay&) = default;
    virtual ~CInfosDisplay() = default;

    void SetColorLUT(std::int32_t value) { m_colorLUT = value; }
    std::int32_t GetColorLUT() const { return m_colorLUT; }

  private:
    std::int32_t m_colorLUT = 0;
};

// The pixel size of intra-oral sensor images.
class CPixelSizeZel : public CPixelSize {};

class CInfosPano {
  public:
    CInfosPano() = default;
    CInfosPano(const CInfosPano&) = default;
    CInfosPano& operator=(const CInfosPano&) = default;
    virtual ~CInfosPano() = default;

    virtual void GetProgramText(std::string& text) const;               // "P%u"
    virtual bool GetProgramText(char* buffer, std::size_t size) const;  // cut to size - 1

    void SetProgram(std::uint16_t program) { m_program = program; }
    std::uint16_t GetProgram() const { return m_program; }
    // A copy of `count` entries of 4 bytes; false (table unchanged) for count 0 or no table.
    bool SetPoints(std::uint16_t count, const std::uint32_t* points);
    // A new copy of the table (a locked global block the caller frees with FreeGlobalPointer;
    // null without points); the result is the count.
    std::uint16_t GetPoints(std::uint32_t** table) const;
    std::uint16_t GetPointCount() const { return static_cast<std::uint16_t>(m_points.size()); }
    const std::vector<std::uint32_t>& Points() const { return m_points; }

    // Program, count and points; the record owns its copy of the table.
    void FromSOMU(const SOMUPano& block);
    bool ToSOMU(SOMUPano& block) const;

  private:
    std::uint16_t m_program = 0;
    std::vector<std::uint32_t> m_points;
};

class CInfosCeph {
  public:
    CInfosCeph() { Reset(); }
    CInfosCeph(const CInfosCeph&) = default;
    CInfosCeph& operator=(const CInfosCeph&) = default;
    virtual ~CInfosCeph() = default;

    virtual void GetProgramText(std::string& text) const;  // "P%u"
    virtual bool GetProgramText(char* buffer, std::size_t size) const;
    virtual void GetAngleText(std::string& text) const;  // "%d" and the degree sign

    void Reset();
    // min(n, 8) values, the rest of the array zero.
    void SetValues1(const double* values, std::size_t n) { SetValues(m_values1, values, n); }
    void SetValues2(const double* values, std::size_t n) { SetValues(m_values2, values, n); }
    const double* GetValues1() const { return m_values1; }
    const double* GetValues2() const { return m_values2; }
    void SetProgram(std::uint16_t value) { m_program = value; }
    std::uint16_t GetProgram() const { return m_program; }
    void SetAngle(std::uint16_t value) { m_angle = value; }
    std::uint16_t GetAngle() const { return m_angle; }
    void SetValue1(std::uint16_t value) { m_value1 = value; }
    void SetValue2(std::uint16_t value) { m_value2 = value; }
    void SetValue3(std::uint16_t value) { m_value3 = value; }
    std::uint16_t GetValue1() const { return m_value1; }
    std::uint16_t GetValue2() const { return m_value2; }
    std::uint16_t GetValue3() const { return m_value3; }
    // The three flags (index 0..2), the byte after them and the byte after the angle.
    void SetFlag(int index, std::uint8_t value) {
        if (index >= 0 && index < 3) m_flags[index] = value;
    }
    std::uint8_t GetFlag(int index) const { return index >= 0 && index < 3 ? m_flags[index] : 0; }
    void SetByte(std::uint8_t value) { m_byte = value; }
    std::uint8_t GetByte() const { return m_byte; }
    void SetByte2(std::uint8_t value) { m_byte2 = value; }
    std::uint8_t GetByte2() const { return m_byte2; }

    // The record carries the first two flags as a mode value: 1 for the first, 2 for the second.
    void FromSOMU(const SOMUCeph& block);
    void ToSOMU(SOMUCeph& block) const;

  private:
    static void SetValues(double (&target)[8], const double* values, std::size_t n);

    double m_values1[8];
    double m_values2[8];
    std::uint16_t m_value1;
    std::uint16_t m_value2;
    std::uint16_t m_program;
    std::uint8_t m_flags[3];
    std::uint8_t m_byte;
    std::uint16_t m_angle;  // degrees
    std::uint8_t m_byte2;   // 1 after Reset
    std::uint16_t m_value3;
};

// Colour settings of scanned and camera images.
struct SImageSettingsSC {
    std::int32_t anValues[5] = {};
    std::uint8_t bFlag1 = 0;
    std::uint8_t bFlag2 = 0;
    std::uint8_t bSet = 1;  // set-mark: 1 once constructed

    SImageSettingsSC() = default;
    SImageSettingsSC(std::int32_t v1, std::int32_t v2, std::int32_t v3, std::int32_t v4,
                     std::int32_t v5, std::uint8_t flag1, std::uint8_t flag2);
    SImageSettingsSC(const SImageSettingsSC& other);
    SImageSettingsSC& operator=(const SImageSettingsSC& other);  // the seven values
    bool operator==(const SImageSettingsSC& other) const;        // not the set-mark

    void FromSOMU(const SOMUColorSettings& block);
    void ToSOMU(SOMUColorSettings& block) const;
};

struct CValuePair {
    std::int32_t nFirst = 0;
    std::int32_t nSecond = 0;
    void Clear() { nFirst = nSecond = 0; }
};

struct CByteFlag {
    std::uint8_t bValue = 0;
};
