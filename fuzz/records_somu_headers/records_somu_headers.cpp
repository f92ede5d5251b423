// The header classes read an SDK image record whatever it holds: texts without their
// terminating zero, sizes and depths that do not match the pixel block, a drawing blob of any
// bytes, sums that do not match. The input chooses the header kind, the sizes of the pixel
// block and of the drawing blob, and fills the record's bytes (its pointers replaced by real
// blocks). Every kind converts from the record and back; the integrity mark, given as a mark of
// input-chosen size, is stamped into the record's pixels.
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/system/bitmap.h"
#include "records/headers/headerchecksum.h"
#include "records/headers/headerkinds.h"

namespace {

std::unique_ptr<CHeader> MakeHeader(unsigned kind) {
    switch (kind % 13) {
        case 0:
            return std::make_unique<CHeader>();
        case 1:
            return std::make_unique<CHeaderSC>();
        case 2:
            return std::make_unique<CHeaderVL>();
        case 3:
            return std::make_unique<CHeaderWlk>();
        case 4:
            return std::make_unique<CHeaderDX>();
        case 5:
            return std::make_unique<CHeaderIO>();
        case 6:
            return std::make_unique<CHeaderZel>();
        case 7:
            return std::make_unique<CHeaderCeph>();
        case 8:
            return std::make_unique<CHeaderPano>();
        case 9:
            return std::make_unique<CHeaderCR>();
        case 10:
            return std::make_unique<CHeaderCRIO>();
        case 11:
            return std::make_unique<CHeaderCRPano>();
        default:
            return std::make_unique<CHeaderCRCeph>();
    }
}

struct Control {
    std::uint8_t kind;
    std::uint8_t markWidth;
    std::uint8_t markHeight;
    std::uint8_t flags;  // bit 0: no pixel block
    std::uint32_t pixelBytes;
    std::uint16_t blobBytes;
    std::uint16_t tableBytes;
    std::uint16_t pointBytes;
    std::uint16_t reserved;
};
static_assert(sizeof(Control) == 16);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(Control)) return 0;
    Control control;
    std::memcpy(&control, data, sizeof control);
    data += sizeof control;
    size -= sizeof control;

    auto record = std::make_unique<SOMUImage>();
    const std::size_t recordBytes = size < sizeof(SOMUImage) ? size : sizeof(SOMUImage);
    std::memcpy(record.get(), data, recordBytes);
    data += recordBytes;
    size -= recordBytes;
    record->pProcessing = nullptr;
    record->drawing.list = SOMUDrawingList{};
    record->image.pPixels = nullptr;
    if (!(control.flags & 1))
        record->image.pPixels = quorin::AllocRecordBlock(control.pixelBytes % (1u << 20));
    // The drawing blob: what is left of the input, in a block of the chosen size.
    record->drawing.pBlob = nullptr;
    const std::size_t blobBytes = control.blobBytes % 8192;
    if (blobBytes > 0) {
        auto* blob = static_cast<std::uint8_t*>(quorin::AllocRecordBlock(blobBytes));
        if (blob) std::memcpy(blob, data, size < blobBytes ? size : blobBytes);
        record->drawing.pBlob = blob;
    }
    record->display.lut.pTable =
        static_cast<std::uint16_t*>(quorin::AllocRecordBlock(control.tableBytes % 4096));
    record->pano.pPoints =
        static_cast<std::uint32_t*>(quorin::AllocRecordBlock(control.pointBytes % 4096));

    std::unique_ptr<CHeader> header = MakeHeader(control.kind);
    header->FromSOMU(*record);

    std::vector<std::uint8_t> markBits(std::size_t{control.markWidth} * control.markHeight * 3,
                                       0x40);
    const win::BitmapResource mark{control.markWidth, control.markHeight,
                                   control.kind & 0x80 ? 24 : 8, markBits.data()};
    StampIntegrityMark(*header, record->image.pPixels, &mark);
    ComputePixelChecksum(*header, record->image.pPixels);

    std::unique_ptr<CHeader> copy = MakeHeader(control.kind);
    *copy = *header;
    auto out = std::make_unique<SOMUImage>();
    InitSOMUImage(out.get());
    out->image = record->image;  // the same pixels, borrowed
    header->ToSOMU(*out);
    std::unique_ptr<CHeader> back = MakeHeader(control.kind);
    back->FromSOMU(*out);
    out->image.pPixels = nullptr;
    FreeSOMUImageData(out.get());
    FreeSOMUImageData(record.get());
    return 0;
}
