// Small records of how an image is turned, shown and measured: orientation, the four corner
// points, the colour look-up choice, the filter, the pixel size, the panoramic program with its
// point table, the cephalometric program with its two value arrays, and the colour settings of
// scanned and camera images. Each travels to and from its block of the SDK image record.
#pragma once
#include <quorin/export.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QUORIN_EXPORT CInfosOrient {
  public:
    CInfosOrient() { Reset(); }
    CInfosOrient(const CInfosOrient& other) { *this = other; }
    CInfosOrient& operator=(const CInfosOrient& other);  // the four fields
    virtual ~CInfosOrient() = default;

    void Reset();
    void FromSOMU(const SOMUOrientation& block);
    void ToSOMU(SOMUOrientation& block) const;
    // Adds `angle` degrees; only 0, 90, 180 and 270 are stored (true), anything else is refused.
    bool Rotate(std::int32_t angle);

    void SetMirror(std::uint8_t value) { m_mirror = value; }
    void SetFlip(std::uint8_t value) { m_flip = value; }
    void SetValue(std::int32_t value) { m_value = value; }
    void SetRotation(std::int32_t value) { m_rotation = value; }
    std::uint8_t GetMirror() const { return m_mirror; }
    std::uint8_t GetFlip() const { return m_flip; }
    std::int32_t GetValue() const { return m_value; }
    std::int32_t GetRotation() const { return m_rotation; }
    std::uint8_t GetSetFlag(int index) const { return index >= 0 && index < 3 ? m_set[index] : 0; }

  private:
    std::uint8_t m_mirror = 0;
    std::uint8_t m_flip = 0;
    std::int32_t m_value = 0;
    std::int32_t m_rotation = 0;
    std::uint8_t m_set[3] = {1, 1, 1};
};

class QUORIN_EXPORT CInfosCorners {
  public:
    // Mask bits of the corners.
    static constexpr std::int32_t kCorner1 = 8, kCorner2 = 4, kCorner3 = 2, kCorner4 = 1;

    CInfosCorners() = default;
    CInfosCorners(const CInfosCorners&) = default;
    CInfosCorners& operator=(const CInfosCorners&) = default;
    virtual ~CInfosCorners() = default;

    void Reset() { *this = CInfosCorners(); }
    // A corner and its mask bit; (0, 0) clears the bit.
    void SetCorner1(std::int32_t x, std::int32_t y) { SetCorner(0, x, y); }
    void SetCorner2(std::int32_t x, std::int32_t y) { SetCorner(1, x, y); }
    void SetCorner3(std::int32_t x, std::int32_t y) { SetCorner(2, x, y); }
    void SetCorner4(std::int32_t x, std::int32_t y) { SetCorner(3, x, y); }
    // x1, y1, x2, y2, x3, y3, x4, y4.
    void SetCorners(const std::int32_t* values);
    bool GetCorner(int index, std::int32_t* x, std::int32_t* y) const;  // index 0..3
    std::int32_t GetMask() const { return m_mask; }

    void Rotate(std::int32_t angle);
    void Mirror();
    void Flip();

    void FromSOMU(const std::int32_t (&corners)[8]) { SetCorners(corners); }
    void ToSOMU(std::int32_t (&corners)[8]) const;

  private:
    void SetCorner(int index, std::int32_t x, std::int32_t y);

    std::int32_t m_x[4] = {};
    std::int32_t m_y[4] = {};
    std::int32_t m_mask = 0;
};

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

class QUORIN_EXPORT CInfosFilter {
  public:
    CInfosFilter() = default;
    // Copies filter, parameter and processed flag.
    CInfosFilter(const CInfosFilter& other)
        : m_filter(other.m_filter),
          m_parameter(other.m_parameter),
          m_processed(other.m_processed) {}
    CInfosFilter& operator=(const CInfosFilter&) = default;
    virtual ~CInfosFilter() = default;

    void Reset();
    // A processed copy keeps no filter: both become 0 then.
    void SetFilter(std::int32_t filter, std::int32_t parameter);
    // The filter; the parameter only with a filter (else 0).
    std::int32_t GetFilter(std::int32_t* filter, std::int32_t* parameter) const;
    void SetProcessed(std::int32_t value) { m_processed = value; }
    std::int32_t GetProcessed() const { return m_processed; }
    std::uint8_t GetSetFlag(int index) const { return index == 0 ? m_set1 : m_set2; }

  private:
    std::int32_t m_filter = 0;
    std::int32_t m_parameter = 0;
    std::int32_t m_processed = 0;
    std::uint8_t m_set1 = 1;
    std::uint8_t m_set2 = 1;
};

class QUORIN_EXPORT CPixelSize {
  public:
    CPixelSize() = default;
    CPixelSize(const CPixelSize&) = default;
    CPixelSize& operator=(const CPixelSize&) = default;
    virtual ~CPixelSize() = default;

    void Set(double x, double y) {
        m_x = x;
        m_y = y;
    }
    // x and y from the first two values; false (nothing changed) with fewer than two.
    bool SetFromArray(const double* values, std::size_t count);
    bool IsSet() const;
    double GetX() const { return m_x; }
    double GetY() const { return m_y; }

  private:
    double m_x = 0.0;  // millimetres
    double m_y = 0.0;
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
