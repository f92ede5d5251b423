#include <quorin/somuimage.h>

#include <cstring>

#include "platform/core/globalmem.h"

void InitSOMUImage(SOMUImage* record) {
    if (record != nullptr) std::memset(record, 0, sizeof(SOMUImage));
}

void FreeSOMUImageData(SOMUImage* record) {
    if (record == nullptr) return;
    FreeGlobalPointer(record->image.pPixels);
    record->image.pPixels = nullptr;
    FreeGlobalPointer(record->drawing.pBlob);
    record->drawing.pBlob = nullptr;
    record->drawing.nBlobSize = 0;
    FreeDrawingList(&record->drawing.list);
    FreeGlobalPointer(record->display.lut.pTable);
    record->display.lut.pTable = nullptr;
    record->display.lut.nTableCount = 0;
    FreeGlobalPointer(record->pano.pPoints);
    record->pano.pPoints = nullptr;
    record->pano.nPointCount = 0;
}

namespace quorin {

void* AllocRecordBlock(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    win::HGLOBAL block = win::GlobalAlloc(win::GHND, bytes);
    if (block == nullptr) return nullptr;
    void* base = win::GlobalLock(block);
    if (base == nullptr) win::GlobalFree(block);
    return base;
}

}  // namespace quorin
