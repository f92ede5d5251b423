// Small records of how an image is turned, shown and measured: orientation, the four corner
// points, the filter and the pixel size. Each travels to and from its block of the SDK image
// record.
#pragma once
#include <quorin/export.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>

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
