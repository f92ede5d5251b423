// Uses libquorin.so as another program would: reads an older image file through the V5Files
// exports (its size and kind, header records, pixels and preview record), passes its header
// through an SDK image record and back, makes, copies and frees SImage records, counts the
// file's pixels into a histogram, runs the statistics functions on a vector, a matrix and a
// histogram of its own, and deletes or frees every result.
//
//   quorin_example OLDFILE.tif HISTOGRAM.txt
//
// HISTOGRAM.txt holds the 256 bin counts of an 8-bit histogram, separated by blanks.
#include <quorin/statistics.h>
#include <quorin/v5files.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Vector = CTVector<double, unsigned int>;
using Matrix = CTMatrix<double, unsigned int>;
using Histogram = CTHistogram<unsigned char, unsigned int, double>;

// The file's header into a fresh SDK record holding the file's pixels and one drawing, back into
// a second header (whose pixel check passes), and every block of the record freed. The drawing
// list the store hands out, and a copy of one of its items, are freed by the caller too.
int PassThroughRecord(CHeader& header, const std::vector<unsigned char>& pixels) {
    SOMUDrawingPoint points[2] = {{1, 2}, {30, 40}};
    SOMUDrawingItem line{};
    line.nType = 1;
    line.nDrawingId = header.DrawingStore().NextDrawingId(1);
    line.nPointCount = 2;
    line.pPoints = points;  // the store keeps a copy
    if (!header.DrawingStore().AddDrawing(CDrawingStore::kAppend, &line)) return 1;

    SOMUDrawingList list{};
    SOMUDrawingItem copy{};
    if (!header.DrawingStore().GetDrawingList(&list) || list.nCount != 1 ||
        !CopyDrawingRecord(&copy, &list.pItems[0]))
        return 1;
    std::printf("drawing list %d, copy of %d points, last (%g, %g)\n", list.nCount,
                copy.nPointCount, copy.pPoints[1].x, copy.pPoints[1].y);
    FreeDrawingItem(&copy);
    FreeDrawingList(&list);
    std::printf("freed list %d items%s, copy %d points%s\n", list.nCount,
                list.pItems == nullptr ? "" : " left", copy.nPointCount,
                copy.pPoints == nullptr ? "" : " left");

    auto record = std::make_unique<SOMUImage>();
    InitSOMUImage(record.get());
    record->image.pPixels = quorin::AllocRecordBlock(pixels.size());
    if (record->image.pPixels == nullptr) return 1;
    std::memcpy(record->image.pPixels, pixels.data(), pixels.size());
    if (!header.ToSOMU(*record)) return 1;
    std::printf("record %s %u x %u type %d, drawings %d, blob %s\n", record->szFileName,
                record->image.nWidth, record->image.nHeight, record->nImageType,
                record->drawing.list.nCount, record->drawing.pBlob != nullptr ? "yes" : "no");
    CHeader back;
    back.FromSOMU(*record);
    std::printf("back %u x %u type %d, mismatch %d, drawings %d\n", unsigned{back.GetWidth()},
                unsigned{back.GetHeight()}, back.GetImageType(), back.GetChecksumMismatch(),
                back.DrawingStore().GetDrawingCount());
    FreeSOMUImageData(record.get());
    std::printf("record freed: pixels %s, blob %s, drawings %d\n",
                record->image.pPixels == nullptr ? "none" : "left",
                record->drawing.pBlob == nullptr ? "none" : "left", record->drawing.list.nCount);
    return 0;
}

// The file's 8-bit pixels as a matrix, counted into the histogram the statistics take.
int CountPixels(const CHeader& header, const std::vector<unsigned char>& pixels) {
    CTMatrix<unsigned char, unsigned int> matrix(header.GetHeight(), header.GetWidth());
    Histogram histogram(nullptr, 8);
    if (matrix.IsEmpty() || pixels.size() != std::size_t(matrix.Rows()) * matrix.Columns())
        return 1;
    std::memcpy(matrix.Data(), pixels.data(), pixels.size());
    if (!histogram.Calculate(&matrix)) return 1;
    std::printf("counted %g pixels, bins", histogram.Total());
    for (unsigned i = 0; i < histogram.BinCount(); ++i)
        if (histogram.BinData()[i] != 0) std::printf(" %u:%g", i, histogram.BinData()[i]);
    std::printf("\n");
    return 0;
}

