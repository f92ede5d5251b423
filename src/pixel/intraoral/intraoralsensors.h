// The sensor models of the intra-oral images and the curves their processing tables follow, as
// data. This is the one place that tells one sensor model from another, and the one place that
// says which curve an image lays (ZelCurveFor, asked by CusZEL7 and CusZEL6 alike): a new model
// is a row of kZelSensors; one with a curve of its own adds a ZelCurve value here, the curve in
// intraorallut and its case in CTImgZELRobust::LayCurve. The mode parameters below are shared by
// every model.
#pragma once
#include <cstdint>

namespace quorin {

// Processing modes: the tables of mode 1 (the gentler curve) and mode 2 (the steeper one), and
// mode 7 of ProcessInto, the identity ramp.
inline constexpr int kZelModeGentle = 1;
inline constexpr int kZelModeSteep = 2;
inline constexpr int kZelModeIdentity = 7;

constexpr bool IsZelTableMode(int mode) {
    return mode == kZelModeGentle || mode == kZelModeSteep;
}

// What the curves of a table mode take.
struct ZelModeCurve {
    double exponent;            // of the knee and power curves
    int sigmoidPower;           // of the sigmoid
    std::int32_t pointsIn[8];   // control points of the 8-bit sensors, 12-bit scale
    std::int32_t pointsOut[8];  // their outputs on 8 bits
};

inline constexpr ZelModeCurve kZelModeCurves[2] = {
    {2.3, -5, {0, 947, 1670, 2088, 2505, 2891, 3501, 4095}, {0, 0, 35, 60, 88, 119, 179, 255}},
    {3.5, -8, {0, 944, 1912, 2500, 3200, 3512, 4072, 4095}, {0, 0, 30, 55, 100, 135, 255, 255}},
};

// The curves of mode 1; of mode 2 for any other mode (callers check the mode first).
constexpr const ZelModeCurve& ZelCurvesOf(int mode) {
    return kZelModeCurves[mode == kZelModeGentle ? 0 : 1];
}

// The curves the 16-bit images lay into their processing tables, one per kind.
enum class ZelCurve : std::uint8_t {
    kKnee,     // the knee over the peak-and-valley window (KneeCurve): CusZEL7
    kSigmoid,  // the sigmoid over the histogram's stretch range (SigmoidCurve): CusZEL7 with
               // its flag, for the models whose row names it
    kPower,    // the power curve bounded by the registry's MaxHisto (PowerCurve): CusZEL6
};

// The class the SDK builds for a 16-bit sensor code.
enum class ZelImage : std::uint8_t { kCusZEL6, kCusZEL7 };

struct ZelSensor {
    std::uint32_t code;      // the sensor code the SDK passes
    ZelImage image;          // CusZEL7 stamps only the logos of its own models
    int logo;                // bitmap of the sensor's logo; 0 for none
    bool histogramExposure;  // exposure judged from the histogram, not from the window
    ZelCurve curve;          // processing curve its class lays
    ZelCurve flaggedCurve;   // and with the flag set (CusZEL7 only; a CusZEL6 has no flag)
};

// The 16-bit models (codes 1 to 4 are the 8-bit CucZEL3, CucZEL4, CucZEL5_HS and CucZEL5_HR,
// which carry no code).
inline constexpr ZelSensor kZelSensors[] = {
    {5, ZelImage::kCusZEL6, 8001, false, ZelCurve::kPower, ZelCurve::kPower},
    {6, ZelImage::kCusZEL6, 8000, false, ZelCurve::kPower, ZelCurve::kPower},
    {7, ZelImage::kCusZEL7, 8007, false, ZelCurve::kKnee, ZelCurve::kKnee},
    {8, ZelImage::kCusZEL7, 8008, false, ZelCurve::kKnee, ZelCurve::kKnee},
    {9, ZelImage::kCusZEL6, 8001, false, ZelCurve::kPower, ZelCurve::kPower},
    {10, ZelImage::kCusZEL6, 8000, false, ZelCurve::kPower, ZelCurve::kPower},
    {11, ZelImage::kCusZEL7, 8007, false, ZelCurve::kKnee, ZelCurve::kKnee},
    {12, ZelImage::kCusZEL7, 8008, false, ZelCurve::kKnee, ZelCurve::kKnee},
    {13, ZelImage::kCusZEL7, 0, false, ZelCurve::kKnee, ZelCurve::kKnee},
    {14, ZelImage::kCusZEL7, 8011, true, ZelCurve::kKnee, ZelCurve::kSigmoid},
};

// What a code without a row gets (0 included: a CusZEL7 built before the SDK writes its code).
inline constexpr ZelSensor kZelUnknownSensor = {0,     ZelImage::kCusZEL7, 0,
                                                false, ZelCurve::kKnee,    ZelCurve::kKnee};

constexpr const ZelSensor& FindZelSensor(std::uint32_t code) {
    for (const ZelSensor& sensor : kZelSensors)
        if (sensor.code == code) return sensor;
    return kZelUnknownSensor;
}

// The curve an image of class `image` lays for a sensor code, with its flag set or not: the
// row's when the code is one of the class's own models; otherwise the class's usual curve (the
// power curve on a CusZEL6, the knee on a CusZEL7), as for a code without a row or the code 0 an
// image has before the SDK writes its code.
constexpr ZelCurve ZelCurveFor(ZelImage image, std::uint32_t code, bool flag) {
    const ZelSensor& sensor = FindZelSensor(code);
    if (sensor.image == image) return flag ? sensor.flaggedCurve : sensor.curve;
    return image == ZelImage::kCusZEL6 ? ZelCurve::kPower : ZelCurve::kKnee;
}

// The logo bitmap a sensor code gets on a CusZEL6 (`zel6`: every model's logo) or a CusZEL7
// (its own models' only); 0 when none.
constexpr int SensorLogoId(std::uint32_t sensorType, bool zel6) {
    const ZelSensor& sensor = FindZelSensor(sensorType);
    return zel6 || sensor.image == ZelImage::kCusZEL7 ? sensor.logo : 0;
}

}  // namespace quorin
