// The quick readers: what they answer on files carrying the maker's private block and tooth
// sequences, agreement with dcmdump on the tags they read, empty values, and the open retries.
#include <gtest/gtest.h>
#include <quorin/anatomy.h>
#include <quorin/patient.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "common/test_util.h"
#include "dicomfile_util.h"
#include "platform/core/lasterror.h"

namespace quorin::test {
namespace {

// A file opened and its transfer syntax read, as the exports do.
struct Opened {
    CDicomTypeFile file;
    int syntax = -1;
    explicit Opened(const std::string& path) {
        if (file.Open(path.c_str(), win::CFile::modeRead)) syntax = file.ReadTransferSyntax();
    }
    explicit Opened(const std::vector<std::uint8_t>& bytes) {
        if (file.OpenMemory(bytes.data(), bytes.size())) syntax = file.ReadTransferSyntax();
    }
};

std::string Joined(const std::vector<std::string>& teeth) {
    std::string out;
    for (const auto& t : teeth) out += (out.empty() ? "" : " ") + t;
    return out;
}

TEST(QuickReaders, AnswerOnTheMakersOwnFiles) {
    struct Case {
        const char* file;
        int type;
        const char* teeth;
        int flip;
        int capture;
    };
    const Case cases[] = {
        {"sample.dcm", 1, "18 55 15", 1, 2},      // private tooth codes, SNOMED RT and CT
        {"teeth_implicit.dcm", 1, "11", 1, 2},    // implicit VR
        {"teeth_big.dcm", 1, "11 41", 1, 2},      // big endian; (0018,7034) "YES"
        {"primary_teeth.dcm", 6, "11 21", 1, 2},  // DX for processing, "Velmo 7300 Ceph"
        {"region.dcm", 3, "26 36", 1, 2},         // jaw region, first molar, left
        {"cr_pano.dcm", 15, "", 1, 3},            // CR with plate "Velmo PANO"
        {"vl_wlk.dcm", 2, "", 1, 4},              // VL photographic, "WLK"
    };
    for (const Case& c : cases) {
        Opened opened(GeneratedSamples() + "/" + c.file);
        ASSERT_EQ(opened.syntax, 0) << c.file;
        std::int32_t type = -1, flip = -1, capture = -1;
        EXPECT_EQ(opened.file.ReadImageType(type), 0) << c.file;
        EXPECT_EQ(type, c.type) << c.file;
        std::vector<std::string> teeth;
        EXPECT_EQ(opened.file.ReadToothNumbers(teeth), 0) << c.file;
        EXPECT_EQ(Joined(teeth), c.teeth) << c.file;
        EXPECT_EQ(opened.file.ReadHorizontalFlip(flip), 0);
        EXPECT_EQ(flip, c.flip) << c.file;
        EXPECT_EQ(opened.file.ReadCaptureSource(capture), 0);
        EXPECT_EQ(capture, c.capture) << c.file;
        std::uint16_t value = 0;
        EXPECT_EQ(opened.file.ReadPrivateUS45(value), 0);
        EXPECT_EQ(value, 3) << c.file;
        quorin::DicomPatientValues patient;
        EXPECT_EQ(opened.file.ReadPatient(patient), 0);
        EXPECT_EQ(patient.family + "^" + patient.given + "^" + patient.middle, "Doe^Jane^M");
        EXPECT_EQ(patient.birthDate, "19800215");
    }
}

TEST(QuickReaders, FillThePatientAndTeethRecords) {
    Opened opened(GeneratedSamples() + "/teeth_big.dcm");
    ASSERT_EQ(opened.syntax, 0);
    CPatient patient;
    EXPECT_EQ(opened.file.ReadPatient(patient), 0);
    std::string family, given, suffix;
    patient.GetName(&family, &given, nullptr, nullptr, &suffix);
    EXPECT_EQ(family, "Doe");
    EXPECT_EQ(given, "Jane");
    EXPECT_EQ(suffix, "Jr");
    EXPECT_EQ(patient.BirthDate().GetYear(), 1980);
    EXPECT_EQ(patient.BirthDate().GetMonth(), 2);
    EXPECT_EQ(patient.BirthDate().GetDay(), 15);
    EXPECT_EQ(patient.GetPatientID(), "PID-0042");
    EXPECT_EQ(patient.GetSex(), "F");
    CAnatTeethList teeth;
    EXPECT_EQ(opened.file.ReadToothNumbers(teeth), 0);
    ASSERT_EQ(teeth.GetCount(), 2);
    EXPECT_EQ(teeth.GetAt(0)->GetNumber(), "11");
    EXPECT_EQ(teeth.GetAt(1)->GetNumber(), "41");
}

// A stream that breaks: the patient's values read intact are given (to the values and to the
// record), and the answer is still a read error. The cut lies after the patient's elements
// (the sex, absent, is searched into it) or inside the name, stored after the others.
TEST(QuickReaders, ABrokenStreamGivesWhatWasReadAndAReadError) {
    const std::string syntax = "1.2.840.10008.1.2.1";
    std::vector<std::uint8_t> tailCut;
    PutExplicit(tailCut, 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.1.3");
    PutExplicit(tailCut, 0x0010, 0x0010, "PN", "Doe^Jane^M");
    PutExplicit(tailCut, 0x0010, 0x0020, "LO", "PID-0042");
    PutExplicit(tailCut, 0x0010, 0x0030, "DA", "19800215");
    PutExplicit(tailCut, 0x7FE0, 0x0010, "OW", std::string(100, 'x'));
    tailCut.resize(tailCut.size() - 60);
    std::vector<std::uint8_t> nameCut;
    PutExplicit(nameCut, 0x0010, 0x0020, "LO", "PID-0042");
    PutExplicit(nameCut, 0x0010, 0x0030, "DA", "19800215");
    PutExplicit(nameCut, 0x0010, 0x0040, "CS", "F");
    PutExplicit(nameCut, 0x0010, 0x0010, "PN", "Doe^Jane^M");
    nameCut.resize(nameCut.size() - 4);
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& body;
        const char* family;
        const char* middle;
        const char* sex;  // the record's was "M" before
    } cases[] = {{"tail cut", tailCut, "Doe", "M", "M"}, {"name cut", nameCut, "", "", "F"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Opened opened(Part10(syntax, c.body));
        ASSERT_EQ(opened.syntax, 0);
        quorin::DicomPatientValues values;
        EXPECT_EQ(opened.file.ReadPatient(values), 13);
        EXPECT_EQ(values.family, c.family);
        EXPECT_EQ(values.id + " " + values.birthDate, "PID-0042 19800215");
        CPatient patient;
        patient.SetSex("M");
        EXPECT_EQ(opened.file.ReadPatient(patient), 13);
        std::string family, middle;
        patient.GetName(&family, nullptr, &middle, nullptr, nullptr);
        EXPECT_EQ(family, c.family);
        EXPECT_EQ(middle, c.middle);
        EXPECT_EQ(patient.GetPatientID(), "PID-0042");
        EXPECT_EQ(patient.BirthDate().GetYear(), 1980);
        EXPECT_EQ(patient.BirthDate().GetMonth(), 2);
        EXPECT_EQ(patient.BirthDate().GetDay(), 15);
        EXPECT_EQ(patient.GetSex(), c.sex);
    }
}

// First values dcmdump prints for the tags the readers read (first instance of each).
std::map<std::string, std::string> DcmdumpValues(const std::string& path) {
    static const char* kTags[] = {"0008,0016", "0008,0018", "0008,1090", "0008,1155",
                                  "0010,0020", "0018,1010", "0018,1260", "0028,0002",
                                  "0028,0004", "0028,0010", "0028,0011", "0028,0101"};
    std::string command = "dcmdump -Un -s";
    for (const char* tag : kTags) command += std::string(" +P ") + tag;
    const CommandResult result = RunCommand(command + " " + ShellQuote(path) + " 2>/dev/null");
    std::map<std::string, std::string> values;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 16 || line[0] != '(') continue;
        const std::string tag = line.substr(1, 9);
        std::string value = line.substr(15);
        value = value.substr(0, value.find(" #"));
        if (!value.empty() && value[0] == '[') value = value.substr(1, value.find(']') - 1);
        if (value.find("(no value") == 0) value.clear();
        value = value.substr(0, value.find('\\'));
        while (!value.empty() && value.back() == ' ') value.pop_back();
        if (!values.count(tag)) values[tag] = value;
    }
    return values;
}

TEST(QuickReaders, AgreeWithDcmdumpOnTheTagsTheyRead) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kPydicomFiles))
        if (entry.path().extension() == ".dcm") files.push_back(entry.path().string());
    for (const auto& entry : std::filesystem::directory_iterator(GeneratedSamples()))
        files.push_back(entry.path().string());
    int compared = 0;
    for (const auto& path : files) {
        Opened opened(path);
        if (opened.syntax != 0 || ParseFile(path).result != 0) continue;
        ++compared;
        auto values = DcmdumpValues(path);
        std::string text;
        opened.file.ReadSOPClassUID(text);
        EXPECT_EQ(text, values["0008,0016"]) << path;
        opened.file.ReadSOPInstanceUID(text);
        EXPECT_EQ(text, values["0008,0018"]) << path;
        opened.file.ReadModelName(text);
        EXPECT_EQ(text, values["0008,1090"]) << path;
        opened.file.ReadReferencedSOPInstanceUID(text);
        // The stream search does not look into a sequence encoded as UN (its items are implicit
        // VR inside an explicit VR file); dcmdump decodes it first.
        if (path.find("UN_sequence") == std::string::npos) {
            EXPECT_EQ(text, values["0008,1155"]) << path;
        }
        opened.file.ReadPlateType(text);
        EXPECT_EQ(text, values["0018,1260"]) << path;
        quorin::DicomPatientValues patient;
        opened.file.ReadPatient(patient);
        EXPECT_EQ(patient.id, values["0010,0020"]) << path;
        std::uint32_t rows = 0, columns = 0;
        if (opened.file.ReadImageSize(rows, columns) == 0) {
            EXPECT_EQ(std::to_string(rows), values["0028,0010"]) << path;
            EXPECT_EQ(std::to_string(columns), values["0028,0011"]) << path;
        } else {
            EXPECT_TRUE(values["0028,0010"].empty() || values["0028,0011"].empty()) << path;
        }
        std::int32_t bits = 0;
        const int bitsResult = opened.file.ReadBitsStored(bits);
        if (bitsResult == 0) {
            EXPECT_EQ(std::to_string(bits), values["0028,0101"]) << path;
        } else if (bitsResult == 7) {
            EXPECT_FALSE(values["0028,0101"].empty()) << path;
        }
        std::int32_t colour = 0;
        if (opened.file.ReadIsColour(colour) == 0) {
            const bool expected = values["0028,0002"] != "1" || values["0028,0004"] == "RGB" ||
                                  values["0028,0004"] == "PALETTE COLOR";
            EXPECT_EQ(colour, expected ? 1 : 0) << path;
        }
    }
    EXPECT_GT(compared, 40);
}

