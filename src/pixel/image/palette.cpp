#include "pixel/image/palette.h"

#include <algorithm>
#include <memory>
#include <new>

#include "records/core/registryreaders.h"

namespace {

// The soft blue table as red, green, blue triples.
constexpr std::uint32_t kSoftBlue[256] = {
    0x010101, 0x010203, 0x020304, 0x030405, 0x040506, 0x040608, 0x050709, 0x06080A, 0x07090B,
    0x070A0D, 0x080B0E, 0x090C0F, 0x0A0D10, 0x0A0E12, 0x0B0F13, 0x0C1014, 0x0D1115, 0x0D1217,
    0x0E1318, 0x0F1419, 0x10151A, 0x10161C, 0x11171D, 0x12181E, 0x13191F, 0x131A21, 0x141B22,
    0x151C23, 0x161D24, 0x161E26, 0x171F27, 0x182028, 0x192129, 0x19222B, 0x1A232C, 0x1B242D,
    0x1C252E, 0x1C2630, 0x1D2731, 0x1E2832, 0x1E2934, 0x1F2A35, 0x202B36, 0x212C37, 0x212D39,
    0x222E3A, 0x232F3B, 0x24303C, 0x24313E, 0x25323F, 0x263340, 0x273441, 0x273543, 0x283644,
    0x293745, 0x2A3846, 0x2A3948, 0x2B3A49, 0x2C3B4A, 0x2D3C4B, 0x2D3D4D, 0x2E3E4E, 0x2F3F4F,
    0x304050, 0x304152, 0x314253, 0x324354, 0x334455, 0x334557, 0x344658, 0x354759, 0x36485A,
    0x36495C, 0x374A5D, 0x384B5E, 0x394C5F, 0x394D61, 0x3A4E62, 0x3B4F63, 0x3C5064, 0x3D5165,
    0x3E5266, 0x3F5367, 0x405468, 0x415569, 0x42566A, 0x43576B, 0x44586C, 0x45596D, 0x465A6E,
    0x475B6F, 0x485C70, 0x495D71, 0x4A5E72, 0x4B5F73, 0x4C6074, 0x4D6175, 0x4E6276, 0x4F6377,
    0x506478, 0x516579, 0x52667A, 0x53677B, 0x54687C, 0x55697D, 0x566A7E, 0x576B7F, 0x586C80,
    0x596D80, 0x5A6E81, 0x5B6F82, 0x5C7083, 0x5D7184, 0x5E7285, 0x5F7386, 0x607487, 0x617588,
    0x627689, 0x63778A, 0x64788B, 0x65798C, 0x667A8D, 0x677B8E, 0x687C8F, 0x697D90, 0x6A7E91,
    0x6B7F92, 0x6C8093, 0x6D8094, 0x6E8195, 0x6F8296, 0x708397, 0x718498, 0x728599, 0x73869A,
    0x74879B, 0x75889C, 0x76899D, 0x778A9E, 0x788B9F, 0x798CA0, 0x7A8DA1, 0x7B8EA2, 0x7C8FA3,
    0x7D90A4, 0x7E91A5, 0x7F92A6, 0x8093A7, 0x8094A8, 0x8195A9, 0x8296AA, 0x8397AB, 0x8498AC,
    0x8599AD, 0x869AAE, 0x879BAF, 0x889CB0, 0x899DB1, 0x8A9EB2, 0x8B9FB3, 0x8CA0B4, 0x8DA1B5,
    0x8EA2B6, 0x8FA3B7, 0x90A4B8, 0x91A5B9, 0x92A6BA, 0x93A7BB, 0x94A8BC, 0x95A9BD, 0x96AABE,
    0x97ABBF, 0x98ACC0, 0x99ADC1, 0x9AAEC2, 0x9BAFC3, 0x9CB0C4, 0x9DB1C5, 0x9EB2C6, 0xA0B3C6,
    0xA1B4C7, 0xA2B5C8, 0xA3B6C9, 0xA5B7C9, 0xA6B8CA, 0xA7B9CB, 0xA8BACC, 0xAABBCC, 0xABBCCD,
    0xACBDCE, 0xADBECF, 0xAFBFCF, 0xB0C0D0, 0xB1C1D1, 0xB2C2D2, 0xB4C3D2, 0xB5C4D3, 0xB6C5D4,
    0xB7C6D5, 0xB9C7D5, 0xBAC8D6, 0xBBC9D7, 0xBCCAD8, 0xBECBD8, 0xBFCCD9, 0xC0CDDA, 0xC1CEDB,
    0xC3CFDB, 0xC4D0DC, 0xC5D1DD, 0xC6D2DE, 0xC8D3DE, 0xC9D4DF, 0xCAD5E0, 0xCBD6E1, 0xCDD7E1,
    0xCED8E2, 0xCFD9E3, 0xD1DAE3, 0xD2DBE4, 0xD3DCE5, 0xD4DDE6, 0xD6DEE6, 0xD7DFE7, 0xD8E0E8,
    0xD9E1E9, 0xDBE2E9, 0xDCE3EA, 0xDDE4EB, 0xDEE5EC, 0xE0E6EC, 0xE1E7ED, 0xE2E8EE, 0xE3E9EF,
    0xE5EAEF, 0xE6EBF0, 0xE7ECF1, 0xE8EDF2, 0xEAEEF2, 0xEBEFF3, 0xECF0F4, 0xEDF1F5, 0xEFF2F5,
    0xF0F3F6, 0xF1F4F7, 0xF2F5F8, 0xF4F6F8, 0xF5F7F9, 0xF6F8FA, 0xF7F9FB, 0xF9FAFB, 0xFAFBFC,
    0xFBFCFD, 0xFCFDFE, 0xFEFEFE, 0xFFFFFF};

win::RGBQUAD Rgb(int red, int green, int blue) {
    return win::RGBQUAD{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                        static_cast<std::uint8_t>(red), 0};
}

// The program's palette holder: creates the palette before the program starts and deletes it at
// exit. Built on first use, so that it is ready whatever order static objects are made in.
struct PaletteHolder {
    std::unique_ptr<CImgNBPalette> kept;
    CImgNBPalette* current = nullptr;
    PaletteHolder() {
        kept.reset(new (std::nothrow) CImgNBPalette());
        current = kept.get();
    }
};

PaletteHolder& Holder() {
    static PaletteHolder holder;
    return holder;
}

// Made during static initialisation, as the program's palette is.
[[maybe_unused]] const bool kPaletteMadeAtStart = (Holder(), true);

}  // namespace

