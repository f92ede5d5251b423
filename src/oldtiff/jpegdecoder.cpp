// Compact baseline JPEG decoder.
//
// The arithmetic is the decoder's own and is kept exactly: quantisation values premultiplied by
// 65,536 x 0.25 x C(row) x C(column) (truncated), a separable 8-point transform with a 4,096
// cosine table, shifts by 12 after dequantisation and after each pass and by 4 at the end, and
// 16-bit colour factors. Every sum is exact: a block whose values and row-pass results fit 16
// bits (checked per block; in practice every block of a stream made from 8-bit pictures) goes
// through SSE2 in 16- and 32-bit lanes; any other block (hostile coefficients or quantisation
// values) goes through 64-bit intermediates, so nothing wraps and both roads give the same bytes.
//
// The work is split by stage: entropy decoding with dequantisation (DecodeBlock), the inverse
// transform (TransformBlock), placing units in the band (PlaceGrey, PlaceColour), driven band by
// band by DecodeScan.
#include "oldtiff/jpegdecoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/files/file.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Fixed tables

// Natural position of each zigzag index.
constexpr std::uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Position of each zigzag index in a block stored transposed (8 x column + row).
struct ZigzagTable {
    std::uint8_t index[64];
};
constexpr ZigzagTable MakeZigzagToTransposed() {
    ZigzagTable t{};
    for (int i = 0; i < 64; ++i)
        t.index[i] =
            static_cast<std::uint8_t>(8 * (kZigzagToNatural[i] % 8) + kZigzagToNatural[i] / 8);
    return t;
}
constexpr ZigzagTable kZigzagTransposed = MakeZigzagToTransposed();
constexpr const std::uint8_t* kZigzagToTransposed = kZigzagTransposed.index;

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

    // Entropy-coded data. The bit buffer is worked on in a local copy inside a block.
    struct Bits {
        std::uint64_t bits;
        int count;
        int padded;
    };
    void FillBits();
    void Refill(Bits& r);
    // A symbol and the value of the bits that follow it (the symbol is the bit count for DC,
    // its low four bits for AC), in one go; -1 when a reason was recorded.
    template <bool Dc>
    int Symbol(Bits& r, const HuffmanTable& table, std::int32_t& value);
    void FailPadding() {
        Fail(m_pendingMarker == kEndOfInput ? kJpegReasonEndOfData : kJpegReasonMarkerInData);
    }
    void Restart();

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
    bool DecodeBlock(const ScanComponent& sc, const std::int32_t* quant, std::int32_t* t, bool& ac,
                     std::uint32_t& magnitude);
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
        for (int p = 0; p < (1 << HuffmanTable::kFastBits); ++p) {
            // The code these bits begin with, by the same rule as the bitwise search.
            std::int32_t c = 0;
            int length = 0, symbol = 0;
            for (int l = 1; l <= HuffmanTable::kFastBits && length == 0; ++l) {
                c = (c << 1) | ((p >> (HuffmanTable::kFastBits - l)) & 1);
                if (t.maxCode[l] >= 0 && c <= t.maxCode[l]) {
                    length = l;
                    symbol = t.values[t.firstIndex[l] + c - t.minCode[l]];
                }
            }
            if (length == 0 || (tableClass == 0 && symbol > 15)) continue;
            const int size = symbol & 0x0F, used = length + size;
            if (used > HuffmanTable::kFastBits) continue;
            std::int32_t value = 0;
            if (size != 0) {
                const int v = (p >> (HuffmanTable::kFastBits - used)) & ((1 << size) - 1);
                value = (v >> (size - 1)) ? v : v + 1 - (1 << size);
            }
            t.fast[p] = value * 256 + (symbol >> 4) * 16 + used;  // DC: symbol >> 4 is 0
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

// Keeps at least 32 bits in the buffer: eight plain bytes at once when no 0xFF is among them,
// else byte by byte with the stuffing and marker rules of FillBits.
inline void Decoder::Refill(Bits& r) {
    if (m_pendingMarker < 0 && m_pos + 8 <= m_fill) {
        std::uint64_t word;
        std::memcpy(&word, m_input + m_pos, 8);
        word = __builtin_bswap64(word);
        const std::uint64_t inverted = ~word;  // a 0xFF byte becomes a zero byte
        if (((inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u) == 0) {
            const int bytes = (64 - r.count) >> 3;  // as many as fit: 4 to 8
            r.bits |= (word >> (64 - 8 * bytes)) << (64 - 8 * bytes - r.count);
            r.count += 8 * bytes;
            m_pos += bytes;
            return;
        }
    }
    m_bits = r.bits;
    m_bitCount = r.count;
    m_paddedBits = r.padded;
    FillBits();
    r = {m_bits, m_bitCount, m_paddedBits};
}

template <bool Dc>
inline int Decoder::Symbol(Bits& r, const HuffmanTable& t, std::int32_t& value) {
    if (r.count < 32) Refill(r);  // 57 bits or more now, padding included
    const std::uint32_t peek = static_cast<std::uint32_t>(r.bits >> 48);
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
        if (symbol < 0) return Fail(kJpegReasonBadCode), -1;
    }
    // A DC category above 15 takes no value bits (the caller refuses it).
    int size = Dc ? symbol : (symbol & 0x0F);
    if (size > 15) size = 0;
    const int used = length + size;
    // Bits past the marker are padding: taking them means the data ended inside a block.
    if (r.count - used < r.padded) return FailPadding(), -1;
    value = 0;
    if (size != 0) {
        const std::int32_t v = static_cast<std::int32_t>((r.bits << length) >> (64 - size));
        // Top bit set: the value itself; else a negative value.
        value = (v >> (size - 1)) ? v : v + 1 - (1 << size);
    }
    r.bits <<= used;
    r.count -= used;
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

bool Decoder::DecodeBlock(const ScanComponent& sc, const std::int32_t* quant, std::int32_t* t,
                          bool& ac, std::uint32_t& magnitude) {
    // `t` arrives all 0; `quant` is in zigzag order.
    Bits r{m_bits, m_bitCount, m_paddedBits};
    const auto finish = [&](bool ok) {
        m_bits = r.bits;
        m_bitCount = r.count;
        m_paddedBits = r.padded;
        return ok;
    };
    if (r.count < 32) Refill(r);
    const HuffmanTable& dcTable = m_dc[sc.dcTable];
    const std::int32_t dcEntry = dcTable.fast[r.bits >> (64 - HuffmanTable::kFastBits)];
    std::int32_t difference;
    if (dcEntry != 0) {
        if (!TakeFast(r, dcEntry)) return finish(false);
        difference = dcEntry >> 8;
    } else {
        const int category = Symbol<true>(r, dcTable, difference);
        if (category < 0) return finish(false);
        if (category > 15) return Fail(kJpegReasonDcCategory), finish(false);
    }
    std::int64_t& predictor = m_predictor[sc.frameIndex];
    predictor = std::clamp<std::int64_t>(predictor + difference, -kPredictorLimit, kPredictorLimit);
    const std::int64_t dc =
        std::clamp<std::int64_t>(predictor, -kCoefficientLimit, kCoefficientLimit);
    const std::int32_t t0 = static_cast<std::int32_t>((quant[0] * dc) >> 12);
    t[0] = t0;
    // The values' magnitudes less 1 for negatives, OR-ed: their bit length bounds every value.
    std::uint32_t bound = static_cast<std::uint32_t>(t0 ^ (t0 >> 31));

    const HuffmanTable& table = m_ac[sc.acTable];
    bool any = false;
    for (int pos = 1; pos < 64;) {
        if (r.count < 32) Refill(r);
        const std::int32_t entry = table.fast[r.bits >> (64 - HuffmanTable::kFastBits)];
        int run;
        std::int32_t value;  // 0 only for end of block and runs of 16
        if (entry != 0) {
            if (!TakeFast(r, entry)) return finish(false);
            run = (entry >> 4) & 0x0F;
            value = entry >> 8;
        } else {
            const int symbol = Symbol<false>(r, table, value);
            if (symbol < 0) return finish(false);
            run = symbol >> 4;
        }
        if (value == 0) {
            if (run != 15) break;  // end of block
            pos += 16;
            if (pos > 64) return Fail(kJpegReasonCoefficientPosition), finish(false);
            continue;
        }
        pos += run;
        if (pos > 63) return Fail(kJpegReasonCoefficientPosition), finish(false);
        // The value has at most 15 bits.
        const std::int32_t v = static_cast<std::int32_t>((std::int64_t{quant[pos]} * value) >> 12);
        t[kZigzagToTransposed[pos++]] = v;
        bound |= static_cast<std::uint32_t>(v ^ (v >> 31));
        any = true;
    }
    ac = any;
    magnitude = bound;
    return finish(true);
}

// ---------------------------------------------------------------------------------------------
// Inverse transform
//
// The blocks arrive dequantised, t(k) = (Q(k) x c(k)) >> 12, stored transposed (index 8 x column
// + row). Each 8-point pass is out(x) = (sum over u of in(u) x C[x][u]) >> 12: first along the
// rows, then along the columns, then >> 4. The sums are exact in either form below, so both give
// the same samples; the 16-bit form serves every block whose values and row-pass results fit 16
// bits, the 64-bit form all others.

// Samples (before the level shift) of the blocks the 16-bit form cannot take, into `samples`.
void TransformWide(const std::int32_t* transposed, int* samples) {
    std::int64_t g[64];
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 8; ++x) {
            std::int64_t sum = 0;
            for (int u = 0; u < 8; ++u)
                sum += std::int64_t{transposed[8 * u + r]} * kTransform.c[x][u];
            g[8 * r + x] = sum >> 12;
        }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            std::int64_t sum = 0;
            for (int v = 0; v < 8; ++v) sum += g[8 * v + x] * kTransform.c[y][v];
            samples[8 * y + x] = static_cast<int>((sum >> 12) >> 4);
        }
}