TEST(QuickReaders, AbsentAndEmptyValuesReadAsEmptyTexts) {
    // A region sequence whose codes and laterality are empty, private items without codes,
    // an empty creator and model name.
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0016, "UI", std::string("1.2.840.10008.5.1.4.1.1.1.1.1\0", 30));
    PutExplicit(body, 0x0008, 0x1090, "LO", "");
    std::vector<std::uint8_t> modifier;
    PutItem(modifier, 8);
    PutExplicit(modifier, 0x0008, 0x0100, "SH", "");
    std::vector<std::uint8_t> item;
    PutExplicit(item, 0x0008, 0x0100, "SH", "");
    PutTag(item, 0x0008, 0x2220);
    PutText(item, std::string("SQ\0\0", 4));
    PutU32(item, static_cast<std::uint32_t>(modifier.size()));
    item.insert(item.end(), modifier.begin(), modifier.end());
    PutTag(body, 0x0008, 0x2218);
    PutText(body, std::string("SQ\0\0", 4));
    PutU32(body, static_cast<std::uint32_t>(item.size() + 8));
    PutItem(body, static_cast<std::uint32_t>(item.size()));
    body.insert(body.end(), item.begin(), item.end());
    PutExplicit(body, 0x0009, 0x0011, "LO", "");
    PutExplicit(body, 0x0020, 0x0062, "CS", "");
    PutExplicit(body, 0x0028, 0x0101, "US", std::string("\x09\0", 2));
    Opened opened(Part10("1.2.840.10008.1.2.1", body));
    ASSERT_EQ(opened.syntax, 0);
    std::vector<std::string> teeth;
    EXPECT_EQ(opened.file.ReadToothNumbers(teeth), 0);
    EXPECT_TRUE(teeth.empty());
    std::int32_t type = 0, bits = -1, flip = -1;
    EXPECT_EQ(opened.file.ReadImageType(type), 0);
    EXPECT_EQ(type, 7);                              // DX for processing, no model name
    EXPECT_EQ(opened.file.ReadBitsStored(bits), 7);  // 9 bits are not a depth of the system
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(opened.file.ReadHorizontalFlip(flip), 0);
    EXPECT_EQ(flip, 0);
    std::string uid = "stale";
    EXPECT_EQ(opened.file.ReadSOPInstanceUID(uid), 3);  // required, absent
    EXPECT_EQ(uid, "");
}