CImgNBPalette::CImgNBPalette() {
    for (int i = 0; i < kEntries; ++i) {
        m_tables[0][i] = Rgb(i, i, i);
        m_tables[1][i] = i < 16 ? Rgb(0, 0, i) : Rgb(i - 16, i - 16, i);
        const std::uint32_t soft = kSoftBlue[i];
        m_tables[2][i] = Rgb(soft >> 16, (soft >> 8) & 0xFF, soft & 0xFF);
    }
    // The red-green-blue scale, in four runs (integer divisions).
    for (int k = 0; k <= 64; ++k) m_tables[3][k] = Rgb(std::min(4 * k, 255), 0, k < 5 ? 1 : 0);
    for (int k = 65; k <= 128; ++k) {
        const int j = k - 65;
        m_tables[3][k] = Rgb((16296 - 88 * j) / 64, std::min(4 * (k - 64), 255), 0);
    }
    for (int k = 129; k <= 192; ++k) {
        const int j = k - 129;
        m_tables[3][k] =
            Rgb((10584 - 168 * j) / 64, (16256 - 128 * j) / 64, std::min(4 * (k - 128), 255));
    }
    for (int k = 193; k <= 255; ++k) {
        const int j = k - 193;
        m_tables[3][k] = Rgb(((k + 64) * 4) % 256, (8320 + 128 * j) / 64, 255);
    }
    // The warm scale.
    int blue = 0;
    for (int i = 0; i < kEntries; ++i) {
        const int red = i < 64 ? i : i < 128 ? 64 + (191 * (i - 64)) / 63 : 255;
        const int green = i < 64 ? i / 2 : i < 224 ? 32 + (223 * (i - 64)) / 159 : 255;
        if (i < 64)
            blue = std::max(i / 4, i / 2 - 6);
        else if (i < 192)
            blue = std::max(blue - 1, 0);
        else
            blue = ((i + 64) * 4) % 256;
        m_tables[4][i] = Rgb(red, green, blue);
    }
}

const win::RGBQUAD* CImgNBPalette::Table(int index) const {
    return index >= 0 && index < kTables ? m_tables[index] : nullptr;
}

int CImgNBPalette::GetPalette(const std::uint8_t* levels, std::int32_t mode,
                              win::RGBQUAD* out) const {
    if (levels == nullptr || out == nullptr) return 0;
    int table = 0;
    if (mode == 1) {
        table = 3;
    } else if (mode == 2) {
        table = 4;
    } else if (mode == 3) {
        // Read on every request: a change of the setting shows at the next palette update.
        std::int32_t blueFilter = 0;
        GetRegistryDword("QUORIN\\QV\\BlueFilter", "Value", &blueFilter, 0);
        table = blueFilter == 2 ? 2 : 1;
    }
    for (int i = 0; i < kEntries; ++i) out[i] = m_tables[table][levels[i]];
    return kEntries;
}

CImgNBPalette* GetImgNBPalette() {
    return Holder().current;
}

void SetImgNBPalette(CImgNBPalette* palette) {
    PaletteHolder& holder = Holder();
    holder.current = palette;
    if (holder.kept.get() != palette) holder.kept.reset(palette);
}
