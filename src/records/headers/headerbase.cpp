#include <quorin/headerbase.h>

#include "platform/core/path.h"
#include "sdk/somutext.h"

CHeaderBase::CHeaderBase() {
    CHeaderBase::Reset();
}

CHeaderBase& CHeaderBase::operator=(const CHeaderBase& other) {
    if (this == &other) return *this;
    Reset();
    m_width = other.m_width;
    m_height = other.m_height;
    m_bitsPerSample = other.m_bitsPerSample;
    m_samplesPerPixel = other.m_samplesPerPixel;
    m_path = other.m_path;
    m_subType = other.m_subType;
    m_imageType = other.m_imageType;
    m_pixelSize[0] = other.m_pixelSize[0];
    m_pixelSize[1] = other.m_pixelSize[1];
    return *this;
}

void CHeaderBase::Reset() {
    m_width = 0;
    m_height = 0;
    m_bitsPerSample = 0;
    m_samplesPerPixel = 0;
    m_imageType = 0;
    m_subType = 0;
    m_path.clear();
    m_pixelSize[0].Set(0.0, 0.0);
    m_pixelSize[1].Set(0.0, 0.0);
}

void CHeaderBase::SetDimensions(const SImage& block) {
    // Header sizes are 16-bit, as the files store them.
    m_width = static_cast<std::uint16_t>(block.nWidth);
    m_height = static_cast<std::uint16_t>(block.nHeight);
    m_samplesPerPixel = static_cast<std::int32_t>(block.nSamplesPerPixel);
    m_bitsPerSample = static_cast<std::int32_t>(block.nBitsPerSample);
}

void CHeaderBase::FromSOMU(SOMUImage& record) {
    SetDimensions(record.image);
    // An empty folder leaves the bare file name (never a root path).
    m_path = win::PathJoin(quorin::GetFieldText(record.szDirectory),
                           quorin::GetFieldText(record.szFileName));
    m_imageType = record.nImageType;
    m_subType = record.nSubType;
    m_pixelSize[0].Set(record.dPixelSizeX, record.dPixelSizeY);
}

bool CHeaderBase::ToSOMU(SOMUImage& record) {
    record.image.nWidth = m_width;
    record.image.nHeight = m_height;
    record.image.nBitsPerSample = static_cast<std::uint32_t>(m_bitsPerSample);
    record.image.nSamplesPerPixel = static_cast<std::uint32_t>(m_samplesPerPixel);
    // The folder goes into the record with the patient (its folder is the directory field).
    const bool nameFits = quorin::PutFieldPath(record.szFileName, win::PathFileName(m_path));
    record.nImageType = m_imageType;
    record.nSubType = m_subType;
    record.dPixelSizeX = m_pixelSize[0].GetX();
    record.dPixelSizeY = m_pixelSize[0].GetY();
    return nameFits;
}
