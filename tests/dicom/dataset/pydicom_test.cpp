// Independent checks with pydicom: what our elements write, pydicom reads back with the same
// values, and what pydicom writes, our elements read with the same values, in explicit little
// endian, implicit little endian and explicit big endian; encapsulated fragments with and
// without an offset table.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "common/test_util.h"
#include "dicom/dataset/binary.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/sequence.h"
#include "dicom_bytes.h"

using namespace quorin::test;

namespace {

std::map<std::string, std::string> Lines(const std::string& output) {
    std::map<std::string, std::string> values;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

class Builder {
  public:
    Builder(Syntax s) : m_syntax(s) {
        m_list.m_bImplicit = IsImplicit(s);
        m_list.m_nByteOrder = IsBig(s) ? 0 : 1;
        Meta(SyntaxUid(s));
    }
    Builder(const char* syntaxUid) : m_syntax(Syntax::ExplicitLE) { Meta(syntaxUid); }

    void Add(CElementDICOM& e) {
        e.m_bImplicit = e.m_nGroup == 0x0002 ? 0 : IsImplicit(m_syntax);
        e.m_nByteOrder = e.m_nGroup == 0x0002 ? 1 : (IsBig(m_syntax) ? 0 : 1);
        ASSERT_TRUE(m_list.Insert(&e));
    }
    template <class T>
    void Texts(std::uint16_t g, std::uint16_t e, std::vector<const char*> values) {
        T element(3, g, e, std::uint32_t(values.size()), 0, 1);
        element.SetValue(values.data());
        Add(element);
    }
    template <class T, class V>
    void Numbers(std::uint16_t g, std::uint16_t e, std::vector<V> values) {
        T element(3, g, e, 0u, 0, 1);
        element.SetNumbers(values.data(), std::uint32_t(values.size()));
        Add(element);
    }
    std::string Save(const TempDir& dir, const std::string& name) {
        win::CMemFile out;
        EXPECT_EQ(m_list.Write(&out, 1, nullptr, 0, nullptr), 1);
        const std::string path = dir.file(name);
        WriteBytes(path, out.Data());
        return path;
    }
    CInfosDicomList m_list;

  private:
    void Meta(const char* syntaxUid) {
        CElementULMultiple length(3, 0x0002, 0x0000, 1u, 0, 1);
        Add(length);
        const std::uint8_t version[2] = {0, 1};
        CElementOB ob(3, 0x0002, 0x0001, 2u, 0, 1);
        ob.SetBytes(version, 2);
        Add(ob);
        Texts<CElementUIMultiple>(0x0002, 0x0002, {"1.2.840.10008.5.1.4.1.1.7"});
        Texts<CElementUIMultiple>(0x0002, 0x0003, {"1.2.3.4.5"});
        Texts<CElementUIMultiple>(0x0002, 0x0010, {syntaxUid});
    }
    Syntax m_syntax;
};

const char* kReadScript = R"(
import sys, struct, pydicom
from pydicom.encaps import get_frame_offsets, generate_pixel_data_fragment
from pydicom.filebase import DicomBytesIO
ds = pydicom.dcmread(sys.argv[1])
def out(k, v): print(f"{k}={v}")
def multi(v): return "|".join(str(x) for x in (v if isinstance(v, (list, pydicom.multival.MultiValue)) else [v]))
for kw in ["Modality", "PixelSpacing", "InstanceNumber", "StudyDate", "StudyTime", "DateTime",
           "ImageType", "Rows", "TagAngleSecondAxis", "ReferencedSamplePositions",
           "ReferencePixelX0", "SelectorFLValue", "ExposureTimeInms", "PatientID"]:
    if kw in ds: out(kw, multi(ds.data_element(kw).value))
if "PatientName" in ds:
    pn = ds.PatientName
    if isinstance(pn, pydicom.multival.MultiValue): pn = pn[0]
    out("PN", "|".join([pn.family_name, pn.given_name, pn.middle_name, pn.name_prefix, pn.name_suffix]))
if "DimensionIndexPointer" in ds:
    out("AT", "|".join("%08X" % int(t) for t in ds.DimensionIndexPointer))
if "EncapsulatedDocument" in ds: out("OB", ds.EncapsulatedDocument.hex())
if "RedPaletteColorLookupTableData" in ds:
    raw = ds.RedPaletteColorLookupTableData
    fmt = ("<" if ds.is_little_endian else ">") + "%dH" % (len(raw) // 2)
    out("OW", "|".join("%04X" % w for w in struct.unpack(fmt, raw)))
if "PixelData" in ds and ds.file_meta.TransferSyntaxUID.is_compressed:
    fp = DicomBytesIO(ds.PixelData)
    fp.is_little_endian = True
    offsets = get_frame_offsets(fp)
    if isinstance(offsets, tuple): offsets = offsets[1]
    out("BOT", "|".join(str(x) for x in offsets))
    out("FRAGMENTS", "|".join("%d:%d" % (len(f), f[0]) for f in generate_pixel_data_fragment(fp)))
if "ReferencedImageSequence" in ds:
    out("SQ", "|".join(str(i.ReferencedSOPInstanceUID) for i in ds.ReferencedImageSequence))
)";

}  // namespace

TEST(Pydicom, ReadsWhatOurElementsWrite) {
    TempDir dir;
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
        Builder b(s);
        b.Texts<CElementCSMultiple>(0x0008, 0x0060, {"IO"});
        b.Texts<CElementCSMultiple>(0x0008, 0x0008, {"ORIGINAL", "PRIMARY"});
        b.Texts<CElementDSMultiple>(0x0028, 0x0030, {"0.125", "-1.5E3"});
        b.Texts<CElementISMultiple>(0x0020, 0x0013, {" 42 "});
        b.Texts<CElementDAMultiple>(0x0008, 0x0020, {"2024.01.31"});
        b.Texts<CElementTMMultiple>(0x0008, 0x0030, {"12:30:45.5"});
        b.Texts<CElementLOMultiple>(0x0010, 0x0020, {"ID-7"});
        CElementDTMultiple dt(3, 0x0040, 0xA120, 1u, 0, 1);
        const char* parts[] = {"20240131", "123045.123456", "+0100"};
        const void* items[] = {parts};
        dt.SetValue(items);
        b.Add(dt);
        CElementPNMultiple pn(3, 0x0010, 0x0010, 1u, 0, 1);
        pn.SetComponents(0, "DOE", "JOHN", "Q", "DR", "JR");
        b.Add(pn);
        b.Numbers<CElementATMultiple>(
            0x0020, 0x9165, std::vector<quorin::TagValue>{{0x0028, 0x0009}, {0x0018, 0x1063}});
        b.Numbers<CElementUSMultiple>(0x0028, 0x0010, std::vector<std::uint16_t>{512});
        b.Numbers<CElementSSMultiple>(0x0018, 0x9219, std::vector<std::int16_t>{-2});
        b.Numbers<CElementULMultiple>(0x0040, 0xA132, std::vector<std::uint32_t>{1, 4294967295u});
        b.Numbers<CElementSLMultiple>(0x0018, 0x6020, std::vector<std::int32_t>{-5});
        b.Numbers<CElementFLMultiple>(0x0072, 0x0076, std::vector<float>{1.5f, -10.0f});
        b.Numbers<CElementFDMultiple>(0x0018, 0x9328, std::vector<double>{3.25});
        const std::uint8_t odd[5] = {1, 2, 3, 4, 5};
        CElementOB ob(3, 0x0042, 0x0011, 5u, 0, 1);
        ob.SetBytes(odd, 5);
        b.Add(ob);
        const std::uint16_t words[2] = {0x1234, 0xABCD};
        CElementOW ow(3, 0x0028, 0x1201, 2u, 0, 1);
        ow.SetBytes(words, 4);
        b.Add(ow);
        const auto path = b.Save(dir, "ours.dcm");
        const auto result = RunPython(kReadScript, {path});
        ASSERT_EQ(result.status, 0) << result.output;
        auto v = Lines(result.output);
        const std::string where = " in syntax " + std::to_string(int(s));
        EXPECT_EQ(v["Modality"], "IO") << where;
        EXPECT_EQ(v["ImageType"], "ORIGINAL|PRIMARY") << where;
        EXPECT_EQ(v["PixelSpacing"], "0.125|-1.5E3") << where;
        EXPECT_EQ(v["InstanceNumber"], "42") << where;
        EXPECT_EQ(v["StudyDate"], "20240131") << where;
        EXPECT_EQ(v["StudyTime"], "123045.5") << where;
        EXPECT_EQ(v["DateTime"], "20240131123045.123456+0100") << where;
        EXPECT_EQ(v["PatientID"], "ID-7") << where;
        EXPECT_EQ(v["PN"], "DOE|JOHN|Q|DR|JR") << where;
        EXPECT_EQ(v["AT"], "00280009|00181063") << where;
        EXPECT_EQ(v["Rows"], "512") << where;
        EXPECT_EQ(v["TagAngleSecondAxis"], "-2") << where;
        EXPECT_EQ(v["ReferencedSamplePositions"], "1|4294967295") << where;
        EXPECT_EQ(v["ReferencePixelX0"], "-5") << where;
        EXPECT_EQ(v["SelectorFLValue"], "1.5|-10.0") << where;
        EXPECT_EQ(v["ExposureTimeInms"], "3.25") << where;
        EXPECT_EQ(v["OB"], "010203040500") << where;
        EXPECT_EQ(v["OW"], "1234|ABCD") << where;
    }
}

