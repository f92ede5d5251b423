// Pseudo-colour palettes: the five fixed colour tables (grey, blue tint, soft blue, a red-green-
// blue scale and a warm scale) that turn an image's 256-entry level table into the colour table
// of an 8-bit display DIB. One palette object serves the whole program.
#pragma once
#include <cstdint>

#include "platform/system/bitmap.h"

class CImgNBPalette {
  public:
    static constexpr int kEntries = 256;
    static constexpr int kTables = 5;

    CImgNBPalette();
    virtual ~CImgNBPalette() = default;

    // Entry i of `out` = table[levels[i]] for the table the mode picks: 1 the red-green-blue scale,
    // 2 the warm scale, 3 the blue tint (the soft blue one when the BlueFilter setting is 2), any
    // other mode grey. Returns the number of entries written (256; 0 for a null argument).
    virtual int GetPalette(const std::uint8_t* levels, std::int32_t mode, win::RGBQUAD* out) const;

    // One of the five tables (0 grey, 1 blue tint, 2 soft blue, 3 scale, 4 warm); null otherwise.
    const win::RGBQUAD* Table(int index) const;

  private:
    win::RGBQUAD m_tables[kTables][kEntries];
};

// The current palette; null before the program's palette holder has made it.
CImgNBPalette* GetImgNBPalette();
// Makes `palette` current and deletes the palette the holder kept (the holder keeps the new one).
void SetImgNBPalette(CImgNBPalette* palette);