TEST(QuickReaders, StepOverAnotherMakersPrivateElementInImplicitVr) {
    // (0009,1143) is the system's tooth sequence only in a block whose creator is "QUORIN".
    // Here the block at (0009,0011) is another maker's and the element holds 6 bytes of its
    // data; the same file with the system's creator inside an item first (a creator speaks
    // only for the data set that holds it).
    std::vector<std::uint8_t> theirs;
    PutImplicit(theirs, 0x0009, 0x0011, "OTHER MAKER ");
    PutImplicit(theirs, 0x0009, 0x1143, std::string("\1\2\3\4\5\6", 6));
    PutImplicit(theirs, 0x0010, 0x0010, "Doe^Jane");
    PutImplicit(theirs, 0x0010, 0x0020, "PID-7 ");
    PutImplicit(theirs, 0x0028, 0x0010, std::string("\x10\0", 2));
    PutImplicit(theirs, 0x0028, 0x0011, std::string("\x18\0", 2));
    std::vector<std::uint8_t> item;
    PutImplicit(item, 0x0009, 0x0011, "QUORIN");
    PutImplicit(item, 0x0009, 0x1145, std::string("\3\0", 2));
    std::vector<std::uint8_t> nested;
    PutTag(nested, 0x0008, 0x1140);
    PutU32(nested, static_cast<std::uint32_t>(item.size() + 8));
    PutItem(nested, static_cast<std::uint32_t>(item.size()));
    nested.insert(nested.end(), item.begin(), item.end());
    nested.insert(nested.end(), theirs.begin(), theirs.end());
    for (const auto* body : {&theirs, &nested}) {
        Opened opened(Part10("1.2.840.10008.1.2", *body));
        ASSERT_EQ(opened.syntax, 0);
        quorin::DicomPatientValues patient;
        EXPECT_EQ(opened.file.ReadPatient(patient), 0);
        EXPECT_EQ(patient.family + "^" + patient.given + " " + patient.id, "Doe^Jane PID-7");
        std::uint32_t rows = 0, columns = 0;
        EXPECT_EQ(opened.file.ReadImageSize(rows, columns), 0);
        EXPECT_EQ(rows, 16u);
        EXPECT_EQ(columns, 24u);
        std::vector<std::string> teeth;
        EXPECT_EQ(opened.file.ReadToothNumbers(teeth), 0);
        EXPECT_TRUE(teeth.empty());
        EXPECT_EQ(ParseBytes(Part10("1.2.840.10008.1.2", *body)).result, 0);
    }
    // That maker's element running past the end of the file: a failure, not an empty patient.
    std::vector<std::uint8_t> broken(theirs.begin(), theirs.begin() + 20);
    PutTag(broken, 0x0009, 0x1143);
    PutU32(broken, 0x7FFFFFF0);
    PutImplicit(broken, 0x0010, 0x0010, "Doe^Jane");
    Opened opened(Part10("1.2.840.10008.1.2", broken));
    quorin::DicomPatientValues patient;
    EXPECT_EQ(opened.file.ReadPatient(patient), 13);
}

