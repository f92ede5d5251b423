// The SDK's image record: one image as the SDK, the readers and the viewer exchange it. A plain,
// fixed-layout structure of named blocks; it never reaches a file. Texts are NUL-terminated in
// fields of the widths below (characters including the NUL); addresses are real pointers.
// A new record is all zero (InitSOMUImage); FreeSOMUImageData releases every block it owns.
#pragma once
#include <quorin/drawinglist.h>
#include <quorin/export.h>
#include <quorin/simage.h>

#include <cstddef>
#include <cstdint>

// Paths take the platform's maximum path length; a longer path is refused, never cut.
constexpr std::size_t kSOMUPathWidth = 4096;
constexpr std::size_t kSOMUCommentsWidth = 10241;
constexpr std::size_t kSOMUContributingWidth = 325;
constexpr int kSOMUProcCodeCount = 32;
constexpr int kSOMUTeethCount = 6;

// Study (exam) block of the patient.
struct SOMUExam {
    char szText1[65];
    char szText2[65];
    char szDate[9];  // YYYYMMDD
    char szTime[17];
    char szStudyUID[65];
    char szText3[17];
    char szText4[17];
};

struct SOMUPatient {
    // Name components in the record order: family, middle, given, prefix, suffix.
    char szFamilyName[65];
    char szMiddleName[65];
    char szGivenName[65];
    char szPrefix[65];
    char szSuffix[65];
    char szSex[2];
    char szBirthDate[9];  // YYYYMMDD
    char szPatientID[65];
    char szOtherID1[65];
    char szOtherID2[65];
    char szOtherID3[65];
    char szFilePath[kSOMUPathWidth];
    SOMUExam exam;
};

struct SOMUSeries {
    char szDate[9];
    char szTime[17];
    char szSeriesNumber[13];
    char szSeriesUID[65];
    char szInstanceUID[65];
    char szInstanceNumber[13];
    char szReferencedUID[65];
    std::int32_t nReferencedClass;   // 0: no referenced image
    std::uint8_t bReferencedNumber;  // 1 when the referenced image number is not 0
    char szPersonName[65];
};

struct SOMUEquipment {
    char szManufacturer[65];
    char szModelName[65];
    char szText3[65];
    char szDate[9];
    char szTime[17];
    char szText11[17];
    char szSoftwareVersions[65];
    char szText13[17];
    char szText14[17];
    char szInstitutionName[65];
    char szText16[65];
    char szStationName[17];
    char szText18[17];
    char szText19[65];
    std::uint16_t nValue;
    char szContributingEquipment[kSOMUContributingWidth];  // model#version#description\...
};

struct SOMUProcCode {
    char szCodeValue[17];
    char szCodingScheme[17];
    char szCodeMeaning[65];
};

// Performed procedure step.
struct SOMUProcedureStep {
    char szText1[65];
    char szText2[65];
    char szStepID[17];
    char szText4[17];
    SOMUProcCode aCodes[kSOMUProcCodeCount];  // unused entries: three empty texts
};

struct SOMUImageInfo {
    char szComments[kSOMUCommentsWidth];
    std::int32_t nLossy;
    char szLossyRatio[17];
    char szDate1[9];
    char szTime1[17];
    char szDate2[9];
    char szTime2[17];
    std::uint8_t bValue;
    char szText[17];
};

struct SOMUOrientation {
    std::uint8_t bMirror;
    std::uint8_t bFlip;
    std::int32_t nValue;
    std::int32_t nRotation;  // degrees: 0, 90, 180 or 270
};

// Exposure of an X-ray image.
struct SOMUExposure {
    std::uint16_t nVoltage;  // kV x 100
    std::uint16_t nCurrent;  // mA x 100
    std::uint16_t nTime;     // milliseconds
    float fDoseArea;         // mGy.cm2
    float fDoseLength;       // mGy.mm
    std::int32_t nValue;
};

// Grey look-up table settings. The table, when present, is a locked global block owned by the
// record (FreeGlobalPointer).
struct SOMULUTSettings {
    std::int32_t nBrightness;
    std::int32_t nContrast;
    std::int32_t nGamma;
    std::uint8_t bInversion;
    std::uint16_t nMaxEntries;  // 256 when the record's LUT had 0
    std::int32_t nTableCount;
    std::uint16_t* pTable;  // nTableCount entries, or null
    std::uint8_t bNoTable;
    std::uint8_t bNeutral;
};

// Pixel-intensity fields of X-ray images.
struct SOMUIntensity {
    std::int32_t nValue;  // -1 by default
    char szText[17];      // "LIN" by default
    std::uint16_t nSign;  // 65535 by default
    double dValue1;
    std::int32_t nValue2;
    double dValue2;
};

