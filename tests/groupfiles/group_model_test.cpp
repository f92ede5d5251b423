// The group data model: item lists, ownership, clones and copies, icons, and the upgrade of
// older coordinates.
#include <gtest/gtest.h>

#include <cstring>

#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"
#include "platform/core/globalmem.h"

namespace {

SImage* MakeIcon(std::uint32_t width, std::uint32_t height, std::uint8_t fill) {
    SImage* icon = AllocSImage(width, height, 1, 8, false, nullptr);
    if (icon != nullptr) std::memset(icon->pPixels, fill, std::size_t{width} * height);
    return icon;
}

CFmsImageData* Frame(std::int32_t tooth, const char* name) {
    auto* frame = new CFmsImageData;
    frame->SetToothNumber(tooth, 0);
    frame->SetIdentifier(name);
    return frame;
}

TEST(GroupModel, DefaultsAndClassIdentifiers) {
    CFmsTemplateData tmpl;
    CFmsData fms;
    CCqvData cqv;
    CCqvDataQV5 qv5;
    CFmsImageData frame;
    CCqvImageData image;
    CCoreItemData item;
    EXPECT_EQ(tmpl.GetClassID(), 3);
    EXPECT_EQ(fms.GetClassID(), 4);
    EXPECT_EQ(cqv.GetClassID(), 5);
    EXPECT_EQ(qv5.GetClassID(), 5);
    EXPECT_EQ(frame.GetClassID(), 6);
    EXPECT_EQ(image.GetClassID(), 7);
    EXPECT_EQ(item.GetClassID(), 0);
    EXPECT_EQ(fms.GetVersion(), 4);
    EXPECT_EQ(fms.GetPixelSize(), 1.0f);
    EXPECT_EQ(fms.GetUserDefined(), 1);
    EXPECT_EQ(fms.GetSecondFit(), 1);
    EXPECT_EQ(frame.GetFrameType(), 1);
    EXPECT_EQ(frame.GetFrameImageType(), 1);
    EXPECT_EQ(image.GetShowState(), 1);
    EXPECT_EQ(frame.LUTGray().GetMask(), 239);
    EXPECT_EQ(frame.LUTGray().GetMaxEntries(), 256);
}

TEST(GroupModel, ItemAccessAndIteration) {
    CFmsData fms;
    fms.AddItem(nullptr);
    EXPECT_EQ(fms.GetItemCount(), 0u);
    fms.AddItem(Frame(11, "a"));
    fms.AddItem(Frame(12, "b"));
    EXPECT_EQ(fms.GetItem(0)->GetOwner(), &fms);
    EXPECT_EQ(fms.GetItem(-1), nullptr);
    EXPECT_EQ(fms.GetItem(2), nullptr);
    EXPECT_EQ(fms.GetFirstItem()->GetIdentifier(), "a");
    EXPECT_EQ(fms.GetNextItem()->GetIdentifier(), "b");
    EXPECT_EQ(fms.GetNextItem(), nullptr);
    EXPECT_EQ(fms.GetFirstItem()->GetIdentifier(), "a");
    fms.ReplaceItems(Frame(13, "c"));
    ASSERT_EQ(fms.GetItemCount(), 1u);
    EXPECT_EQ(fms.GetItem(0)->GetIdentifier(), "c");
    fms.DeleteAllItems();
    EXPECT_EQ(fms.GetItemCount(), 0u);
    EXPECT_EQ(fms.GetFirstItem(), nullptr);
}

TEST(GroupModel, NestedSeriesAreDeletedWithTheirItemsAndIcons) {
    const win::SIZE_T before = win::globalmem_testing::LiveBlocks();
    {
        CFmsData outer;
        auto* inner = new CFmsData;
        inner->AddItem(Frame(1, "x"));
        inner->SetIcon(MakeIcon(3, 2, 9));
        outer.AddItem(inner);
        outer.SetIcon(MakeIcon(2, 2, 1));
        CCqvData cqv;
        cqv.AddImageItem();
        cqv.AddItem(new CCoreItemData);
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), before);
}

