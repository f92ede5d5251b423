// A device library for the loader's tests: it reports two acquisition modules through its
// version query, releases the list through its own call, and counts the lists still out.
#include <quorin/equipment.h>

#include <cstring>

#include "records/info/equipment.h"

namespace {

int g_listsOut = 0;

SQVVersionEntry* NewEntry(const char* a, const char* b, const char* c, SQVVersionEntry* next) {
    auto* entry = new SQVVersionEntry{};
    std::strncpy(entry->szText1, a, sizeof entry->szText1 - 1);
    std::strncpy(entry->szText2, b, sizeof entry->szText2 - 1);
    std::strncpy(entry->szText3, c, sizeof entry->szText3 - 1);
    entry->pNext = next;
    return entry;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) SQVVersionEntry* pQVGetVersion() {
    ++g_listsOut;
    return NewEntry("Sensix", "2.4.1", "Sensor driver",
                    NewEntry("SensixFirmwareLong", "10.0", "Firmware", nullptr));
}

__attribute__((visibility("default"))) void QVFreeVersion(SQVVersionEntry* list) {
    while (list != nullptr) {
        SQVVersionEntry* next = list->pNext;
        delete list;
        list = next;
    }
    --g_listsOut;
}

__attribute__((visibility("default"))) int QVTestListsOut() {
    return g_listsOut;
}

}  // extern "C"
