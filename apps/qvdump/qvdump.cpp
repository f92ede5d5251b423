// qvdump: prints the data set of DICOM Part 10 files, the header model of the older image files
// and the fields of group data files, with the answers of the quick readers.
//
//   qvdump [OPTIONS] [--group FILE]... [--] FILE...
//
// Options may stand anywhere and apply to every file; files are read in the order given.
// --header measures the pixel data instead of reading it; --canonical prints only the
// canonical listing (tag, VR, value length, value hash) that the tests compare. Older image
// files (R1234.TIF...) are read through the V5Files exports instead (oldfiles.h): --bmp writes
// the pixels of the one older file given (never onto an input or the file of standard output or
// error), --page and --reduced choose the image. The dump goes to standard output, refusals to
// standard error; the exit status is 0 when every file was read, 1 when any was refused or the
// dump could not be written, 2 for a command line qvdump does not take. Every name is taken as
// the system takes it (a backslash is part of a name, "c:" no drive: names.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/dataset/dataset.h"
#include "dicom/dataset/element.h"
#include "dicom/file/datasetdump.h"
#include "dicom/file/dicomfile.h"
#include "errors.h"
#include "groupfiles.h"
#include "names.h"
#include "oldfiles.h"
#include "platform/core/lasterror.h"
#include "platform/core/notify.h"

namespace {

using qvdump::CodeText;
using qvdump::Refuse;
using qvdump::Shown;

void PrintQuickReaders(CDicomTypeFile& file) {
    std::int32_t type = 0;
    const std::int32_t typeResult = file.ReadImageType(type);
    std::printf("image type: %d (result %d)\n", type, typeResult);

    std::vector<std::string> teeth;
    const std::int32_t teethResult = file.ReadToothNumbers(teeth);
    std::printf("tooth numbers:");
    for (const auto& tooth : teeth) std::printf(" %s", Shown(tooth).c_str());
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
    std::printf("  model name: \"%s\" (result %d)\n", Shown(model).c_str(), rModel);
    std::printf("  referenced SOP instance UID: \"%s\" (result %d)\n", Shown(referenced).c_str(),
                rReferenced);
    const std::string name = patient.family + "^" + patient.given + "^" + patient.middle + "^" +
                             patient.prefix + "^" + patient.suffix;
    std::printf("  patient: \"%s\" id \"%s\" born \"%s\" sex \"%s\" (result %d)\n",
                Shown(name).c_str(), Shown(patient.id).c_str(), Shown(patient.birthDate).c_str(),
                Shown(patient.sex).c_str(), rPatient);
    std::printf("SOP instance UID: \"%s\" (result %d)\n", Shown(instance).c_str(), rInstance);
}

// Parses and prints one file; false when it could not be read.
bool DumpFile(const char* path, bool headerOnly, bool canonical) {
    CDicomTypeFile file;
    if (!file.OpenNative(path, win::CFile::modeRead | win::CFile::shareDenyWrite)) {
        Refuse(path, "%s", CodeText(path, win::GetLastError()).c_str());
        return false;
    }
    CInfosDicomList list;
    const int result = list.ReadFromStream(&file, 1, 0, 0, headerOnly ? 2 : 0, 0);
    // A sound file refused for want of memory is not said to be damaged.
    std::string reason = result == quorin::kStatusReadError && quorin::OutOfMemoryNoted()
                             ? CodeText(path, win::ERROR_NOT_ENOUGH_MEMORY)
                             : quorin::DicomParseResultText(result);
    // A listing the memory left cannot hold is refused for that, never printed in part.
    const auto outOfMemory = [path] {
        Refuse(path, "%s", CodeText(path, win::ERROR_NOT_ENOUGH_MEMORY).c_str());
        return false;
    };
    std::string text;
    if (canonical) {
        if (!quorin::DumpCanonical(list, text)) {
            std::printf("# %s\n", Shown(path).c_str());
            return outOfMemory();
        }
        std::printf("# %s\n%sresult %d\n", Shown(path).c_str(), text.c_str(), result);
        if (result != 0) Refuse(path, "status %d: %s", result, reason.c_str());
        return result == 0;
    }
    std::printf("== %s\n", Shown(path).c_str());
    if (result != 0) {
        if (result == 7) reason += " (" + Shown(file.ReadTransferSyntaxUID()) + ")";
        Refuse(path, "status %d: %s", result, reason.c_str());
        return false;
    }
    std::printf("transfer syntax: %s VR %s endian\n", list.m_bImplicit ? "implicit" : "explicit",
                list.m_nByteOrder == quorin::kLittleEndian ? "little" : "big");
    if (!quorin::DumpDataSet(list, text)) return outOfMemory();
    std::fputs(text.c_str(), stdout);
    // The quick readers walk the stream with the file's own transfer syntax, as the exports do.
    // One that fails for want of memory leaves the thread's last error saying so.
    win::SetLastError(win::ERROR_SUCCESS);
    const std::int32_t syntax = file.ReadTransferSyntax();
    if (syntax != quorin::kStatusOk) {
        if (quorin::OutOfMemoryNoted()) return outOfMemory();
        Refuse(path, "quick readers: status %d: %s", syntax, quorin::DicomResultText(syntax));
        return false;
    }
    PrintQuickReaders(file);
    return !quorin::OutOfMemoryNoted() || outOfMemory();
}

enum class Kind { dicom, old, group };

struct Input {
    std::string path;
    Kind kind;
    std::string unreachable;  // why the library cannot be given a path to it, or empty
};

// The options that take a value; an empty value of any of them is misuse.
constexpr std::string_view kValueOptions[] = {"--bmp", "--page", "--group"};

// The option whose value is empty in "--bmp=" form, which the parser would take as no value and
// fill from the next argument (a file of the user's); nullptr when there is none.
const char* EmptyValueOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") return nullptr;
        for (std::string_view option : kValueOptions)
            if (arg.size() == option.size() + 1 && arg.substr(0, option.size()) == option &&
                arg.back() == '=')
                return option.data();
    }
    return nullptr;
}

