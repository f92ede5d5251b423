// Compact baseline JPEG decoder.
//
// The arithmetic is the decoder's own and is kept exactly: quantisation values premultiplied by
// 65,536 x 0.25 x C(row) x C(column) (truncated), a separable 8-point transform with a 4,096
// cosine table, shifts by 12 after dequantisation and after each pass and by 4 at the end, and
// 16-bit colour factors. Intermediates are 64-bit so that hostile coefficients cannot wrap.
#include "nativefiles/jpegdecoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/file.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Fixed tables

// Natural position of each zigzag index.
constexpr std::uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// T(m) = 4,096 x cos(m x pi / 16), truncated.
constexpr std::int32_t kCosine[8] = {4096, 4017, 3784, 3405, 2896, 2275, 1567, 799};

// cos((2x + 1) u pi / 16) as a signed entry of the cosine table.
constexpr std::int32_t CosineEntry(int x, int u) {
    int a = ((2 * x + 1) * u) % 32;  // angle in sixteenths of pi
    if (a > 16) a = 32 - a;          // cos is even around 2 pi
    if (a < 8) return kCosine[a];
    if (a == 8) return 0;
    return -kCosine[16 - a];
}

struct TransformTable {
    std::int32_t c[8][8];  // [x][u]
};
constexpr TransformTable MakeTransformTable() {
    TransformTable t{};
    for (int x = 0; x < 8; ++x)
        for (int u = 0; u < 8; ++u) t.c[x][u] = CosineEntry(x, u);
    return t;
}
constexpr TransformTable kTransform = MakeTransformTable();
static_assert(kTransform.c[1][2] == kCosine[6] && kTransform.c[1][6] == -kCosine[2] &&
              kTransform.c[1][4] == -kCosine[4] && kTransform.c[2][2] == -kCosine[6] &&
              kTransform.c[2][6] == kCosine[2] && kTransform.c[3][2] == -kCosine[2] &&
              kTransform.c[3][4] == kCosine[4] && kTransform.c[3][6] == -kCosine[6] &&
              kTransform.c[0][2] == kCosine[2] && kTransform.c[0][6] == kCosine[6]);

// 65,536 x 0.25 x C(row) x C(column) truncated in double precision: 8,191 at (0, 0).
constexpr std::int32_t QuantFactor(int k) {
    const int row = k / 8, column = k % 8;
    if (row == 0 && column == 0) return 8191;
    if (row == 0 || column == 0) return 11585;
    return 16384;
}

// Bounds that no 8-bit baseline stream reaches; they keep hostile values inside 64 bits.
constexpr std::int64_t kPredictorLimit = std::int64_t{1} << 40;
constexpr std::int32_t kCoefficientLimit = std::int32_t{1} << 16;
// With coefficients inside that limit every transform output fits an int after the last
// shift: |t| < 2^26, |row pass| < 2^29, |column pass| < 2^32, >> 4 < 2^28.

constexpr int kInputSize = 1024;

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
    bool TryByte(std::uint8_t& byte);
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

    // Entropy-coded data.
    void FillBits();
    void DropBits(int count);
    // A symbol and the value of the bits that follow it (the symbol is the bit count for DC,
    // its low four bits for AC), in one go.
    int DecodeSymbolAndValue(const HuffmanTable& table, bool dc, std::int32_t& value);
    void Restart();

    // Coefficients in natural order; `rows` and `columns` mark where they are not 0.
    bool DecodeBlock(int scanIndex, std::int32_t* block, unsigned& rows, unsigned& columns);
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

