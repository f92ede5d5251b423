#include "pixel/core/statistics.h"

#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

using Vector = CImgStatistic::Vector;
using Matrix = CImgStatistic::Matrix;

constexpr unsigned kSegmentColumns = 9;

bool InUnit(double v) {
    return v >= 0.0 && v <= 1.0;
}  // false for not a number

// A new rows x columns matrix filled from `values` (row after row); a matrix of 0 rows when
// rows is 0. Null when it cannot be made.
Matrix* NewMatrix(unsigned rows, unsigned columns, const std::vector<double>& values) {
    std::unique_ptr<Matrix> matrix(new (std::nothrow) Matrix(rows, columns));
    if (!matrix || (rows != 0 && matrix->IsEmpty())) return nullptr;
    if (rows != 0)
        for (std::size_t i = 0; i < std::size_t(rows) * columns; ++i) matrix->Data()[i] = values[i];
    return matrix.release();
}

double Cell(const Matrix& m, unsigned r, unsigned c) {
    return m.RowData(r)[c];
}

}  // namespace

Vector* CImgStatistic::CalculateFirstDerivation(Vector* values, unsigned int step) {
    if (values == nullptr || values->IsEmpty() || step == 0 || step > values->Size())
        return nullptr;
    const unsigned n = values->Size();
    std::unique_ptr<Vector> d(new (std::nothrow) Vector(n));
    if (!d || d->IsEmpty()) return nullptr;
    const auto v = [&](unsigned i) { return *values->At(i); };
    for (unsigned i = 0; i + step < n; ++i) *d->At(i) = (v(i + step) - v(i)) / double(step);
    for (unsigned i = n - step; i + 1 < n; ++i) *d->At(i) = (v(n - 1) - v(i)) / double(n - 1 - i);
    if (n >= 2) *d->At(n - 1) = *d->At(n - 2);
    return d.release();
}

Matrix* CImgStatistic::CalculateSignVariation(Vector* slopes) {
    if (slopes == nullptr) return nullptr;
    std::vector<double> rows;
    try {
        rows.reserve(std::size_t(slopes->Size()) * 2);
    } catch (...) {
        return nullptr;
    }
    double running = 0.0;
    for (unsigned i = 0; i < slopes->Size(); ++i) {
        const double v = (*slopes)[i];
        double sign;
        if (v == 0.0)
            sign = 0.0;
        else if (v > 0.0 && running != 1.0)
            sign = 1.0;
        else if (v < 0.0 && running != -1.0)
            sign = -1.0;
        else
            continue;
        rows.push_back(double(i));
        rows.push_back(sign);
        running = sign;
    }
    return NewMatrix(unsigned(rows.size() / 2), 2, rows);
}

Matrix* CImgStatistic::CalculateCurvature(Matrix* signs) {
    if (signs == nullptr) return nullptr;
    const unsigned columns = signs->Columns();
    if (signs->Rows() != 0 && columns < 2) return nullptr;
    std::vector<double> kept;
    double running = 0.0;
    unsigned count = 0;
    for (unsigned r = 0; r < signs->Rows(); ++r) {
        const double sign = Cell(*signs, r, 1);
        if (sign > 0.0 && running != 1.0)
            running = 1.0;
        else if (sign < 0.0 && running != -1.0)
            running = -1.0;
        else
            continue;
        try {
            kept.resize(kept.size() + columns, 0.0);
        } catch (...) {
            return nullptr;
        }
        kept[std::size_t(count) * columns] = Cell(*signs, r, 0);
        kept[std::size_t(count) * columns + 1] = sign;
        ++count;
    }
    return NewMatrix(count, columns, kept);
}

