// The colour member road: reads a video or colour image's companion member (a 5-6-5 ".tif",
// a ".jpg", or another 24-bit ".tif" read through the container) into a 24-bit packed DIB
// together with its 290-byte colour record (layout 0x5403).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/core/globalmem.h"

struct CColourMember {
    std::uint8_t record[290] = {};  // layout 0x5403
    win::HGLOBAL dib = nullptr;     // 24-bit packed DIB, owned by the caller after the read
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool lossy = false;                 // a ".jpg" member
    std::vector<std::uint8_t> drawing;  // the member's drawing data, when asked for
};

// Reads the member at `path`. Returns 0 or a reader code (oldtiff/oldtiff.h): kOldCannotOpen,
// kOldReadFailed (a read or the decode failed), kOldNoDirectory (no main image), kOldNotReadable
// (wrong extension or layout), kOldNoMemory.
// On failure no DIB is left behind. The drawing data are read only for a container ".tif"
// and only when `wantDrawing` is set.
int ReadColourMember(const char* path, CColourMember* member, bool wantDrawing = false);
