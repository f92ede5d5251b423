// Every VR class reads a hand-made value field in explicit little endian, implicit little
// endian and explicit big endian, and writes back the very same bytes.
#include "roundtrip.h"

#include <gtest/gtest.h>

#include <memory>

#include "dicom/dataset/dataset.h"

using namespace quorin::test;

namespace {

struct Case {
    const char* vr;
    std::uint16_t group, element;
    // Value bytes; numbers are given little endian and reversed per width for big endian.
    std::vector<std::uint8_t> value;
    int width;
};

std::vector<std::uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<std::uint8_t> InOrder(const Case& c, Syntax s) {
    std::vector<std::uint8_t> v = c.value;
    if (IsBig(s) && c.width > 1)
        for (std::size_t i = 0; i + c.width <= v.size(); i += c.width)
            std::reverse(v.begin() + i, v.begin() + i + c.width);
    return v;
}

const Case kCases[] = {
    {"AE", 0x0008, 0x0054, Text("STORESCP\\ARCHIVE"), 1},
    {"AS", 0x0010, 0x1010, Text("045Y"), 1},
    {"AT", 0x0020, 0x9165, {0x28, 0x00, 0x09, 0x00, 0x18, 0x00, 0x63, 0x10}, 2},
    {"CS", 0x0008, 0x0060, Text("CT"), 1},
    {"DA", 0x0008, 0x0020, Text("20240131\\19991231 "), 1},
    {"DS", 0x0028, 0x0030, Text("0.125\\-1.5E3"), 1},
    {"DT", 0x0040, 0xA120, Text("20240131123045.123456+0100"), 1},
    {"FD", 0x0018, 0x9328, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0}, 8},
    {"FL", 0x0072, 0x0076, {0, 0, 0x80, 0x3F, 0, 0, 0x20, 0xC1}, 4},
    {"IS", 0x0020, 0x0013, Text("12\\-7\\+30 "), 1},
    {"LO", 0x0010, 0x0020, Text("PATIENT ID 42\\SECONDS "), 1},
    {"LT", 0x0010, 0x4000, Text("Free text,\r\nwith\\backslash"), 1},
    {"OB", 0x0042, 0x0011, {1, 2, 3, 4, 5, 0}, 1},
    {"OW", 0x0028, 0x1201, {1, 2, 3, 4, 5, 6}, 2},
    {"PN", 0x0010, 0x0010, Text("DOE^JOHN^Q^DR^JR\\SMITH^ANNA "), 1},
    {"SH", 0x0008, 0x0050, Text("ACC-1234"), 1},
    {"SL", 0x0018, 0x6020, {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}, 4},
    {"SS", 0x0018, 0x9219, {0xFE, 0xFF, 2, 0}, 2},
    {"ST", 0x0008, 0x0081, Text("1 Main Street, Springfield"), 1},
    {"TM", 0x0008, 0x0030, Text("123045.5\\0830 "), 1},
    {"UI", 0x0008, 0x0018, {'1', '.', '2', '.', '3', '\\', '4', '.', '5', 0}, 1},
    {"UL", 0x0040, 0xA132, {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 4},
    {"UN", 0x0009, 0x1010, {0xDE, 0xAD, 0xBE, 0xEF}, 1},
    {"US", 0x0028, 0x0010, {0x00, 0x02, 0x01, 0x00}, 2},
    {"UT", 0x0040, 0xA160, Text("Unlimited text"), 1},
};

}  // namespace

TEST(RoundTrip, EveryVrInEverySyntaxIsByteExact) {
    for (const Case& c : kCases) {
        for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
            const auto value = InOrder(c, s);
            Bytes b(s);
            b.header(c.group, c.element, c.vr, std::uint32_t(value.size())).raw(value);
            std::unique_ptr<CElementDICOM> e(quorin::NewEmptyElement(
                c.vr, 3, c.group, c.element, IsImplicit(s), IsBig(s) ? 0 : 1));
            ASSERT_TRUE(e) << c.vr;
            win::CMemFile f(b.data);
            e->ReadAt(&f, 0);
            ASSERT_EQ(e->m_nStatus, 0) << c.vr;
            EXPECT_EQ(e->StreamSize(), b.size()) << c.vr;
            EXPECT_EQ(Written(*e), b.data) << c.vr << " syntax " << int(s);
            EXPECT_EQ(e->EncodedLength(), b.size()) << c.vr;
            // Copies write the same.
            std::unique_ptr<CElementDICOM> copy(e->Clone());
            EXPECT_EQ(Written(*copy), b.data) << c.vr;
        }
    }
}
