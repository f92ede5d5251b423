// Creation, queries, locking and copying of packed DIBs.
#include "records/dib/dib.h"

#include <cstring>

#include "records/dib/dibbuffer.h"

using namespace win;

namespace quorin {

bool ParseDIBLayout(const void* base, std::uint64_t blockBytes, DIBLayout* layout) {
    if (base == nullptr || blockBytes < kDIBHeaderBytes) return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, base, sizeof header);
    if (header.biSize < kDIBHeaderBytes || header.biSize > blockBytes) return false;
    if (header.biWidth < 1 || header.biWidth > kMaxImageSide || header.biHeight < 1 ||
        header.biHeight > kMaxImageSide)
        return false;
    const std::uint32_t bitCount = header.biBitCount;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return false;
    DIBLayout result;
    result.width = header.biWidth;
    result.height = header.biHeight;
    result.bitCount = bitCount;
    result.stride = DIBStride(header.biWidth, bitCount);
    result.bitsOffset = header.biSize + (bitCount == 8 ? kDIBPaletteBytes : 0);
    const std::uint64_t end = result.bitsOffset + result.stride * std::uint64_t(result.height);
    if (end > blockBytes) return false;
    *layout = result;
    return true;
}

LockedDIB::LockedDIB(HGLOBAL dib) : m_dib(dib) {
    if (dib == nullptr) return;
    m_base = GlobalLock(dib);
    if (m_base == nullptr) return;
    m_valid = ParseDIBLayout(m_base, GlobalSize(dib), &m_layout);
}

LockedDIB::~LockedDIB() {
    unlock();
}

void LockedDIB::unlock() {
    if (m_base != nullptr) GlobalUnlock(m_dib);
    m_base = nullptr;
    m_valid = false;
}

RGBQUAD* LockedDIB::palette() const {
    if (!m_valid || m_layout.bitCount != 8) return nullptr;
    return reinterpret_cast<RGBQUAD*>(static_cast<std::uint8_t*>(m_base) + header()->biSize);
}

std::uint8_t* LockedDIB::bits() const {
    return m_valid ? static_cast<std::uint8_t*>(m_base) + m_layout.bitsOffset : nullptr;
}

}  // namespace quorin

using quorin::LockedDIB;

HGLOBAL CreateDIB(std::int32_t width, std::int32_t height, std::int32_t bits) {
    if (bits != 8 && bits != 24) return nullptr;
    if (width < 1 || width > quorin::kMaxImageSide || height < 1 || height > quorin::kMaxImageSide)
        return nullptr;
    const std::uint64_t stride = quorin::DIBStride(width, static_cast<std::uint32_t>(bits));
    const std::uint64_t imageBytes = stride * static_cast<std::uint64_t>(height);
    const std::uint64_t paletteBytes = bits == 8 ? quorin::kDIBPaletteBytes : 0;
    const std::uint64_t total = quorin::kDIBHeaderBytes + paletteBytes + imageBytes;
    if (total > quorin::kMaxBlockBytes) return nullptr;

    HGLOBAL dib = GlobalAlloc(GHND, static_cast<SIZE_T>(total));
    if (dib == nullptr) return nullptr;
    auto* base = static_cast<std::uint8_t*>(GlobalLock(dib));
    if (base == nullptr) {
        GlobalFree(dib);
        return nullptr;
    }
    BITMAPINFOHEADER header{};
    header.biSize = quorin::kDIBHeaderBytes;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bits);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(imageBytes);
    std::memcpy(base, &header, sizeof header);
    if (bits == 8) {
        auto* palette = reinterpret_cast<RGBQUAD*>(base + quorin::kDIBHeaderBytes);
        for (int i = 0; i < 256; ++i) {
            const BYTE level = static_cast<BYTE>(i);
            palette[i] = RGBQUAD{level, level, level, 0};
        }
    }
    GlobalUnlock(dib);
    return dib;
}

void FreeDIB(HGLOBAL dib) {
    if (dib != nullptr) GlobalFree(dib);
}

void* LockDIBBits(HGLOBAL dib) {
    if (dib == nullptr) return nullptr;
    auto* base = static_cast<std::uint8_t*>(GlobalLock(dib));
    if (base == nullptr) return nullptr;
    quorin::DIBLayout layout;
    if (!quorin::ParseDIBLayout(base, GlobalSize(dib), &layout)) {
        GlobalUnlock(dib);
        return nullptr;
    }
    return base + layout.bitsOffset;
}

void UnlockDIB(HGLOBAL dib) {
    if (dib != nullptr) GlobalUnlock(dib);
}

namespace {

// Runs `read` on the locked header of a block at least a header long; false otherwise.
template <class Read>
bool WithHeader(HGLOBAL dib, Read read) {
    if (dib == nullptr) return false;
    void* base = GlobalLock(dib);
    if (base == nullptr) return false;
    const bool ok = GlobalSize(dib) >= quorin::kDIBHeaderBytes;
    if (ok) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, base, sizeof header);
        read(header);
    }
    GlobalUnlock(dib);
    return ok;
}

}  // namespace

std::int32_t GetDIBBitCount(HGLOBAL dib) {
    std::int32_t bitCount = 0;
    WithHeader(dib, [&](const BITMAPINFOHEADER& header) { bitCount = header.biBitCount; });
    return bitCount;
}

bool GetDIBSize(HGLOBAL dib, std::int32_t* width, std::int32_t* height) {
    return WithHeader(dib, [&](const BITMAPINFOHEADER& header) {
        if (width != nullptr) *width = header.biWidth;
        if (height != nullptr) *height = header.biHeight;
    });
}

std::uint32_t GetDIBStride(HGLOBAL dib) {
    std::uint64_t stride = 0;
    WithHeader(dib, [&](const BITMAPINFOHEADER& header) {
        if (header.biWidth > 0 && header.biWidth <= quorin::kMaxImageSide)
            stride = quorin::DIBStride(header.biWidth, header.biBitCount);
    });
    return stride <= UINT32_MAX ? static_cast<std::uint32_t>(stride) : 0;
}

bool CopyDIBPalette(HGLOBAL destination, HGLOBAL source) {
    LockedDIB to(destination);
    LockedDIB from(source);
    if (to.palette() == nullptr || from.palette() == nullptr) return false;
    if (to.palette() != from.palette())
        std::memcpy(to.palette(), from.palette(), quorin::kDIBPaletteBytes);
    return true;
}

HGLOBAL DuplicateDIB(HGLOBAL dib) {
    LockedDIB source(dib);
    if (!source.valid()) return nullptr;
    const quorin::DIBLayout& layout = source.layout();
    if (layout.bitCount != 8 && layout.bitCount != 24) return nullptr;
    HGLOBAL copy =
        CreateDIB(layout.width, layout.height, static_cast<std::int32_t>(layout.bitCount));
    LockedDIB target(copy);
    if (!target.valid()) {
        target.unlock();
        FreeDIB(copy);
        return nullptr;
    }
    // The header as stored (resolution fields included), then the palette and the rows.
    std::memcpy(target.header(), source.header(), quorin::kDIBHeaderBytes);
    target.header()->biSize = quorin::kDIBHeaderBytes;
    if (layout.bitCount == 8)
        std::memcpy(target.palette(), source.palette(), quorin::kDIBPaletteBytes);
    std::memcpy(target.bits(), source.bits(), layout.stride * std::uint64_t(layout.height));
    return copy;
}
