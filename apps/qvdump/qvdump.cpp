// qvdump: prints the data set of DICOM Part 10 files, the header model of the older image files
// and the fields of group data files, with the answers of the quick readers.
//
//   qvdump [OPTIONS] [--group FILE]... [--] FILE...
//
// Options may stand anywhere and apply to every file; files are read in the order given.
// --header measures the pixel data instead of reading it; --canonical prints only the
// canonical listing (tag, VR, value length, value hash) that the tests compare. Older image
// files (R1234.TIF...) are read through the V5Files exports instead (oldfiles.h): --bmp writes
// the pixels of the one older file given, --page and --reduced choose the image. The dump goes
// to standard output, refusals to standard error; the exit status is 0 when every file was read,
// 1 when any was refused, 2 for a command line qvdump does not take.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "dicom/dataset/dataset.h"
#include "dicom/dataset/element.h"
#include "dicom/file/datasetdump.h"
#include "dicom/file/dicomfile.h"
#include "errors.h"
#include "groupfiles.h"
#include "oldfiles.h"
#include "platform/core/lasterror.h"

namespace {

using qvdump::CodeText;
using qvdump::Refuse;

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
    // Width x height, as the older files' lines give it.
    std::printf("  image size: %u x %u (result %d)\n", columns, rows, rSize);
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
        Refuse(path, "%s", CodeText(path, win::GetLastError()).c_str());
        return false;
    }
    CInfosDicomList list;
    const int result = list.ReadFromStream(&file, 1, 0, 0, headerOnly ? 2 : 0, 0);
    std::string text;
    if (canonical) {
        quorin::DumpCanonical(list, text);
        std::printf("# %s\n%sresult %d\n", path, text.c_str(), result);
        if (result != 0)
            Refuse(path, "status %d: %s", result, quorin::DicomParseResultText(result));
        return result == 0;
    }
    std::printf("== %s\n", path);
    if (result != 0) {
        std::string reason = quorin::DicomParseResultText(result);
        if (result == 7) reason += " (" + file.ReadTransferSyntaxUID() + ")";
        Refuse(path, "status %d: %s", result, reason.c_str());
        return false;
    }
    std::printf("transfer syntax: %s VR %s endian\n", list.m_bImplicit ? "implicit" : "explicit",
                list.m_nByteOrder == quorin::kLittleEndian ? "little" : "big");
    quorin::DumpDataSet(list, text);
    std::fputs(text.c_str(), stdout);
    // The quick readers walk the stream with the file's own transfer syntax, as the exports do.
    const std::int32_t syntax = file.ReadTransferSyntax();
    if (syntax != quorin::kStatusOk) {
        Refuse(path, "quick readers: status %d: %s", syntax, quorin::DicomResultText(syntax));
        return false;
    }
    PrintQuickReaders(file);
    return true;
}

enum class Kind { dicom, old, group };

struct Input {
    std::string path;
    Kind kind;
};

// A page number: decimal digits only (no sign, no "0x").
std::string WholeNumber(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) return {};
    return "must be a non-negative whole number, not '" + text + "'";
}

std::string FailureMessage(const CLI::App* app, const CLI::Error& error) {
    return "qvdump: " + std::string(error.what()) + "\nRun '" + app->get_name() +
           " --help' for more information.\n";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Prints the data set of DICOM files, the header model and preview record of older image\n"
        "files (R1234.TIF...) and the fields and items of group data files (.fms, .cqv).",
        "qvdump"};
    app.footer(
        "Options may stand anywhere and apply to every file; '--' ends them. Files are read in\n"
        "the order given. The dump goes to standard output, refusals to standard error.\n"
        "Exit status: 0 every file was read, 1 a file was refused, 2 misuse.");
    app.failure_message(FailureMessage);
    app.set_version_flag("--version", std::string("qvdump ") + QUORIN_VERSION);
    bool headerOnly = false, canonical = false, reduced = false;
    std::string bmp;
    int page = 0;
    std::vector<std::string> files, groups;
    app.add_flag("--header", headerOnly, "DICOM: measure the pixel data instead of reading it");
    app.add_flag("--canonical", canonical,
                 "DICOM: print only the tag, VR, value length and value hash listing");
    const CLI::Option* bmpOption =
        app.add_option("--bmp", bmp,
                       "Older file: write its pixels as a BMP file (one older file only)")
            ->type_name("OUT.bmp");
    app.add_option("--page", page, "Older file: read page N of a full-mouth-series file")
        ->type_name("N")
        ->check(CLI::Validator(WholeNumber, "", "whole number"));
    app.add_flag("--reduced", reduced, "Older file: read the reduced image");
    CLI::Option* groupOption =
        app.add_option("--group", groups,
                       "Read FILE as a group data file whatever its name (repeatable)")
            ->type_name("FILE")
            ->allow_extra_args(false);
    CLI::Option* fileOption =
        app.add_option("FILE", files, "DICOM, older or group data files")->type_name("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version answer 0; every refused command line is misuse.
        return app.exit(error) == 0 ? 0 : 2;
    }

    // The files in the order given, plain and --group ones interleaved.
    std::vector<Input> inputs;
    std::size_t nextFile = 0, nextGroup = 0, oldFiles = 0;
    for (const CLI::Option* option : app.parse_order()) {
        if (option == groupOption) {
            inputs.push_back({groups[nextGroup++], Kind::group});
        } else if (option == fileOption) {
            const std::string& path = files[nextFile++];
            const Kind kind = qvdump::IsGroupFile(path.c_str()) ? Kind::group
                              : qvdump::IsOldFile(path.c_str()) ? Kind::old
                                                                : Kind::dicom;
            oldFiles += kind == Kind::old;
            inputs.push_back({path, kind});
        }
    }
    const char* misuse = nullptr;
    if (inputs.empty())
        misuse = "no file given";
    else if (bmpOption->count() > 0 && oldFiles != 1)
        misuse = "--bmp writes the pixels of exactly one older image file";
    if (misuse != nullptr) {
        std::fprintf(stderr, "qvdump: %s\nRun 'qvdump --help' for more information.\n", misuse);
        return 2;
    }

    qvdump::OldFileOptions old;
    old.bmpPath = bmpOption->count() > 0 ? bmp.c_str() : nullptr;
    old.page = page;
    old.reduced = reduced;
    bool failed = false;
    for (const Input& input : inputs) {
        const char* path = input.path.c_str();
        bool ok = false;
        if (const std::string problem = qvdump::ReadProblem(path); !problem.empty())
            Refuse(path, "%s", problem.c_str());
        else if (input.kind == Kind::group)
            ok = qvdump::DumpGroupFile(path);
        else if (input.kind == Kind::old)
            ok = qvdump::DumpOldFile(path, old);
        else
            ok = DumpFile(path, headerOnly, canonical);
        failed = failed || !ok;
    }
    return failed ? 1 : 0;
}
