#include "sdk/drawinglist.h"

void FreeDrawingList(SOMUDrawingList* list) {
    if (list == nullptr) return;
    delete[] list->pItems;
    list->pItems = nullptr;
    list->nCount = 0;
}