#if defined(__SSE2__)

// Two 16-bit factors for _mm_madd_epi16 over pairs (a, b) of neighbouring lanes.
inline __m128i Factors(int a, int b) {
    return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(b) << 16) |
                                           (static_cast<std::uint32_t>(a) & 0xFFFF)));
}

// One pass over eight vectors: lane i of out[x] = (sum over u of in[u] lane i x C[x][u])
// >> Shift, in 32 bits (lanes 0-3 in lo, 4-7 in hi). With 16-bit inputs and |C| <= 4,096 the
// sums stay below 2^30. Outputs x and 7 - x share the even and odd halves of the sum.
// `Inputs` 4: in[4] to in[7] are 0; `Lanes` 4: lanes 4-7 of every input are 0 (hi is not
// computed).
template <int Shift, int Inputs, int Lanes>
inline void Pass16(const __m128i* in, __m128i* lo, __m128i* hi) {
    const __m128i p02l = _mm_unpacklo_epi16(in[0], in[2]), p02h = _mm_unpackhi_epi16(in[0], in[2]);
    const __m128i p13l = _mm_unpacklo_epi16(in[1], in[3]), p13h = _mm_unpackhi_epi16(in[1], in[3]);
    __m128i p46l = p02l, p46h = p02h, p57l = p13l, p57h = p13h;
    if constexpr (Inputs == 8) {
        p46l = _mm_unpacklo_epi16(in[4], in[6]);
        p46h = _mm_unpackhi_epi16(in[4], in[6]);
        p57l = _mm_unpacklo_epi16(in[5], in[7]);
        p57h = _mm_unpackhi_epi16(in[5], in[7]);
    }
    const auto half = [](__m128i p02, __m128i p46, __m128i p13, __m128i p57, const std::int32_t* c,
                         __m128i& even, __m128i& odd) {
        even = _mm_madd_epi16(p02, Factors(c[0], c[2]));
        odd = _mm_madd_epi16(p13, Factors(c[1], c[3]));
        if constexpr (Inputs == 8) {
            even = _mm_add_epi32(even, _mm_madd_epi16(p46, Factors(c[4], c[6])));
            odd = _mm_add_epi32(odd, _mm_madd_epi16(p57, Factors(c[5], c[7])));
        }
    };
#pragma GCC unroll 4
    for (int x = 0; x < 4; ++x) {
        __m128i even, odd;
        half(p02l, p46l, p13l, p57l, kTransform.c[x], even, odd);
        lo[x] = _mm_srai_epi32(_mm_add_epi32(even, odd), Shift);
        lo[7 - x] = _mm_srai_epi32(_mm_sub_epi32(even, odd), Shift);
        if constexpr (Lanes == 8) {
            half(p02h, p46h, p13h, p57h, kTransform.c[x], even, odd);
            hi[x] = _mm_srai_epi32(_mm_add_epi32(even, odd), Shift);
            hi[7 - x] = _mm_srai_epi32(_mm_sub_epi32(even, odd), Shift);
        } else {
            hi[x] = hi[7 - x] = _mm_setzero_si128();
        }
    }
}

