// Full-mouth series and template files: round trips of every field, files from the independent
// Python writer, our files read by Python and xmllint, and the reading rules at their edges.
#include <gtest/gtest.h>
#include <libxml/xmlmemory.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "group_test_util.h"
#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"
#include "groupfiles/xmldocument.h"
#include "platform/core/globalmem.h"

namespace {

using namespace quorin::test;

std::string Tool() {
    return quorin::test::GroupFilesTool();
}

int PythonWrite(const std::string& kind, const std::string& path) {
    return RunCommand(Tool() + " write " + kind + " " + ShellQuote(path)).status;
}

// Our file checked by Python's XML parsers and xmllint; "OK" or the faults found.
std::string PythonCheck(const std::string& kind, const std::string& path,
                        const std::vector<std::string>& pairs = {}) {
    std::string command = Tool() + " check " + kind + " " + ShellQuote(path);
    for (const std::string& pair : pairs) command += " " + ShellQuote(pair);
    std::string output = RunCommand(command).output;
    if (!quorin::test::XmllintAccepts(path)) output += "xmllint failed";
    return output;
}

SImage* MakeIcon(std::uint32_t width, std::uint32_t height, std::uint32_t samples) {
    SImage* icon = AllocSImage(width, height, samples, 8, false, nullptr);
    auto* pixels = static_cast<std::uint8_t*>(icon->pPixels);
    for (std::uint32_t i = 0; i < width * height * samples; ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return icon;
}

CFmsImageData* FullFrame(int n) {
    auto* frame = new CFmsImageData;
    frame->SetIdentifier("R00000" + std::to_string(n) + ".zel");
    frame->SetFrameLocation({n, -n, 100 + n, 200 + n});
    frame->SetSOPInstanceUID("1.2.840." + std::to_string(n));
    frame->Filter().SetFilter(3 + n, 70 + n);
    frame->Filter().SetProcessed(n % 2);
    frame->SetTransformation(n + 4);
    CInfosOrient orient;
    orient.SetMirror(1);
    orient.SetRotation(270);
    frame->SetOrientation(orient);
    frame->Display().SetColorLUT(5 + n);
    frame->SetDisplayGraphicObject(1);
    if (n == 2) {
        std::vector<std::uint16_t> table(256);
        for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint16_t>(i * 257);
        frame->LUTGray().SetTable(table.data(), 256);
    } else {
        frame->LUTGray().SetSettings(12, -20, 30, 1, 4096);
    }
    CInfosDateTime date;
    date.SetFields(2023, 12, 31, 23, 59, 58);
    frame->SetAcquisitionDate(date);
    frame->SetFrameType(n == 3 ? 0 : 2);
    frame->SetFrameImageType(3);
    for (int i = 0; i < CFmsImageData::kToothCount; ++i) frame->SetToothNumber(11 + i + n, i);
    for (int i = 0; i < CFmsImageData::FRAME_VALUE_COUNT; ++i)
        frame->SetFrameValue(static_cast<CFmsImageData::EFrameValue>(i), 100 * n + i);
    return frame;
}

void ExpectSameFrame(const CFmsImageData& a, const CFmsImageData& b) {
    EXPECT_EQ(a.GetIdentifier(), b.GetIdentifier());
    EXPECT_EQ(a.GetFrameLocation(), b.GetFrameLocation());
    EXPECT_EQ(a.GetSOPInstanceUID(), b.GetSOPInstanceUID());
    std::int32_t fa = 0, pa = 0, fb = 0, pb = 0;
    a.Filter().GetFilter(&fa, &pa);
    b.Filter().GetFilter(&fb, &pb);
    EXPECT_EQ(fa, fb);
    EXPECT_EQ(pa, pb);
    EXPECT_EQ(a.Filter().GetProcessed(), b.Filter().GetProcessed());
    EXPECT_EQ(a.GetTransformation(), b.GetTransformation());
    EXPECT_EQ(a.GetOrientation().GetMirror(), b.GetOrientation().GetMirror());
    EXPECT_EQ(a.GetOrientation().GetRotation(), b.GetOrientation().GetRotation());
    EXPECT_EQ(a.Display().GetColorLUT(), b.Display().GetColorLUT());
    EXPECT_EQ(a.GetDisplayGraphicObject(), b.GetDisplayGraphicObject());
    EXPECT_EQ(a.LUTGray().Table(), b.LUTGray().Table());
    EXPECT_EQ(a.LUTGray().GetBrightness(), b.LUTGray().GetBrightness());
    EXPECT_EQ(a.LUTGray().GetContrast(), b.LUTGray().GetContrast());
    EXPECT_EQ(a.LUTGray().GetGamma(), b.LUTGray().GetGamma());
    EXPECT_EQ(a.LUTGray().IsInversed(), b.LUTGray().IsInversed());
    EXPECT_EQ(a.LUTGray().GetMaxEntries(), b.LUTGray().GetMaxEntries());
    EXPECT_EQ(a.GetAcquisitionDate(), b.GetAcquisitionDate());
    EXPECT_EQ(a.GetFrameType(), b.GetFrameType());
    EXPECT_EQ(a.GetFrameImageType(), b.GetFrameImageType());
    for (int i = 0; i < CFmsImageData::kToothCount; ++i)
        EXPECT_EQ(a.GetToothNumber(i), b.GetToothNumber(i));
    for (int i = 0; i < CFmsImageData::FRAME_VALUE_COUNT; ++i)
        EXPECT_EQ(a.GetFrameValue(static_cast<CFmsImageData::EFrameValue>(i)),
                  b.GetFrameValue(static_cast<CFmsImageData::EFrameValue>(i)));
}

void ExpectSameSeries(const CFmsData& a, const CFmsData& b, bool withIcon) {
    EXPECT_EQ(a.GetClassID(), b.GetClassID());
    EXPECT_EQ(a.GetIdentifier(), b.GetIdentifier());
    EXPECT_EQ(a.GetFrameLocation(), b.GetFrameLocation());
    EXPECT_EQ(a.GetVersion(), b.GetVersion());
    EXPECT_EQ(a.GetCreationDate(), b.GetCreationDate());
    EXPECT_EQ(a.GetName(), b.GetName());
    EXPECT_EQ(a.GetComments(), b.GetComments());
    EXPECT_EQ(a.GetPixelSize(), b.GetPixelSize());
    EXPECT_EQ(a.GetScreenSize(), b.GetScreenSize());
    EXPECT_EQ(a.GetCenterLocation(), b.GetCenterLocation());
    EXPECT_EQ(a.GetFitImageToFrame(), b.GetFitImageToFrame());
    EXPECT_EQ(a.GetFreeFormat(), b.GetFreeFormat());
    EXPECT_EQ(a.GetUserDefined(), b.GetUserDefined());
    EXPECT_EQ(a.GetExtraOralFMS(), b.GetExtraOralFMS());
    EXPECT_EQ(a.GetSuperimpositionFMS(), b.GetSuperimpositionFMS());
    EXPECT_EQ(a.GetTemplateIdentifier(), b.GetTemplateIdentifier());
    EXPECT_EQ(a.GetFMSUID(), b.GetFMSUID());
    ASSERT_EQ(a.GetItemCount(), b.GetItemCount());
    for (std::size_t i = 0; i < a.GetItemCount(); ++i) {
        const CCoreItemData* ia = a.GetItem(static_cast<std::int64_t>(i));
        const CCoreItemData* ib = b.GetItem(static_cast<std::int64_t>(i));
        ASSERT_EQ(ia->GetClassID(), ib->GetClassID()) << i;
        if (ia->GetClassID() == CLASSID_FMS_IMAGE)
            ExpectSameFrame(static_cast<const CFmsImageData&>(*ia),
                            static_cast<const CFmsImageData&>(*ib));
        else
            ExpectSameSeries(static_cast<const CFmsData&>(*ia), static_cast<const CFmsData&>(*ib),
                             false);
    }
    if (!withIcon) return;
    const SImage* ia = a.PeekIcon();
    const SImage* ib = b.PeekIcon();
    ASSERT_EQ(ia == nullptr, ib == nullptr);
    if (ia == nullptr) return;
    EXPECT_EQ(ia->nWidth, ib->nWidth);
    EXPECT_EQ(ia->nHeight, ib->nHeight);
    EXPECT_EQ(ia->nSamplesPerPixel, ib->nSamplesPerPixel);
    EXPECT_EQ(ia->nBitsPerSample, ib->nBitsPerSample);
    EXPECT_EQ(std::memcmp(ia->pPixels, ib->pPixels,
                          std::size_t{ia->nWidth} * ia->nHeight * ia->nSamplesPerPixel),
              0);
}

std::unique_ptr<CFmsData> FullSeries() {
    auto fms = std::make_unique<CFmsData>();
    fms->SetIdentifier("C:\\Patients\\F000001.fms");
    fms->SetFrameLocation({1, 2, 3, 4});
    CInfosDateTime created;
    created.SetFields(2020, 2, 29, 0, 0, 0);
    fms->SetCreationDate(created);
    fms->SetName("Full <series> & \"more\"");
    fms->SetComments("line one\r\nline two\n\tindented ");
    fms->SetPixelSize(0.25f);
    fms->SetScreenSize({1280, 1024});
    fms->SetCenterLocation({640, -480});
    fms->SetFitImageToFrame(1);
    fms->SetSecondFit(0);  // clears whenever FitImageToFrame is read
    fms->SetFreeFormat(1);
    fms->SetUserDefined(0);
    fms->SetExtraOralFMS(1);
    fms->SetSuperimpositionFMS(1);
    fms->SetTemplateIdentifier("FMS-18");
    fms->SetFMSUID(CUid("1.3.999.4.77.3.5.6"));
    for (int n = 1; n <= 3; ++n) fms->AddItem(FullFrame(n));
    auto* nested = new CFmsData;
    nested->SetName("nested");
    nested->SetSecondFit(0);
    nested->AddItem(FullFrame(7));
    fms->AddItem(nested);
    fms->SetIcon(MakeIcon(5, 3, 3));
    return fms;
}

TEST(FmsFiles, SeriesRoundTripKeepsEveryField) {
    TempDir dir;
    const std::string path = dir.file("F000001.fms");
    auto saved = FullSeries();
    ASSERT_TRUE(saved->Save(path)) << saved->GetErrorText();
    EXPECT_EQ(saved->GetIdentifier(), "C:\\Patients\\F000001.fms");
    CFmsData loaded;
    ASSERT_TRUE(loaded.Load(path)) << loaded.GetErrorText();
    ExpectSameSeries(*saved, loaded, true);
    EXPECT_EQ(loaded.GetErrorCode(), 0);

    CFmsData noIcon;
    ASSERT_TRUE(noIcon.Load(path, false));
    EXPECT_EQ(noIcon.PeekIcon(), nullptr);
    EXPECT_EQ(noIcon.GetItemCount(), 4u);

    // Loading again gives the file's contents, not the file's items twice.
    ASSERT_TRUE(loaded.Load(path));
    ExpectSameSeries(*saved, loaded, true);
}

TEST(FmsFiles, OurFilesParseWithPythonAndCarryTheLayout) {
    TempDir dir;
    const std::string path = dir.file("F000002.fms");
    auto fms = FullSeries();
    ASSERT_TRUE(fms->Save(path));
    EXPECT_EQ(
        PythonCheck(
            "fms", path,
            {"Name=Full <series> & \"more\"", "Version=4", "PixelSize=0.250000",
             "CreationDate=20200229", "ItemData[1]/ClassID=6",
             "ItemData[1]/ImageInfos/AcquisitionDate=20231231235958",
             "ItemData[2]/GrayLUTInfos/UseSettings=0", "ItemData[2]/GrayLUTInfos/Entries=256",
             "ItemData[1]/GrayLUTInfos/Entries=4096", "ItemData[1]/GrayLUTInfos/Brightness=12",
             "ItemData[3]/TeethNumber/ToothNumber5=19", "ItemData[3]/RightFrame=308",
             "ItemData[4]/ClassID=4", "ItemData[4]/Name=nested",
             "ItemData[4]/ItemData[1]/FrameNumber=700", "FMSUID=1.3.999.4.77.3.5.6",
             "TemplateIdentifier=FMS-18", "IconImage/Width=5", "IconImage/SamplesPerPixel=3"}),
        "OK\n");

    CFmsTemplateData tmpl;
    tmpl.SetName("T");
    ASSERT_TRUE(tmpl.Save(dir.file("t.xml")));
    EXPECT_EQ(PythonCheck("template", dir.file("t.xml"),
                          {"ClassID=3", "Identifier=" + dir.file("t.xml")}),
              "OK\n");
}

// Read as written, or, short of memory at any of the XML library's allocations, refused for
// want of it: never read in part (a field the memory could not take is not a missing one).
TEST(FmsFiles, SeriesFromThePythonWriterReadsAsWritten) {
    TempDir dir;
    for (const char* kind : {"fms", "fms-compact"}) {
        SCOPED_TRACE(kind);
        const std::string path = dir.file(std::string(kind) + ".fms");
        ASSERT_EQ(PythonWrite(kind, path), 0);
        // The plain file with every allocation failing from the Nth on, the compact one with the
        // Nth alone failing, for N = 0, 1, ... until the load meets no failure.
        const bool all = std::strcmp(kind, "fms") == 0;
        for (long failAt = 0; !HasFailure(); ++failAt) {
            CFmsData fms;
            bool loaded = false, failed = false;
            {
                const AllocationsFail fail(failAt, all);
                loaded = fms.Load(path);
                failed = g_allocationsLeft <= 0;
            }
            SCOPED_TRACE("allocation " + std::to_string(failAt) + " failing");
            if (!loaded) {
                EXPECT_TRUE(failed && (fms.GetErrorCode() == quorin::kXmlErrorOutOfMemory ||
                                       fms.GetErrorCode() == 8))  // ERROR_NOT_ENOUGH_MEMORY
                    << fms.GetErrorText();
                continue;
            }
            EXPECT_EQ(fms.GetIdentifier(), "series.fms");
            EXPECT_EQ(fms.GetFrameLocation(), (CGroupRect{1, 2, 3, 4}));
            EXPECT_EQ(fms.GetName(), "S\xE9rie \x80 & <co>");
            EXPECT_EQ(fms.GetComments(), "two\nlines");
            EXPECT_EQ(fms.GetCreationDate().GetYear(), 2020);
            EXPECT_EQ(fms.GetCreationDate().GetDay(), 29);
            EXPECT_EQ(fms.GetScreenSize(), (CGroupSize{1280, 1024}));
            EXPECT_EQ(fms.GetCenterLocation(), (CGroupPoint{640, 480}));
            EXPECT_EQ(fms.GetFitImageToFrame(), 1);
            EXPECT_EQ(fms.GetSecondFit(), 0);
            EXPECT_EQ(fms.GetFreeFormat(), 1);
            EXPECT_EQ(fms.GetUserDefined(), 0);
            EXPECT_EQ(fms.GetExtraOralFMS(), 1);
            EXPECT_EQ(fms.GetTemplateIdentifier(), "FMS-20");
            EXPECT_EQ(fms.GetFMSUID().GetText(), "1.3.999.4.77.9.1");
            ASSERT_EQ(fms.GetItemCount(), 3u);
            for (int n = 1; n <= 3; ++n) {
                const auto* frame = dynamic_cast<const CFmsImageData*>(fms.GetItem(n - 1));
                ASSERT_NE(frame, nullptr);
                EXPECT_EQ(frame->GetIdentifier(), "R00000" + std::to_string(n) + ".zel");
                EXPECT_EQ(frame->GetFrameLocation(),
                          (CGroupRect{10 * n, 20 * n, 10 * n + 100, 20 * n + 150}));
                EXPECT_EQ(frame->GetSOPInstanceUID(), "1.2.3." + std::to_string(n));
                std::int32_t filter = 0, parameter = 0;
                frame->Filter().GetFilter(&filter, &parameter);
                EXPECT_EQ(filter, 3);
                EXPECT_EQ(parameter, 7);
                EXPECT_EQ(frame->GetTransformation(), 2);
                EXPECT_EQ(frame->GetOrientation().GetMirror(), 1);
                EXPECT_EQ(frame->GetOrientation().GetRotation(), 270);
                EXPECT_EQ(frame->Display().GetColorLUT(), 5);
                EXPECT_EQ(frame->GetDisplayGraphicObject(), 1);
                EXPECT_EQ(frame->GetAcquisitionDate().GetDay(), n);
                EXPECT_EQ(frame->GetAcquisitionDate().GetSecond(), 12);
                EXPECT_EQ(frame->GetFrameType(), n == 3 ? 0 : 1);
                EXPECT_EQ(frame->GetToothNumber(0), 11 + n);
                EXPECT_EQ(frame->GetToothNumber(5), 48);
                EXPECT_EQ(frame->GetFrameValue(CFmsImageData::RIGHT_FRAME), n * 10 + 8);
                if (n == 2) {
                    ASSERT_EQ(frame->LUTGray().Table().size(), 256u);
                    EXPECT_EQ(frame->LUTGray().Table()[255], 765);
                } else {
                    EXPECT_TRUE(frame->LUTGray().HasNoTable());
                    EXPECT_EQ(frame->LUTGray().GetBrightness(), 12);
                    EXPECT_EQ(frame->LUTGray().GetContrast(), -20);
                    EXPECT_EQ(frame->LUTGray().GetGamma(), 30);
                    EXPECT_TRUE(frame->LUTGray().IsInversed());
                }
            }
            const SImage* icon = fms.PeekIcon();
            ASSERT_NE(icon, nullptr);
            EXPECT_EQ(icon->nWidth, 4u);
            EXPECT_EQ(icon->nHeight, 3u);
            EXPECT_EQ(static_cast<const std::uint8_t*>(icon->pPixels)[11], (11 * 7 + 3) & 0xFF);
            if (!failed) break;
        }
    }
}

TEST(FmsFiles, OlderTemplateIsScaledAndReadToTheFirstMissingIndex) {
    TempDir dir;
    const std::string path = dir.file("old.xml");
    ASSERT_EQ(PythonWrite("template-v2", path), 0);
    CFmsTemplateData tmpl;
    ASSERT_TRUE(tmpl.Load(path)) << tmpl.GetErrorText();
    EXPECT_EQ(tmpl.GetVersion(), 2);
    EXPECT_EQ(tmpl.GetPixelSize(), 1.0f);
    EXPECT_EQ(tmpl.GetScreenSize(), (CGroupSize{78, 39}));
    EXPECT_EQ(tmpl.GetCenterLocation(), (CGroupPoint{3, 65}));  // "FMS1" of version 2
    EXPECT_EQ(tmpl.GetSecondFit(), 0);
    ASSERT_EQ(tmpl.GetItemCount(), 2u);  // indexes 1, 2, 4: stops at 3
    const auto* second = static_cast<const CFmsImageData*>(tmpl.GetItem(1));
    EXPECT_EQ(second->GetFrameLocation(), (CGroupRect{78, 3, 116, -30}));
    EXPECT_EQ(second->GetToothNumber(0), 32);

    // Saving writes version 4, and the coordinates as they now are.
    ASSERT_TRUE(tmpl.Save(dir.file("new.xml")));
    EXPECT_EQ(tmpl.GetVersion(), 4);
    EXPECT_EQ(tmpl.GetIdentifier(), dir.file("new.xml"));
    EXPECT_EQ(PythonCheck(
                  "template", dir.file("new.xml"),
                  {"Version=4", "ItemData[2]/FrameLocation/X2=116",
                   "ItemData[2]/TeethNumber/ToothNumber=32", "Identifier=" + dir.file("new.xml")}),
              "OK\n");
    CFmsTemplateData again;
    ASSERT_TRUE(again.Load(dir.file("new.xml")));
    EXPECT_EQ(again.GetItem(1)->GetFrameLocation(), (CGroupRect{78, 3, 116, -30}));
}

TEST(FmsFiles, WrongRootEmptyPathAndMissingFileFail) {
    TempDir dir;
    const std::string path = dir.file("t.xml");
    ASSERT_EQ(PythonWrite("template-v2", path), 0);
    CFmsData fms;
    EXPECT_FALSE(fms.Load(path));
    EXPECT_EQ(fms.GetErrorCode(), 1629);
    EXPECT_EQ(fms.GetErrorText(), "The data supplied is of the wrong type.");
    EXPECT_EQ(fms.GetItemCount(), 0u);
    EXPECT_EQ(fms.GetName(), "");

    EXPECT_FALSE(fms.Load("   "));
    EXPECT_EQ(fms.GetErrorCode(), 160);
    EXPECT_EQ(fms.GetErrorText(), "One or more arguments are not correct.");
    EXPECT_FALSE(fms.Save(""));
    EXPECT_EQ(fms.GetErrorCode(), 160);

    fms.SetName("kept");
    EXPECT_FALSE(fms.Load(dir.file("none.fms")));
    EXPECT_EQ(fms.GetErrorCode(), 2);
    EXPECT_EQ(fms.GetName(), "kept");

    WriteText(dir.file("bad.fms"), "<FMS_DATA><Name>x</Name>");
    EXPECT_FALSE(fms.Load(dir.file("bad.fms")));
    EXPECT_NE(fms.GetErrorCode(), 0);
    EXPECT_FALSE(fms.GetErrorText().empty());
    EXPECT_EQ(fms.GetName(), "kept");

    // A pipe is no group file: refused at once, in both forms of a context too.
    ::alarm(60);  // a load that waits on the pipe ends the run instead of hanging it
    ASSERT_EQ(::mkfifo(dir.file("pipe.cqv").c_str(), 0600), 0);
    EXPECT_FALSE(fms.Load(dir.file("pipe.cqv")));
    EXPECT_EQ(fms.GetErrorCode(), 1920);
    EXPECT_EQ(fms.GetErrorText(), "The file cannot be accessed by the system.");
    CCqvDataQV5 cqv;
    EXPECT_FALSE(cqv.Load(dir.file("pipe.cqv")));
    ::alarm(0);
}

TEST(FmsFiles, MissingAndMalformedElementsKeepTheirDefaults) {
    TempDir dir;
    WriteText(dir.file("a.fms"),
              "<FMS_DATA><Name>n</Name><PixelSize>junk</PixelSize><Version> -3x</Version>"
              "<ItemData Index='1'><ClassID>6</ClassID><FrameType>  +12abc</FrameType>"
              "<FrameImageType>99999999999</FrameImageType>"
              "<ImageInfos><AcquisitionDate>20240102</AcquisitionDate></ImageInfos>"
              "<TeethNumber><ToothNumber>7</ToothNumber></TeethNumber><ToothNumber>9</ToothNumber>"
              "</ItemData><ItemData Index='2'><FrameType>1</FrameType></ItemData>"
              "<ItemData Index='3'><ClassID>6</ClassID></ItemData></FMS_DATA>");
    CFmsData fms;
    ASSERT_TRUE(fms.Load(dir.file("a.fms")));
    EXPECT_EQ(fms.GetVersion(), -3);
    EXPECT_EQ(fms.GetPixelSize(), 1.0f);  // scaled (junk reads as 0.0), then 1.0
    ASSERT_EQ(fms.GetItemCount(), 2u);    // the item without ClassID is skipped
    const auto* frame = static_cast<const CFmsImageData*>(fms.GetItem(0));
    EXPECT_EQ(frame->GetFrameType(), 12);
    EXPECT_EQ(frame->GetFrameImageType(), 2147483647);
    EXPECT_EQ(frame->GetToothNumber(0), 7);
    EXPECT_EQ(frame->GetAcquisitionDate().GetDay(), 2);
    EXPECT_EQ(frame->GetAcquisitionDate().GetHour(), 0);  // no time in the text
    const auto* plain = static_cast<const CFmsImageData*>(fms.GetItem(1));
    EXPECT_EQ(plain->GetFrameType(), 1);
    EXPECT_EQ(plain->GetFrameImageType(), 1);

    // Without Version: read as 4, not scaled.
    WriteText(dir.file("b.fms"),
              "<FMS_DATA><ItemData Index='1'><ClassID>6</ClassID><FrameLocation><X1>1000</X1>"
              "</FrameLocation></ItemData></FMS_DATA>");
    ASSERT_TRUE(fms.Load(dir.file("b.fms")));
    EXPECT_EQ(fms.GetVersion(), 4);
    EXPECT_EQ(fms.GetItem(0)->GetFrameLocation().X1, 1000);
}

std::string IconFile(int width, int height, int samples, int bits,
                     const std::vector<std::uint8_t>& data) {
    CXmlDocument doc;
    auto root = doc.CreateRoot("FMS_DATA", "");
    auto icon = root->CreateChild("IconImage", "");
    icon->AddIntChild("Width", width);
    icon->AddIntChild("Height", height);
    icon->AddIntChild("SamplesPerPixel", samples);
    icon->AddIntChild("BitsPerSample", bits);
    icon->AddBinaryChild("Data", data.data(), data.size());
    TempDir dir;
    const std::string path = dir.file("i.fms");
    doc.Save(path);
    const std::vector<std::uint8_t> file = quorin::test::ReadBytes(path);
    return std::string(file.begin(), file.end());
}

std::string IconFile(int width, int height, int samples, int bits, std::size_t bytes) {
    return IconFile(width, height, samples, bits, std::vector<std::uint8_t>(bytes, 0x5A));
}

TEST(FmsFiles, IconsAreCheckedBeforeAnythingIsMade) {
    TempDir dir;
    struct Case {
        int w, h, s, bits;
        std::size_t bytes;
        bool icon;
    } cases[] = {
        {4, 3, 1, 8, 12, true},           {4, 3, 1, 8, 11, false},  // one byte short
        {4, 3, 1, 12, 24, true},                                    // two bytes per sample
        {4, 3, 1, 0, 12, false},                                    // a zero number
        {-4, -3, 1, 8, 12, false},                                  // negative sides
        {65536, 65536, 4, 32, 16, false},                           // 64 GiB claimed by 16 bytes
        {4, 3, 1, 40, 60, false},                                   // no such depth
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        WriteText(dir.file("i.fms"), IconFile(c.w, c.h, c.s, c.bits, c.bytes));
        CFmsData fms;
        fms.SetIcon(AllocSImage(1, 1, 1, 8, false, nullptr));
        ASSERT_TRUE(fms.Load(dir.file("i.fms")));
        EXPECT_EQ(fms.PeekIcon() != nullptr, c.icon);
    }
    // A huge payload (within the file cap) for a small icon is never decoded.
    std::string huge =
        "<FMS_DATA xmlns:dt='urn:schemas-microsoft-com:datatypes'><IconImage>"
        "<Width>2</Width><Height>2</Height><SamplesPerPixel>1</SamplesPerPixel>"
        "<BitsPerSample>8</BitsPerSample><Data dt:dt='bin.base64'>";
    huge += std::string(8u << 20, 'A');
    huge += "</Data></IconImage></FMS_DATA>";
    WriteText(dir.file("huge.fms"), huge);
    CFmsData fms;
    ASSERT_TRUE(fms.Load(dir.file("huge.fms")));
    EXPECT_EQ(fms.PeekIcon(), nullptr);
}

TEST(FmsFiles, IconsOfMoreThan16BitsHoldFourByteElements) {
    // The file stores (bits - 1) / 8 + 1 bytes per sample; the image record holds 4-byte
    // elements from 17 bits up, low byte first.
    TempDir dir;
    for (int bits : {20, 24, 32}) {
        SCOPED_TRACE(bits);
        std::vector<std::uint8_t> data(2 * ((bits - 1) / 8 + 1));
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
        WriteText(dir.file("i.fms"), IconFile(2, 1, 1, bits, data));
        CFmsData fms;
        ASSERT_TRUE(fms.Load(dir.file("i.fms")));
        const SImage* icon = fms.PeekIcon();
        ASSERT_NE(icon, nullptr);
        ASSERT_GE(win::GlobalSize(win::GlobalHandle(icon->pPixels)), 8u);
        const auto* elements = static_cast<const std::uint32_t*>(icon->pPixels);
        EXPECT_EQ(elements[0], bits == 32 ? 0x04030201u : 0x030201u);
        EXPECT_EQ(elements[1], bits == 32 ? 0x08070605u : 0x060504u);

        ASSERT_TRUE(fms.Save(dir.file("o.fms")));  // back to the file's layout
        EXPECT_EQ(PythonCheck("fms", dir.file("o.fms")), "OK\n");
        CFmsData again;
        ASSERT_TRUE(again.Load(dir.file("o.fms")));
        ASSERT_NE(again.PeekIcon(), nullptr);
        EXPECT_EQ(static_cast<const std::uint32_t*>(again.PeekIcon()->pPixels)[1], elements[1]);
    }
}

TEST(FmsFiles, GreyTableIsReadOnlyWhenCountAndDataAgree) {
    TempDir dir;
    auto frameFile = [&](int entries, std::size_t bytes) {
        std::vector<std::uint8_t> data(bytes, 1);
        CXmlDocument doc;
        auto root = doc.CreateRoot("FMS_DATA", "");
        auto item = root->CreateChild("ItemData", "");
        item->SetIntAttribute("Index", 1);
        item->AddIntChild("ClassID", 6);
        auto lut = item->CreateChild("GrayLUTInfos", "");
        lut->AddIntChild("UseSettings", 0);
        lut->AddIntChild("Entries", entries);
        lut->AddBinaryChild("Data", data.data(), data.size());
        doc.Save(dir.file("l.fms"));
        CFmsData fms;
        EXPECT_TRUE(fms.Load(dir.file("l.fms")));
        return static_cast<const CFmsImageData*>(fms.GetItem(0))->LUTGray().Table().size();
    };
    EXPECT_EQ(frameFile(256, 512), 256u);
    EXPECT_EQ(frameFile(255, 512), 0u);
    EXPECT_EQ(frameFile(0, 512), 0u);
    EXPECT_EQ(frameFile(-256, 512), 0u);
    EXPECT_EQ(frameFile(70000, 140000), 0u);  // more than any 16-bit table
}

TEST(FmsFiles, SavingWithoutIdentifierStoresThePath) {
    TempDir dir;
    CFmsData fms;
    fms.SetVersion(2);
    ASSERT_TRUE(fms.Save("  " + dir.file("p.fms") + " "));
    EXPECT_EQ(fms.GetIdentifier(), dir.file("p.fms"));
    EXPECT_EQ(fms.GetVersion(), 4);
    CFmsData loaded;
    ASSERT_TRUE(loaded.Load("\f\v\t" + dir.file("p.fms") + "\r\n\v\f "));
    EXPECT_EQ(loaded.GetIdentifier(), dir.file("p.fms"));
    ASSERT_TRUE(loaded.Save());  // to its Identifier
    EXPECT_FALSE(CFmsData().Save());
}

TEST(FmsFiles, SavingThroughALinkReplacesTheFileItNames) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("series"));
    WriteText(dir.file("series/s.fms"), "old");
    std::filesystem::create_symlink("series/s.fms", dir.file("link.fms"));
    CFmsData fms;
    fms.SetName("through the link");
    ASSERT_TRUE(fms.Save(dir.file("link.fms"))) << fms.GetErrorText();
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.fms")));
    CFmsData loaded;
    ASSERT_TRUE(loaded.Load(dir.file("series/s.fms")));
    EXPECT_EQ(loaded.GetName(), "through the link");
}