bool Decoder::TryByte(std::uint8_t& byte) {
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

std::uint8_t Decoder::Byte() {
    std::uint8_t byte = 0;
    if (!TryByte(byte)) Fail(kJpegReasonEndOfData);
    return byte;
}

bool Decoder::TableSegment(int marker) {
    switch (marker) {
        case 0xC4:
            ReadHuffmanTables();
            return true;
        case 0xDB:
            ReadQuantTables();
            return true;
        case 0xDD: {
            const int length = Word();
            if (length != 4) {
                Fail(kJpegReasonDriLength);
                return true;
            }
            m_restartInterval = Word();
            return true;
        }
        case 0xFE: {
            const int length = Word();
            if (length < 2) {
                Fail(kJpegReasonSegmentLength);
                return true;
            }
            try {
                m_comment.assign(static_cast<std::size_t>(length - 2), '\0');
            } catch (const std::bad_alloc&) {
                Fail(kJpegReasonNoMemory);
                return true;
            }
            for (char& c : m_comment) c = static_cast<char>(Byte());
            m_hasComment = true;
            return true;
        }
        case 0xCC:
            Fail(kJpegReasonDac);
            return true;
        default:
            if (marker >= 0xE0 && marker <= 0xEF) {
                const int length = Word();
                if (length < 2) {
                    Fail(kJpegReasonSegmentLength);
                    return true;
                }
                Skip(length - 2);
                return true;
            }
            return false;
    }
}

void Decoder::ReadHuffmanTables() {
    const int length = Word();
    if (length < 2) return Fail(kJpegReasonSegmentLength);
    int left = length - 2;
    while (left > 0 && m_reason == 0) {
        if (left < 17) return Fail(kJpegReasonHuffmanCounts);
        const int classAndNumber = Byte();
        const int number = classAndNumber & 0x0F;
        const int tableClass = classAndNumber >> 4;
        if (tableClass > 1 || number > 1) return Fail(kJpegReasonHuffmanClass);
        int counts[17] = {};
        int total = 0;
        for (int l = 1; l <= 16; ++l) total += counts[l] = Byte();
        left -= 17;
        if (total == 0 || total > 256 || total > left) return Fail(kJpegReasonHuffmanCounts);

        HuffmanTable& t = tableClass == 0 ? m_dc[number] : m_ac[number];
        t = HuffmanTable{};
        for (int i = 0; i < total; ++i) t.values[i] = Byte();
        left -= total;

        // Canonical codes: consecutive within a length, doubled when the length grows.
        std::int32_t code = 0;
        int index = 0, longest = 0;
        for (int l = 1; l <= 16; ++l) {
            t.firstIndex[l] = index;
            t.minCode[l] = code;
            if (counts[l] == 0) {
                t.maxCode[l] = -1;
            } else {
                code += counts[l];
                index += counts[l];
                t.maxCode[l] = code - 1;
                longest = l;
            }
            code <<= 1;
        }
        // An over-full count list would make codes wider than their length; such a table has
        // no sound reading.
        if (t.maxCode[longest] >= (1 << longest)) return Fail(kJpegReasonHuffmanCounts);
        ++t.maxCode[longest];

        // Short codes through one look-up, built with the same rule as the bitwise search.
        for (int p = 0; p < (1 << HuffmanTable::kLookupBits); ++p) {
            std::int32_t c = 0;
            for (int l = 1; l <= HuffmanTable::kLookupBits; ++l) {
                c = (c << 1) | ((p >> (HuffmanTable::kLookupBits - l)) & 1);
                if (t.maxCode[l] >= 0 && c <= t.maxCode[l]) {
                    const int value = t.values[t.firstIndex[l] + c - t.minCode[l]];
                    t.lookup[p] = static_cast<std::uint16_t>((l << 8) | value);
                    break;
                }
            }
        }
        t.defined = true;
    }
}

void Decoder::ReadQuantTables() {
    const int length = Word();
    if (length < 67) return Fail(kJpegReasonDqtLength);
    int left = length - 2;
    while (left >= 65 && m_reason == 0) {
        const int precisionAndNumber = Byte();
        --left;
        if ((precisionAndNumber >> 4) != 0) {
            Fail(kJpegReasonDqtPrecision);
            break;
        }
        const int number = precisionAndNumber & 0x0F;
        if (number > 1) {
            Fail(kJpegReasonDqtNumber);
            break;
        }
        for (int i = 0; i < 64; ++i) {
            const int k = kZigzagToNatural[i];
            m_quant[number][k] = static_cast<std::int64_t>(Byte()) * QuantFactor(k);
        }
        left -= 64;
    }
    if (left != 0) m_reason = kJpegReasonDqtLeftover;
}

void Decoder::ReadFrame() {
    const int length = Word();
    if (Byte() != 8) return Fail(kJpegReasonSofPrecision);
    if (length < 9) return Fail(kJpegReasonSofLength);
    if ((length - 8) % 3 != 0) return Fail(kJpegReasonSofLengthMultiple);
    m_height = Word();
    m_width = Word();
    const int count = Byte();
    if (count == 0) return Fail(kJpegReasonSofNoComponents);
    if (count != (length - 8) / 3) return Fail(kJpegReasonSofComponentCount);
    if (count > 4) return Fail(kJpegReasonTooManyComponents);
    m_componentCount = count;
    for (int i = 0; i < count; ++i) {
        FrameComponent& c = m_frame[i];
        c.id = Byte();
        const int sampling = Byte();
        c.h = sampling >> 4;
        c.v = sampling & 0x0F;
        c.quantTable = Byte();
        if (c.quantTable > 1) return Fail(kJpegReasonDqtNumber);
    }
}

int Decoder::ReadHeader() {
    if (Byte() != 0xFF || Byte() != 0xD8) return kJpegNoSoi;
    int marker = Marker();
    while (m_reason == 0 && TableSegment(marker)) {
        if (m_reason != 0) break;
        marker = Marker();
    }
    if (m_reason != 0) return kJpegBadTables;
    switch (marker) {
        case 0xC0:
            ReadFrame();
            break;
        case 0xC1:
            Fail(kJpegReasonSof1);
            break;
        case 0xC2:
            Fail(kJpegReasonSof2);
            break;
        case 0xC3:
            Fail(kJpegReasonSof3);
            break;
        case 0xC5:
            Fail(kJpegReasonSof5);
            break;
        case 0xC6:
            Fail(kJpegReasonSof6);
            break;
        case 0xC7:
            Fail(kJpegReasonSof7);
            break;
        default:
            Fail(kJpegReasonNoFrame);
            break;
    }
    return m_reason != 0 ? kJpegBadFrame : kJpegOk;
}

bool Decoder::ReadScanHeader() {
    const int length = Word();
    if (length < 6) return Fail(kJpegReasonSosLength), false;
    const int count = Byte();
    if (count < 1 || count > 4) return Fail(kJpegReasonSosComponentCount), false;
    if (length != 6 + 2 * count) return Fail(kJpegReasonSosLengthCount), false;
    bool seen[4] = {};
    for (int i = 0; i < count; ++i) {
        const int id = Byte();
        const int tables = Byte();
        int index = -1;
        for (int f = 0; f < m_componentCount; ++f)
            if (m_frame[f].id == id) index = f;
        if (index < 0) return Fail(kJpegReasonScanComponent), false;
        if (seen[index]) return Fail(kJpegReasonSampling), false;
        seen[index] = true;
        m_scan[i].frameIndex = index;
        m_scan[i].dcTable = tables >> 4;
        m_scan[i].acTable = tables & 0x0F;
        if (m_scan[i].dcTable > 1 || m_scan[i].acTable > 1)
            return Fail(kJpegReasonTableNumber), false;
    }
    Skip(3);  // spectral selection and successive approximation: baseline values
    // One scan holds the whole picture: every frame component once.
    if (count != m_componentCount) return Fail(kJpegReasonSampling), false;
    m_scanCount = count;
    return m_reason == 0;
}

// ---------------------------------------------------------------------------------------------
// Entropy-coded data

void Decoder::FillBits() {
    // Plain data bytes straight from the input buffer.
    if (m_pendingMarker < 0) {
        while (m_bitCount <= 56 && m_pos < m_fill && m_input[m_pos] != 0xFF) {
            m_bits |= static_cast<std::uint64_t>(m_input[m_pos++]) << (56 - m_bitCount);
            m_bitCount += 8;
        }
    }
    while (m_bitCount <= 56) {
        std::uint8_t byte = 0;
        if (m_pendingMarker < 0) {
            if (!TryByte(byte)) {
                m_pendingMarker = kEndOfInput;
            } else if (byte == 0xFF) {
                std::uint8_t next = 0;
                if (!TryByte(next))
                    m_pendingMarker = kEndOfInput;
                else if (next != 0x00)
                    m_pendingMarker = next;
                if (m_pendingMarker >= 0) byte = 0;
            }
        }
        if (m_pendingMarker >= 0) m_paddedBits += 8;
        m_bits |= static_cast<std::uint64_t>(byte) << (56 - m_bitCount);
        m_bitCount += 8;
    }
}

void Decoder::DropBits(int count) {
    // Bits past the marker are padding: taking them means the data ended inside a block.
    if (m_bitCount - count < m_paddedBits) {
        if (m_pendingMarker == kEndOfInput)
            Fail(kJpegReasonEndOfData);
        else
            Fail(kJpegReasonMarkerInData);
    }
    m_bits <<= count;
    m_bitCount -= count;
    if (m_paddedBits > m_bitCount) m_paddedBits = m_bitCount;
}

inline int Decoder::DecodeSymbolAndValue(const HuffmanTable& t, bool dc, std::int32_t& value) {
    value = 0;
    if (m_bitCount < 32) FillBits();  // at least 57 bits now, padding included
    const std::uint32_t peek = static_cast<std::uint32_t>(m_bits >> 48);
    int length = 0, symbol = -1;
    const std::uint16_t hit = t.lookup[peek >> (16 - HuffmanTable::kLookupBits)];
    if (hit != 0) {
        length = hit >> 8;
        symbol = hit & 0xFF;
    } else {
        for (int l = HuffmanTable::kLookupBits + 1; l <= 16; ++l) {
            const std::int32_t code = static_cast<std::int32_t>(peek >> (16 - l));
            if (t.maxCode[l] >= 0 && code <= t.maxCode[l]) {
                length = l;
                symbol = t.values[t.firstIndex[l] + code - t.minCode[l]];
                break;
            }
        }
        if (symbol < 0) {
            Fail(kJpegReasonBadCode);
            return -1;
        }
    }
    const int size = dc ? symbol : (symbol & 0x0F);
    if (size == 0 || size > 15) {
        DropBits(length);
        return symbol;
    }
    const std::int32_t v = static_cast<std::int32_t>((m_bits << length) >> (64 - size));
    // Top bit set: the value itself; else a negative value.
    value = (v >> (size - 1)) ? v : v + 1 - (1 << size);
    DropBits(length + size);
    return symbol;
}

void Decoder::Restart() {
    // Drop what is left of the interval's last byte and find the restart marker.
    m_bits = 0;
    m_bitCount = 0;
    m_paddedBits = 0;
    if (m_pendingMarker < 0) {
        // Look for the next marker; stray bytes before it are skipped.
        std::uint8_t byte = 0;
        while (m_pendingMarker < 0) {
            if (!TryByte(byte)) {
                m_pendingMarker = kEndOfInput;
            } else if (byte == 0xFF) {
                do {
                    if (!TryByte(byte)) m_pendingMarker = kEndOfInput;
                } while (m_pendingMarker < 0 && byte == 0xFF);
                if (m_pendingMarker < 0 && byte != 0x00) m_pendingMarker = byte;
            }
        }
    }
    if (m_pendingMarker >= 0xD0 && m_pendingMarker <= 0xD7) m_pendingMarker = -1;
    // Any other marker is left pending: the data ends there.
    for (std::int64_t& p : m_predictor) p = 0;
}

bool Decoder::DecodeBlock(int scanIndex, std::int32_t* coefficients, unsigned& rows,
                          unsigned& columns) {
    const ScanComponent& sc = m_scan[scanIndex];
    // `coefficients` arrive all 0 (the caller clears what it used).
    rows = columns = 1;  // the DC coefficient, 0 or not

    std::int32_t difference;
    const int category = DecodeSymbolAndValue(m_dc[sc.dcTable], true, difference);
    if (category < 0) return false;
    if (category > 15) return Fail(kJpegReasonDcCategory), false;
    std::int64_t& predictor = m_predictor[sc.frameIndex];
    predictor = std::clamp<std::int64_t>(predictor + difference, -kPredictorLimit, kPredictorLimit);
    coefficients[0] = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(predictor, -kCoefficientLimit, kCoefficientLimit));

    const HuffmanTable& ac = m_ac[sc.acTable];
    for (int pos = 1; pos < 64;) {
        std::int32_t value;
        const int symbol = DecodeSymbolAndValue(ac, false, value);
        if (symbol < 0) return false;
        const int run = symbol >> 4, size = symbol & 0x0F;
        if (size == 0) {
            if (run != 15) break;  // end of block
            pos += 16;
            if (pos > 64) return Fail(kJpegReasonCoefficientPosition), false;
            continue;
        }
        pos += run;
        if (pos > 63) return Fail(kJpegReasonCoefficientPosition), false;
        const int k = kZigzagToNatural[pos++];
        coefficients[k] = value;  // at most 15 bits
        rows |= 1u << (k >> 3);
        columns |= 1u << (k & 7);
    }
    return m_reason == 0;
}