TEST(QuickReaders, AFileWithoutSopClassHasNoType) {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0060, "CS", "IO");
    Opened opened(Part10("1.2.840.10008.1.2.1", body));
    std::int32_t type = -1;
    EXPECT_EQ(opened.file.ReadImageType(type), 7);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(opened.file.ReadSOPClass(1), 0);
}

TEST(QuickReaders, MediaStorageClassMatchesTheImageType) {
    Opened opened(SourcePath("tests/data/dicom/sample.dcm"));
    EXPECT_EQ(opened.file.ReadSOPClass(1), 1);
    EXPECT_EQ(opened.file.ReadSOPClass(8), 1);
    EXPECT_EQ(opened.file.ReadSOPClass(3), 0);
    EXPECT_EQ(opened.file.ReadSOPClass(0), 0);
}

// A file of a media storage class with its SOP class UID, and optionally the maker's creator,
// a model name and a plate type.
std::vector<std::uint8_t> ClassFile(const std::string& uid, bool creator = false,
                                    const std::string& model = "", const std::string& plate = "") {
    auto even = [](std::string text, char pad) {
        if (text.size() % 2) text.push_back(pad);
        return text;
    };
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0002, 0x0002, "UI", even(uid, '\0'));
    PutExplicit(body, 0x0008, 0x0016, "UI", even(uid, '\0'));
    if (!model.empty()) PutExplicit(body, 0x0008, 0x1090, "LO", even(model, ' '));
    if (creator) PutExplicit(body, 0x0009, 0x0011, "LO", "QUORIN");
    if (!plate.empty()) PutExplicit(body, 0x0018, 0x1260, "SH", even(plate, ' '));
    return Part10("1.2.840.10008.1.2.1", body);
}