// Rows of an 8 x 8 block of 16-bit values become its columns.
inline void Transpose(const __m128i* in, __m128i* out) {
    const __m128i a0 = _mm_unpacklo_epi16(in[0], in[1]), a1 = _mm_unpackhi_epi16(in[0], in[1]);
    const __m128i a2 = _mm_unpacklo_epi16(in[2], in[3]), a3 = _mm_unpackhi_epi16(in[2], in[3]);
    const __m128i a4 = _mm_unpacklo_epi16(in[4], in[5]), a5 = _mm_unpackhi_epi16(in[4], in[5]);
    const __m128i a6 = _mm_unpacklo_epi16(in[6], in[7]), a7 = _mm_unpackhi_epi16(in[6], in[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    out[0] = _mm_unpacklo_epi64(b0, b4);
    out[1] = _mm_unpackhi_epi64(b0, b4);
    out[2] = _mm_unpacklo_epi64(b1, b5);
    out[3] = _mm_unpackhi_epi64(b1, b5);
    out[4] = _mm_unpacklo_epi64(b2, b6);
    out[5] = _mm_unpackhi_epi64(b2, b6);
    out[6] = _mm_unpacklo_epi64(b3, b7);
    out[7] = _mm_unpackhi_epi64(b3, b7);
}

// The 16-bit form: false, with `samples` and `transposed` untouched, when a row-pass result
// needs more than 16 bits (looked for only when `check`), else true with `transposed` cleared.
// The caller has checked that every dequantised value fits 16 bits.
bool Transform16(std::int32_t* transposed, std::int16_t* samples, bool check) {
    // Lane r of in[u] is t(r, u): the row pass runs down the vectors.
    __m128i in[8];
    for (int u = 0; u < 8; ++u) {
        const __m128i* p = reinterpret_cast<const __m128i*>(transposed + 8 * u);
        in[u] = _mm_packs_epi32(_mm_load_si128(p), _mm_load_si128(p + 1));
    }
    // Coefficients often lie in the first four rows and columns only: then the row pass takes
    // four inputs and four lanes, and the column pass four inputs.
    const __m128i zero = _mm_setzero_si128();
    const __m128i right = _mm_or_si128(_mm_or_si128(in[4], in[5]), _mm_or_si128(in[6], in[7]));
    const __m128i all =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(in[0], in[1]), _mm_or_si128(in[2], in[3])), right);
    const __m128i outside = _mm_or_si128(right, _mm_srli_si128(all, 8));
    const bool quarter = _mm_movemask_epi8(_mm_cmpeq_epi16(outside, zero)) == 0xFFFF;
    __m128i lo[8], hi[8];
    if (quarter)
        Pass16<12, 4, 4>(in, lo, hi);
    else
        Pass16<12, 8, 8>(in, lo, hi);
    if (check) {
        // Offset by 2^15, every value inside 16 bits leaves the upper halves clear.
        const __m128i offset = _mm_set1_epi32(0x8000);
        __m128i spread = zero;
        for (int x = 0; x < 8; ++x) {
            spread = _mm_or_si128(spread, _mm_add_epi32(lo[x], offset));
            spread = _mm_or_si128(spread, _mm_add_epi32(hi[x], offset));
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(spread, 16), zero)) != 0xFFFF)
            return false;
    }
    __m128i g[8];
    for (int x = 0; x < 8; ++x) g[x] = _mm_packs_epi32(lo[x], hi[x]);
    __m128i* block = reinterpret_cast<__m128i*>(transposed);
    if (quarter)
        for (int u = 0; u < 4; ++u) _mm_store_si128(block + 2 * u, zero);
    else
        for (int i = 0; i < 16; ++i) _mm_store_si128(block + i, zero);
    // Lane x of rows[v] is g(v, x): the column pass runs down the vectors too. Its >> 12 and the
    // final >> 4 make one >> 16.
    __m128i rows[8];
    Transpose(g, rows);
    // Rows of t that are 0 give rows of g that are 0.
    if (quarter)
        Pass16<16, 4, 8>(rows, lo, hi);
    else
        Pass16<16, 8, 8>(rows, lo, hi);
    for (int y = 0; y < 8; ++y)
        _mm_store_si128(reinterpret_cast<__m128i*>(samples + 8 * y), _mm_packs_epi32(lo[y], hi[y]));
    return true;
}