// One 8-point pass: out(x) = (sum over u of in(u) x C[x][u]) >> 12. Outputs x and 7 - x share
// the even and odd halves of the sum (C[7 - x][u] = (-1)^u C[x][u]); the sums are exact, so
// splitting them, or leaving out inputs known to be 0, changes nothing. `Inputs` is 1, 4 or 8:
// the inputs from that index on are 0.
template <int Inputs>
inline void Pass(const std::int64_t* in, int stride, std::int64_t* out, int outStride) {
    if constexpr (Inputs == 1) {
        // C[x][0] is 4,096 for every x: the shift gives the input back.
        for (int x = 0; x < 8; ++x) out[x * outStride] = in[0];
    } else {
        const std::int64_t i0 = in[0], i1 = in[stride], i2 = in[2 * stride], i3 = in[3 * stride];
        std::int64_t i4 = 0, i5 = 0, i6 = 0, i7 = 0;
        if constexpr (Inputs == 8) {
            i4 = in[4 * stride];
            i5 = in[5 * stride];
            i6 = in[6 * stride];
            i7 = in[7 * stride];
        }
        // Even half: C[x][0] is 4,096 for every x, C[x][4] is +-2,896, and C[x][2], C[x][6]
        // take 3,784 and 1,567 with signs, so four sums serve all four outputs.
        const std::int64_t a0 = i0 * kCosine[0] + i4 * kCosine[4];
        const std::int64_t a1 = i0 * kCosine[0] - i4 * kCosine[4];
        const std::int64_t b0 = i2 * kCosine[2] + i6 * kCosine[6];
        const std::int64_t b1 = i2 * kCosine[6] - i6 * kCosine[2];
        const std::int64_t even[4] = {a0 + b0, a1 + b1, a1 - b1, a0 - b0};
        for (int x = 0; x < 4; ++x) {
            const std::int32_t* c = kTransform.c[x];
            std::int64_t odd = i1 * c[1] + i3 * c[3];
            if constexpr (Inputs == 8) odd += i5 * c[5] + i7 * c[7];
            out[x * outStride] = (even[x] + odd) >> 12;
            out[(7 - x) * outStride] = (even[x] - odd) >> 12;
        }
    }
}

