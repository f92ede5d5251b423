// The older TIFF container over arbitrary files: open, info, drawing data and rows of every kind
// of directory, and the colour member road over the same bytes. Rows go into a buffer that the
// harness allocates from the container's answers, as a caller does; the check before decoding
// must agree with the rows road, and memory and bytes read stay within what the image's size
// allows.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../common/scratch.h"
#include "oldtiff/oldtiff.h"
#include "platform/core/globalmem.h"
#include "platform/files/rawfile.h"
#include "records/dib/dib.h"
#include "v5files/colourmember.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

struct Rows {
    std::vector<std::uint8_t> pixels;
    std::size_t rowBytes = 0;
    std::int32_t height = 0;
};

void Row(void* context, std::int32_t row, const std::uint8_t* bytes) {
    auto* r = static_cast<Rows*>(context);
    Check(row >= 0 && row < r->height);
    std::memcpy(r->pixels.data() + static_cast<std::size_t>(row) * r->rowBytes, bytes, r->rowBytes);
}

void ReadImage(OldTiffContext* c, int type) {
    std::uint8_t description[356];
    std::uint32_t descriptionSize = sizeof description;
    ReadOldTiffInfo(c, type, 0, nullptr, nullptr, nullptr, nullptr, description, &descriptionSize);
    // The sizes alone, as the check before decoding weighs them.
    std::int32_t w = 0, h = 0, compression = 0, depth = 0;
    const int info = ReadOldTiffInfo(c, type, 0, &w, &h, &compression, &depth, nullptr, nullptr);
    std::uint32_t drawingSize = 0;
    if (GetOldTiffDrawingSize(c, type, &drawingSize) == 0 && drawingSize < (1u << 20)) {
        std::string drawing(drawingSize, '\0');
        ReadOldTiffDrawing(c, type, drawing.data(), &drawingSize);
    }
    const int check = CheckOldTiffImage(c, type, 0);
    Rows rows;
    std::uint64_t imageBytes = 0;
    if (info == 0) {
        rows.rowBytes = static_cast<std::size_t>((depth + 7) / 8) * static_cast<std::size_t>(w);
        rows.height = h;
        imageBytes = std::uint64_t{rows.rowBytes} * static_cast<std::uint64_t>(h);
    }
    if (check == 0) {
        // The caller's buffer: only sizes the container promised to read are allocated.
        Check(info == 0 && imageBytes <= kOldTiffMaxImageBytes);
        rows.pixels.assign(static_cast<std::size_t>(imageBytes), 0);
    }
    const std::uint64_t readBefore = win::rawfile_testing::BytesRead();
    const win::SIZE_T liveBefore = win::globalmem_testing::LiveBytes();
    win::globalmem_testing::ResetPeakBytes();
    std::uint32_t sum = 0;
    const int result = ReadOldTiffRows(c, type, 0, Row, &rows, &sum);
    // What the check refuses, the rows road refuses before delivering anything.
    Check(check == 0 || result != 0);
    // Work and memory in proportion to the image: its strip data within the budget (plus the
    // strip arrays), its buffers within twice the budget.
    const std::uint64_t budget = OldTiffReadBudget(imageBytes);
    Check(win::rawfile_testing::BytesRead() - readBefore <= budget + (std::uint64_t{1} << 20));
    Check(win::globalmem_testing::PeakBytes() - liveBefore <= 2 * budget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzscratch::Folder folder;
    const std::string path = folder.Write("c.tif", data, size);
    if (path.empty()) return 0;

    OldTiffContext* raw = nullptr;
    if (OpenOldTiff(path.c_str(), &raw) == 0) {
        OldTiffHolder c(raw);
        for (int type = 0; type <= 2; ++type) ReadImage(c.get(), type);
    }
    CColourMember member;
    if (ReadColourMember(path.c_str(), &member, true) == 0) FreeDIB(member.dib);
    return 0;
}
