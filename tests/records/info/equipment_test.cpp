// Equipment, detector, image and exposure records: defaults, texts, and the exchange with the
// SDK image record field by field.
#include "records/info/equipment.h"

#include <gtest/gtest.h>
#include <quorin/equipment.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/test_settings.h"
#include "platform/files/registry.h"
#include "platform/system/devicelib.h"
#include "test_records_fields.h"

using quorin::test::CheckTextWidths;
using quorin::test::TextField;

namespace {

// One setter/getter pair of the equipment's plain texts.
#define EQUIPMENT_TEXT(name, width, field)                                              \
    TextField<CEquipment> {                                                             \
#name, width, [](CEquipment& e, const std::string& t) { e.Set##name(t); },            \
            [](const CEquipment& e) { return e.Get##name(); },                                \
            [](const SOMUImage& r) { return static_cast<const char*>(r.equipment.field); } \
    }

}  // namespace

TEST(EquipmentRecord, TextsTravelCutToTheirFields) {
    const std::vector<TextField<CEquipment>> fields = {
        EQUIPMENT_TEXT(Manufacturer, 65, szManufacturer),
        EQUIPMENT_TEXT(ModelName, 65, szModelName),
        EQUIPMENT_TEXT(Text3, 65, szText3),
        EQUIPMENT_TEXT(Text11, 17, szText11),
        EQUIPMENT_TEXT(SoftwareVersions, 65, szSoftwareVersions),
        EQUIPMENT_TEXT(Text13, 17, szText13),
        EQUIPMENT_TEXT(Text14, 17, szText14),
        EQUIPMENT_TEXT(InstitutionName, 65, szInstitutionName),
        EQUIPMENT_TEXT(Text16, 65, szText16),
        EQUIPMENT_TEXT(StationName, 17, szStationName),
        EQUIPMENT_TEXT(Text18, 17, szText18),
        EQUIPMENT_TEXT(Text19, 65, szText19),
        EQUIPMENT_TEXT(ContributingEquipment, 325, szContributingEquipment),
    };
    CheckTextWidths<CEquipment>(
        fields, [](const CEquipment& e, SOMUImage& r) { e.ToSOMU(r.equipment); },
        [](CEquipment& e, const SOMUImage& r) { e.FromSOMU(r.equipment); });
}

TEST(EquipmentRecord, DefaultsValuesAndDate) {
    CEquipment fresh;
    EXPECT_EQ(fresh.GetManufacturer(), "Quorin Radiologie");
    EXPECT_EQ(fresh.GetModelName(), "");
    EXPECT_EQ(fresh.GetContributingEquipment(), "");
    EXPECT_FALSE(fresh.DateTime().IsDateSet());
    CDetector detector;
    EXPECT_EQ(detector.GetManufacturer(), "Quorin Radiologie");
    EXPECT_EQ(detector.GetModelName(), "");

    CEquipment source;
    source.SetValue16(0xBEEF);
    source.DateTime().SetFields(1969, 7, 20, 20, 17, 40);
    auto record = std::make_unique<SOMUImage>();
    source.ToSOMU(record->equipment);
    EXPECT_STREQ(record->equipment.szDate, "19690720");
    EXPECT_STREQ(record->equipment.szTime, "201740");
    CEquipment back;
    back.FromSOMU(record->equipment);
    EXPECT_EQ(back.GetValue16(), 0xBEEF);
    EXPECT_EQ(back.DateTime().ToNumber(), 19690720201740u);
}

TEST(EquipmentRecord, ContributingEquipmentLeavesRoomForItsZero) {
    CEquipment e;
    e.SetContributingEquipment(std::string(400, 'c'));
    EXPECT_EQ(e.GetContributingEquipment().size(), 324u);
    auto record = std::make_unique<SOMUImage>();
    std::memset(&record->equipment, 'z', sizeof record->equipment);
    e.ToSOMU(record->equipment);
    EXPECT_EQ(record->equipment.szContributingEquipment[324], '\0');
    EXPECT_EQ(std::strlen(record->equipment.szContributingEquipment), 324u);
}

TEST(EquipmentRecord, VersionListOfADeviceLibrary) {
    // No device library is present here: the text stays as it is.
    std::string out = "kept";
    CEquipment::GetAcquisitionModuleVersion("Sensix.dll", out);
    CEquipment::GetAcquisitionModuleVersion(nullptr, out);
    EXPECT_EQ(out, "kept");

    // The list form the libraries hand back: at most 12 characters of each text, 5 entries.
    SQVVersionEntry entries[7] = {};
    for (int i = 0; i < 7; ++i) {
        std::snprintf(entries[i].szText1, sizeof entries[i].szText1, "Model%d-long-name", i);
        std::snprintf(entries[i].szText2, sizeof entries[i].szText2, "%d.0", i);
        std::snprintf(entries[i].szText3, sizeof entries[i].szText3, "Module");
        entries[i].pNext = i + 1 < 7 ? &entries[i + 1] : nullptr;
    }
    std::string text;
    quorin::AppendVersionEntries(entries, text);
    EXPECT_EQ(text.rfind("Model0-long-#0.0#Module#Acquisition Software Module\\", 0), 0u);
    EXPECT_EQ(text.find("Model5"), std::string::npos);
    // A list longer than the field is kept within its 324 characters.
    std::string full(300, 'x');
    quorin::AppendVersionEntries(entries, full);
    EXPECT_EQ(full.size(), 324u);
}

// A device library built beside the suite, found through the environment or the settings:
// its modules are reported and its list goes back to it; no search path, another name or a
// relative folder find nothing.
TEST(EquipmentRecord, VersionQueryOfALibraryOnTheSearchPath) {
    quorin::test::ScopedSettings settings;
    struct PathVariable {
        explicit PathVariable(const std::string& value) {
            setenv("QUORIN_DEVICE_LIBRARY_PATH", value.c_str(), 1);
        }
        ~PathVariable() { unsetenv("QUORIN_DEVICE_LIBRARY_PATH"); }
    };
    const std::string modules =
        "Sensix#2.4.1#Sensor drive#Acquisition Software Module\\"
        "SensixFirmwa#10.0#Firmware#Acquisition Software Module\\";
    struct Case {
        const char* path;  // of the environment; null: the settings give the folder
        const char* library;
        bool found;
    } cases[] = {
        {"", "Sensix.dll", false},
        {"/nowhere:" QUORIN_TEST_DEVICE_DIR, "Sensix.dll", true},
        {"/nowhere;" QUORIN_TEST_DEVICE_DIR, "C:\\Program Files\\Quorin\\Sensix.DLL", true},
        {QUORIN_TEST_DEVICE_DIR, "Other.dll", false},
        {"tests/devicelib", "Sensix.dll", false},
        {nullptr, "Sensix.dll", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path ? c.path : "(settings)") + " " + c.library);
        win::registry::ClearHives();
        if (c.path == nullptr)
            win::registry::LoadHiveText(0,
                                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\QUORIN\\"
                                        "Devices]\n\"LibraryPath\"=\"" QUORIN_TEST_DEVICE_DIR
                                        "\"\n");
        PathVariable variable(c.path ? c.path : "");
        std::string out = "kept\\";
        CEquipment::GetAcquisitionModuleVersion(c.library, out);
        EXPECT_EQ(out, c.found ? "kept\\" + modules : "kept\\");
        if (!c.found) continue;
        win::HMODULE library = win::LoadLibraryA(c.library);
        ASSERT_NE(library, nullptr);
        auto listsOut = reinterpret_cast<int (*)()>(win::GetProcAddress(library, "QVTestListsOut"));
        ASSERT_NE(listsOut, nullptr);
        EXPECT_EQ(listsOut(), 0);  // the list went back through QVFreeVersion
        EXPECT_EQ(win::GetProcAddress(library, "NoSuchExport"), nullptr);
        EXPECT_TRUE(win::FreeLibrary(library));
    }
}

