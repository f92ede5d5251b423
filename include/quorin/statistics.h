// Exported statistics of a grey-level histogram: slopes, sign changes, alternating extremes,
// per-mode segment statistics, the selection of the modes that matter and the characteristic
// points of the automatic contrast curve. Every function leaves its inputs unchanged and returns
// a new object that the caller owns and deletes, or null on failure.
#pragma once

#include <quorin/export.h>
#include <quorin/histogram.h>
#include <quorin/matrix.h>
#include <quorin/vector.h>

class QUORIN_EXPORT CImgStatistic {
  public:
    using Vector = CTVector<double, unsigned int>;
    using Matrix = CTMatrix<double, unsigned int>;
    using Histogram = CTHistogram<unsigned char, unsigned int, double>;

    // Slope of `values` at every entry over `step` entries (the tail over what is left, the last
    // entry copying its neighbour). Null for a null or empty vector, a step of 0 or a step
    // beyond the vector's length.
    static Vector* CalculateFirstDerivation(Vector* values, unsigned int step);
    // Rows (position, sign) where the slope changes sign, and one row of sign 0 for every zero
    // slope. An empty vector gives a matrix of 0 rows. Null for null.
    static Matrix* CalculateSignVariation(Vector* slopes);
    // The rows of a sign matrix whose sign alternates +1 / -1 (zero rows and repeats dropped),
    // columns 0 and 1 copied. Null for null or a matrix of fewer than 2 columns.
    static Matrix* CalculateCurvature(Matrix* signs);
    // One row of 9 statistics per histogram segment between the extremes (start, end,
    // midpoint, mean, peak, mass, mass fraction, variance share, deviation share). With
    // `withGlobal` (and `global` given) *global receives (mean, variance, deviation) of the
    // segment midpoints weighted by mass, or null when it cannot be made. Null with fewer than
    // two extremes, no segment or a bad argument.
    static Matrix* CalculateStatistic(Histogram* histogram, Matrix* extremes, bool withGlobal,
                                      Vector** global);
    // The segments holding at least `minFraction` of the pixels and `minSpread` of the spread,
    // or `dominantFraction` of the pixels alone. Null unless all three lie in [0, 1], or when
    // nothing is selected.
    static Matrix* CalculateShape(Matrix* statistics, double minFraction, double minSpread,
                                  double dominantFraction);
    // 2 x 3 characteristic points of the contrast curve from the selected segments. Null unless
    // 0 <= fraction <= 1 and both inputs are given and non-empty.
    static Matrix* CalculateCharacteristicPointForLUT(Histogram* histogram, Matrix* selected,
                                                      double fraction);
};