TEST(Pydicom, ReadsOurEncapsulatedFragments) {
    TempDir dir;
    for (bool withTable : {false, true}) {
        Builder b("1.2.840.10008.1.2.4.50");
        CElementOB pixels(3, 0x7FE0, 0x0010, 0u, 0, 1);
        std::vector<std::uint8_t> value;
        for (std::uint8_t f : {1, 2, 3}) value.insert(value.end(), 100 * f, f);
        pixels.SetBytes(value.data(), std::uint32_t(value.size()));
        pixels.m_bEncapsulated = 1;
        pixels.m_fragments = {100, 200, 300};
        if (withTable) {
            const std::uint32_t offsets[3] = {0, 108, 316};
            pixels.m_offsetTable.assign(reinterpret_cast<const std::uint8_t*>(offsets),
                                        reinterpret_cast<const std::uint8_t*>(offsets) + 12);
        }
        b.Add(pixels);
        const auto result = RunPython(kReadScript, {b.Save(dir, "encapsulated.dcm")});
        ASSERT_EQ(result.status, 0) << result.output;
        auto v = Lines(result.output);
        EXPECT_EQ(v["BOT"],
                  withTable ? "0|108|316" : "0");  // pydicom reports an empty table as [0]
        EXPECT_EQ(v["FRAGMENTS"], "100:1|200:2|300:3");
    }
}

