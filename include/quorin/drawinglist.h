// The drawing list of the SDK image record: the parsed annotations of an image as an array of
// drawing items. The drawing store fills it (GetDrawingList) and reads it (SetDrawingList); the
// overlay builds its graphic objects from the same items. Every block an item points to is
// owned by the item and allocated with new[]; FreeDrawingList releases them.
#pragma once
#include <quorin/export.h>

#include <cstddef>
#include <cstdint>

// One point of a drawing, in image pixels.
struct SOMUDrawingPoint {
    double x;
    double y;
};

constexpr int kDrawingTextSize = 64;         // the text of a drawing and each type-14 point text
constexpr int kDrawingDataMaxLength = 9998;  // the largest type-6 data block

// One drawing. Which type-specific fields mean something depends on nType; the others stay 0.
// Items are plain data: copy them only with CopyDrawingRecord, which copies the blocks too.
struct SOMUDrawingItem {
    std::int32_t nType;
    std::int32_t nDrawingId;  // type in the high 16 bits, sequence number in the low 16 bits
    std::int16_t nAttribute2;
    std::int32_t nAttribute3;
    std::int32_t nAttribute4;
    std::uint8_t byMemoryAttribute;  // carried in memory, never written into a blob
    std::int32_t nMemoryValue;       // carried in memory, never written into a blob
    std::int32_t nPointCount;        // at least 1 for a drawing that can be stored
    SOMUDrawingPoint* pPoints;       // nPointCount points, owned
    char szText[kDrawingTextSize];   // zero-padded, not necessarily NUL-terminated
    std::uint8_t abyTextAttributes[2];
    // Type 5: three doubles, the third an angle in radians.
    double adShape[3];
    // Type 6: a leading byte, a data block of 1 to 9,998 bytes, the mirrored and flipped flags.
    std::uint8_t byDataLead;
    std::int32_t nDataLength;
    std::uint8_t* pData;  // nDataLength bytes, owned; null reads as zeros
    std::uint8_t bMirrored;
    std::uint8_t bFlipped;
    // Type 9: a value and whether it is present.
    double dValue;
    std::uint8_t bHasValue;
    // Types 11 and 20: two values.
    std::int32_t anValues[2];
    // Type 14: one value and one 64-byte text per point; null reads as zeros.
    std::int32_t* pPointValues;  // nPointCount values, owned
    char* pPointTexts;           // nPointCount x 64 bytes, owned
};

struct SOMUDrawingList {
    std::int32_t nCount;
    std::int32_t nWidth;  // the image size the points refer to
    std::int32_t nHeight;
    SOMUDrawingItem* pItems;  // nCount items, owned by the list (new[])
};

// Frees every block the items own and the item array, then empties the list (count 0, no items;
// width and height are kept). Nothing for null.
QUORIN_EXPORT void FreeDrawingList(SOMUDrawingList* list);

// Frees the blocks one item owns and clears the item to zeros. Nothing for null.
QUORIN_EXPORT void FreeDrawingItem(SOMUDrawingItem* item);

// Makes `target` a deep copy of `source`: the target's own blocks are freed first. False when an
// allocation fails; the target is then cleared (zeros, no blocks). `target` must be a valid item
// (zeros or owning its blocks) and must not be `source`.
QUORIN_EXPORT bool CopyDrawingRecord(SOMUDrawingItem* target, const SOMUDrawingItem* source);
