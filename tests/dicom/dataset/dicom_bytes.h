// Builders of DICOM byte streams for the suites: tags, lengths, items and delimiters in any of
// the three encodings, and a Part 10 wrapper (preamble, prefix, meta group).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files/file.h"

namespace quorin::test {

enum class Syntax { ExplicitLE, ImplicitLE, ExplicitBE };

inline bool IsImplicit(Syntax s) {
    return s == Syntax::ImplicitLE;
}
inline bool IsBig(Syntax s) {
    return s == Syntax::ExplicitBE;
}
inline const char* SyntaxUid(Syntax s) {
    return s == Syntax::ImplicitLE   ? "1.2.840.10008.1.2"
           : s == Syntax::ExplicitLE ? "1.2.840.10008.1.2.1"
                                     : "1.2.840.10008.1.2.2";
}

class Bytes {
  public:
    explicit Bytes(Syntax syntax = Syntax::ExplicitLE) : m_syntax(syntax) {}

    Bytes& u16(std::uint16_t v) {
        return IsBig(m_syntax) ? raw({std::uint8_t(v >> 8), std::uint8_t(v)})
                               : raw({std::uint8_t(v), std::uint8_t(v >> 8)});
    }
    Bytes& u32(std::uint32_t v) {
        if (IsBig(m_syntax)) return u16(std::uint16_t(v >> 16)).u16(std::uint16_t(v));
        return u16(std::uint16_t(v)).u16(std::uint16_t(v >> 16));
    }
    Bytes& raw(std::initializer_list<std::uint8_t> b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    Bytes& raw(const std::vector<std::uint8_t>& b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    Bytes& text(const std::string& t) {
        data.insert(data.end(), t.begin(), t.end());
        return *this;
    }
    Bytes& tag(std::uint16_t g, std::uint16_t e) { return u16(g).u16(e); }
    // Tag, VR (explicit) and length field as the syntax wants them.
    Bytes& header(std::uint16_t g, std::uint16_t e, const char* vr, std::uint32_t length) {
        tag(g, e);
        if (IsImplicit(m_syntax)) return u32(length);
        text(std::string(vr, 2));
        static const char* kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                      "SV", "UC", "UN", "UR", "UT", "UV"};
        for (const char* l : kLong)
            if (l[0] == vr[0] && l[1] == vr[1]) return raw({0, 0}).u32(length);
        return u16(std::uint16_t(length));
    }
    Bytes& element(std::uint16_t g, std::uint16_t e, const char* vr, const std::string& value) {
        header(g, e, vr, std::uint32_t(value.size()));
        return text(value);
    }
    Bytes& element(std::uint16_t g, std::uint16_t e, const char* vr, const Bytes& value) {
        header(g, e, vr, std::uint32_t(value.data.size()));
        return raw(value.data);
    }
    Bytes& item(std::uint32_t length) { return tag(0xFFFE, 0xE000).u32(length); }
    Bytes& itemEnd() { return tag(0xFFFE, 0xE00D).u32(0); }
    Bytes& sequenceEnd() { return tag(0xFFFE, 0xE0DD).u32(0); }

    std::size_t size() const { return data.size(); }
    Syntax syntax() const { return m_syntax; }

    std::vector<std::uint8_t> data;

  private:
    Syntax m_syntax;
};

// A Part 10 stream: 128 zero bytes, "DICM", the meta group (explicit VR little endian, its
// group length right) naming the syntax, then the data set bytes.
inline std::vector<std::uint8_t> Part10(Syntax syntax, const Bytes& dataset) {
    Bytes meta(Syntax::ExplicitLE);
    meta.header(0x0002, 0x0001, "OB", 2).raw({0, 1});
    meta.element(0x0002, 0x0002, "UI", std::string("1.2.840.10008.5.1.4.1.1.7", 25) + '\0');
    meta.element(0x0002, 0x0003, "UI", std::string("1.2.3.4") + '\0');
    std::string uid = SyntaxUid(syntax);
    if (uid.size() & 1) uid.push_back('\0');
    meta.element(0x0002, 0x0010, "UI", uid);
    Bytes out(Syntax::ExplicitLE);
    out.data.assign(128, 0);
    out.text("DICM");
    out.header(0x0002, 0x0000, "UL", 4).u32(std::uint32_t(meta.size()));
    out.raw(meta.data);
    out.raw(dataset.data);
    return out.data;
}

inline win::CMemFile MemFile(const std::vector<std::uint8_t>& bytes) {
    return win::CMemFile(bytes);
}

}  // namespace quorin::test
