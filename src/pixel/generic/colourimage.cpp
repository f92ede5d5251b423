#include "pixel/generic/colourimage.h"

#include <quorin/matrix.h>

#include <cstring>
#include <memory>
#include <new>

#include "pixel/image/greyops.h"
#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

CImgLEADColor::~CImgLEADColor() {
    if (m_picture != nullptr) FreeDIB(m_picture);
}

void CImgLEADColor::Replace(win::HGLOBAL picture) {
    if (m_picture != nullptr) FreeDIB(m_picture);
    m_picture = picture;
}

bool CImgLEADColor::SetFromSImage(const SImage* image) {
    if (image == nullptr || image->pPixels == nullptr || image->nSamplesPerPixel != 3 ||
        image->nBitsPerSample != 8 || image->nWidth == 0 || image->nHeight == 0 ||
        image->nWidth > quorin::kMaxImageSide || image->nHeight > quorin::kMaxImageSide)
        return false;
    const std::uint64_t rowBytes = std::uint64_t(image->nWidth) * 3;
    if (quorin::LockedBlockSize(image->pPixels) < rowBytes * image->nHeight) return false;
    win::HGLOBAL dib = CreateDIB(std::int32_t(image->nWidth), std::int32_t(image->nHeight), 24);
    if (dib == nullptr) return false;
    {
        quorin::LockedDIB locked(dib);
        if (!locked.valid()) {
            FreeDIB(dib);
            return false;
        }
        const auto* source = static_cast<const std::uint8_t*>(image->pPixels);
        for (std::uint32_t k = 0; k < image->nHeight; ++k) {
            // DIB rows are bottom-up and blue-green-red.
            const std::uint8_t* in = source + (image->nHeight - 1 - k) * rowBytes;
            std::uint8_t* out = locked.row(std::int32_t(k));
            for (std::uint64_t c = 0; c < rowBytes; c += 3) {
                out[c] = in[c + 2];
                out[c + 1] = in[c + 1];
                out[c + 2] = in[c];
            }
        }
    }
    Replace(dib);
    return true;
}

bool CImgLEADColor::GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>*) {
    if (dib == nullptr || m_picture == nullptr) return false;
    win::HGLOBAL copy = DuplicateDIB(m_picture);
    if (copy == nullptr) return false;
    if (*dib != nullptr && *dib != m_picture) FreeDIB(*dib);
    *dib = copy;
    return true;
}

bool CImgLEADColor::CopyToSImage(SImage* image) {
    if (image == nullptr || image->pPixels != nullptr || m_picture == nullptr) return false;
    quorin::LockedDIB locked(m_picture);
    if (!locked.valid() || locked.layout().bitCount != 24) return false;
    const auto width = std::uint32_t(locked.layout().width);
    const auto height = std::uint32_t(locked.layout().height);
    const std::uint64_t rowBytes = std::uint64_t(width) * 3;
    auto* block = static_cast<std::uint8_t*>(quorin::AllocLockedBlock(rowBytes * height));
    if (block == nullptr) return false;
    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint8_t* in = locked.row(std::int32_t(height - 1 - r));
        std::uint8_t* out = block + r * rowBytes;
        for (std::uint64_t c = 0; c < rowBytes; c += 3) {
            out[c] = in[c + 2];
            out[c + 1] = in[c + 1];
            out[c + 2] = in[c];
        }
    }
    image->nWidth = width;
    image->nHeight = height;
    image->nSamplesPerPixel = 3;
    image->nBitsPerSample = 8;
    image->pPixels = block;
    return true;
}

bool CImgLEADColor::Zoom(SImage* out, double factor) {
    if (out == nullptr || out->pPixels != nullptr || m_picture == nullptr) return false;
    quorin::LockedDIB locked(m_picture);
    if (!locked.valid() || locked.layout().bitCount != 24) return false;
    const auto width = std::uint32_t(locked.layout().width);
    const auto height = std::uint32_t(locked.layout().height);
    // Planes red, green, blue, rows top-down.
    std::unique_ptr<CTMatrix<unsigned char>> zoomed[3];
    for (int plane = 0; plane < 3; ++plane) {
        CTMatrix<unsigned char> pixels(height, width);
        if (pixels.IsEmpty()) return false;
        for (std::uint32_t r = 0; r < height; ++r) {
            const std::uint8_t* in = locked.row(std::int32_t(height - 1 - r)) + (2 - plane);
            unsigned char* row = pixels.RowData(r);
            for (std::uint32_t c = 0; c < width; ++c) row[c] = in[std::uint64_t(c) * 3];
        }
        zoomed[plane].reset(quorin::ZoomedPixels(pixels, factor));
        if (!zoomed[plane]) return false;
    }
    const std::uint32_t newHeight = zoomed[0]->Rows();
    const std::uint32_t newWidth = zoomed[0]->Columns();
    const std::uint64_t count = std::uint64_t(newWidth) * newHeight;
    auto* block = static_cast<std::uint8_t*>(quorin::AllocLockedBlock(count * 3));
    if (block == nullptr) return false;
    for (int plane = 0; plane < 3; ++plane) {
        const unsigned char* in = zoomed[plane]->Data();
        for (std::uint64_t k = 0; k < count; ++k) block[k * 3 + plane] = in[k];
    }
    out->nWidth = newWidth;
    out->nHeight = newHeight;
    out->nSamplesPerPixel = 3;
    out->nBitsPerSample = 8;
    out->pPixels = block;
    return true;
}

bool CImgLEADColor::MirrorHorizontal() {
    if (m_picture == nullptr) return false;
    win::HGLOBAL mirrored = MirrorDIB(m_picture);
    if (mirrored == nullptr) return false;
    Replace(mirrored);
    return true;
}

bool CImgLEADColor::Rotate(std::int32_t angle, bool) {
    if (m_picture == nullptr) return false;
    win::HGLOBAL turned = RotateDIB(m_picture, angle);
    if (turned == nullptr) return false;
    Replace(turned);
    return true;
}

std::uint32_t CImgLEADColor::GetHeight() const {
    std::int32_t height = 0;
    return m_picture != nullptr && GetDIBSize(m_picture, nullptr, &height) && height > 0
               ? std::uint32_t(height)
               : 0;
}

std::uint32_t CImgLEADColor::GetWidth() const {
    std::int32_t width = 0;
    return m_picture != nullptr && GetDIBSize(m_picture, &width, nullptr) && width > 0
               ? std::uint32_t(width)
               : 0;
}

std::uint32_t CImgLEADColor::GetBits() const {
    return m_picture != nullptr ? 8 : 0;
}

std::uint32_t CImgLEADColor::GetSamplesPerPixel() const {
    return m_picture != nullptr ? 3 : 0;
}
