// Packed DIBs: a device-independent bitmap held whole in one moveable, zero-filled global block
// (40-byte header, a 256-entry palette for 8 bits, rows bottom-up padded to four bytes, 24-bit
// pixels blue-green-red). The routines create, query, lock, copy, rotate, mirror and rescale
// such blocks and turn them into raw pixel records. Every routine returns new DIBs unlocked and
// leaves the lock counts of its arguments as it found them; failures answer null, 0 or false.
#pragma once
#include <quorin/simage.h>

#include <cstdint>

#include "platform/core/globalmem.h"
#include "platform/system/bitmap.h"
#include "platform/system/gdibitmap.h"

namespace quorin {

inline constexpr std::uint32_t kDIBHeaderBytes = 40;
inline constexpr std::uint32_t kDIBPaletteBytes = 256 * 4;

// Row stride of a DIB row: the row's bytes padded to four; computed in 64 bits.
constexpr std::uint64_t DIBStride(std::int64_t width, std::uint32_t bitCount) {
    return (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
}

// Where the parts of a packed DIB lie, as read from its header and checked against its block.
struct DIBLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;  // rows, stored bottom-up
    std::uint32_t bitCount = 0;
    std::uint64_t stride = 0;
    std::uint64_t bitsOffset = 0;  // header size, plus the palette for 8 bits
};

// Reads and checks the header of a locked DIB of `blockBytes` bytes: header size at least 40,
// sides 1..65,535 (bottom-up only), the rows inside the block. False for anything else.
bool ParseDIBLayout(const void* base, std::uint64_t blockBytes, DIBLayout* layout);

// A packed DIB locked for the lifetime of this object, with its checked layout.
class LockedDIB {
  public:
    explicit LockedDIB(win::HGLOBAL dib);
    ~LockedDIB();
    LockedDIB(const LockedDIB&) = delete;
    LockedDIB& operator=(const LockedDIB&) = delete;

    bool valid() const { return m_valid; }
    void unlock();  // ends the lock early (before the block is freed)
    const DIBLayout& layout() const { return m_layout; }
    win::BITMAPINFOHEADER* header() const { return static_cast<win::BITMAPINFOHEADER*>(m_base); }
    win::RGBQUAD* palette() const;  // null unless 8 bits
    std::uint8_t* bits() const;     // the first stored (bottom) row
    std::uint8_t* row(std::int32_t storedRow) const { return bits() + storedRow * m_layout.stride; }

  private:
    win::HGLOBAL m_dib = nullptr;
    void* m_base = nullptr;
    DIBLayout m_layout;
    bool m_valid = false;
};

}  // namespace quorin

// A new 8- or 24-bit packed DIB, unlocked, zero pixels (grey ramp palette for 8 bits); null for
// other depths, sides outside 1..65,535 or a failed allocation.
win::HGLOBAL CreateDIB(std::int32_t width, std::int32_t height, std::int32_t bits);
void FreeDIB(win::HGLOBAL dib);
// Locks the DIB and returns its first stored row; the caller unlocks with UnlockDIB. Null (and
// no lock kept) for a null handle, a failed lock or a block whose rows do not fit.
void* LockDIBBits(win::HGLOBAL dib);
void UnlockDIB(win::HGLOBAL dib);
// biBitCount, or 0 for a null handle or a failed lock.
std::int32_t GetDIBBitCount(win::HGLOBAL dib);
// biWidth and biHeight (either output may be null); false for a null handle or a failed lock.
bool GetDIBSize(win::HGLOBAL dib, std::int32_t* width, std::int32_t* height);
// Row stride from biBitCount and biWidth; 0 for a null handle, a failed lock or a bad header.
std::uint32_t GetDIBStride(win::HGLOBAL dib);
// Copies the 256 palette entries of one 8-bit DIB into another; false unless both are 8-bit
// DIBs that lock.
bool CopyDIBPalette(win::HGLOBAL destination, win::HGLOBAL source);

// Transforms: each returns a new DIB (null on failure) and leaves the source unchanged.
win::HGLOBAL DuplicateDIB(win::HGLOBAL dib);
// Turned clockwise as displayed by 0, 90, 180 or 270 degrees; 8 or 24 bits.
win::HGLOBAL RotateDIB(win::HGLOBAL dib, std::int32_t angle);
// Mirrored left to right; 8 or 24 bits.
win::HGLOBAL MirrorDIB(win::HGLOBAL dib);

// Fills `image` from an 8-bit (1 sample) or 24-bit (3 samples, turned into red-green-blue) DIB
// with a new raw buffer, rows top-down; frees the DIB afterwards when `freeSource` is set.
// False (record and DIB untouched) for other depths or a failed allocation.
bool DIBToSImage(win::HGLOBAL dib, SImage* image, bool freeSource);
// Mirrors the record's pixels left to right into a new raw buffer that replaces the old one:
// one sample of 1..8 bits, one sample of 9..16 bits, or three samples of 8 bits.
bool MirrorSImage(SImage* image);

// A packed DIB of a device-dependent bitmap (BI_RGB only; BI_BITFIELDS gives null). The palette
// stands for the one selected into the screen's device context; null means the default one.
win::HGLOBAL DDBToDIB(win::HBITMAP bitmap, win::DWORD compression, win::HPALETTE palette);

// Shrinks the box (width, height) to the aspect ratio of a source of W x H, rounding halves up.
void FitSizeToAspect(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t* width,
                     std::int32_t* height);
// The first dot of the text, or null (texts are in a single-byte code page).
const char* FindExtensionDot(const char* text);
char* FindExtensionDot(char* text);
