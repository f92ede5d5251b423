// refs: dcmtk
// Part 10 parsing side by side with DCMTK's DcmFileFormat::loadFile, in one binary: a 20 MB
// 16-bit image (header only, and in full) and a batch of small files. DCMTK's loadFile leaves
// values over 4 KB in the file, so it is the header-only reference; with loadAllDataIntoMemory
// it is the full-parse reference. Prints our time / DCMTK's time for each pair.
#include <benchmark/benchmark.h>
#include <dcmtk/dcmdata/dctk.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dicom/dataset/dataset.h"
#include "dicom/file/dicomfile.h"
#include "ratio_reporter.h"

namespace {

namespace fs = std::filesystem;

const fs::path& WorkFolder() {
    static const fs::path folder = fs::temp_directory_path() / "quorin_bench_dicom";
    return folder;
}

// A 3240 x 3240 16-bit monochrome image (about 20 MB), written by DCMTK.
const std::string& LargeFile() {
    static const std::string path = [] {
        fs::create_directories(WorkFolder());
        const std::string file = (WorkFolder() / "large16.dcm").string();
        if (fs::exists(file)) return file;
        const Uint16 rows = 3240, columns = 3240;
        std::vector<Uint16> pixels(std::size_t{rows} * columns);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<Uint16>(i * 7 % 4096);
        DcmFileFormat format;
        DcmDataset* data = format.getDataset();
        data->putAndInsertString(DCM_SOPClassUID,
                                 UID_DigitalIntraOralXRayImageStorageForProcessing);
        data->putAndInsertString(DCM_SOPInstanceUID, "1.2.826.0.1.3680043.8.498.77");
        data->putAndInsertString(DCM_PatientName, "Bench^Large");
        data->putAndInsertString(DCM_PatientID, "B-1");
        data->putAndInsertString(DCM_Modality, "IO");
        data->putAndInsertString(DCM_ManufacturerModelName, "ZEL 6");
        data->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
        data->putAndInsertUint16(DCM_SamplesPerPixel, 1);
        data->putAndInsertUint16(DCM_Rows, rows);
        data->putAndInsertUint16(DCM_Columns, columns);
        data->putAndInsertUint16(DCM_BitsAllocated, 16);
        data->putAndInsertUint16(DCM_BitsStored, 12);
        data->putAndInsertUint16(DCM_HighBit, 11);
        data->putAndInsertUint16(DCM_PixelRepresentation, 0);
        data->putAndInsertUint16Array(DCM_PixelData, pixels.data(),
                                      static_cast<unsigned long>(pixels.size()));
        format.saveFile(file.c_str(), EXS_LittleEndianExplicit);
        return file;
    }();
    return path;
}

// 200 copies of the committed sample (about 1.8 KB each, 45 elements, three sequences).
const std::vector<std::string>& SmallFiles() {
    static const std::vector<std::string> files = [] {
        fs::create_directories(WorkFolder() / "small");
        std::vector<std::string> out;
        const fs::path sample = fs::path(QUORIN_SOURCE_DIR) / "tests/data/dicom/sample.dcm";
        for (int i = 0; i < 200; ++i) {
            const fs::path copy = WorkFolder() / "small" / ("s" + std::to_string(i) + ".dcm");
            fs::copy_file(sample, copy, fs::copy_options::overwrite_existing);
            out.push_back(copy.string());
        }
        return out;
    }();
    return files;
}

bool OursParse(const std::string& path, int pixelMode) {
    CDicomTypeFile file;
    if (!file.Open(path.c_str(), win::CFile::modeRead)) return false;
    CInfosDicomList list;
    return list.ReadFromStream(&file, 1, 0, 0, pixelMode, 0) == 0;
}

bool DcmtkParse(const std::string& path, bool full) {
    DcmFileFormat format;
    if (format.loadFile(path.c_str()).bad()) return false;
    if (full && format.loadAllDataIntoMemory().bad()) return false;
    return true;
}

void Ours_Large_Header(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(OursParse(LargeFile(), 2));
}
void Dcmtk_Large_Header(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(DcmtkParse(LargeFile(), false));
}
void Ours_Large_Full(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(OursParse(LargeFile(), 0));
}
void Dcmtk_Large_Full(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(DcmtkParse(LargeFile(), true));
}
void Ours_Small_Header(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& f : SmallFiles()) benchmark::DoNotOptimize(OursParse(f, 2));
}
void Dcmtk_Small_Header(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& f : SmallFiles()) benchmark::DoNotOptimize(DcmtkParse(f, false));
}
void Ours_Small_Full(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& f : SmallFiles()) benchmark::DoNotOptimize(OursParse(f, 0));
}
void Dcmtk_Small_Full(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& f : SmallFiles()) benchmark::DoNotOptimize(DcmtkParse(f, true));
}

BENCHMARK(Ours_Large_Header)->Unit(benchmark::kMicrosecond);
BENCHMARK(Dcmtk_Large_Header)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_Large_Full)->Unit(benchmark::kMicrosecond);
BENCHMARK(Dcmtk_Large_Full)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_Small_Header)->Unit(benchmark::kMicrosecond);
BENCHMARK(Dcmtk_Small_Header)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_Small_Full)->Unit(benchmark::kMicrosecond);
BENCHMARK(Dcmtk_Small_Full)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!OursParse(LargeFile(), 0) || !DcmtkParse(LargeFile(), true)) {
        std::fprintf(stderr, "the large bench file could not be made or read\n");
        return 1;
    }
    SmallFiles();
    return quorin::bench::RunAndCompare(
        argc, argv, "Dcmtk", "our time / DCMTK time (goal: header-only 0.5, full 1.0)",
        [](const std::string& label) { return label.find("Header") != label.npos ? 0.5 : 1.0; });
}