int ReadOldFile(const char* path) {
    if (V5Files_IsOldQuorinFile(path) == 0) {
        std::printf("not an older image file: %s\n", path);
        return 1;
    }
    CHeader header;
    int result = V5Files_ReadQVImageInformation(path, &header, 0);
    std::printf("information %d\n", result);
    if (result != 0) return 1;
    std::printf("width %u\nheight %u\nbits %d\nsamples %d\ntype %d\npath %s\n",
                unsigned{header.GetWidth()}, unsigned{header.GetHeight()},
                header.GetBitsPerSample(), header.GetSamplesPerPixel(), header.GetImageType(),
                header.GetPath().c_str());

    std::vector<unsigned char> pixels(std::size_t(header.GetWidth()) * header.GetHeight() *
                                      std::size_t(header.GetSamplesPerPixel()));
    result = V5Files_ReadImage(path, &header, 0, pixels.data());
    std::printf("image %d\n", result);
    if (result != 0) return 1;
    std::uint64_t sum = 0;
    for (unsigned char p : pixels) sum += p;
    std::printf("pixel sum %llu\n", static_cast<unsigned long long>(sum));

    std::string date;
    header.ImageInfo().DateTime1().GetDate(date, DATE_ORDER_YMD);
    std::printf("acquired %s\ncomments %s\n", date.c_str(),
                header.ImageInfo().GetImageComments().c_str());
    std::printf("patient folder %s\n", header.Patient().GetFolder().c_str());
    std::printf("teeth");
    for (int i = 0; i < header.TeethList().GetCount(); ++i)
        std::printf(" %s", header.TeethList().GetAt(i)->GetNumber().c_str());
    std::printf("\ndrawings %d\n", header.DrawingStore().GetDrawingCount());
    if (CountPixels(header, pixels) != 0 || PassThroughRecord(header, pixels) != 0) {
        std::printf("the header and pixels did not pass\n");
        return 1;
    }

    SBasicPreviewInfo preview;
    result = V5Files_ReadBasicPreviewInformation(path, preview);
    std::printf("preview %d: type %d, %d bits x %d samples, category %d, radiograph %u\n", result,
                preview.nImageType, preview.nBitsPerSample, preview.nSamplesPerPixel,
                preview.nCategory, unsigned{preview.bRadiograph});
    return result == 0 ? 0 : 1;
}

// SImage records: one with its own zero-filled pixels and its copy, one owning a block of 24-bit
// samples that is not copied, one that only borrows its block; each freed with its pixels or not.
int MakeImages() {
    SImage* image = AllocSImage(4, 3, 1, 8, false, nullptr);
    if (image == nullptr) return 1;
    auto* pixels = static_cast<unsigned char*>(image->pPixels);
    unsigned zeros = 0;
    for (unsigned char i = 0; i < 12; ++i) {
        zeros += pixels[i] == 0 ? 1 : 0;
        pixels[i] = i;
    }
    SImage* copy = DuplicateSImage(image);
    unsigned copySum = 0;
    for (unsigned i = 0; copy != nullptr && i < 12; ++i)
        copySum += static_cast<unsigned char*>(copy->pPixels)[i];
    SImage* wide = AllocSImage(2, 2, 1, 24, true, quorin::AllocRecordBlock(2 * 2 * 4));
    SImage* wideCopy = DuplicateSImage(wide);
    std::printf("simage %u x %u, %u zeros, copy %s sum %u, copy of 24 bits %s\n", image->nWidth,
                image->nHeight, zeros,
                copy != nullptr && copy->pPixels != image->pPixels ? "own pixels" : "shared",
                copySum, wideCopy == nullptr ? "none" : "made");
    FreeSImage(copy, false);
    FreeSImage(image, false);
    FreeSImage(wide, false);
    void* lent = quorin::AllocRecordBlock(16);
    FreeSImage(AllocSImage(4, 4, 1, 8, true, lent), true);
    FreeGlobalPointer(lent);

    CAnatToothNumber tooth("11");
    std::string shown;
    const bool universal = IsUniversalToothNotation();
    tooth.FormatNumber(shown, universal);
    std::printf("notation %s, tooth 11 shown as %s\n", universal ? "Universal" : "FDI",
                shown.c_str());
    return wide == nullptr ? 1 : 0;
}

