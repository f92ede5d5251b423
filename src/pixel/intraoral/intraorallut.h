// The processing curves of the intra-oral sensor images, each filling a look-up table of n
// entries (one per grey level of the image): the knee curve and the sigmoid of CusZEL7, the
// registry-bounded power curve of CusZEL6 (which 16-bit model lays which: ZelCurveFor in
// intraoralsensors.h) and the control-point curve of the 8-bit sensors. Written once over the
// entry type; every index written stays below n.
#pragma once
#include <cstdint>

namespace quorin {

// Entries 0..low are 0; up to high, min(239, round(((i - low) / (high - low))^a x 239)); above
// high, min(255, round(sin((i - high) x pi / 2 / (n - 1 - high)) x 16 + 239)).
template <class T>
void KneeCurve(T* table, std::uint64_t n, std::uint64_t low, std::uint64_t high, double a);

// Entries up to low are 0, from 4095 on 4095; between, x = (i - a) / (b - a) x 4095 and the entry
// is round(4095 (1 + (4095 / c)^p) / (1 + (x / c)^p)), kept within 0..4095.
template <class T>
void SigmoidCurve(T* table, std::uint64_t n, std::uint64_t low, double a, double b, double c,
                  int p);

// The power curve x^a (256 levels, n entries) laid from low to top = low + (maxHisto - low) x
// ratio / 100: 0 below low, curve[MulDiv(k, n, top - low)] at low + k, 255 from top on. False
// (table untouched) when low is not below maxHisto, top is not above low, or the curve cannot
// be made.
template <class T>
bool PowerCurve(T* table, std::uint64_t n, std::int64_t low, std::int64_t maxHisto,
                std::int64_t ratio, double a);

// The control-point curve of the 8-bit sensors for mode 1 or 2 and levels low..high on a 12-bit
// scale. False (table untouched) for another mode, a zero level, low >= high or an empty ramp.
template <class T>
bool ControlPointCurve(T* table, std::uint64_t n, int mode, std::int64_t low, std::int64_t high);

}  // namespace quorin
