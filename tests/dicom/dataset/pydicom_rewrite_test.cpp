// pydicom's own test files (written by many encoders): every one our parser accepts is written
// back, and pydicom reads the same values from our file as from the original.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "common/test_util.h"
#include "dicom/dataset/dataset.h"

using namespace quorin::test;

namespace {

const char* kFolder = kPydicomFiles;

// Values the system cleans on purpose compare equal: trailing spaces and NULs, the separators
// of old-style dates and times, and non-digits of integer strings.
const char* kCompareScript = R"(
import sys, pydicom
def norm(e, v):
    if isinstance(v, bytes): return v.rstrip(b"\0 ")
    s = str(v).rstrip("\0 ")
    if e.VR == "DA": s = s.replace(".", "")
    if e.VR == "TM": s = s.replace(":", "")
    return s
def walk(x, y, path=""):
    bad = []
    for e in x:
        if e.tag.element == 0: continue
        if e.tag not in y: bad.append(path + str(e.tag) + " missing"); continue
        f = y[e.tag]
        if e.VR == "SQ":
            if len(e.value) != len(f.value): bad.append(path + str(e.tag) + " items"); continue
            for i, (p, q) in enumerate(zip(e.value, f.value)): bad += walk(p, q, path + str(e.tag) + f"[{i}]")
            continue
        if e.value == f.value: continue
        a = e.value if e.VM > 1 else [e.value]
        b = f.value if f.VM > 1 else [f.value]
        if len(a) == len(b) and all(norm(e, p) == norm(f, q) for p, q in zip(a, b)): continue
        bad.append(path + str(e.tag) + " %r != %r" % (str(e.value)[:40], str(f.value)[:40]))
    return bad
for pair in sys.argv[1:]:
    original, ours = pair.split("=")
    bad = walk(pydicom.dcmread(original, force=True), pydicom.dcmread(ours, force=True))
    print(original.split("/")[-1] + ": " + ("OK" if not bad else "; ".join(bad[:3])))
)";

}  // namespace

TEST(PydicomFiles, EveryAcceptedFileIsWrittenBackWithItsValues) {
    std::vector<std::string> names;
    DIR* dir = opendir(kFolder);
    ASSERT_NE(dir, nullptr) << "pydicom's test files are missing";
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".dcm") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    ASSERT_GT(names.size(), 40u);

    TempDir temp;
    std::map<std::string, int> results;
    std::vector<std::string> pairs;
    for (const std::string& name : names) {
        const std::string path = std::string(kFolder) + "/" + name;
        win::CMemFile file(ReadBytes(path));
        CInfosDicomList list;
        const int result = list.ReadFromStream(&file, 1, 0, 0, 0, 0);
        results[name] = result;
        EXPECT_TRUE(result == 0 || result == 2 || result == 7 || result == 12 || result == 13)
            << name << " " << result;
        if (result != 0) continue;
        win::CMemFile out;
        ASSERT_EQ(list.Write(&out, 1, nullptr, 0, nullptr), 1) << name;
        WriteBytes(temp.file(name), out.Data());
        pairs.push_back(path + "=" + temp.file(name));
    }
    // Well-formed files of every encoding the toolkit accepts, and the broken ones.
    for (const char* name : {"CT_small.dcm", "MR_small_bigendian.dcm", "MR_small_implicit.dcm",
                             "rtplan.dcm", "UN_sequence.dcm", "nested_priv_SQ.dcm", "priv_SQ.dcm",
                             "JPEG2000.dcm", "693_J2KI.dcm", "MR_small_jp2klossless.dcm",
                             "ExplVR_BigEnd.dcm", "J2K_pixelrep_mismatch.dcm", "waveform_ecg.dcm"})
        EXPECT_EQ(results[name], 0) << name;
    EXPECT_EQ(results["MR_truncated.dcm"], 13);
    EXPECT_EQ(results["rtplan_truncated.dcm"], 13);
    EXPECT_EQ(results["meta_missing_tsyntax.dcm"], 12);
    EXPECT_EQ(results["MR_small_RLE.dcm"], 7);
    EXPECT_EQ(results["no_meta.dcm"], 2);

    const auto check = RunPython(kCompareScript, pairs);
    ASSERT_EQ(check.status, 0) << check.output;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = check.output.find('\n', at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, pairs.size());
    std::size_t start = 0;
    while (start < check.output.size()) {
        const std::size_t end = check.output.find('\n', start);
        const std::string line = check.output.substr(start, end - start);
        const bool cleaned = line.rfind("badVR.dcm", 0) == 0;  // IS "1A" is cleaned to "10"
        if (!cleaned) {
            EXPECT_EQ(line.substr(line.size() - 2), "OK") << line;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
}
