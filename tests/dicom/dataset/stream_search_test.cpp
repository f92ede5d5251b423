// The stream search beside its typical case: in implicit VR a private element is read by the
// creators of the data set that holds it, also when it is the zero-length last element of an
// item (where its end and the item's are the same byte).
#include <gtest/gtest.h>

#include "dicom/dataset/number.h"
#include "dicom_bytes.h"

using namespace quorin::test;

TEST(StreamSearchNeighbours, ZeroLengthPrivateElementEndingAnItemIsTheItemCreatorsElement) {
    // (0009,1145) is US in the system's block only; the item's own creator decides.
    const struct {
        const char* outside;  // creator of (0009,11xx) in the top-level data set
        const char* inside;   // and in the item
        bool found;
    } cases[] = {{"OTHER ", "QUORIN", true}, {"QUORIN", "OTHER ", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inside);
        Bytes item(Syntax::ImplicitLE);
        item.element(0x0009, 0x0011, "LO", c.inside);
        const std::size_t inItem = item.size();
        item.header(0x0009, 0x1145, "US", 0);
        Bytes b(Syntax::ImplicitLE);
        b.element(0x0009, 0x0011, "LO", c.outside);
        b.header(0x0010, 0x1002, "SQ", std::uint32_t(item.size() + 8))
            .item(std::uint32_t(item.size()));
        const std::size_t at = b.size() + inItem;
        b.raw(item.data);
        b.element(0x0010, 0x1010, "AS", "042Y");
        win::CMemFile f(b.data);
        CElementUSMultiple probe(3, 0x0009, 0x1145, 0u, 1, 1);
        EXPECT_EQ(probe.FindInStream(0, &f), c.found ? at : 0u);
        EXPECT_NE(probe.m_nStatus, 13);
    }
}
