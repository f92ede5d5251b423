#include <quorin/drawinglist.h>

#include <cstring>
#include <new>

namespace {

template <typename T>
T* CopyBlock(const T* source, std::size_t count) {
    T* block = new (std::nothrow) T[count];
    if (block != nullptr) std::memcpy(block, source, count * sizeof(T));
    return block;
}

}  // namespace

void FreeDrawingItem(SOMUDrawingItem* item) {
    if (item == nullptr) return;
    delete[] item->pPoints;
    delete[] item->pData;
    delete[] item->pPointValues;
    delete[] item->pPointTexts;
    std::memset(static_cast<void*>(item), 0, sizeof *item);
}

void FreeDrawingList(SOMUDrawingList* list) {
    if (list == nullptr) return;
    if (list->pItems != nullptr) {
        for (std::int32_t i = 0; i < list->nCount; ++i) FreeDrawingItem(&list->pItems[i]);
        delete[] list->pItems;
    }
    list->pItems = nullptr;
    list->nCount = 0;
}

bool CopyDrawingRecord(SOMUDrawingItem* target, const SOMUDrawingItem* source) {
    if (target == nullptr || source == nullptr || target == source) return false;
    FreeDrawingItem(target);
    target->nType = source->nType;
    target->nDrawingId = source->nDrawingId;
    target->nAttribute2 = source->nAttribute2;
    target->nAttribute3 = source->nAttribute3;
    target->nAttribute4 = source->nAttribute4;
    target->byMemoryAttribute = source->byMemoryAttribute;
    target->nMemoryValue = source->nMemoryValue;
    target->nPointCount = source->nPointCount;
    std::memcpy(target->szText, source->szText, sizeof target->szText);
    std::memcpy(target->abyTextAttributes, source->abyTextAttributes,
                sizeof target->abyTextAttributes);

    const std::size_t points = source->nPointCount > 0 ? std::size_t(source->nPointCount) : 0;
    bool ok = true;
    if (points > 0 && source->pPoints != nullptr) {
        target->pPoints = CopyBlock(source->pPoints, points);
        ok = target->pPoints != nullptr;
    }
    switch (source->nType) {
        case 5:
            std::memcpy(target->adShape, source->adShape, sizeof target->adShape);
            break;
        case 6:
            target->bMirrored = source->bMirrored;
            target->bFlipped = source->bFlipped;
            target->nDataLength = source->nDataLength;
            target->byDataLead = source->byDataLead;
            if (source->pData != nullptr && source->nDataLength > 0) {
                target->pData = CopyBlock(source->pData, std::size_t(source->nDataLength));
                ok = ok && target->pData != nullptr;
            }
            break;
        case 9:
            target->dValue = source->dValue;
            target->bHasValue = source->bHasValue;
            break;
        case 11:
        case 20:
            target->anValues[0] = source->anValues[0];
            target->anValues[1] = source->anValues[1];
            break;
        case 14:
            if (points > 0 && source->pPointValues != nullptr) {
                target->pPointValues = CopyBlock(source->pPointValues, points);
                ok = ok && target->pPointValues != nullptr;
            }
            if (points > 0 && source->pPointTexts != nullptr) {
                target->pPointTexts = CopyBlock(source->pPointTexts, points * kDrawingTextSize);
                ok = ok && target->pPointTexts != nullptr;
            }
            break;
        default:
            break;
    }
    if (!ok) FreeDrawingItem(target);
    return ok;
}
