// The cases beside the typical ones: group copies of three items and more and of an icon without
// pixels, and older binary contexts cut inside the icon's depth or with an angle of another
// length.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class Item>
Item* Named(const char* name) {
    auto* item = new Item;
    item->SetIdentifier(name);
    return item;
}

TEST(GroupNeighbours, CopyTakesEveryClonableItemInOrder) {
    CFmsData source;
    source.AddItem(Named<CFmsImageData>("a"));
    source.AddItem(Named<CCqvImageData>("b"));
    source.AddItem(Named<CCoreImageData>("skipped"));  // ClassID 2 cannot be cloned
    source.AddItem(Named<CFmsImageData>("d"));
    CFmsData target;
    target.AddItem(Named<CFmsImageData>("old"));
    target = source;
    const struct {
        const char* name;
        std::int32_t classID;
    } expected[] = {{"a", CLASSID_FMS_IMAGE}, {"b", CLASSID_CQV_IMAGE}, {"d", CLASSID_FMS_IMAGE}};
    ASSERT_EQ(target.GetItemCount(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const CCoreItemData* item = target.GetItem(static_cast<std::int64_t>(i));
        EXPECT_EQ(item->GetIdentifier(), expected[i].name) << i;
        EXPECT_EQ(item->GetClassID(), expected[i].classID) << i;
        EXPECT_EQ(item->GetOwner(), &target) << i;
        EXPECT_NE(item, source.GetItem(static_cast<std::int64_t>(i == 2 ? 3 : i))) << i;
    }
}

TEST(GroupNeighbours, CopyFromAnIconWithoutPixelsKeepsTheTargetsIcon) {
    CFmsData source;
    source.SetIcon(AllocSImage(2, 2, 1, 8, true, nullptr));  // a record without a pixel block
    ASSERT_NE(source.PeekIcon(), nullptr);
    CFmsData target;
    SImage* icon = AllocSImage(3, 3, 1, 8, false, nullptr);
    ASSERT_NE(icon, nullptr);
    std::memset(icon->pPixels, 5, 9);
    target.SetIcon(icon);
    target = source;
    ASSERT_EQ(target.PeekIcon(), icon);
    EXPECT_EQ(static_cast<const std::uint8_t*>(target.PeekIcon()->pPixels)[8], 5);
}

// A binary context of one image: its name, a position, an angle chunk holding `angle` and a show
// state "Z", then `tail`.
Bytes Chunk(const char* id, const Bytes& data) {
    Bytes out(id, id + 4);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}
Bytes Context(const Bytes& angle, const Bytes& tail) {
    Bytes name(260, 0);
    std::memcpy(name.data(), "IMG1.tif", 8);
    Bytes infi = Chunk("NFIC", name);
    for (const Bytes& c : {Chunk("POSI", Bytes(32, 0)), Chunk("ANGL", angle), Chunk("SHOW", {'Z'})})
        infi.insert(infi.end(), c.begin(), c.end());
    Bytes out;
    for (const Bytes& c : {Chunk("COMM", {'c', 0}), Chunk("NBIM", {1, 0}), Chunk("INFI", infi)})
        out.insert(out.end(), c.begin(), c.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST(GroupNeighbours, BinaryAngleOfAnotherLengthIsPassedOver) {
    const struct {
        Bytes angle;
        std::int32_t read;
    } cases[] = {{{90, 0}, 90}, {{90, 0, 0, 0}, 0}, {{0x0E, 0x01, 0, 0}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angle.size());
        const Bytes bytes = Context(c.angle, {});
        CCqvDataQV5 cqv;
        ASSERT_TRUE(cqv.ReadOldContext(bytes.data(), bytes.size(), false, 1024, 768));
        ASSERT_EQ(cqv.GetItemCount(), 1u);
        const auto* image = static_cast<const CCqvImageData*>(cqv.GetItem(0));
        EXPECT_EQ(image->GetOrientation().GetValue(), c.read);
        EXPECT_EQ(image->GetShowState(), 3);  // the chunk after it is still found
    }
}

TEST(GroupNeighbours, BinaryContextEndingInsideTheIconDepthHasItsImagesWithoutIcon) {
    // "DBBP" says 2 bytes; the file ends after the first.
    Bytes tail = Chunk("DBBP", {8, 0});
    tail.pop_back();
    const Bytes bytes = Context({90, 0}, tail);
    CCqvDataQV5 cqv;
    cqv.SetIcon(AllocSImage(1, 1, 1, 8, false, nullptr));
    ASSERT_TRUE(cqv.ReadOldContext(bytes.data(), bytes.size(), true, 1024, 768));
    ASSERT_EQ(cqv.GetItemCount(), 1u);
    EXPECT_EQ(cqv.GetItem(0)->GetIdentifier(), "IMG1.tif");
    EXPECT_EQ(cqv.GetComments(), "c");
    EXPECT_EQ(cqv.PeekIcon(), nullptr);
}

}  // namespace