// A page number: decimal digits only (no sign, no "0x"), no more than an int holds; leading
// zeros count for nothing.
std::string WholeNumber(const std::string& text) {
    if (text.empty()) return "the value is empty";
    const std::size_t digits = text.find_first_not_of('0') == std::string::npos
                                   ? 1
                                   : text.size() - text.find_first_not_of('0');
    const std::string most = std::to_string(INT_MAX);
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
        (digits < most.size() ||
         (digits == most.size() && text.substr(text.size() - digits) <= most)))
        return {};
    return "must be a whole number from 0 to " + most + ", not '" + Shown(text) + "'";
}

std::string FailureMessage(const CLI::App* app, const CLI::Error& error) {
    return "qvdump: " + Shown(error.what()) + "\nRun '" + app->get_name() +
           " --help' for more information.\n";
}

int Misuse(const std::string& message) {
    std::fprintf(stderr, "qvdump: %s\nRun 'qvdump --help' for more information.\n",
                 message.c_str());
    return 2;
}

// The file behind a path (links followed), or false when there is none.
bool FileOf(const std::string& path, struct stat& info) {
    return ::stat(path.c_str(), &info) == 0;
}

// Why a BMP at `out` would destroy what the user has: the output is an input, or the file that
// standard output or error appends to. Empty when it is none of them.
std::string SameFileProblem(const std::string& out, const std::vector<Input>& inputs) {
    struct stat target {};
    if (!FileOf(out, target)) return {};
    const auto same = [&](const struct stat& info) {
        return info.st_dev == target.st_dev && info.st_ino == target.st_ino;
    };
    const std::string prefix = "--bmp " + Shown(out) + " would replace ";
    for (const Input& input : inputs)
        if (struct stat info{}; FileOf(input.path, info) && same(info))
            return prefix + "the input file " + Shown(input.path);
    constexpr const char* kStreams[] = {"", "standard output", "standard error"};
    for (int fd : {1, 2})
        if (struct stat info{}; ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && same(info))
            return prefix + "the file of " + kStreams[fd];
    return {};
}

// Puts /dev/null on each of descriptors 0-2 that is closed, so that no file the library opens
// takes one (stdio would write the dump into it). True when standard output was closed.
bool FillClosedStandardDescriptors() {
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: this one, as the lower ones are open by now. Without it no
        // file qvdump opens is safe from stdio.
        if (::open("/dev/null", O_RDWR) != fd) std::_Exit(1);
        stdoutClosed = stdoutClosed || fd == 1;
    }
    return stdoutClosed;
}

// The reason of the first write to standard output that failed. stdio keeps only that one
// failed: a later flush finds nothing left to write and the close may fail for its own reason, so
// the dump goes through a stream of qvdump's own that notes it.
int g_firstWriteError = 0;
FILE* g_systemStdout = nullptr;  // stdio's own stream, while qvdump's stands in for it