TEST(FmsFiles, HostileDocumentsFailCleanly) {
    TempDir dir;
    const std::vector<std::string> docs = {
        "",
        "<",
        "<FMS_DATA>",
        "<?xml version='1.0' encoding='bogus'?><FMS_DATA/>",
        "<!DOCTYPE FMS_DATA SYSTEM 'http://192.0.2.1/x.dtd'><FMS_DATA><Name>n</Name></FMS_DATA>",
        std::string("<FMS_DATA>\0</FMS_DATA>", 22),
        "<FMS_DATA><ItemData Index='1'><ClassID>4</ClassID><ItemData Index='1'><ClassID>4"
        "</ClassID></ItemData></ItemData></FMS_DATA>",
    };
    for (const std::string& text : docs) {
        WriteText(dir.file("h.fms"), text);
        CFmsData fms;
        if (fms.Load(dir.file("h.fms"))) {
            EXPECT_EQ(fms.GetErrorCode(), 0) << text;
        } else {
            EXPECT_NE(fms.GetErrorCode(), 0) << text;
            EXPECT_FALSE(fms.GetErrorText().empty()) << text;
        }
    }
    // Deeply nested series: the parser's depth limit refuses the file.
    std::string deep;
    for (int i = 0; i < 400; ++i) deep += "<ItemData Index='1'><ClassID>4</ClassID>";
    for (int i = 0; i < 400; ++i) deep += "</ItemData>";
    WriteText(dir.file("d.fms"), "<FMS_DATA>" + deep + "</FMS_DATA>");
    CFmsData fms;
    EXPECT_FALSE(fms.Load(dir.file("d.fms")));
    EXPECT_NE(fms.GetErrorCode(), 0);
}

}  // namespace

#include "common/failing_new.h"  // fails as AllocationFails() says
