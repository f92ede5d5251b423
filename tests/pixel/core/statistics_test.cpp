// The exported histogram statistics: the documented small cases, the whole chain on bimodal
// histograms against numpy formulas (slopes by array differences, sign changes from np.sign,
// segment moments by np.average, the cumulative histogram by np.cumsum), the refusals, and
// the export of the six functions from the shared library.
#include "pixel/core/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/pixel/ref_check.h"
#include "common/test_util.h"

namespace {

using Vector = CImgStatistic::Vector;
using Matrix = CImgStatistic::Matrix;
using Histogram = CImgStatistic::Histogram;

std::unique_ptr<Vector> MakeVector(const std::vector<double>& values) {
    auto v = std::make_unique<Vector>(unsigned(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) (*v)[unsigned(i)] = values[i];
    return v;
}

std::unique_ptr<Matrix> MakeMatrix(unsigned columns, const std::vector<double>& values) {
    const unsigned rows = unsigned(values.size() / columns);
    auto m = std::make_unique<Matrix>(rows, columns);
    for (std::size_t i = 0; i < values.size(); ++i) m->Data()[i] = values[i];
    return m;
}

std::vector<double> Cells(const Matrix& m) {
    return std::vector<double>(m.Data(), m.Data() + std::size_t(m.Rows()) * m.Columns());
}

TEST(Statistics, DerivationOfTheDocumentedVector) {
    auto values = MakeVector({0, 2, 4, 8});
    std::unique_ptr<Vector> one(CImgStatistic::CalculateFirstDerivation(values.get(), 1));
    std::unique_ptr<Vector> two(CImgStatistic::CalculateFirstDerivation(values.get(), 2));
    ASSERT_TRUE(one && two);
    EXPECT_EQ(std::vector<double>(one->Data(), one->Data() + 4), (std::vector<double>{2, 2, 4, 4}));
    EXPECT_EQ(std::vector<double>(two->Data(), two->Data() + 4), (std::vector<double>{2, 3, 4, 4}));
    EXPECT_EQ(CImgStatistic::CalculateFirstDerivation(values.get(), 0), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateFirstDerivation(values.get(), 5), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateFirstDerivation(nullptr, 1), nullptr);
    auto single = MakeVector({7});
    std::unique_ptr<Vector> d(CImgStatistic::CalculateFirstDerivation(single.get(), 1));
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)[0], 0.0);
}

TEST(Statistics, SignVariationAndCurvatureOfTheDocumentedSlopes) {
    auto slopes = MakeVector({0, 1, 1, 0, 1, -1, -1});
    std::unique_ptr<Matrix> signs(CImgStatistic::CalculateSignVariation(slopes.get()));
    ASSERT_TRUE(signs);
    EXPECT_EQ(Cells(*signs), (std::vector<double>{0, 0, 1, 1, 3, 0, 4, 1, 5, -1}));
    std::unique_ptr<Matrix> extremes(CImgStatistic::CalculateCurvature(signs.get()));
    ASSERT_TRUE(extremes);
    EXPECT_EQ(Cells(*extremes), (std::vector<double>{1, 1, 5, -1}));

    Vector empty;
    std::unique_ptr<Matrix> none(CImgStatistic::CalculateSignVariation(&empty));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->Rows(), 0u);
    std::unique_ptr<Matrix> noExtremes(CImgStatistic::CalculateCurvature(none.get()));
    ASSERT_TRUE(noExtremes);
    EXPECT_EQ(noExtremes->Rows(), 0u);
    EXPECT_EQ(CImgStatistic::CalculateSignVariation(nullptr), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateCurvature(nullptr), nullptr);
    // Further columns of the input stay 0 in the result.
    auto wide = MakeMatrix(3, {2, 1, 9, 4, -1, 9});
    std::unique_ptr<Matrix> kept(CImgStatistic::CalculateCurvature(wide.get()));
    ASSERT_TRUE(kept);
    EXPECT_EQ(Cells(*kept), (std::vector<double>{2, 1, 0, 4, -1, 0}));
}