TEST(DetectorRecord, RoundTrip) {
    using F = TextField<CDetector>;
    const std::vector<F> fields = {
        {"manufacturer", 65, [](CDetector& d, const std::string& t) { d.SetManufacturer(t); },
         [](const CDetector& d) { return d.GetManufacturer(); },
         [](const SOMUImage& r) { return r.display.detector.szManufacturer; }},
        {"model", 65, [](CDetector& d, const std::string& t) { d.SetModelName(t); },
         [](const CDetector& d) { return d.GetModelName(); },
         [](const SOMUImage& r) { return r.display.detector.szModelName; }},
        {"text 3", 17, [](CDetector& d, const std::string& t) { d.SetText3(t); },
         [](const CDetector& d) { return d.GetText3(); },
         [](const SOMUImage& r) { return r.display.detector.szText3; }},
    };
    CheckTextWidths<CDetector>(
        fields, [](const CDetector& d, SOMUImage& r) { d.ToSOMU(r.display.detector); },
        [](CDetector& d, const SOMUImage& r) { d.FromSOMU(r.display.detector); });
    CDetector d;
    d.SetValue(-77);
    auto record = std::make_unique<SOMUImage>();
    d.ToSOMU(record->display.detector);
    CDetector back;
    back.FromSOMU(record->display.detector);
    EXPECT_EQ(back.GetValue(), -77);
}