#else

bool Transform16(std::int32_t*, std::int16_t*, bool) {
    return false;
}

#endif

// ---------------------------------------------------------------------------------------------
// Placing units in the band

inline std::uint8_t Clamp255(std::int64_t v) {
    return static_cast<std::uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v));
}

// The samples of one unit: grey uses block 0; colour the left and right luminance blocks,
// then Cb and Cr. A block is held in 16 bits unless `wide` marks it.
struct Unit {
    alignas(16) std::int16_t narrow[4][64];
    int samples[4][64];
    bool wide[4];
};

// Grey: sample + 128 clamped, 8 bytes a row.
void PlaceGrey(const Unit& unit, std::uint8_t* dst, std::int64_t stride) {
    if (unit.wide[0]) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                dst[r * stride + c] = Clamp255(std::int64_t{unit.samples[0][8 * r + c]} + 128);
        return;
    }
#if defined(__SSE2__)
    const __m128i level = _mm_set1_epi16(128);
    for (int r = 0; r < 8; ++r) {
        const __m128i s = _mm_load_si128(reinterpret_cast<const __m128i*>(unit.narrow[0] + 8 * r));
        const __m128i bytes = _mm_packus_epi16(_mm_add_epi16(s, level), s);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * stride), bytes);
    }
#else
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            dst[r * stride + c] = Clamp255(std::int64_t{unit.narrow[0][8 * r + c]} + 128);
#endif
}