// Dequantisation and the separable transform of a block whose coefficients are in natural
// order, `rows` and `columns` bit masks of where they are not 0; `samples` before the level
// shift.
void Transform(const std::int32_t* coefficients, unsigned rows, unsigned columns,
               const std::int64_t* quant, int* samples) {
    if (rows <= 1 && columns <= 1) {
        // DC only: both passes give t(0) back everywhere.
        const std::int64_t t0 = (quant[0] * coefficients[0]) >> 12;
        const int v = static_cast<int>(t0 >> 4);
        std::fill(samples, samples + 64, v);
        return;
    }
    std::int64_t t[64];
    for (int r = 0; r < 8; ++r) {
        if (!(rows >> r & 1)) continue;
        for (int c = 0; c < 8; ++c) {
            const int k = 8 * r + c;
            t[k] = (quant[k] * coefficients[k]) >> 12;
        }
    }
    std::int64_t g[64];
    for (int r = 0; r < 8; ++r) {
        std::int64_t* out = g + 8 * r;
        if (!(rows >> r & 1))
            std::fill(out, out + 8, 0);
        else if (columns <= 1)
            Pass<1>(t + 8 * r, 1, out, 1);
        else if (columns < 16)
            Pass<4>(t + 8 * r, 1, out, 1);
        else
            Pass<8>(t + 8 * r, 1, out, 1);
    }
    std::int64_t s[64];
    for (int x = 0; x < 8; ++x) {
        if (rows <= 1)
            Pass<1>(g + x, 8, s + x, 8);
        else if (rows < 16)
            Pass<4>(g + x, 8, s + x, 8);
        else
            Pass<8>(g + x, 8, s + x, 8);
    }
    for (int k = 0; k < 64; ++k) samples[k] = static_cast<int>(s[k] >> 4);
}

