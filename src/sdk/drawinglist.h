// The drawing list of the SDK image record: the parsed annotations of an image as an array of
// drawing items (the drawing store fills and reads it).
#pragma once
#include <cstdint>

struct SOMUDrawingItem {
    std::int32_t nType;
    std::int32_t nDrawingId;
};

struct SOMUDrawingList {
    std::int32_t nCount;
    std::int32_t nWidth;
    std::int32_t nHeight;
    SOMUDrawingItem* pItems;  // nCount items, owned by the list
};

// Frees every block the items own and the item array, then empties the list.
void FreeDrawingList(SOMUDrawingList* list);
