// Fuzzes the drawing blob parser over its three forms. The first byte picks the writer version
// and the image size; a blob that parses is also written, read back, mirrored, rotated and
// exchanged with an SDK drawing list.
#include <quorin/drawingstore.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numbers>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const kVersions[] = {"", "1.5.0.0", "1.8.0.0", "1.8.1.0"};
    const std::uint8_t selector = data[0];
    const std::int32_t width = (selector & 0x10) ? 0 : 760;
    CDrawingStore store;
    store.SetWriterVersion(kVersions[selector & 3]);
    store.SetVersionApplies((selector & 0x20) == 0);
    if (!store.SetDrawingData(data + 1, size - 1, width, 600, 1)) return 0;

    std::uint32_t written = 0;
    const std::uint8_t* blob = store.WriteBlob(&written);
    if (blob != nullptr && store.HasDrawingList()) {
        CDrawingStore back;
        back.SetWriterVersion(store.GetWriterVersion());
        back.SetVersionApplies((selector & 0x20) == 0);
        if (!back.SetDrawingData(blob, written, width, 600, 1)) std::abort();  // ours must read
    }
    store.Mirror((selector & 0x40) != 0);
    store.Rotate(600, width, std::numbers::pi / 2);
    store.Rotate(600, width, std::numbers::pi);
    SOMUDrawingList list{};
    if (store.GetDrawingList(&list)) {
        CDrawingStore other;
        other.SetDrawingList(list);
        FreeDrawingList(&list);
    }
    return 0;
}