TEST(Statistics, SegmentsFollowTheExtremes) {
    Histogram histogram;
    for (unsigned i = 0; i < 256; ++i) histogram.BinData()[i] = 1.0 + (i % 7);
    // One extreme: no segment.
    auto one = MakeMatrix(2, {10, 1});
    EXPECT_EQ(CImgStatistic::CalculateStatistic(&histogram, one.get(), false, nullptr), nullptr);
    // Valley, peak, valley: one segment from the first valley to the top level.
    auto three = MakeMatrix(2, {20, 1, 60, -1, 120, 1});
    Vector* global = nullptr;
    std::unique_ptr<Matrix> stats(
        CImgStatistic::CalculateStatistic(&histogram, three.get(), true, &global));
    std::unique_ptr<Vector> owned(global);
    ASSERT_TRUE(stats && global);
    ASSERT_EQ(stats->Rows(), 1u);
    EXPECT_EQ(*stats->At(0, 0), 20.0);
    EXPECT_EQ(*stats->At(0, 1), 255.0);
    EXPECT_EQ(*stats->At(0, 4), 60.0);
    EXPECT_EQ(*stats->At(0, 7), 1.0);
    EXPECT_EQ(*stats->At(0, 8), 1.0);
    EXPECT_DOUBLE_EQ((*global)[0], (20 + 255) * 0.5 * *stats->At(0, 5) / histogram.Total());
    // A first extreme that falls starts its segment at its peak.
    auto falling = MakeMatrix(2, {5, -1, 30, 1, 80, -1, 200, 1});
    std::unique_ptr<Matrix> segments(
        CImgStatistic::CalculateStatistic(&histogram, falling.get(), false, nullptr));
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->Rows(), 2u);
    EXPECT_EQ(*segments->At(0, 0), 5.0);
    EXPECT_EQ(*segments->At(0, 1), 29.0);
    EXPECT_EQ(*segments->At(0, 4), 5.0);
    EXPECT_EQ(*segments->At(1, 0), 30.0);
    EXPECT_EQ(*segments->At(1, 1), 255.0);
    EXPECT_EQ(*segments->At(1, 4), 80.0);
    // Positions beyond the histogram are kept to its bins.
    auto outside = MakeMatrix(2, {-50, 1, 900, -1, 5000, 1});
    std::unique_ptr<Matrix> clipped(
        CImgStatistic::CalculateStatistic(&histogram, outside.get(), false, nullptr));
    ASSERT_TRUE(clipped);
    EXPECT_EQ(*clipped->At(0, 5), histogram.Total());
    EXPECT_EQ(CImgStatistic::CalculateStatistic(nullptr, three.get(), false, nullptr), nullptr);
}

TEST(Statistics, ShapeAndCharacteristicPoints) {
    // start end mid mean peak mass fraction variance-share deviation-share
    auto stats = MakeMatrix(9, {0,   49,  24.5,  20,  18,  100, 0.03, 0.5,  0.4,  //
                                50,  149, 99.5,  100, 100, 500, 0.5,  0.05, 0.1,  //
                                150, 255, 202.5, 200, 210, 400, 0.47, 0.45, 0.5});
    EXPECT_EQ(CImgStatistic::CalculateShape(stats.get(), 1.5, 0.07, 0.15), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateShape(stats.get(), 0.04, -0.1, 0.15), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateShape(stats.get(), 0.04, 0.07, NAN), nullptr);
    EXPECT_EQ(CImgStatistic::CalculateShape(stats.get(), 0.9, 0.9, 0.99), nullptr);
    std::unique_ptr<Matrix> selected(CImgStatistic::CalculateShape(stats.get(), 0.04, 0.07, 0.15));
    ASSERT_TRUE(selected);
    ASSERT_EQ(selected->Rows(), 2u);  // the first is too small, the second dominant
    EXPECT_EQ(*selected->At(0, 0), 50.0);
    EXPECT_EQ(*selected->At(1, 0), 150.0);

    Histogram histogram;
    for (unsigned i = 0; i < 256; ++i) histogram.BinData()[i] = 1.0;
    auto single = MakeMatrix(9, {50, 149, 99.5, 100, 100, 500, 0.5, 0.05, 0.1});
    std::unique_ptr<Matrix> points(
        CImgStatistic::CalculateCharacteristicPointForLUT(&histogram, single.get(), 0.05));
    ASSERT_TRUE(points);
    EXPECT_EQ(Cells(*points),
              (std::vector<double>{50, 50 / 256.0, 0.05, 100, 100 / 256.0, 0.9 * (101.0 / 256.0)}));
    EXPECT_EQ(CImgStatistic::CalculateCharacteristicPointForLUT(&histogram, single.get(), 2),
              nullptr);
    EXPECT_EQ(CImgStatistic::CalculateCharacteristicPointForLUT(nullptr, single.get(), 0.05),
              nullptr);
    // A peak outside the histogram cannot index its cumulative counts.
    auto far = MakeMatrix(9, {50, 149, 99.5, 100, 900, 500, 0.5, 0.05, 0.1});
    EXPECT_EQ(CImgStatistic::CalculateCharacteristicPointForLUT(&histogram, far.get(), 0.05),
              nullptr);
}