const char kDxPresentation[] = "1.2.840.10008.5.1.4.1.1.1.1";
const char kDxProcessing[] = "1.2.840.10008.5.1.4.1.1.1.1.1";
const char kIoPresentation[] = "1.2.840.10008.5.1.4.1.1.1.3";
const char kIoProcessing[] = "1.2.840.10008.5.1.4.1.1.1.3.1";
const char kVlPhoto[] = "1.2.840.10008.5.1.4.1.1.77.1.4";
const char kVlEndoscopic[] = "1.2.840.10008.5.1.4.1.1.77.1.1";
const char kSecondaryCapture[] = "1.2.840.10008.5.1.4.1.1.7";
const char kCr[] = "1.2.840.10008.5.1.4.1.1.1";

TEST(QuickReaders, EachSopClassReadsAsOneTypeAndIsAcceptedForItsTypes) {
    struct Case {
        const char* uid;
        std::vector<int> accepted;  // image types ReadSOPClass accepts the class for
        int type;                   // the type of a file without creator, model or plate
    };
    const Case cases[] = {
        {kIoPresentation, {1, 8}, 8},
        {kIoProcessing, {1, 8}, 8},
        {kVlPhoto, {2, 9}, 9},
        {kVlEndoscopic, {2, 9}, 9},
        {kDxPresentation, {3, 6, 7}, 7},
        {kDxProcessing, {3, 6, 7}, 7},
        {kSecondaryCapture, {4, 5, 10}, 10},
        {kCr, {13, 14, 15, 16}, 13},
        {"1.2.840.10008.5.1.4.1.1.1.2", {}, 0},  // mammography: no kind of the system
    };
    for (const Case& c : cases) {
        Opened opened(ClassFile(c.uid));
        ASSERT_EQ(opened.syntax, 0);
        for (int type = -1; type <= 20; ++type) {
            const bool accepted =
                std::find(c.accepted.begin(), c.accepted.end(), type) != c.accepted.end();
            EXPECT_EQ(opened.file.ReadSOPClass(type), accepted ? 1 : 0) << c.uid << " " << type;
        }
        std::int32_t type = -1;
        EXPECT_EQ(opened.file.ReadImageType(type), c.type != 0 ? 0 : 7) << c.uid;
        EXPECT_EQ(type, c.type) << c.uid;
    }
}