// Colour with the decoder's 16-bit factors: red = Y + 128 + ((91,881 Cr) >> 16),
// green = Y + 128 + ((-46,793 Cr - 22,544 Cb) >> 16), blue = Y + 128 + ((116,064 Cb) >> 16),
// clamped, stored blue, green, red; pixels 2i and 2i + 1 share chroma sample i.
void PlaceColourWide(const int (*blocks)[64], std::uint8_t* dst, std::int64_t stride) {
    for (int r = 0; r < 8; ++r) {
        std::uint8_t* p = dst + r * stride;
        for (int i = 0; i < 8; ++i) {
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

#if defined(__SSE2__)

// Four pixels of 32 bits (blue, green, red, 0) packed into the low 12 bytes.
inline __m128i Pack24(__m128i pixels) {
    const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
    const __m128i pairs = _mm_or_si128(_mm_and_si128(pixels, low32),
                                       _mm_srli_epi64(_mm_andnot_si128(low32, pixels), 8));
    const __m128i low64 = _mm_set_epi32(0, 0, -1, -1);
    return _mm_or_si128(_mm_and_si128(pairs, low64),
                        _mm_srli_si128(_mm_andnot_si128(low64, pairs), 2));
}

#endif

void PlaceColour(Unit& unit, std::uint8_t* dst, std::int64_t stride) {
    if (unit.wide[0] || unit.wide[1] || unit.wide[2] || unit.wide[3]) {
        for (int b = 0; b < 4; ++b)
            if (!unit.wide[b]) std::copy(unit.narrow[b], unit.narrow[b] + 64, unit.samples[b]);
        PlaceColourWide(unit.samples, dst, stride);
        return;
    }
#if defined(__SSE2__)
    // Samples of 16-bit blocks lie within +-11,420, so every term below is exact in 16 bits
    // and the saturating sums clamp as the definition does:
    //   (91,881 Cr) >> 16 = Cr + ((26,345 Cr) >> 16)
    //   (116,064 Cb) >> 16 = 2 Cb + ((-15,008 Cb) >> 16)
    //   (-46,793 Cr - 22,544 Cb) >> 16 = -Cr + ((18,743 Cr - 22,544 Cb) >> 16)
    const __m128i level = _mm_set1_epi16(128);
    const __m128i redFactor = _mm_set1_epi16(26345);
    const __m128i blueFactor = _mm_set1_epi16(-15008);
    const __m128i greenFactors = _mm_set1_epi32(static_cast<int>((0xFFFFu & -22544) << 16 | 18743));
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r) {
        const auto load = [&](int b) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(unit.narrow[b] + 8 * r));
        };
        const __m128i cb = load(2), cr = load(3);
        const __m128i red = _mm_add_epi16(cr, _mm_mulhi_epi16(cr, redFactor));
        const __m128i blue = _mm_add_epi16(_mm_add_epi16(cb, cb), _mm_mulhi_epi16(cb, blueFactor));
        const __m128i greenLow =
            _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr, cb), greenFactors), 16);
        const __m128i greenHigh =
            _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr, cb), greenFactors), 16);
        const __m128i green = _mm_sub_epi16(_mm_packs_epi32(greenLow, greenHigh), cr);
        __m128i planes[3];  // blue, green, red of the 16 pixels
        const __m128i terms[3] = {blue, green, red};
        const __m128i yLeft = _mm_add_epi16(load(0), level), yRight = _mm_add_epi16(load(1), level);
        for (int k = 0; k < 3; ++k)
            planes[k] =
                _mm_packus_epi16(_mm_adds_epi16(yLeft, _mm_unpacklo_epi16(terms[k], terms[k])),
                                 _mm_adds_epi16(yRight, _mm_unpackhi_epi16(terms[k], terms[k])));
        const __m128i bgLow = _mm_unpacklo_epi8(planes[0], planes[1]);
        const __m128i bgHigh = _mm_unpackhi_epi8(planes[0], planes[1]);
        const __m128i r0Low = _mm_unpacklo_epi8(planes[2], zero);
        const __m128i r0High = _mm_unpackhi_epi8(planes[2], zero);
        const __m128i q0 = Pack24(_mm_unpacklo_epi16(bgLow, r0Low));
        const __m128i q1 = Pack24(_mm_unpackhi_epi16(bgLow, r0Low));
        const __m128i q2 = Pack24(_mm_unpacklo_epi16(bgHigh, r0High));
        const __m128i q3 = Pack24(_mm_unpackhi_epi16(bgHigh, r0High));
        __m128i* out = reinterpret_cast<__m128i*>(dst + r * stride);
        _mm_storeu_si128(out, _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
    }
