// Conversion of the older header layouts, one step per layout, each bringing a record to the
// next layout; a stored record enters the chain at its own layout.
#include "v5files/oldheader.h"

#include <quorin/anatomy.h>

#include <array>
#include <cmath>
#include <cstring>

namespace {

namespace R = old_record;

constexpr std::uint16_t kLayout5401 = 0x5401;
constexpr std::uint16_t kLayout5408 = 0x5408;
constexpr int kTextualStage = 0x5400;  // the textual form enters before layout 0x5401

// The record while it climbs the chain: the bytes at the offsets of its current layout and,
// for layout 0x5407, the two pixel sizes that the record keeps after its other fields.
struct Stage {
    std::array<std::uint8_t, kOldRecordBytes> r{};
    float pixelX = 0.0f;
    float pixelY = 0.0f;
};

void PutWord(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutFloat(std::uint8_t* p, float v) {
    std::memcpy(p, &v, 4);
}

float GetFloat(const std::uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Bytes that the conversion reads from a stored record of each layout.
std::size_t RequiredSize(int layout) {
    switch (layout) {
        case kTextualStage:
            return 45;
        case 0x5401:
            return 48;
        case 0x5402:
            return 278;
        case 0x5403:
        case 0x5404:
        case 0x5405:
            return 334;
        case 0x5406:
            return 336;
        case 0x5407:
            return 343;  // the mirror flag at 334, then eight bytes of pixel sizes
        case 0x5408:
            return 348;
        case 0x5409:
            return 352;  // the fields through 347 and the integrity sum
        default:
            return SIZE_MAX;
    }
}

// Textual form -> 0x5401 (the layout word stays 0).
void FromTextual(Stage& s) {
    std::array<std::uint8_t, kOldRecordBytes> t = s.r;
    s.r.fill(0);
    std::memcpy(&s.r[2], &t[0], 8);    // date
    std::memcpy(&s.r[10], &t[8], 32);  // comments
    std::memcpy(&s.r[42], &t[40], 2);  // tooth field
    std::memcpy(&s.r[44], &t[42], 3);  // brightness, contrast, display flags
    if (s.r[45] == 2) {                // byte 42 held the gamma
        s.r[47] = s.r[44];
        s.r[44] = s.r[45] = 0;
    }
}

void To5402(Stage& s, std::int32_t kind) {
    const std::array<std::uint8_t, kOldRecordBytes> o = s.r;
    s.r.fill(0);
    std::memcpy(&s.r[2], &o[2], 8);
    std::memcpy(&s.r[10], &o[10], 32);
    std::memcpy(&s.r[266], &o[42], 2);
    std::memcpy(&s.r[274], &o[44], 4);
    if (kind == 4) s.r[266] = 0;
}

void To5403(Stage& s, std::int32_t kind) {
    const std::array<std::uint8_t, kOldRecordBytes> o = s.r;
    s.r.fill(0);
    std::memcpy(&s.r[2], &o[2], 8);
    std::memcpy(&s.r[10], &o[10], 255);  // byte 265 stays 0
    std::memcpy(&s.r[266], &o[266], 8);
    std::memcpy(&s.r[330], &o[274], 4);
    if (kind == 4) {
        s.r[R::kUnsettled] = 'P';
        s.r[R::kProgram] = 1;
    }
}

void To5404(Stage& s) {
    if (s.r[R::kContrast] == 3) s.r[R::kBrightness] = static_cast<std::uint8_t>(s.r[330] + 12);
}

void To5405(Stage& s, std::int32_t* rotation) {
    const std::uint8_t flags = s.r[R::kDisplay];
    const std::int32_t angle = ((flags & 8) ? 180 : 0) + ((flags & 4) ? 90 : 0);
    if (rotation != nullptr) *rotation = angle;
    s.r[R::kDisplay] = static_cast<std::uint8_t>(flags & ~12u);
}

void To5406(Stage& s, std::int32_t kind) {
    std::uint8_t* d = &s.r[R::kDate];
    // An empty date stays empty rather than becoming a century alone ("20"); the record still
    // counts as dated (see ConvertOldHeaderRecord).
    if (d[0] != 0) {
        const std::uint8_t day[2] = {d[0], d[1]}, month[2] = {d[3], d[4]}, year[2] = {d[6], d[7]};
        const bool nineteen = year[0] == '8' || year[0] == '9';
        d[0] = '1' + (nineteen ? 0 : 1);
        d[1] = nineteen ? '9' : '0';
        d[2] = year[0], d[3] = year[1];
        d[4] = month[0], d[5] = month[1];
        d[6] = day[0], d[7] = day[1];
    }
    const std::uint8_t gamma = s.r[R::kGamma];
    const std::uint8_t flags = s.r[R::kDisplay] & 7u;
    std::memset(&s.r[330], 0, 5);
    s.r[R::kDisplay] = flags;
    if (kind == 4 || kind == 5) s.r[R::kGamma] = static_cast<std::uint8_t>(gamma * 4);
}

void To5407(Stage& s, std::int32_t kind, std::int32_t width, std::int32_t height) {
    std::memset(&s.r[336], 0, kOldRecordBytes - 336);
    if (kind != 4) std::memset(&s.r[274], 0, 56);
    double x = 0.0, y = 0.0;
    if (kind == 1 || kind == 2) {
        struct Size {
            std::int32_t w, h;
            double x, y;
        };
        static constexpr Size kSizes[] = {
            {380, 480, 0.04884, 0.05828}, {480, 380, 0.05828, 0.04884}, {512, 768, 0.039, 0.039},
            {768, 512, 0.039, 0.039},     {680, 920, 0.039, 0.039},     {920, 680, 0.039, 0.039},
            {190, 240, 0.09768, 0.11656}, {240, 190, 0.11656, 0.09768},
        };
        for (const Size& e : kSizes)
            if (e.w == width && e.h == height) x = e.x, y = e.y;
    } else if (kind == 4 && s.r[R::kProgram] == 1) {
        x = y = 0.08;
    }
    s.pixelX = static_cast<float>(x);
    s.pixelY = static_cast<float>(y);
}

void To5408(Stage& s, std::int32_t kind) {
    const std::uint8_t mirror = s.r[334];
    std::memset(&s.r[334], 0, kOldRecordBytes - 334);
    s.r[R::kMirror] = mirror;
    PutFloat(&s.r[R::kPixelSizeX], s.pixelX);
    PutFloat(&s.r[R::kPixelSizeY], s.pixelY);
    if (kind == 2) std::memset(&s.r[330], 0, 8);
}

void To5409(Stage& s, std::int32_t kind) {
    std::memset(&s.r[348], 0, kOldRecordBytes - 348);
    const std::uint16_t parameter = s.r[R::kFilterKind] == 0 ? 0 : kind == 4 ? 5 : 8;
    PutWord(&s.r[R::kFilterParameter], parameter);
}

}  // namespace

std::uint16_t OldRecordWord(const std::uint8_t* record, int offset) {
    return static_cast<std::uint16_t>(record[offset] | (record[offset + 1] << 8));
}

std::uint32_t OldRecordLong(const std::uint8_t* record, int offset) {
    return static_cast<std::uint32_t>(OldRecordWord(record, offset)) |
           (static_cast<std::uint32_t>(OldRecordWord(record, offset + 2)) << 16);
}

double OldRecordPixelSize(const std::uint8_t* record, int offset) {
    const float v = GetFloat(record + offset);
    return std::isfinite(v) && v > 0.0f ? static_cast<double>(v) : 0.0;
}

std::string OldRecordText(const std::uint8_t* field, std::size_t width) {
    const void* zero = std::memchr(field, 0, width);
    const std::size_t n = zero ? static_cast<const std::uint8_t*>(zero) - field : width;
    return std::string(reinterpret_cast<const char*>(field), n);
}

bool ConvertOldHeaderRecord(const std::uint8_t* stored, std::size_t size, std::int32_t kind,
                            std::int32_t width, std::int32_t height, std::int32_t* rotation,
                            std::uint8_t* out, bool* dated) {
    if (dated != nullptr) *dated = false;
    if (out == nullptr) return false;
    std::memset(out, 0, kOldRecordBytes);
    if (rotation != nullptr) *rotation = 0;
    if (stored == nullptr || size < 2) return false;

    const std::uint16_t word = OldRecordWord(stored, 0);
    int layout = 0;
    if (word >= kLayout5401 && word <= kOldLayoutCurrent) {
        layout = word;
    } else if ((size == 45 || size == 46) && (IsDigit(stored[0]) || IsDigit(stored[1]))) {
        layout = kTextualStage;
    } else {
        return false;
    }
    if (size < RequiredSize(layout)) return false;
    size = std::min(size, kOldRecordBytes);

    if (layout == kOldLayoutCurrent) {
        // As stored, the last four stored bytes being the integrity sum whatever the size.
        std::memcpy(out, stored, std::min<std::size_t>(size - 4, R::kIntegritySum));
        std::memcpy(out + R::kIntegritySum, stored + size - 4, 4);
        if (dated != nullptr) *dated = out[R::kDate] != 0;
        return true;
    }

    Stage s;
    std::memcpy(s.r.data(), stored, size);
    if (layout == 0x5407) {
        s.pixelX = GetFloat(stored + size - 8);
        s.pixelY = GetFloat(stored + size - 4);
    }
    // Each case falls through to the next step of the chain.
    switch (layout) {
        case kTextualStage:
            FromTextual(s);
            [[fallthrough]];
        case 0x5401:
            To5402(s, kind);
            [[fallthrough]];
        case 0x5402:
            To5403(s, kind);
            [[fallthrough]];
        case 0x5403:
            To5404(s);
            [[fallthrough]];
        case 0x5404:
            To5405(s, rotation);
            [[fallthrough]];
        case 0x5405:
            To5406(s, kind);
            [[fallthrough]];
        case 0x5406:
            To5407(s, kind, width, height);
            [[fallthrough]];
        case 0x5407:
            To5408(s, kind);
            [[fallthrough]];
        case kLayout5408:
            To5409(s, kind);
            break;
        default:
            return false;
    }
    std::memcpy(out, s.r.data(), kOldRecordBytes);
    PutWord(out, kOldLayoutCurrent);
    // The day-month-year step always writes a century, so those layouts count as dated.
    if (dated != nullptr) *dated = out[R::kDate] != 0 || layout <= 0x5405;
    return true;
}

int ReadOldToothFields(const std::uint8_t* fields, int count, CAnatTeethList& list,
                       bool universal) {
    int added = 0;
    for (int i = 0; i < count; ++i) {
        char text[3] = {static_cast<char>(fields[2 * i]), static_cast<char>(fields[2 * i + 1]), 0};
        if (text[1] == ' ') text[1] = 0;
        if (text[0] == ' ' || text[0] == '0') {
            text[0] = text[1] == '0' ? 0 : text[1];
            text[1] = 0;
        }
        if (text[0] == 0) continue;  // a zero first byte ends the text
        CAnatToothNumber tooth;
        tooth.SetInNotation(text, universal);
        const int before = list.GetCount();
        list.AddTooth(tooth);
        added += list.GetCount() - before;
    }
    return added;
}

const char* OldSensorModelText(double x, double y, std::uint16_t mode1, std::uint16_t mode2) {
    if (x != y) return x > 0.04 ? "ZEL 3" : "ZEL 4";
    if (x > 0.03) return (mode1 != 0 || mode2 != 0) ? "ZEL 5 HS" : "ZEL 4";
    if (x > 0.019) return "ZEL 5 HR";
    return "ZEL 4";
}

void OldIntraoralPixelSize(std::int32_t width, std::int32_t height, double* x, double* y) {
    struct Size {
        std::int32_t w, h;
        double x, y;
    };
    static constexpr Size kSizes[] = {
        {480, 380, 0.05828, 0.04884}, {380, 480, 0.04884, 0.05828}, {768, 512, 0.039, 0.039},
        {512, 768, 0.039, 0.039},     {1536, 1024, 0.0195, 0.0195}, {1024, 1536, 0.0195, 0.0195},
        {920, 680, 0.039, 0.039},     {680, 920, 0.039, 0.039},     {1840, 1360, 0.0195, 0.0195},
        {1360, 1840, 0.0195, 0.0195},
    };
    *x = *y = 0.0;
    for (const Size& e : kSizes)
        if (e.w == width && e.h == height) *x = e.x, *y = e.y;
}

int ReadOldPanoramicPoints(const std::uint8_t* record, std::uint32_t* points) {
    int n = 0;
    for (; n < R::kPointCount; ++n) {
        const int at = R::kPoints + 4 * n;
        if (OldRecordWord(record, at + 2) == 0) break;
        points[n] = OldRecordLong(record, at);
    }
    return n;
}