TEST(GroupModel, IconCanBeTakenOnce) {
    CCqvData cqv;
    cqv.SetIcon(MakeIcon(2, 2, 5));
    SImage* icon = cqv.GetIcon(true);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(cqv.GetIcon(true), nullptr);
    FreeSImage(icon, false);
}

TEST(GroupModel, CloneItemCopiesFramesImagesAndSeries) {
    CFmsImageData frame;
    frame.SetIdentifier("R1.zel");
    frame.SetFrameLocation({1, 2, 3, 4});
    frame.SetSOPInstanceUID("1.2");
    frame.SetToothNumber(48, 5);
    frame.SetFrameValue(CFmsImageData::RIGHT_FRAME, 7);
    CInfosOrient orient;
    orient.SetRotation(90);
    orient.SetMirror(1);
    frame.SetOrientation(orient);
    frame.Display().SetColorLUT(3);
    std::unique_ptr<CCoreItemData> copy(CCoreGroupData::CloneItem(&frame));
    auto* frameCopy = dynamic_cast<CFmsImageData*>(copy.get());
    ASSERT_NE(frameCopy, nullptr);
    EXPECT_EQ(frameCopy->GetIdentifier(), "R1.zel");
    EXPECT_EQ(frameCopy->GetFrameLocation(), (CGroupRect{1, 2, 3, 4}));
    EXPECT_EQ(frameCopy->GetToothNumber(5), 48);
    EXPECT_EQ(frameCopy->GetFrameValue(CFmsImageData::RIGHT_FRAME), 7);
    // A frame is copied by its assignment, which leaves orientation and display alone.
    EXPECT_EQ(frameCopy->GetOrientation().GetRotation(), 0);
    EXPECT_EQ(frameCopy->Display().GetColorLUT(), 0);

    CCqvImageData image;
    image.SetShowState(3);
    image.SetSOPInstanceUID("9.9");
    std::unique_ptr<CCoreItemData> imageCopy(CCoreGroupData::CloneItem(&image));
    ASSERT_NE(dynamic_cast<CCqvImageData*>(imageCopy.get()), nullptr);
    EXPECT_EQ(static_cast<CCqvImageData*>(imageCopy.get())->GetShowState(), 3);
    EXPECT_EQ(static_cast<CCqvImageData*>(imageCopy.get())->GetSOPInstanceUID(), "9.9");

    CFmsData series;
    series.SetName("inner");
    series.AddItem(Frame(21, "f"));
    std::unique_ptr<CCoreItemData> seriesCopy(CCoreGroupData::CloneItem(&series));
    auto* fmsCopy = dynamic_cast<CFmsData*>(seriesCopy.get());
    ASSERT_NE(fmsCopy, nullptr);
    EXPECT_EQ(fmsCopy->GetName(), "inner");
    ASSERT_EQ(fmsCopy->GetItemCount(), 1u);
    EXPECT_EQ(fmsCopy->GetItem(0)->GetOwner(), fmsCopy);

    CCoreImageData plain;
    CFmsTemplateData tmpl;
    EXPECT_EQ(CCoreGroupData::CloneItem(nullptr), nullptr);
    EXPECT_EQ(CCoreGroupData::CloneItem(&plain), nullptr);
    EXPECT_EQ(CCoreGroupData::CloneItem(&tmpl), nullptr);
}