#else
    for (int b = 0; b < 4; ++b) std::copy(unit.narrow[b], unit.narrow[b] + 64, unit.samples[b]);
    PlaceColourWide(unit.samples, dst, stride);
#endif
}

// Samples of one block into the unit; `t` (as DecodeBlock leaves it) is all 0 afterwards.
void TransformBlock(std::int32_t* t, bool ac, std::uint32_t magnitude, Unit& unit, int target) {
    // Values of 16 bits go through the 16-bit form; those below 2^12 keep every row-pass result
    // within 16 bits (|result| <= 22,839 x 4,096 / 4,096), the others are checked.
    const bool wide = magnitude > 0x7FFF;
    if (!ac && !wide) {
        // Only t(0): both passes give it back everywhere.
        std::fill(unit.narrow[target], unit.narrow[target] + 64,
                  static_cast<std::int16_t>(t[0] >> 4));
        unit.wide[target] = false;
        t[0] = 0;
        return;
    }
    unit.wide[target] = wide || !Transform16(t, unit.narrow[target], magnitude > 0xFFF);
    if (unit.wide[target]) {
        TransformWide(t, unit.samples[target]);
        std::fill(t, t + 64, 0);
    }
}

void Decoder::DecodeScan(JpegRowFn rowFn) {
    const bool colour = m_componentCount == 3;
    const int unitWidth = colour ? 16 : 8;
    const std::int64_t unitsPerBand = (m_width + unitWidth - 1) / unitWidth;
    const std::int64_t stride = unitsPerBand * (colour ? 48 : 8);
    const std::int64_t bands = (m_height + 7) / 8;

    std::uint8_t* const band = m_band.get();

    // Quantisation values in zigzag order, the order of the coefficients in the data.
    std::int32_t quant[2][64];
    for (int n = 0; n < 2; ++n)
        for (int i = 0; i < 64; ++i)
            quant[n][i] = static_cast<std::int32_t>(m_quant[n][kZigzagToNatural[i]]);

    alignas(16) std::int32_t coefficients[64] = {};
    Unit unit{};
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
                        bool ac = false;
                        std::uint32_t magnitude = 0;
                        if (!DecodeBlock(m_scan[i], quant[m_frame[f].quantTable], coefficients, ac,
                                         magnitude)) {
                            decoding = false;
                            break;
                        }
                        const int target = f == 0 ? lumaBlock++ : f + 1;
                        TransformBlock(coefficients, ac, magnitude, unit, target);
                    }
                }
                // What could not be decoded shows mid-grey.
                if (!decoding) {
                    std::memset(unit.narrow, 0, sizeof(unit.narrow));
                    std::fill(unit.wide, unit.wide + 4, false);
                }
            }
            ++unitsDone;

            std::uint8_t* dst = band + u * (colour ? 48 : 8);
            if (colour)
                PlaceColour(unit, dst, stride);
            else
                PlaceGrey(unit, dst, stride);
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