bool ReadHistogram(const char* path, Histogram& histogram) {
    std::ifstream in(path);
    double* bins = histogram.BinData();
    if (!in || bins == nullptr || histogram.BinCount() != 256) return false;
    for (unsigned i = 0; i < 256; ++i)
        if (!(in >> bins[i])) return false;
    return true;
}

void PrintMatrix(const char* name, const Matrix& m) {
    for (unsigned r = 0; r < m.Rows(); ++r) {
        std::printf("%s %u", name, r);
        for (unsigned c = 0; c < m.Columns(); ++c) std::printf(" %.17g", *m.At(r, c));
        std::printf("\n");
    }
}

// A vector and a matrix of the caller's own values, through the first steps on their own.
int RunSmallSteps() {
    double values[] = {0, 2, 4, 8};
    Vector vector(4, values, false);  // a copy of the values
    std::unique_ptr<Vector> slopes(CImgStatistic::CalculateFirstDerivation(&vector, 2));
    Matrix rows(5, 2);
    const double signs[] = {0, 0, 1, 1, 3, 0, 4, 1, 5, -1};
    for (unsigned i = 0; i < 10; ++i) rows.Data()[i] = signs[i];
    std::unique_ptr<Matrix> extremes(CImgStatistic::CalculateCurvature(&rows));
    if (!slopes || !extremes) return 1;
    std::printf("slopes");
    for (unsigned i = 0; i < slopes->Size(); ++i) std::printf(" %g", (*slopes)[i]);
    std::printf("\n");
    PrintMatrix("curvature", *extremes);
    return 0;
}

// The chain the panoramic enhancement runs: slopes, sign changes, extremes, segment
// statistics, the modes that matter and the characteristic points of the contrast curve.
int RunStatistics(const char* path) {
    Histogram histogram(nullptr, 8);
    if (!ReadHistogram(path, histogram)) {
        std::printf("cannot read the histogram %s\n", path);
        return 1;
    }
    std::unique_ptr<Vector> slopes(CImgStatistic::CalculateFirstDerivation(histogram.GetBins(), 1));
    std::unique_ptr<Matrix> signs(CImgStatistic::CalculateSignVariation(slopes.get()));
    std::unique_ptr<Matrix> extremes(CImgStatistic::CalculateCurvature(signs.get()));
    Vector* globalRaw = nullptr;
    std::unique_ptr<Matrix> statistics(
        CImgStatistic::CalculateStatistic(&histogram, extremes.get(), true, &globalRaw));
    std::unique_ptr<Vector> global(globalRaw);
    std::unique_ptr<Matrix> selected(
        CImgStatistic::CalculateShape(statistics.get(), 0.04, 0.07, 0.15));
    std::unique_ptr<Matrix> points(
        CImgStatistic::CalculateCharacteristicPointForLUT(&histogram, selected.get(), 0.05));
    if (!points || !global) {
        std::printf("the statistics chain stopped\n");
        return 1;
    }
    PrintMatrix("extreme", *extremes);
    PrintMatrix("segment", *statistics);
    std::printf("global %.17g %.17g %.17g\n", (*global)[0], (*global)[1], (*global)[2]);
    PrintMatrix("selected", *selected);
    PrintMatrix("point", *points);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorin_example OLDFILE.tif HISTOGRAM.txt\n");
        return 2;
    }
    const int old = ReadOldFile(argv[1]);
    const int images = MakeImages();
    const int small = RunSmallSteps();
    const int statistics = RunStatistics(argv[2]);
    return old != 0 || images != 0 || small != 0 || statistics != 0 ? 1 : 0;
}