Matrix* CImgStatistic::CalculateStatistic(Histogram* histogram, Matrix* extremes, bool withGlobal,
                                          Vector** global) {
    if (histogram == nullptr || extremes == nullptr || histogram->BinData() == nullptr)
        return nullptr;
    const unsigned R = extremes->Rows();
    if (R < 2 || extremes->Columns() < 2) return nullptr;
    const unsigned N = histogram->BinCount();
    const double* bins = histogram->BinData();
    const double T = histogram->Total();
    const double lastPosition = Cell(*extremes, R - 1, 0);

    std::vector<double> rows, pairs;
    try {
        rows.reserve(std::size_t(R) * kSegmentColumns);
        pairs.reserve(std::size_t(R) * 2);
    } catch (...) {
        return nullptr;
    }
    unsigned i = 0;
    while (i + 1 < R) {
        const double start = Cell(*extremes, i, 0);
        double peak;
        unsigned closing, step;
        if (Cell(*extremes, i, 1) == -1.0) {  // the histogram falls from its start
            peak = start;
            closing = i + 1;
            step = 1;
        } else {  // a valley: over the next peak to the following valley
            peak = Cell(*extremes, i + 1, 0);
            closing = i + 2 <= R - 1 ? i + 2 : i + 1;
            step = closing - i;
        }
        const double closingPosition = Cell(*extremes, closing, 0);
        const double end = closingPosition == lastPosition ? double(N - 1) : closingPosition - 1.0;
        // Positions outside the histogram (a matrix not made from it) are kept to its bins.
        double mass = 0.0, s1 = 0.0, s2 = 0.0;
        const double first = std::max(std::trunc(start), 0.0);
        const double last = std::min(std::trunc(end), double(N - 1));
        if (first <= last) {
            for (auto j = static_cast<std::uint64_t>(first); j <= static_cast<std::uint64_t>(last);
                 ++j) {
                const double b = bins[j], dj = double(j);
                mass += b;
                s1 += dj * b;
                s2 += dj * dj * b;
            }
        }
        const double midpoint = (start + end) * 0.5;
        const double mean = s1 / mass;
        const double variance = s2 / mass - mean * mean;
        rows.insert(rows.end(), {start, end, midpoint, mean, peak, mass, mass / T, variance,
                                 std::pow(variance, 0.5)});
        pairs.push_back(mass * midpoint);
        pairs.push_back(mass * midpoint * midpoint);
        i += step;
    }
    const unsigned k = unsigned(rows.size() / kSegmentColumns);
    if (k == 0) return nullptr;
    for (unsigned column : {7u, 8u}) {
        double sum = 0.0;
        for (unsigned r = 0; r < k; ++r) sum += rows[std::size_t(r) * kSegmentColumns + column];
        for (unsigned r = 0; r < k; ++r) rows[std::size_t(r) * kSegmentColumns + column] /= sum;
    }
    Matrix* result = NewMatrix(k, kSegmentColumns, rows);
    if (result == nullptr) return nullptr;
    if (withGlobal && global != nullptr) {
        double a0 = 0.0, a1 = 0.0;
        for (unsigned r = 0; r < k; ++r) {
            a0 += pairs[2 * std::size_t(r)];
            a1 += pairs[2 * std::size_t(r) + 1];
        }
        *global = new (std::nothrow) Vector(3);
        if (*global != nullptr && (*global)->IsEmpty()) {
            delete *global;
            *global = nullptr;
        }
        if (*global != nullptr) {
            Vector& g = **global;
            g[0] = a0 / T;
            g[1] = a1 / T - g[0] * g[0];
            g[2] = std::pow(g[1], 0.5);
        }
    }
    return result;
}

Matrix* CImgStatistic::CalculateShape(Matrix* statistics, double minFraction, double minSpread,
                                      double dominantFraction) {
    if (statistics == nullptr || !InUnit(minFraction) || !InUnit(minSpread) ||
        !InUnit(dominantFraction))
        return nullptr;
    const unsigned columns = statistics->Columns();
    if (statistics->Rows() == 0 || columns < 8) return nullptr;
    std::vector<double> kept;
    unsigned count = 0;
    for (unsigned r = 0; r < statistics->Rows(); ++r) {
        const double fraction = Cell(*statistics, r, 6), spread = Cell(*statistics, r, 7);
        if (!((fraction >= minFraction && spread >= minSpread) || fraction >= dominantFraction))
            continue;
        const double* row = statistics->RowData(r);
        try {
            kept.insert(kept.end(), row, row + columns);
        } catch (...) {
            return nullptr;
        }
        ++count;
    }
    return count == 0 ? nullptr : NewMatrix(count, columns, kept);
}

Matrix* CImgStatistic::CalculateCharacteristicPointForLUT(Histogram* histogram, Matrix* selected,
                                                          double fraction) {
    if (histogram == nullptr || selected == nullptr || !InUnit(fraction) || selected->Rows() == 0 ||
        selected->Columns() < 7 || histogram->BinCount() == 0)
        return nullptr;
    const unsigned K = selected->Rows();
    const double N = histogram->BinCount();
    double P, Q;
    if (K >= 2) {
        double A = 0.0, B = 0.0, C = 0.0;
        for (unsigned r = 0; r < K; ++r) {
            const double mass = Cell(*selected, r, 6), peak = Cell(*selected, r, 4);
            A += mass;
            B += mass * peak;
            C += (peak / N) * mass;
        }
        P = std::floor(B / A);
        Q = C / A;
    } else {
        P = Cell(*selected, 0, 4);
        Q = P / N;
    }
    // The level that indexes the cumulative histogram must be one of its bins.
    if (!(P >= 0.0 && P < N)) return nullptr;
    std::unique_ptr<Vector> cdf(histogram->CumulativeNormalised());
    if (!cdf) return nullptr;
    const double start = Cell(*selected, 0, 0);
    const std::vector<double> values{start, start / N, fraction,
                                     P,     Q,         0.9 * (*cdf)[unsigned(std::trunc(P))]};
    return NewMatrix(2, 3, values);
}
