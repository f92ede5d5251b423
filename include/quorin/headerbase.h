// CHeaderBase: what every image header holds about the image itself, its size and depth, the
// file it lives in, its image type code and sub-type, and its pixel size. CHeader (header.h)
// adds the records that describe the image; the per-kind classes (headerkinds.h) add their own.
// Headers are short-lived: built for one conversion to or from the SDK record (SOMUImage).
#pragma once
#include <quorin/export.h>
#include <quorin/geometry.h>
#include <quorin/somuimage.h>

#include <cstdint>
#include <string>
#include <string_view>

class QUORIN_EXPORT CHeaderBase {
  public:
    CHeaderBase();
    CHeaderBase(const CHeaderBase&) = default;
    // Resets the whole object through the virtual table, then copies the base fields: assigning
    // a plain header into a per-kind one leaves the kind's own records at their defaults.
    CHeaderBase& operator=(const CHeaderBase& other);
    virtual ~CHeaderBase() = default;

    // Size, depth, type, sub-type 0; path empty; both pixel sizes 0.0.
    virtual void Reset();
    // Size and depth, path (folder and file name joined), type, sub-type and first pixel size.
    virtual void FromSOMU(SOMUImage& record);
    // The same fields back; `szFileName` is the last component of the path. False when the file
    // name does not fit its field (the field is then emptied, never cut).
    virtual bool ToSOMU(SOMUImage& record);

    // Width, height, samples and bits from the record's dimension block.
    void SetDimensions(const SImage& block);
    void SetWidth(std::uint16_t value) { m_width = value; }
    void SetHeight(std::uint16_t value) { m_height = value; }
    void SetBitsPerSample(std::int32_t value) { m_bitsPerSample = value; }
    void SetSamplesPerPixel(std::int32_t value) { m_samplesPerPixel = value; }
    void SetPath(std::string_view path) { m_path = path; }
    void SetImageType(std::int32_t type) { m_imageType = type; }
    void SetSubType(std::int32_t subType) { m_subType = subType; }

    std::uint16_t GetWidth() const { return m_width; }
    std::uint16_t GetHeight() const { return m_height; }
    std::int32_t GetBitsPerSample() const { return m_bitsPerSample; }
    std::int32_t GetSamplesPerPixel() const { return m_samplesPerPixel; }
    const std::string& GetPath() const { return m_path; }
    std::int32_t GetImageType() const { return m_imageType; }
    std::int32_t GetSubType() const { return m_subType; }

    // Pixel size 0 travels with the SDK record; pixel size 1 is kept for the readers.
    CPixelSize& PixelSize(int index = 0) { return m_pixelSize[index == 1 ? 1 : 0]; }
    const CPixelSize& PixelSize(int index = 0) const { return m_pixelSize[index == 1 ? 1 : 0]; }

  protected:
    std::uint16_t m_width = 0;
    std::uint16_t m_height = 0;
    std::int32_t m_bitsPerSample = 0;
    std::int32_t m_samplesPerPixel = 0;
    std::string m_path;
    std::int32_t m_imageType = 0;
    // Carried as given. Sub-type 2 keeps the checksum check from stamping the integrity mark.
    std::int32_t m_subType = 0;
    CPixelSize m_pixelSize[2];
};
