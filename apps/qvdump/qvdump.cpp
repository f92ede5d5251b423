// qvdump: prints the data set of DICOM Part 10 files and the answers of the quick readers.
//
//   qvdump [--header] [--canonical] [--bmp OUT.bmp] [--page N] [--reduced] FILE...
//
// --header measures the pixel data instead of reading it; --canonical prints only the
// canonical listing (tag, VR, value length, value hash) that the tests compare. Older image
// files (R1234.TIF...) are read through the V5Files exports instead (oldfiles.h): --bmp writes
// their pixels, --page and --reduced choose the image. The exit status
// is 1 when any file could not be opened or parsed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dicom/dataset/dataset.h"
#include "dicom/dataset/element.h"
#include "dicom/file/datasetdump.h"
#include "dicom/file/dicomfile.h"
#include "groupfiles.h"
#include "oldfiles.h"
#include "platform/core/lasterror.h"

namespace {

void PrintQuickReaders(CDicomTypeFile& file) {
    std::int32_t type = 0;
    const std::int32_t typeResult = file.ReadImageType(type);
    std::printf("image type: %d (result %d)\n", type, typeResult);

    std::vector<std::string> teeth;
    const std::int32_t teethResult = file.ReadToothNumbers(teeth);
    std::printf("tooth numbers:");
    for (const auto& tooth : teeth) std::printf(" %s", tooth.c_str());
    std::printf("%s (result %d)\n", teeth.empty() ? " none" : "", teethResult);

    std::uint16_t private45 = 0;
    std::int32_t flip = 0, capture = 0, colour = 0, bits = 0;
    std::uint32_t rows = 0, columns = 0;
    std::string instance, model, referenced;
    quorin::DicomPatientValues patient;
    const int r45 = file.ReadPrivateUS45(private45);
    const int rFlip = file.ReadHorizontalFlip(flip);
    const int rCapture = file.ReadCaptureSource(capture);
    const int rColour = file.ReadIsColour(colour);
    const int rBits = file.ReadBitsStored(bits);
    const int rSize = file.ReadImageSize(rows, columns);
    const int rModel = file.ReadModelName(model);
    const int rReferenced = file.ReadReferencedSOPInstanceUID(referenced);
    const int rPatient = file.ReadPatient(patient);
    const int rInstance = file.ReadSOPInstanceUID(instance);
    std::printf("preview:\n");
    std::printf("  private (0009,xx45): %u (result %d)\n", unsigned{private45}, r45);
    std::printf("  horizontal flip: %d (result %d)\n", flip, rFlip);
    std::printf("  capture source: %d (result %d)\n", capture, rCapture);
    std::printf("  colour: %d (result %d)\n", colour, rColour);
    std::printf("  bits stored: %d (result %d)\n", bits, rBits);
    std::printf("  image size: %u x %u (result %d)\n", rows, columns, rSize);
    std::printf("  model name: \"%s\" (result %d)\n", model.c_str(), rModel);
    std::printf("  referenced SOP instance UID: \"%s\" (result %d)\n", referenced.c_str(),
                rReferenced);
    std::printf("  patient: \"%s^%s^%s^%s^%s\" id \"%s\" born \"%s\" sex \"%s\" (result %d)\n",
                patient.family.c_str(), patient.given.c_str(), patient.middle.c_str(),
                patient.prefix.c_str(), patient.suffix.c_str(), patient.id.c_str(),
                patient.birthDate.c_str(), patient.sex.c_str(), rPatient);
    std::printf("SOP instance UID: \"%s\" (result %d)\n", instance.c_str(), rInstance);
}

// Parses and prints one file; false when it could not be read.
bool DumpFile(const char* path, bool headerOnly, bool canonical) {
    CDicomTypeFile file;
    if (!file.Open(path, win::CFile::modeRead | win::CFile::shareDenyWrite)) {
        std::string reason = win::FormatMessageText(win::GetLastError());
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        std::printf("%s: cannot open: %s\n", path, reason.c_str());
        return false;
    }
    CInfosDicomList list;
    const int result = list.ReadFromStream(&file, 1, 0, 0, headerOnly ? 2 : 0, 0);
    std::string text;
    if (canonical) {
        quorin::DumpCanonical(list, text);
        std::printf("# %s\n%sresult %d\n", path, text.c_str(), result);
        return result == 0;
    }
    std::printf("== %s\n", path);
    if (result != 0) {
        std::printf("status %d: %s", result, quorin::DicomParseResultText(result));
        if (result == 7) std::printf(" (%s)", file.ReadTransferSyntaxUID().c_str());
        std::printf("\n");
        return false;
    }
    std::printf("transfer syntax: %s VR %s endian\n", list.m_bImplicit ? "implicit" : "explicit",
                list.m_nByteOrder == quorin::kLittleEndian ? "little" : "big");
    quorin::DumpDataSet(list, text);
    std::fputs(text.c_str(), stdout);
    // The quick readers walk the stream with the file's own transfer syntax, as the exports do.
    const std::int32_t syntax = file.ReadTransferSyntax();
    if (syntax != quorin::kStatusOk) {
        std::printf("quick readers: status %d: %s\n", syntax, quorin::DicomResultText(syntax));
        return false;
    }
    PrintQuickReaders(file);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool headerOnly = false, canonical = false, anyFile = false, failed = false;
    qvdump::OldFileOptions old;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bmp") == 0 && i + 1 < argc) {
            old.bmpPath = argv[++i];
        } else if (std::strcmp(argv[i], "--page") == 0 && i + 1 < argc) {
            old.page = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--reduced") == 0) {
            old.reduced = true;
        } else if (std::strcmp(argv[i], "--group") == 0 && i + 1 < argc) {
            anyFile = true;
            if (!qvdump::DumpGroupFile(argv[++i])) failed = true;
        } else if (qvdump::IsGroupFile(argv[i])) {
            anyFile = true;
            if (!qvdump::DumpGroupFile(argv[i])) failed = true;
        } else if (qvdump::IsOldFile(argv[i])) {
            anyFile = true;
            if (!qvdump::DumpOldFile(argv[i], old)) failed = true;
        } else if (std::strcmp(argv[i], "--header") == 0) {
            headerOnly = true;
        } else if (std::strcmp(argv[i], "--canonical") == 0) {
            canonical = true;
        } else {
            anyFile = true;
            if (!DumpFile(argv[i], headerOnly, canonical)) failed = true;
        }
    }
    if (!anyFile) {
        std::fprintf(stderr,
                     "usage: qvdump [--header] [--canonical] [--bmp OUT.bmp] [--page N] "
                     "[--reduced] [--group GROUPFILE] FILE...\n");
        return 2;
    }
    return failed ? 1 : 0;
}