// Two or three noisy modes: the full chain as the panoramic enhancement runs it.
TEST(Statistics, ChainMatchesNumpy) {
    std::mt19937 random(3);
    for (int modes : {2, 3}) {
        Histogram histogram;
        double* bins = histogram.BinData();
        for (unsigned i = 0; i < 256; ++i) {
            double v = 4000 * std::exp(-std::pow((i - 60.0) / 18.0, 2)) +
                       2500 * std::exp(-std::pow((i - 170.0) / 25.0, 2));
            if (modes == 3) v += 1500 * std::exp(-std::pow((i - 230.0) / 6.0, 2));
            bins[i] = std::floor(v + 10 + random() % 5);
        }
        // Smooth as the caller does until the extremes are few enough.
        std::unique_ptr<Vector> slopes, kernel = std::make_unique<Vector>(5u);
        for (unsigned i = 0; i < 5; ++i) (*kernel)[i] = 0.2;
        std::unique_ptr<Matrix> signs, extremes;
        for (int round = 0; round < 20; ++round) {
            slopes.reset(CImgStatistic::CalculateFirstDerivation(histogram.GetBins(), 1));
            signs.reset(CImgStatistic::CalculateSignVariation(slopes.get()));
            extremes.reset(CImgStatistic::CalculateCurvature(signs.get()));
            ASSERT_TRUE(slopes && signs && extremes);
            if (extremes->Rows() <= 256 / 5 / 4) break;
            ASSERT_TRUE(histogram.ConvolveInPlace(kernel.get()));
        }
        Vector* global = nullptr;
        std::unique_ptr<Matrix> stats(
            CImgStatistic::CalculateStatistic(&histogram, extremes.get(), true, &global));
        std::unique_ptr<Vector> ownedGlobal(global);
        ASSERT_TRUE(stats && global);
        std::unique_ptr<Matrix> selected(
            CImgStatistic::CalculateShape(stats.get(), 0.04, 0.07, 0.15));
        ASSERT_TRUE(selected);
        std::unique_ptr<Matrix> points(
            CImgStatistic::CalculateCharacteristicPointForLUT(&histogram, selected.get(), 0.05));
        ASSERT_TRUE(points);
        std::vector<double> chain(slopes->Data(), slopes->Data() + slopes->Size());
        for (const Matrix* m : {signs.get(), extremes.get(), stats.get()}) {
            const auto cells = Cells(*m);
            chain.insert(chain.end(), cells.begin(), cells.end());
        }
        chain.insert(chain.end(), global->Data(), global->Data() + 3);
        for (const Matrix* m : {selected.get(), points.get()}) {
            const auto cells = Cells(*m);
            chain.insert(chain.end(), cells.begin(), cells.end());
        }
        pixelfilters::RefCheck check;
        check.Write("hist", bins, 256);
        check.Write("chain", chain);
        check.Run("statistics", "{\"step\":1,\"a\":0.04,\"b\":0.07,\"c\":0.15,\"f\":0.05}");
    }
}

TEST(Statistics, SharedLibraryExportsTheSixFunctions) {
    const auto result = quorin::test::RunCommand(
        "nm -D --defined-only -C " +
        quorin::test::ShellQuote(std::string(QUORIN_BINARY_DIR) + "/libquorin.so") +
        " | grep -c 'T CImgStatistic::Calculate'");
    EXPECT_EQ(result.output, "6\n");
}

}  // namespace
