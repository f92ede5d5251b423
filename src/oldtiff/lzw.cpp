// LZW decoding of TIFF strips.
//
// Every string of the table is a run of bytes already written to the output: a new entry is
// the previous string (where it was written) plus one byte, and that byte is the first byte of
// the string written right after it. So an entry is just (where, length) and decoding
// a code is one copy out of the output itself; no string store is needed.
#include "oldtiff/lzw.h"

#include <cstring>

namespace {

constexpr std::uint32_t kClear = 256;
constexpr std::uint32_t kEnd = 257;
constexpr std::uint32_t kFirstFree = 258;
constexpr std::uint32_t kTableSize = 4096;
constexpr unsigned kMaxWidth = 12;

struct Entry {
    const std::uint8_t* source;  // the string: in the output, or one of the literals
    std::size_t length;
};

// The 256 single-byte strings, with room for the word copies that read past them.
struct Literals {
    std::uint8_t bytes[256 + 16];
};
constexpr Literals MakeLiterals() {
    Literals l{};
    for (int i = 0; i < 256; ++i) l.bytes[i] = static_cast<std::uint8_t>(i);
    return l;
}
constexpr Literals kLiterals = MakeLiterals();

// Codes most significant bit first; never reads past the input.
class BitReader {
  public:
    BitReader(const std::uint8_t* data, std::size_t length) : m_data(data), m_length(length) {}

    bool Take(unsigned width, std::uint32_t& code) {
        if (m_count < width) [[unlikely]] {
            Refill();
            if (m_count < width) return false;
        }
        code = static_cast<std::uint32_t>(m_bits >> (64 - width));
        m_bits <<= width;
        m_count -= width;
        return true;
    }

  private:
    void Refill() {
        if (m_pos + 8 <= m_length) {
            // Eight bytes at once; the bits past the whole bytes taken are the next bytes'
            // own, so the following refill ORs the same values over them.
            std::uint64_t word;
            std::memcpy(&word, m_data + m_pos, 8);
            m_bits |= __builtin_bswap64(word) >> m_count;
            const unsigned bytes = (63 - m_count) >> 3;
            m_pos += bytes;
            m_count += bytes * 8;
            return;
        }
        while (m_count <= 56 && m_pos < m_length) {
            m_bits |= static_cast<std::uint64_t>(m_data[m_pos++]) << (56 - m_count);
            m_count += 8;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_length;
    std::size_t m_pos = 0;
    std::uint64_t m_bits = 0;  // pending bits, left-aligned
    unsigned m_count = 0;
};

// Eight bytes through a register: source and destination may overlap past the string.
inline void CopyWord(std::uint8_t* dst, const std::uint8_t* src) {
    std::uint64_t word;
    std::memcpy(&word, src, 8);
    std::memcpy(dst, &word, 8);
}

}  // namespace

std::size_t DecodeLzw(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                      std::size_t outputSize) {
    if (input == nullptr || output == nullptr || outputSize == 0) return 0;

    Entry table[kTableSize];
    for (std::uint32_t i = 0; i < 256; ++i) table[i] = Entry{kLiterals.bytes + i, 1};
    BitReader reader(input, inputLength);
    std::size_t pos = 0;
    std::uint32_t next = kFirstFree;
    unsigned width = 9;
    bool afterClear = true;  // a stream may also start without a clear
    std::size_t prevPos = 0;
    std::size_t prevLength = 0;

    std::uint32_t code;
    while (reader.Take(width, code)) {
        if (code == kClear) {
            next = kFirstFree;
            width = 9;
            afterClear = true;
            continue;
        }
        if (code == kEnd) break;
        if (afterClear) {
            if (code > 255 || pos >= outputSize) break;
            output[pos] = static_cast<std::uint8_t>(code);
            prevPos = pos++;
            prevLength = 1;
            afterClear = false;
            continue;
        }
        if (code > next || next >= kTableSize) break;

        std::uint8_t* dst = output + pos;
        const std::size_t room = outputSize - pos;
        std::size_t length;
        if (code < next) [[likely]] {
            const Entry e = table[code];
            length = e.length;
            if (length <= 16 && room >= 16) [[likely]] {
                // Two fixed copies; the bytes past the string are garbage that the next
                // strings overwrite. An output source ends at or before dst.
                CopyWord(dst, e.source);
                CopyWord(dst + 8, e.source + 8);
            } else if (length <= room) {
                std::memcpy(dst, e.source, length);
            } else {
                std::memcpy(dst, e.source, room);
                pos = outputSize;
                break;
            }
        } else {
            // The code being defined: previous string plus its own first byte.
            length = prevLength + 1;
            const std::uint8_t* src = output + prevPos;  // ends exactly at dst
            if (length > room) {
                std::memcpy(dst, src, room);  // room <= prevLength: no overlap
                pos = outputSize;
                break;
            }
            std::memcpy(dst, src, prevLength);
            dst[prevLength] = src[0];
        }

        table[next] = Entry{output + prevPos, prevLength + 1};
        ++next;
        if (next == (1u << width) - 1 && width < kMaxWidth) ++width;
        prevPos = pos;
        prevLength = length;
        pos += length;
    }
    return pos;
}