TEST(Pydicom, OurElementsReadWhatPydicomWrites) {
    const char* script = R"(
import sys, pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import UID
from pydicom.encaps import encapsulate
syntax, path = sys.argv[1], sys.argv[2]
ds = Dataset()
ds.file_meta = FileMetaDataset()
ds.file_meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
ds.file_meta.MediaStorageSOPInstanceUID = "1.2.3.4.5"
ds.file_meta.TransferSyntaxUID = syntax
ds.is_little_endian = syntax != "1.2.840.10008.1.2.2"
ds.is_implicit_VR = syntax == "1.2.840.10008.1.2"
ds.ImageType = ["DERIVED", "SECONDARY", "X"]
ds.PixelSpacing = ["0.1", "2.5e-3"]
ds.InstanceNumber = "-17"
ds.StudyDate = "20231231"
ds.StudyTime = "235959.25"
ds.DateTime = "20231231235959.5-0330"
ds.PatientName = "SMITH^ANN^B^MS^III\\DOE^JOHN"
ds.DimensionIndexPointer = [0x00280009, 0x00181063]
ds.Rows = 1024
ds.TagAngleSecondAxis = -300
ds.ReferencedSamplePositions = [7, 4000000000]
ds.ReferencePixelX0 = -123456
ds.SelectorFLValue = [0.25, -3.5]
ds.ExposureTimeInms = -0.125
ds.EncapsulatedDocument = bytes([9, 8, 7, 6, 5, 4])
ds.RedPaletteColorLookupTableData = bytes([0x12, 0x34, 0xAB, 0xCD])
item = Dataset(); item.ReferencedSOPInstanceUID = "1.2.3.9"
ds.ReferencedImageSequence = Sequence([item, item])
if syntax == "1.2.840.10008.1.2.4.50":
    ds = Dataset(); ds.file_meta = FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = syntax
    ds.file_meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    ds.file_meta.MediaStorageSOPInstanceUID = "1.2.3.4.5"
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.PixelData = encapsulate([bytes([1]) * 10, bytes([2]) * 20], has_bot=True)
    ds["PixelData"].VR = "OB"
ds.save_as(path, write_like_original=False)
)";
    TempDir dir;
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
        const std::string path = dir.file("theirs.dcm");
        const auto result = RunPython(script, {SyntaxUid(s), path});
        ASSERT_EQ(result.status, 0) << result.output;
        win::CMemFile f(ReadBytes(path));
        CInfosDicomList list;
        ASSERT_EQ(list.ReadFromStream(&f, 1, 0, 0, 0, 0), 0) << int(s);
        auto get = [&](std::uint16_t g, std::uint16_t e) {
            CInfosDicomNode* node = list.Find(g, e, 0);
            return node ? node->m_pElement : nullptr;
        };
        auto* type = dynamic_cast<CElementCSMultiple*>(get(0x0008, 0x0008));
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->m_nCount, 3u);
        EXPECT_STREQ(type->GetValue(2), "X");
        auto* spacing = dynamic_cast<CElementDSMultiple*>(get(0x0028, 0x0030));
        ASSERT_NE(spacing, nullptr);
        EXPECT_DOUBLE_EQ(spacing->GetNumber(1), 2.5e-3);
        EXPECT_STREQ(dynamic_cast<CElementISMultiple*>(get(0x0020, 0x0013))->GetValue(0), "-17");
        EXPECT_STREQ(dynamic_cast<CElementDAMultiple*>(get(0x0008, 0x0020))->GetValue(0),
                     "20231231");
        EXPECT_STREQ(dynamic_cast<CElementTMMultiple*>(get(0x0008, 0x0030))->GetValue(0),
                     "235959.25");
        EXPECT_STREQ(dynamic_cast<CElementDTMultiple*>(get(0x0040, 0xA120))->GetValue(0),
                     "20231231235959.5-0330");
        auto* pn = dynamic_cast<CElementPNMultiple*>(get(0x0010, 0x0010));
        ASSERT_NE(pn, nullptr);
        ASSERT_EQ(pn->m_nCount, 2u);
        EXPECT_EQ(pn->GetItem(0)->m_szPrefix, "MS");
        EXPECT_EQ(pn->GetItem(0)->m_szSuffix, "III");
        EXPECT_EQ(pn->GetItem(1)->m_szGiven, "JOHN");
        auto* at = dynamic_cast<CElementATMultiple*>(get(0x0020, 0x9165));
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(at->GetValue(1), (quorin::TagValue{0x0018, 0x1063}));
        EXPECT_EQ(dynamic_cast<CElementUSMultiple*>(get(0x0028, 0x0010))->GetValue(0), 1024);
        EXPECT_EQ(std::int16_t(dynamic_cast<CElementSSMultiple*>(get(0x0018, 0x9219))->GetValue(0)),
                  -300);
        EXPECT_EQ(dynamic_cast<CElementULMultiple*>(get(0x0040, 0xA132))->GetValue(1), 4000000000u);
        EXPECT_EQ(dynamic_cast<CElementSLMultiple*>(get(0x0018, 0x6020))->GetValue(0), -123456);
        EXPECT_EQ(dynamic_cast<CElementFLMultiple*>(get(0x0072, 0x0076))->GetValue(1), -3.5f);
        EXPECT_EQ(dynamic_cast<CElementFDMultiple*>(get(0x0018, 0x9328))->GetValue(0), -0.125);
        auto* ob = dynamic_cast<CElementOB*>(get(0x0042, 0x0011));
        ASSERT_NE(ob, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(ob->GetValue(), ob->GetValue() + ob->m_nLength),
                  (std::vector<std::uint8_t>{9, 8, 7, 6, 5, 4}));
        auto* ow = dynamic_cast<CElementOW*>(get(0x0028, 0x1201));
        ASSERT_NE(ow, nullptr);
        // pydicom wrote the bytes as given: words in the file's byte order.
        EXPECT_EQ(ow->GetWord(0), IsBig(s) ? 0x1234 : 0x3412);
        auto* sq = dynamic_cast<CElementSQ*>(get(0x0008, 0x1140));
        ASSERT_NE(sq, nullptr);
        EXPECT_EQ(sq->m_nItemCount, 2u);
        // And what we write back, pydicom still reads the same.
        win::CMemFile out;
        ASSERT_EQ(list.Write(&out, 1, nullptr, 0, nullptr), 1);
        WriteBytes(path, out.Data());
        const auto check = RunPython(kReadScript, {path});
        ASSERT_EQ(check.status, 0) << check.output;
        auto v = Lines(check.output);
        EXPECT_EQ(v["PN"], "SMITH|ANN|B|MS|III");
        EXPECT_EQ(v["SQ"], "1.2.3.9|1.2.3.9");
        EXPECT_EQ(v["ReferencedSamplePositions"], "7|4000000000");
    }
    const std::string path = dir.file("fragments.dcm");
    const auto result = RunPython(script, {"1.2.840.10008.1.2.4.50", path});
    ASSERT_EQ(result.status, 0) << result.output;
    win::CMemFile f(ReadBytes(path));
    CInfosDicomList list;
    ASSERT_EQ(list.ReadFromStream(&f, 1, 0, 0, 0, 0), 0);
    auto* pixels = dynamic_cast<CElementOB*>(list.Find(0x7FE0, 0x0010, 0)->m_pElement);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->m_fragments, (std::vector<std::uint32_t>{10, 20}));
    ASSERT_EQ(pixels->m_offsetTable.size(), 8u);
    std::uint32_t second;
    std::memcpy(&second, pixels->m_offsetTable.data() + 4, 4);
    EXPECT_EQ(second, 18u);
    EXPECT_EQ(pixels->GetValue()[10], 2);
}