ssize_t WriteStandardOutput(void*, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (g_firstWriteError == 0) g_firstWriteError = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);  // short: stdio marks the stream failed
}

// Standard output through WriteStandardOutput, buffered as stdio buffers a pipe or a file (a
// terminal by the line), in a buffer that takes nothing from the heap; where no stream can be
// made, stdio's own stays.
void NoteFirstWriteError() {
    cookie_io_functions_t io{};
    io.write = WriteStandardOutput;
    FILE* out = ::fopencookie(nullptr, "w", io);
    if (out == nullptr) return;
    static char buffer[4096];
    std::setvbuf(out, buffer, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, sizeof buffer);
    g_systemStdout = stdout;
    stdout = out;
}

// The exit status once standard output is flushed and closed: a dump that did not reach its
// file (a full disk, a closed pipe, a closed descriptor) is a failure of its own, told by the
// reason of the first write that failed.
int Finish(int status, bool stdoutClosed) {
    errno = 0;
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout);
    int err = !lost ? 0 : g_firstWriteError != 0 ? g_firstWriteError : errno != 0 ? errno : EIO;
    if (g_systemStdout != nullptr) {
        std::fclose(stdout);  // flushed: nothing left to write
        stdout = g_systemStdout;
    }
    if (std::fclose(stdout) != 0 && err == 0) err = errno;
    if (err == 0 && stdoutClosed) err = EBADF;
    if (err == 0) return status;
    std::fprintf(stderr, "qvdump: write error: %s\n", std::strerror(err));
    return 1;
}

// The library's notices (settings that could not be read or saved...), as qvdump's own lines.
void NoticeToStderr(std::string_view caption, std::string_view text) {
    std::string line(caption);
    if (!line.empty()) line += ": ";
    line += text;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    std::fflush(stdout);
    std::fprintf(stderr, "qvdump: %s\n", Shown(line).c_str());
}

// "Usage: qvdump [OPTIONS] [--] FILE...": a file is required (a --group FILE counts as one),
// and "--group FILE" takes one file each time it is given.
class Formatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string name) const override {
        return "Usage: " + name + " [OPTIONS] [--] FILE...\n";
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        std::string text = CLI::Formatter::make_option_opts(option);
        if (option->get_name() == "--group" && text.size() > 4 &&
            text.compare(text.size() - 4, 4, " ...") == 0)
            text.resize(text.size() - 4);
        return text;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const bool stdoutClosed = FillClosedStandardDescriptors();
    NoteFirstWriteError();
    win::SetNotifyHandler(NoticeToStderr);
    CLI::App app{
        "Prints the data set of DICOM files, the header model and preview record of older image\n"
        "files (R1234.TIF...) and the fields and items of group data files (.fms, .cqv).",
        "qvdump"};
    app.formatter(std::make_shared<Formatter>());
    app.footer(
        "Options may stand anywhere and apply to every file; '--' ends them. Files are read in\n"
        "the order given; at least one is required, a --group FILE counts. A file that cannot\n"
        "be opened is refused with its reason, before --bmp counts the older files among the\n"
        "others. The dump goes to standard output, refusals to standard error.\n"
        "Exit status: 0 every file was read, 1 a file was refused or the dump could not be\n"
        "written, 2 misuse.");
    app.failure_message(FailureMessage);
    app.set_version_flag("--version", std::string("qvdump ") + QUORIN_VERSION);
    bool headerOnly = false, canonical = false, reduced = false;
    std::string bmp, pageText = "0";
    std::vector<std::string> files, groups;
    app.add_flag("--header", headerOnly, "DICOM: measure the pixel data instead of reading it");
    app.add_flag("--canonical", canonical,
                 "DICOM: print only the tag, VR, value length and value hash listing");
    const CLI::Option* bmpOption =
        app.add_option("--bmp", bmp,
                       "Older file: write its pixels as a BMP file (exactly one older file;\n"
                       "never onto an input or the file of standard output or error)")
            ->type_name("OUT.bmp");
    app.add_option("--page", pageText,
                   "Older file: read page N of a full-mouth-series file (pages count from 0)")
        ->type_name("N")
        ->check(CLI::Validator(WholeNumber, "", "whole number"));
    app.add_flag("--reduced", reduced, "Older file: read the reduced image");
    CLI::Option* groupOption =
        app.add_option("--group", groups,
                       "Read FILE as a group data file whatever its name (one FILE per --group,\n"
                       "repeatable)")
            ->type_name("FILE")
            ->allow_extra_args(false);
    CLI::Option* fileOption =
        app.add_option("FILE", files, "DICOM, older or group data files")->type_name("");
    if (const char* option = EmptyValueOption(argc, argv))
        return Misuse(std::string(option) + ": the value is empty");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version answer 0, and fail as any dump does when they cannot be written (their
        // text goes through stdio as a dump does, so the reason is the write's own); every
        // refused command line is misuse.
        std::ostringstream text;
        const int status = app.exit(error, text, std::cerr);
        std::fputs(text.str().c_str(), stdout);
        return status == 0 ? Finish(0, stdoutClosed) : 2;
    }
    if (bmpOption->count() > 0 && bmp.empty()) return Misuse("--bmp: the value is empty");
    for (const std::string& group : groups)
        if (group.empty()) return Misuse("--group: the value is empty");

