// Internal to the compact JPEG decoder, not part of the library's interface: the state of one
// decode, shared by the marker segments (jpegdecoder.cpp) and the decoding of the scan
// (jpegscan.cpp). TryByte is defined below for both; the other members marked inline are
// defined and used in jpegscan.cpp only, so the block loop there keeps them inlined.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "oldtiff/jpegdecoder.h"

namespace quorin::jpeg {

// Natural position of each zigzag index.
inline constexpr std::uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

inline constexpr int kInputSize = 1024;

// ---------------------------------------------------------------------------------------------
// State of one decode

struct HuffmanTable {
    bool defined = false;
    // The values in segment order, plus one zero: the all-ones code of the longest length
    // reads the entry after the last value, which is end of block.
    std::uint8_t values[257] = {};
    std::int32_t minCode[17] = {};
    std::int32_t maxCode[17] = {};  // -1: no code of that length
    std::int32_t firstIndex[17] = {};
    // Codes of up to kLookupBits bits: (length << 8) | value; 0 when longer.
    static constexpr int kLookupBits = 9;
    std::uint16_t lookup[1 << kLookupBits] = {};
    // Codes whose value bits end within kFastBits bits, decoded whole: value x 256 + run x 16
    // (AC; 0 for DC) + bits used; 0 for the others (and for DC categories above 15).
    static constexpr int kFastBits = 10;
    std::int32_t fast[1 << kFastBits] = {};
};

struct FrameComponent {
    int id = 0;
    int h = 0, v = 0;
    int quantTable = 0;
};

struct ScanComponent {
    int frameIndex = 0;
    int dcTable = 0, acTable = 0;
};

class Decoder {
  public:
    Decoder(JpegReadFn read, void* context) : m_read(read), m_context(context) {}

    int reason() const { return m_reason; }

    // Steps up to and including the frame; 0 or a decoder result.
    int ReadHeader();
    // The rest: layout, band, begin, tables, scan.
    int ReadImage(JpegBeginFn begin, JpegRowFn row);

    const std::string& comment() const { return m_comment; }
    bool hasComment() const { return m_hasComment; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int components() const { return m_componentCount; }

  private:
    void Fail(int reason) {
        if (m_reason == 0) m_reason = reason;
    }

    // Input bytes. Byte() records the end of the data as a failure; TryByte() only reports it.
    std::uint8_t Byte();
    inline bool TryByte(std::uint8_t& byte);
    int Word() {
        const int high = Byte();
        return (high << 8) | Byte();
    }
    void Skip(std::int64_t count) {
        while (count-- > 0 && m_reason == 0) Byte();
    }
    int Marker() {
        Byte();  // the 0xFF, taken as it stands
        return Byte();
    }

    // Marker segments.
    bool TableSegment(int marker);  // false when `marker` is not a table segment
    void ReadHuffmanTables();
    void ReadQuantTables();
    void ReadFrame();
    bool ReadScanHeader();

    // Entropy-coded data. The bit buffer is worked on in a local copy inside a block.
    struct Bits {
        std::uint64_t bits;
        int count;
        int padded;
    };
    void FillBits();
    inline void Refill(Bits& r);
    // A symbol and the value of the bits that follow it (the symbol is the bit count for DC,
    // its low four bits for AC), in one go; -1 when a reason was recorded.
    template <bool Dc>
    inline int Symbol(Bits& r, const HuffmanTable& table, std::int32_t& value);
    void FailPadding() {
        Fail(m_pendingMarker == kEndOfInput ? kJpegReasonEndOfData : kJpegReasonMarkerInData);
    }
    inline void Restart();

    // Consumes the bits of a fast table entry; false when they reach into the padding.
    bool TakeFast(Bits& r, std::int32_t entry) {
        const int used = entry & 0x0F;
        if (r.count - used < r.padded) return FailPadding(), false;
        r.bits <<= used;
        r.count -= used;
        return true;
    }

    // Entropy decoding and dequantisation of one block into `t` (all 0 on entry; index 8 x
    // column + row); false when a reason was recorded. `ac`: a value was placed past t(0, 0);
    // `magnitude`: every |value| is below the next power of two above it.
    inline bool DecodeBlock(const ScanComponent& sc, const std::int32_t* quant, std::int32_t* t,
                            bool& ac, std::uint32_t& magnitude);
    void DecodeScan(JpegRowFn row);

    // Input.
    JpegReadFn m_read;
    void* m_context;
    std::uint8_t m_input[kInputSize];
    int m_fill = 0;
    int m_pos = 0;
    bool m_ended = false;

    int m_reason = 0;

    // Frame.
    int m_width = 0, m_height = 0;
    int m_componentCount = 0;
    FrameComponent m_frame[4];

    // Tables: quantisation values premultiplied, in natural order.
    std::int64_t m_quant[2][64] = {};
    HuffmanTable m_dc[2];
    HuffmanTable m_ac[2];
    int m_restartInterval = 0;

    // Scan.
    int m_scanCount = 0;
    ScanComponent m_scan[4];
    std::int64_t m_predictor[4] = {};

    std::string m_comment;
    bool m_hasComment = false;

    // Bits of the entropy-coded data, left-aligned. Past a marker, zero bits are supplied and
    // counted: consuming them means the data ended early.
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    int m_paddedBits = 0;
    int m_pendingMarker = -1;  // -1 none, a marker code, or kEndOfInput
    static constexpr int kEndOfInput = 0x100;

    std::unique_ptr<std::uint8_t[]> m_band;  // one row of units, 8 pixel rows
};

inline bool Decoder::TryByte(std::uint8_t& byte) {
    if (m_pos >= m_fill) {
        if (m_ended) return false;
        const int n = m_read(m_context, m_input, kInputSize);
        if (n <= 0) {
            m_ended = true;
            return false;
        }
        m_fill = std::min(n, kInputSize);
        m_pos = 0;
    }
    byte = m_input[m_pos++];
    return true;
}

}  // namespace quorin::jpeg