inline std::uint8_t Clamp255(std::int64_t v) {
    return static_cast<std::uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
}

void Decoder::DecodeScan(JpegRowFn rowFn) {
    const bool colour = m_componentCount == 3;
    const int unitWidth = colour ? 16 : 8;
    const std::int64_t unitsPerBand = (m_width + unitWidth - 1) / unitWidth;
    const std::int64_t stride = unitsPerBand * (colour ? 48 : 8);
    const std::int64_t bands = (m_height + 7) / 8;

    std::uint8_t* const band = m_band.get();

    std::int32_t coefficients[64] = {};
    int blocks[4][64];  // colour: Y left, Y right, Cb, Cr; grey: the one block
    bool decoding = true;
    std::int64_t unitsDone = 0;
    const std::int64_t totalUnits = unitsPerBand * bands;

    for (std::int64_t b = 0; b < bands; ++b) {
        for (std::int64_t u = 0; u < unitsPerBand; ++u) {
            if (decoding && m_restartInterval > 0 && unitsDone > 0 &&
                unitsDone % m_restartInterval == 0 && unitsDone < totalUnits)
                Restart();
            if (decoding) {
                int lumaBlock = 0;
                for (int i = 0; i < m_scanCount && decoding; ++i) {
                    const int f = m_scan[i].frameIndex;
                    const int count = colour ? m_frame[f].h * m_frame[f].v : 1;
                    for (int n = 0; n < count; ++n) {
                        unsigned rows, columns;
                        if (!DecodeBlock(i, coefficients, rows, columns)) {
                            decoding = false;
                            break;
                        }
                        const int target = f == 0 ? lumaBlock++ : f + 1;
                        Transform(coefficients, rows, columns, m_quant[m_frame[f].quantTable],
                                  blocks[target]);
                        for (int r = 0; r < 8; ++r)
                            if (rows >> r & 1)
                                std::fill(coefficients + 8 * r, coefficients + 8 * r + 8, 0);
                    }
                }
                // What could not be decoded shows mid-grey.
                if (!decoding) std::memset(blocks, 0, sizeof(blocks));
            }
            ++unitsDone;

            std::uint8_t* dst = band + u * (colour ? 48 : 8);
            if (!colour) {
                for (int r = 0; r < 8; ++r)
                    for (int c = 0; c < 8; ++c)
                        dst[r * stride + c] = Clamp255(std::int64_t{blocks[0][8 * r + c]} + 128);
                continue;
            }
            for (int r = 0; r < 8; ++r) {
                std::uint8_t* p = dst + r * stride;
                for (int i = 0; i < 8; ++i) {
                    // One chroma sample serves two neighbouring pixels.
                    const std::int64_t cb = blocks[2][8 * r + i];
                    const std::int64_t cr = blocks[3][8 * r + i];
                    const std::int64_t blue = (116064 * cb) >> 16;
                    const std::int64_t green = (-46793 * cr - 22544 * cb) >> 16;
                    const std::int64_t red = (91881 * cr) >> 16;
                    for (int half = 0; half < 2; ++half) {
                        const int px = 2 * i + half;
                        const std::int64_t y =
                            (px < 8 ? blocks[0][8 * r + px] : blocks[1][8 * r + px - 8]) + 128;
                        p[3 * px + 0] = Clamp255(y + blue);
                        p[3 * px + 1] = Clamp255(y + green);
                        p[3 * px + 2] = Clamp255(y + red);
                    }
                }
            }
        }
        const std::int64_t last = std::min<std::int64_t>(8 * b + 8, m_height);
        for (std::int64_t r = 8 * b; r < last; ++r) {
            if (rowFn != nullptr &&
                rowFn(m_context, static_cast<int>(r), band + (r - 8 * b) * stride) < 0) {
                Fail(kJpegReasonRowRefused);
                return;
            }
        }
    }
}

