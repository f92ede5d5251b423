// The integrity mark of the older grey images: a small 8-bit bitmap ("IDB_NOCOPYRIGHT", or
// "IDB_NOCOPYRIGHT_HR" for images of 1,024 pixels or more in either direction) drawn into all
// four corners of an image whose pixels do not match the byte sum its header record keeps.
#pragma once
#include "platform/core/globalmem.h"
#include "platform/system/bitmap.h"

// The module instance that holds the marks (passed to StampMismatchMark).
const void* OldMarkModule();
// The named mark of a module (rows top-down, one byte per pixel, 192 transparent); null when
// the module does not hold it.
const win::BitmapResource* LoadOldMark(const void* module, const char* name);

// Draws the mark into an 8-bit packed DIB, mirrored toward each corner and clipped to the
// image. True when nothing needed stamping (no module) or the mark was drawn; false when the
// mark cannot be loaded or the DIB is not an 8-bit DIB that locks.
bool StampMismatchMark(win::HGLOBAL dib, const void* module);
