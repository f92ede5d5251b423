// The drawing store's own helpers: the writer-version comparison that decides a blob's layout
// and the point transform of mirroring and rotating (the store is in <quorin/drawingstore.h>).
#pragma once
#include <quorin/drawinglist.h>

namespace quorin {

// Compares two version texts as texts, character by character and without regard to case
// ("1.10" is below "1.8"): negative, zero or positive.
int CompareVersionText(const char* a, const char* b);

// Multiplies (x, y, 1) by a 3 x 3 matrix of doubles (row-major) and gives the first two results.
void ApplyTransform3x3(const double matrix[3][3], double* outX, double* outY,
                       const SOMUDrawingPoint& point);

}  // namespace quorin