int Decoder::ReadImage(JpegBeginFn begin, JpegRowFn row) {
    if (m_width < 1 || m_height < 1) return Fail(kJpegReasonSize), kJpegFailed;
    if (m_componentCount == 3) {
        if (m_frame[0].h != 2 || m_frame[0].v != 1 || m_frame[1].h != 1 || m_frame[1].v != 1 ||
            m_frame[2].h != 1 || m_frame[2].v != 1)
            return Fail(kJpegReasonSampling), kJpegFailed;
    } else if (m_componentCount != 1) {
        return Fail(kJpegReasonSampling), kJpegFailed;
    }
    const std::size_t stride = static_cast<std::size_t>(
        m_componentCount == 3 ? (m_width + 15) / 16 * 48 : (m_width + 7) / 8 * 8);
    m_band.reset(new (std::nothrow) std::uint8_t[stride * 8]());
    if (!m_band) return kJpegFailed;
    if (begin != nullptr &&
        begin(m_context, m_width, m_height, m_componentCount, m_comment.c_str()) < 0)
        return kJpegFailed;

    int marker = Marker();
    while (m_reason == 0 && TableSegment(marker)) {
        if (m_reason != 0) break;
        marker = Marker();
    }
    if (m_reason != 0) return kJpegFailed;
    if (marker != 0xDA) return kJpegOk;  // no scan: no rows
    if (ReadScanHeader()) DecodeScan(row);
    return kJpegOk;
}