TEST(ImageRecord, TextsTravelCutToTheirFields) {
    using F = TextField<CInfosImage>;
    const std::vector<F> fields = {
        {"comments", kSOMUCommentsWidth,
         [](CInfosImage& i, const std::string& t) { i.SetImageComments(t); },
         [](const CInfosImage& i) { return i.GetImageComments(); },
         [](const SOMUImage& r) { return r.info.szComments; }},
        {"ratio", 17, [](CInfosImage& i, const std::string& t) { i.SetLossyCompression(1, t); },
         [](const CInfosImage& i) {
             std::string ratio;
             i.GetLossyCompression(&ratio);
             return ratio;
         },
         [](const SOMUImage& r) { return r.info.szLossyRatio; }},
        {"image text", 17, [](CInfosImage& i, const std::string& t) { i.SetImageText(t); },
         [](const CInfosImage& i) { return i.GetImageText(); },
         [](const SOMUImage& r) { return r.info.szText; }},
    };
    CheckTextWidths<CInfosImage>(
        fields, [](const CInfosImage& i, SOMUImage& r) { i.ToSOMU(r.info); },
        [](CInfosImage& i, const SOMUImage& r) { i.FromSOMU(r.info); });
}

TEST(ImageRecord, CommentsLossyStateAndDates) {
    CInfosImage image;
    EXPECT_TRUE(image.DateTime1().IsDateSet());
    EXPECT_FALSE(image.DateTime2().IsDateSet());
    image.SetImageComments(std::string(20000, 'c'));
    EXPECT_EQ(image.GetImageComments().size(), 10240u);

    image.SetLossyCompression(0, "12:1");
    std::string ratio = "x";
    EXPECT_EQ(image.GetLossyCompression(&ratio), 0);
    EXPECT_EQ(ratio, "");
    image.SetLossyCompression(1, "12:1");
    image.SetValue(9);
    image.DateTime1().SetFields(2020, 2, 29, 1, 2, 3);
    image.DateTime2().SetFields(1960, 1, 1, 0, 0, 0);
    auto record = std::make_unique<SOMUImage>();
    image.ToSOMU(record->info);
    EXPECT_EQ(record->info.nLossy, 1);
    CInfosImage back;
    back.FromSOMU(record->info);
    EXPECT_EQ(back.GetLossyCompression(&ratio), 1);
    EXPECT_EQ(ratio, "12:1");
    EXPECT_EQ(back.GetValue(), 9);
    EXPECT_EQ(back.DateTime1().ToNumber(), 20200229010203u);
    EXPECT_EQ(back.DateTime2().ToNumber(), 19600101000000u);
    // The ratio comes only with the flag.
    record->info.nLossy = 0;
    back.FromSOMU(record->info);
    EXPECT_EQ(back.GetLossyCompression(&ratio), 0);
    EXPECT_EQ(ratio, "");
}

TEST(ExposureRecord, TextsAndRoundTrip) {
    CInfosExp exposure;
    std::string text = "pre:";
    EXPECT_FALSE(exposure.GetExposureText(text));
    EXPECT_EQ(text, "pre:");
    exposure.SetExposure(7000, 700, 120);
    EXPECT_TRUE(exposure.GetExposureText(text));
    EXPECT_EQ(text, "pre:70KV 7mA 120ms");
    struct Case {
        std::uint16_t time;
        const char* text;
    };
    for (const Case c : {Case{1000, "70KV 7mA 1000ms"}, Case{1001, "70KV 7mA 1.001s"},
                         Case{1500, "70KV 7mA 1.5s"}}) {
        exposure.SetExposure(7000, 700, c.time);
        text.clear();
        exposure.GetExposureText(text);
        EXPECT_EQ(text, c.text);
        char buffer[32];
        ASSERT_TRUE(exposure.GetExposureText(buffer, sizeof buffer));
        EXPECT_STREQ(buffer, c.text);
    }
    char small[6];
    ASSERT_TRUE(exposure.GetExposureText(small, sizeof small));
    EXPECT_STREQ(small, "70KV ");

    exposure.SetDoses(1.5f, 20.25f);
    text.clear();
    EXPECT_TRUE(exposure.GetDoseText(text, 1));
    EXPECT_EQ(text, "1.500000 mGy.cm\xB2");
    text.clear();
    EXPECT_TRUE(exposure.GetDoseText(text, 2));
    EXPECT_EQ(text, "20.250000 mGy.mm");
    EXPECT_FALSE(exposure.GetDoseText(text, 3));
    EXPECT_EQ(text, "20.250000 mGy.mm");

    exposure.SetValue(-4);
    SOMUExposure block{};
    exposure.ToSOMU(block);
    CInfosExp back;
    back.FromSOMU(block);
    EXPECT_EQ(back.GetVoltage(), 7000);
    EXPECT_EQ(back.GetCurrent(), 700);
    EXPECT_EQ(back.GetTime(), 1500);
    EXPECT_EQ(back.GetDoseArea(), 1.5f);
    EXPECT_EQ(back.GetDoseLength(), 20.25f);
    EXPECT_EQ(back.GetValue(), -4);
}