TEST(GroupModel, GroupCopyTakesItsPartsByTheRules) {
    CFmsData source;
    source.SetName("src");
    source.SetPixelSize(0.5f);
    source.SetScreenSize({800, 600});
    source.AddItem(new CCoreImageData);  // ClassID 2 first: no item is copied
    source.AddItem(Frame(11, "a"));
    source.SetFMSUID(CUid("1.2.3"));
    source.SetCenterLocation({5, 6});

    CFmsData target;
    target.AddItem(Frame(99, "old"));
    target.SetIcon(MakeIcon(1, 1, 1));
    const SImage* targetIcon = target.PeekIcon();
    target = source;
    EXPECT_EQ(target.GetName(), "src");
    EXPECT_EQ(target.GetPixelSize(), 1.0f) << "the pixel size is not copied";
    EXPECT_EQ(target.GetScreenSize(), (CGroupSize{800, 600}));
    EXPECT_EQ(target.GetFMSUID().GetText(), "1.2.3");
    EXPECT_EQ(target.GetCenterLocation(), (CGroupPoint{5, 6}));
    ASSERT_EQ(target.GetItemCount(), 1u);
    EXPECT_EQ(target.GetItem(0)->GetIdentifier(), "old");
    EXPECT_EQ(target.PeekIcon(), targetIcon) << "a source without icon leaves the target's";

    // A clonable first item replaces the items; later ones that cannot be cloned are left out.
    CFmsData second;
    second.AddItem(Frame(12, "b"));
    second.AddItem(new CCoreImageData);
    second.AddItem(Frame(13, "c"));
    second.SetIcon(MakeIcon(4, 4, 7));
    target = second;
    ASSERT_EQ(target.GetItemCount(), 2u);
    EXPECT_EQ(target.GetItem(0)->GetIdentifier(), "b");
    EXPECT_EQ(target.GetItem(1)->GetIdentifier(), "c");
    EXPECT_EQ(target.GetItem(1)->GetOwner(), &target);
    const SImage* icon = target.PeekIcon();
    ASSERT_NE(icon, nullptr);
    EXPECT_NE(icon, second.PeekIcon());
    EXPECT_EQ(icon->nWidth, 4u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(icon->pPixels)[15], 7);

    // An image item copy leaves the target's orientation and display records alone.
    CFmsImageData from, to;
    CInfosOrient turned;
    turned.SetRotation(90);
    from.SetOrientation(turned);
    from.Display().SetColorLUT(3);
    from.SetSOPInstanceUID("1.9");
    to.Display().SetColorLUT(2);
    to = from;
    EXPECT_EQ(to.GetSOPInstanceUID(), "1.9");
    EXPECT_EQ(to.GetOrientation().GetRotation(), 0);
    EXPECT_EQ(to.Display().GetColorLUT(), 2);
}

TEST(GroupModel, UpgradeScalesOlderCoordinates) {
    auto make = [](std::int32_t version, float pixelSize) {
        auto tmpl = std::make_unique<CFmsTemplateData>();
        tmpl->SetVersion(version);
        tmpl->SetPixelSize(pixelSize);
        tmpl->SetScreenSize({2000, -1000});
        tmpl->SetCenterLocation({100, 200});
        auto* frame = new CFmsImageData;
        frame->SetFrameLocation({1000, 2999, -777, 25});
        tmpl->AddItem(frame);
        tmpl->UpgradeOldVersion();
        return tmpl;
    };
    auto scaled = make(3, 1.0f);
    EXPECT_EQ(scaled->GetItem(0)->GetFrameLocation(), (CGroupRect{39, 116, -30, 0}));
    EXPECT_EQ(scaled->GetScreenSize(), (CGroupSize{78, -39}));
    EXPECT_EQ(scaled->GetCenterLocation(), (CGroupPoint{3, 7}));
    EXPECT_EQ(scaled->GetPixelSize(), 1.0f);
    EXPECT_EQ(scaled->GetVersion(), 3);
    auto current = make(4, 1.0f);
    EXPECT_EQ(current->GetItem(0)->GetFrameLocation(), (CGroupRect{1000, 2999, -777, 25}));
    auto zeroPixel = make(4, 0.0f);
    EXPECT_EQ(zeroPixel->GetItem(0)->GetFrameLocation().X1, 39);
    EXPECT_EQ(zeroPixel->GetPixelSize(), 1.0f);

    CFmsTemplateData fms1;
    fms1.SetVersion(2);
    fms1.SetName("FMS1");
    fms1.UpgradeOldVersion();
    EXPECT_EQ(fms1.GetCenterLocation().Y, 65);  // 1690 x 0.039 = 65.91
}

TEST(GroupModel, ToothAndFrameAccessorsIgnoreBadIndexes) {
    CFmsImageData frame;
    frame.SetToothNumber(5, 6);
    frame.SetToothNumber(5, -1);
    EXPECT_EQ(frame.GetToothNumber(6), 0);
    EXPECT_EQ(frame.GetToothNumber(-1), 0);
    frame.SetToothNumber(5, 0);
    EXPECT_EQ(frame.GetToothNumber(0), 5);
}

}  // namespace