// ---------------------------------------------------------------------------------------------
// File callbacks

struct FileSource {
    const char* path = nullptr;
    std::FILE* file = nullptr;
    // The caller's own callbacks and context for the row road.
    void* context = nullptr;
    JpegBeginFn begin = nullptr;
    JpegRowFn row = nullptr;
    JpegEndFn end = nullptr;
};

int FileOpen(void* context) {
    auto* source = static_cast<FileSource*>(context);
    // A regular file only: a pipe or device named like a member never blocks the read.
    const int fd = quorin::OpenFileDescriptor(source->path, O_RDONLY, true);
    source->file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (source->file == nullptr && fd >= 0) ::close(fd);
    return source->file != nullptr ? 0 : -1;
}

int FileRead(void* context, std::uint8_t* buffer, int size) {
    auto* source = static_cast<FileSource*>(context);
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(size), source->file);
    return n > 0 ? static_cast<int>(n) : -1;
}

void FileClose(void* context) {
    auto* source = static_cast<FileSource*>(context);
    if (source->file != nullptr) std::fclose(source->file);
    source->file = nullptr;
}

int FileBegin(void* context, int width, int height, int components, const char* comment) {
    auto* source = static_cast<FileSource*>(context);
    return source->begin ? source->begin(source->context, width, height, components, comment) : 0;
}