// (0002,0002) is compared as stored: one NUL may pad the UID to even length, nothing else may
// follow it (a space, a second NUL, a second value).
TEST(QuickReaders, MediaStorageClassIsTheWholeValueLessOnePaddingNul) {
    const std::string io = kIoPresentation, vl = kVlPhoto;  // 27 and 30 characters
    const struct {
        std::string value;
        int type;
        int accepted;
    } cases[] = {
        {io + '\0', 8, 1},
        {io + ' ', 8, 0},
        {vl + std::string(2, '\0'), 9, 0},
        {io + '\\' + kIoProcessing + '\0', 8, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> body;
        PutExplicit(body, 0x0002, 0x0002, "UI", c.value);
        Opened opened(Part10("1.2.840.10008.1.2.1", body));
        ASSERT_EQ(opened.syntax, 0);
        EXPECT_EQ(opened.file.ReadSOPClass(c.type), c.accepted) << c.value;
    }
}

TEST(QuickReaders, ModelAndPlateMakeTheImageTypeMoreSpecific) {
    struct Case {
        const char* uid;
        bool creator;
        const char* model;
        const char* plate;
        int type;
    };
    const Case cases[] = {
        {kDxPresentation, true, "Velmo 7300 Ceph", "", 7},  // for presentation: final
        {kDxProcessing, false, "Velmo 7300 Ceph", "", 6},
        {kDxProcessing, false, "Orthophos3", "", 3},
        {kDxProcessing, false, "OP200D", "", 3},
        {kDxProcessing, false, "ZEL 6", "", 7},  // a sensor's name says nothing of a DX file
        {kDxProcessing, false, "Unknown unit", "", 7},
        {kIoPresentation, true, "ZEL 6", "", 8},
        {kIoProcessing, false, "Velmo ZEL 3500", "", 1},
        {kIoProcessing, false, "OP200D", "", 8},
        {kVlPhoto, false, "WLK", "", 9},  // without the creator: final
        {kVlPhoto, true, "WLK", "", 2},
        {kVlEndoscopic, true, "Velmo 1400", "", 2},
        {kSecondaryCapture, true, "WLK", "", 10},
        {kCr, false, "", "Velmo PANO", 13},  // without the creator: final
        {kCr, true, "", "Velmo IO", 14},
        {kCr, true, "", "Velmo PANO", 15},
        {kCr, true, "", "Velmo CEPH", 16},
        {kCr, true, "Velmo 7300 Ceph", "Velmo", 13},
    };
    for (const Case& c : cases) {
        Opened opened(ClassFile(c.uid, c.creator, c.model, c.plate));
        ASSERT_EQ(opened.syntax, 0);
        std::int32_t type = -1;
        EXPECT_EQ(opened.file.ReadImageType(type), 0) << c.model << c.plate;
        EXPECT_EQ(type, c.type) << c.uid << " " << c.model << c.plate;
    }
}

// A file that another process holds for the first `busy` attempts.
class HeldFile : public CDicomTypeFile {
  public:
    HeldFile(int busy, win::DWORD error) : m_busy(busy), m_error(error) {}
    int attempts = 0;
    int pauses = 0;

  protected:
    bool OpenOnce(const char* path, unsigned flags, win::CFileException* error) override {
        ++attempts;
        if (attempts <= m_busy) {
            win::SetLastError(m_error);
            return false;
        }
        return CDicomTypeFile::OpenOnce(path, flags, error);
    }
    void PauseBeforeRetry() override { ++pauses; }

  private:
    int m_busy;
    win::DWORD m_error;
};

TEST(QuickReaders, OpenRetriesWhileTheFileIsHeldElsewhere) {
    const std::string path = SourcePath("tests/data/dicom/sample.dcm");
    HeldFile briefly(3, win::ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(briefly.Open(path.c_str(), win::CFile::modeRead));
    EXPECT_EQ(briefly.attempts, 4);
    EXPECT_EQ(briefly.pauses, 3);

    HeldFile forever(1000, win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(forever.Open(path.c_str(), win::CFile::modeRead));
    EXPECT_EQ(forever.attempts, CDicomTypeFile::kOpenAttempts);

    HeldFile missing(1000, win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing.Open(path.c_str(), win::CFile::modeRead));
    EXPECT_EQ(missing.attempts, 1);  // only a sharing violation is worth waiting for
}

}  // namespace
}  // namespace quorin::test
