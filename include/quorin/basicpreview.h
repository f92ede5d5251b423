// The preview record of the open dialog: what it shows of an image file before opening it (type,
// depth, size, dates and comments, teeth, category, patient). Filled from older files here and
// from DICOM files by the DICOM exports.
#pragma once
#include <quorin/anatomy.h>
#include <quorin/equipment.h>
#include <quorin/export.h>
#include <quorin/patient.h>

#include <cstdint>

struct QUORIN_EXPORT SBasicPreviewInfo {
    std::int32_t nReserved = 0;  // left as it is by the fillers
    std::int32_t nImageType = 0;
    std::int32_t nSamplesPerPixel = 0;
    std::int32_t nBitsPerSample = 0;
    std::int32_t nWidth = 0;  // the picture's size as its header record's reader gives it
    std::int32_t nHeight = 0;
    CInfosImage infosImage;  // acquisition date and comments
    CAnatTeethList teeth;
    std::int32_t nCategory = 0;        // 1 intra-oral, 2 extra-oral, 0 other
    std::uint8_t abReserved[16] = {};  // left as it is by the fillers
    CPatient patient;
    std::uint8_t bRadiograph = 0;
    std::uint8_t bDerived = 0;   // the file name is a derived ("A") name
    std::uint8_t bMirrored = 0;  // the colour header record's mirror flag is 1

    void SetTeethList(const CAnatTeethList& list) { teeth = list; }
    void SetPatient(const CPatient& value) { patient = value; }
    CAnatTeethList* GetTeethList() { return &teeth; }
    // 1 for types 1, 8 and 14; 2 for 3, 6, 7, 13, 15 and 16; 0 otherwise.
    void SetCategoryFromType(std::int32_t type);
    // 1 for types 1, 3, 6, 7, 8, 11, 13, 14, 15, 16 and 18; 0 otherwise.
    void SetRadiographFlag(std::int32_t type);
};