int FileRow(void* context, int row, const std::uint8_t* pixels) {
    auto* source = static_cast<FileSource*>(context);
    return source->row ? source->row(source->context, row, pixels) : 0;
}

void FileEnd(void* context) {
    auto* source = static_cast<FileSource*>(context);
    if (source->end) source->end(source->context);
}

}  // namespace

int DecodeJpegStream(JpegOpenFn open, void* context, JpegReadFn read, JpegCloseFn close,
                     JpegBeginFn begin, JpegRowFn row, JpegEndFn end, int* reason) {
    if (reason != nullptr) *reason = 0;
    if (read == nullptr) return kJpegFailed;
    if (open != nullptr && open(context) < 0) return kJpegFailed;
    int result;
    {
        std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(read, context));
        if (!decoder) {
            result = kJpegFailed;
        } else {
            result = decoder->ReadHeader();
            if (result == kJpegOk) result = decoder->ReadImage(begin, row);
            if (reason != nullptr) *reason = decoder->reason();
        }
    }
    if (close != nullptr) close(context);
    if (end != nullptr) end(context);
    return result;
}

int DecodeJpegFile(const char* path, int* width, int* height, int* components, char* comment,
                   int commentSize, int* reason) {
    if (reason != nullptr) *reason = 0;
    if (path == nullptr) return kJpegFailed;
    FileSource source;
    source.path = path;
    if (FileOpen(&source) < 0) return kJpegFailed;
    int result;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(FileRead, &source));
    if (!decoder) {
        result = kJpegFailed;
    } else {
        result = decoder->ReadHeader();
        if (reason != nullptr) *reason = decoder->reason();
        if (result == kJpegOk) {
            if (width != nullptr) *width = decoder->width();
            if (height != nullptr) *height = decoder->height();
            if (components != nullptr) *components = decoder->components();
            if (comment != nullptr && commentSize > 0) {
                const std::string& text = decoder->comment();
                if (decoder->hasComment() && !text.empty())
                    std::memcpy(
                        comment, text.data(),
                        std::min<std::size_t>(static_cast<std::size_t>(commentSize), text.size()));
                else
                    comment[0] = 0;
            }
        }
    }
    FileClose(&source);
    return result;
}

int DecodeJpegFileRows(const char* path, void* context, JpegBeginFn begin, JpegRowFn row,
                       JpegEndFn end, int* reason) {
    if (path == nullptr) {
        if (reason != nullptr) *reason = 0;
        return kJpegFailed;
    }
    FileSource source;
    source.path = path;
    source.context = context;
    source.begin = begin;
    source.row = row;
    source.end = end;
    return DecodeJpegStream(FileOpen, &source, FileRead, FileClose, FileBegin, FileRow, FileEnd,
                            reason);
}

int GetJpegCommentLength(const char* path) {
    if (path == nullptr) return 0;
    FileSource source;
    source.path = path;
    if (FileOpen(&source) < 0) return 0;
    int length = 0;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(FileRead, &source));
    if (decoder && decoder->ReadHeader() == kJpegOk)
        length = static_cast<int>(decoder->comment().size());
    FileClose(&source);
    return length;
}