struct SOMUDetector {
    char szManufacturer[65];
    char szModelName[65];
    char szText3[17];
    std::int32_t nValue;
};

// Display and modality block of X-ray and scanned images.
struct SOMUDisplay {
    SOMUExposure exposure;
    std::int32_t nColorLUT;
    SOMULUTSettings lut;
    double dDetectorSpacingX;
    double dDetectorSpacingY;
    SOMUIntensity intensity;
    SOMUDetector detector;
    std::int32_t nScannedValue;  // the scanned header's own 32-bit value
};

// Colour settings of scanned and camera images (five integers and two flags).
struct SOMUColorSettings {
    std::int32_t anValues[5];
    std::uint8_t bFlag1;
    std::uint8_t bFlag2;
};

// Panoramic fields. The point table, when present, is a locked global block owned by the record.
struct SOMUPano {
    std::uint16_t nProgram;
    std::uint16_t nPointCount;
    std::uint32_t* pPoints;         // nPointCount entries of 4 bytes, or null
    std::int32_t nProcessingLevel;  // the panoramic processing level
};

struct SOMUCeph {
    double adValues1[8];
    double adValues2[8];
    std::uint16_t nValue1;
    std::uint16_t nValue2;
    std::uint16_t nProgram;
    std::int32_t nMode;  // 1: first mode flag, 2: second
    std::uint8_t bFlag3;
    std::uint8_t bByte;
    std::uint16_t nAngle;  // degrees
    std::uint8_t bByte2;
    std::uint16_t nValue3;
};

// Intra-oral sensor block. The CR intra-oral filter level lives in SOMUCR::nValue2.
struct SOMUSensor {
    std::int32_t nFilterLevel;    // intra-oral images
    std::uint8_t bCRSensor;       // 1 for CR intra-oral images
    std::uint8_t bSensorPresent;  // 1 when a sensor value is not 0
    std::int32_t anParameters[6];
    std::uint32_t nPacked;  // the two sensor values, interleaved bytes
    std::int32_t nSum;
    std::int32_t nDifference;
};

// Plate-scanner (CR) block.
struct SOMUCR {
    std::int32_t nValue1;
    std::int32_t nValue2;  // shared with the CR intra-oral sensor's filter level
    std::uint8_t bFlag;
};

// Annotations: the blob (a locked global block owned by the record) and its parsed list.
struct SOMUDrawing {
    std::uint8_t* pBlob;
    std::uint32_t nBlobSize;
    std::uint8_t bFlag;
    SOMUDrawingList list;
};

struct SOMUImage {
    char szDirectory[kSOMUPathWidth];  // folder of the image file
    char szFileName[kSOMUPathWidth];   // file name without folder
    std::int32_t nImageType;
    std::int32_t nSubType;
    SImage image;  // dimensions and the pixel block (a raw pixel buffer owned by the record)
    std::int32_t bChecksumMismatch;
    double dPixelSizeX;  // millimetres
    double dPixelSizeY;
    std::int32_t anRegion[4];
    char szRegionCode[17];
    SOMUOrientation orientation;
    std::uint8_t bFilterSet;
    std::uint8_t bProcessed;
    std::int32_t nFilterParameter;
    std::int32_t nFilter;
    std::int32_t nProcessingLevel;
    char szTeeth[kSOMUTeethCount][3];
    std::int32_t anCorners[8];  // x1, y1 .. x4, y4
    SOMUDrawing drawing;
    // Masked pixel checksum: nCheck1 + nCheck3 (wrapping) is the checksum, nCheck2 a decoy.
    std::uint32_t nCheck1;
    std::uint32_t nCheck2;
    std::uint32_t nCheck3;

    SOMUPatient patient;
    SOMUSeries series;
    SOMUEquipment equipment;
    SOMUProcedureStep procedure;
    SOMUImageInfo info;
    SOMUDisplay display;
    SOMUColorSettings color;
    SOMUPano pano;
    SOMUCeph ceph;
    SOMUSensor sensor;
    SOMUCR cr;

    void* pProcessing;  // holder of the processing object; owned and freed by the SDK
};

// Zero-fills a record (a new record is all zero).
QUORIN_EXPORT void InitSOMUImage(SOMUImage* record);
// Frees every block the record owns: pixels, drawing blob and list, LUT table, panoramic
// points; the pointers and their counts become 0. The processing holder is left to the SDK.
QUORIN_EXPORT void FreeSOMUImageData(SOMUImage* record);

namespace quorin {
// A zero-filled, locked global block of `bytes` (the form of every block a record owns); null
// on failure or for 0 bytes. Released with FreeGlobalPointer.
QUORIN_EXPORT void* AllocRecordBlock(std::size_t bytes);
}  // namespace quorin