    // The files in the order given, plain and --group ones interleaved.
    std::vector<Input> inputs;
    std::size_t nextFile = 0, nextGroup = 0;
    for (const CLI::Option* option : app.parse_order()) {
        if (option == groupOption) {
            inputs.push_back({groups[nextGroup++], Kind::group, {}});
        } else if (option == fileOption) {
            const std::string& path = files[nextFile++];
            if (qvdump::IsGroupFile(path.c_str())) {
                inputs.push_back({path, Kind::group, {}});
                continue;
            }
            // The older files are told by the library, through the path it reads: a file it
            // cannot be given is refused, never taken for a file of another kind.
            const qvdump::LibraryName libraryPath(path);
            const std::string& reached = libraryPath.Path();
            std::string unreachable =
                reached.empty() ? libraryPath.Problem() : qvdump::ReadProblem(reached.c_str());
            const bool old = unreachable.empty() && qvdump::IsOldFile(reached.c_str());
            inputs.push_back({path, old ? Kind::old : Kind::dicom, std::move(unreachable)});
        }
    }
    if (inputs.empty()) return Misuse("no file given");
    const bool writesBmp = bmpOption->count() > 0;
    if (writesBmp)
        if (const std::string problem = SameFileProblem(bmp, inputs); !problem.empty())
            return Misuse(problem);

    // Files that cannot be opened are refused with their reason whatever else is asked; --bmp
    // counts the older files among those that open.
    std::vector<std::string> problems;
    std::size_t oldFiles = 0;
    bool refused = false;
    for (const Input& input : inputs) {
        problems.push_back(qvdump::ReadProblem(input.path.c_str()));
        if (problems.back().empty() && !input.unreachable.empty())
            problems.back() = "cannot be reached under its name: " + input.unreachable;
        refused = refused || !problems.back().empty();
        oldFiles += problems.back().empty() && input.kind == Kind::old;
    }
    if (writesBmp && oldFiles != 1) {
        if (!refused) return Misuse("--bmp writes the pixels of exactly one older image file");
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (!problems[i].empty()) Refuse(inputs[i].path.c_str(), "%s", problems[i].c_str());
        return Finish(1, stdoutClosed);
    }

    qvdump::OldFileOptions old;
    old.bmpPath = writesBmp ? bmp.c_str() : nullptr;
    old.page = std::stoi(pageText);
    old.reduced = reduced;
    bool failed = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const char* path = inputs[i].path.c_str();
        bool ok = false;
        // Whatever step runs out of memory (the library's or qvdump's own), the file is refused
        // for that, and the next one read.
        try {
            if (!problems[i].empty()) {
                Refuse(path, "%s", problems[i].c_str());
            } else if (inputs[i].kind == Kind::dicom) {
                ok = DumpFile(path, headerOnly, canonical);
            } else if (const qvdump::LibraryName libraryPath(path); libraryPath.Path().empty()) {
                Refuse(path, "cannot be reached under its name: %s", libraryPath.Problem().c_str());
            } else if (inputs[i].kind == Kind::group) {
                ok = qvdump::DumpGroupFile(path, libraryPath);
            } else {
                ok = qvdump::DumpOldFile(path, libraryPath.Path().c_str(), old);
            }
        } catch (const std::bad_alloc&) {
            Refuse(path, "%s", std::strerror(ENOMEM));
            ok = false;
        }
        failed = failed || !ok;
    }
    return Finish(failed ? 1 : 0, stdoutClosed);
}
