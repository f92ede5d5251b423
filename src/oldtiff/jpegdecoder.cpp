// Compact baseline JPEG decoder: the marker segments up to the scan (tables, frame, scan
// header), the setup of the picture, the file callbacks and the entry points. The scan itself
// (entropy decoding, inverse transform, placing) is in jpegscan.cpp; the state both share is in
// jpegstate.h.
#include "oldtiff/jpegdecoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "oldtiff/jpegstate.h"
#include "platform/files/file.h"

namespace quorin::jpeg {

namespace {

// 65,536 x 0.25 x C(row) x C(column) truncated in double precision: 8,191 at (0, 0).
constexpr std::int32_t QuantFactor(int k) {
    const int row = k / 8, column = k % 8;
    if (row == 0 && column == 0) return 8191;
    if (row == 0 || column == 0) return 11585;
    return 16384;
}

}  // namespace

std::uint8_t Decoder::Byte() {
    std::uint8_t byte = 0;
    if (!TryByte(byte)) Fail(kJpegReasonEndOfData);
    return byte;
}

bool Decoder::TableSegment(int marker) {
    switch (marker) {
        case 0xC4:
            ReadHuffmanTables();
            return true;
        case 0xDB:
            ReadQuantTables();
            return true;
        case 0xDD: {
            const int length = Word();
            if (length != 4) {
                Fail(kJpegReasonDriLength);
                return true;
            }
            m_restartInterval = Word();
            return true;
        }
        case 0xFE: {
            const int length = Word();
            if (length < 2) {
                Fail(kJpegReasonSegmentLength);
                return true;
            }
            try {
                m_comment.assign(static_cast<std::size_t>(length - 2), '\0');
            } catch (const std::bad_alloc&) {
                Fail(kJpegReasonNoMemory);
                return true;
            }
            for (char& c : m_comment) c = static_cast<char>(Byte());
            m_hasComment = true;
            return true;
        }
        case 0xCC:
            Fail(kJpegReasonDac);
            return true;
        default:
            if (marker >= 0xE0 && marker <= 0xEF) {
                const int length = Word();
                if (length < 2) {
                    Fail(kJpegReasonSegmentLength);
                    return true;
                }
                Skip(length - 2);
                return true;
            }
            return false;
    }
}

void Decoder::ReadHuffmanTables() {
    const int length = Word();
    if (length < 2) return Fail(kJpegReasonSegmentLength);
    int left = length - 2;
    while (left > 0 && m_reason == 0) {
        if (left < 17) return Fail(kJpegReasonHuffmanCounts);
        const int classAndNumber = Byte();
        const int number = classAndNumber & 0x0F;
        const int tableClass = classAndNumber >> 4;
        if (tableClass > 1 || number > 1) return Fail(kJpegReasonHuffmanClass);
        int counts[17] = {};
        int total = 0;
        for (int l = 1; l <= 16; ++l) total += counts[l] = Byte();
        left -= 17;
        if (total == 0 || total > 256 || total > left) return Fail(kJpegReasonHuffmanCounts);

        HuffmanTable& t = tableClass == 0 ? m_dc[number] : m_ac[number];
        t = HuffmanTable{};
        for (int i = 0; i < total; ++i) t.values[i] = Byte();
        left -= total;

        // Canonical codes: consecutive within a length, doubled when the length grows.
        std::int32_t code = 0;
        int index = 0, longest = 0;
        for (int l = 1; l <= 16; ++l) {
            t.firstIndex[l] = index;
            t.minCode[l] = code;
            if (counts[l] == 0) {
                t.maxCode[l] = -1;
            } else {
                code += counts[l];
                index += counts[l];
                t.maxCode[l] = code - 1;
                longest = l;
            }
            code <<= 1;
        }
        // An over-full count list would make codes wider than their length; such a table has
        // no sound reading.
        if (t.maxCode[longest] >= (1 << longest)) return Fail(kJpegReasonHuffmanCounts);
        ++t.maxCode[longest];

        // Short codes through one look-up, built with the same rule as the bitwise search.
        for (int p = 0; p < (1 << HuffmanTable::kLookupBits); ++p) {
            std::int32_t c = 0;
            for (int l = 1; l <= HuffmanTable::kLookupBits; ++l) {
                c = (c << 1) | ((p >> (HuffmanTable::kLookupBits - l)) & 1);
                if (t.maxCode[l] >= 0 && c <= t.maxCode[l]) {
                    const int value = t.values[t.firstIndex[l] + c - t.minCode[l]];
                    t.lookup[p] = static_cast<std::uint16_t>((l << 8) | value);
                    break;
                }
            }
        }
        for (int p = 0; p < (1 << HuffmanTable::kFastBits); ++p) {
            // The code these bits begin with, by the same rule as the bitwise search.
            std::int32_t c = 0;
            int length = 0, symbol = 0;
            for (int l = 1; l <= HuffmanTable::kFastBits && length == 0; ++l) {
                c = (c << 1) | ((p >> (HuffmanTable::kFastBits - l)) & 1);
                if (t.maxCode[l] >= 0 && c <= t.maxCode[l]) {
                    length = l;
                    symbol = t.values[t.firstIndex[l] + c - t.minCode[l]];
                }
            }
            if (length == 0 || (tableClass == 0 && symbol > 15)) continue;
            const int size = symbol & 0x0F, used = length + size;
            if (used > HuffmanTable::kFastBits) continue;
            std::int32_t value = 0;
            if (size != 0) {
                const int v = (p >> (HuffmanTable::kFastBits - used)) & ((1 << size) - 1);
                value = (v >> (size - 1)) ? v : v + 1 - (1 << size);
            }
            t.fast[p] = value * 256 + (symbol >> 4) * 16 + used;  // DC: symbol >> 4 is 0
        }
        t.defined = true;
    }
}

void Decoder::ReadQuantTables() {
    const int length = Word();
    if (length < 67) return Fail(kJpegReasonDqtLength);
    int left = length - 2;
    while (left >= 65 && m_reason == 0) {
        const int precisionAndNumber = Byte();
        --left;
        if ((precisionAndNumber >> 4) != 0) {
            Fail(kJpegReasonDqtPrecision);
            break;
        }
        const int number = precisionAndNumber & 0x0F;
        if (number > 1) {
            Fail(kJpegReasonDqtNumber);
            break;
        }
        for (int i = 0; i < 64; ++i) {
            const int k = kZigzagToNatural[i];
            m_quant[number][k] = static_cast<std::int64_t>(Byte()) * QuantFactor(k);
        }
        left -= 64;
    }
    if (left != 0) m_reason = kJpegReasonDqtLeftover;
}

void Decoder::ReadFrame() {
    const int length = Word();
    if (Byte() != 8) return Fail(kJpegReasonSofPrecision);
    if (length < 9) return Fail(kJpegReasonSofLength);
    if ((length - 8) % 3 != 0) return Fail(kJpegReasonSofLengthMultiple);
    m_height = Word();
    m_width = Word();
    const int count = Byte();
    if (count == 0) return Fail(kJpegReasonSofNoComponents);
    if (count != (length - 8) / 3) return Fail(kJpegReasonSofComponentCount);
    if (count > 4) return Fail(kJpegReasonTooManyComponents);
    m_componentCount = count;
    for (int i = 0; i < count; ++i) {
        FrameComponent& c = m_frame[i];
        c.id = Byte();
        const int sampling = Byte();
        c.h = sampling >> 4;
        c.v = sampling & 0x0F;
        c.quantTable = Byte();
        if (c.quantTable > 1) return Fail(kJpegReasonDqtNumber);
    }
}

int Decoder::ReadHeader() {
    if (Byte() != 0xFF || Byte() != 0xD8) return kJpegNoSoi;
    int marker = Marker();
    while (m_reason == 0 && TableSegment(marker)) {
        if (m_reason != 0) break;
        marker = Marker();
    }
    if (m_reason != 0) return kJpegBadTables;
    switch (marker) {
        case 0xC0:
            ReadFrame();
            break;
        case 0xC1:
            Fail(kJpegReasonSof1);
            break;
        case 0xC2:
            Fail(kJpegReasonSof2);
            break;
        case 0xC3:
            Fail(kJpegReasonSof3);
            break;
        case 0xC5:
            Fail(kJpegReasonSof5);
            break;
        case 0xC6:
            Fail(kJpegReasonSof6);
            break;
        case 0xC7:
            Fail(kJpegReasonSof7);
            break;
        default:
            Fail(kJpegReasonNoFrame);
            break;
    }
    return m_reason != 0 ? kJpegBadFrame : kJpegOk;
}

bool Decoder::ReadScanHeader() {
    const int length = Word();
    if (length < 6) return Fail(kJpegReasonSosLength), false;
    const int count = Byte();
    if (count < 1 || count > 4) return Fail(kJpegReasonSosComponentCount), false;
    if (length != 6 + 2 * count) return Fail(kJpegReasonSosLengthCount), false;
    bool seen[4] = {};
    for (int i = 0; i < count; ++i) {
        const int id = Byte();
        const int tables = Byte();
        int index = -1;
        for (int f = 0; f < m_componentCount; ++f)
            if (m_frame[f].id == id) index = f;
        if (index < 0) return Fail(kJpegReasonScanComponent), false;
        if (seen[index]) return Fail(kJpegReasonSampling), false;
        seen[index] = true;
        m_scan[i].frameIndex = index;
        m_scan[i].dcTable = tables >> 4;
        m_scan[i].acTable = tables & 0x0F;
        if (m_scan[i].dcTable > 1 || m_scan[i].acTable > 1)
            return Fail(kJpegReasonTableNumber), false;
    }
    Skip(3);  // spectral selection and successive approximation: baseline values
    // One scan holds the whole picture: every frame component once.
    if (count != m_componentCount) return Fail(kJpegReasonSampling), false;
    m_scanCount = count;
    return m_reason == 0;
}

int Decoder::ReadImage(JpegBeginFn begin, JpegRowFn row) {
    if (m_width < 1 || m_height < 1) return Fail(kJpegReasonSize), kJpegFailed;
    if (m_componentCount == 3) {
        if (m_frame[0].h != 2 || m_frame[0].v != 1 || m_frame[1].h != 1 || m_frame[1].v != 1 ||
            m_frame[2].h != 1 || m_frame[2].v != 1)
            return Fail(kJpegReasonSampling), kJpegFailed;
    } else if (m_componentCount != 1) {
        return Fail(kJpegReasonSampling), kJpegFailed;
    }
    const std::size_t stride = static_cast<std::size_t>(
        m_componentCount == 3 ? (m_width + 15) / 16 * 48 : (m_width + 7) / 8 * 8);
    m_band.reset(new (std::nothrow) std::uint8_t[stride * 8]());
    if (!m_band) return kJpegFailed;
    if (begin != nullptr &&
        begin(m_context, m_width, m_height, m_componentCount, m_comment.c_str()) < 0)
        return kJpegFailed;

    int marker = Marker();
    while (m_reason == 0 && TableSegment(marker)) {
        if (m_reason != 0) break;
        marker = Marker();
    }
    if (m_reason != 0) return kJpegFailed;
    if (marker != 0xDA) return kJpegOk;  // no scan: no rows
    if (ReadScanHeader()) DecodeScan(row);
    return kJpegOk;
}

}  // namespace quorin::jpeg

namespace {

using quorin::jpeg::Decoder;

// ---------------------------------------------------------------------------------------------
// File callbacks

struct FileSource {
    const char* path = nullptr;
    std::FILE* file = nullptr;
    // The caller's own callbacks and context for the row road.
    void* context = nullptr;
    JpegBeginFn begin = nullptr;
    JpegRowFn row = nullptr;
    JpegEndFn end = nullptr;
};

int FileOpen(void* context) {
    auto* source = static_cast<FileSource*>(context);
    // A regular file only: a pipe or device named like a member never blocks the read.
    const int fd = quorin::OpenFileDescriptor(source->path, O_RDONLY, true);
    source->file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (source->file == nullptr && fd >= 0) ::close(fd);
    return source->file != nullptr ? 0 : -1;
}

int FileRead(void* context, std::uint8_t* buffer, int size) {
    auto* source = static_cast<FileSource*>(context);
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(size), source->file);
    return n > 0 ? static_cast<int>(n) : -1;
}

void FileClose(void* context) {
    auto* source = static_cast<FileSource*>(context);
    if (source->file != nullptr) std::fclose(source->file);
    source->file = nullptr;
}

int FileBegin(void* context, int width, int height, int components, const char* comment) {
    auto* source = static_cast<FileSource*>(context);
    return source->begin ? source->begin(source->context, width, height, components, comment) : 0;
}

int FileRow(void* context, int row, const std::uint8_t* pixels) {
    auto* source = static_cast<FileSource*>(context);
    return source->row ? source->row(source->context, row, pixels) : 0;
}

void FileEnd(void* context) {
    auto* source = static_cast<FileSource*>(context);
    if (source->end) source->end(source->context);
}

}  // namespace

int DecodeJpegStream(JpegOpenFn open, void* context, JpegReadFn read, JpegCloseFn close,
                     JpegBeginFn begin, JpegRowFn row, JpegEndFn end, int* reason) {
    if (reason != nullptr) *reason = 0;
    if (read == nullptr) return kJpegFailed;
    if (open != nullptr && open(context) < 0) return kJpegFailed;
    int result;
    {
        std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(read, context));
        if (!decoder) {
            result = kJpegFailed;
        } else {
            result = decoder->ReadHeader();
            if (result == kJpegOk) result = decoder->ReadImage(begin, row);
            if (reason != nullptr) *reason = decoder->reason();
        }
    }
    if (close != nullptr) close(context);
    if (end != nullptr) end(context);
    return result;
}

int DecodeJpegFile(const char* path, int* width, int* height, int* components, char* comment,
                   int commentSize, int* reason) {
    if (reason != nullptr) *reason = 0;
    if (path == nullptr) return kJpegFailed;
    FileSource source;
    source.path = path;
    if (FileOpen(&source) < 0) return kJpegFailed;
    int result;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(FileRead, &source));
    if (!decoder) {
        result = kJpegFailed;
    } else {
        result = decoder->ReadHeader();
        if (reason != nullptr) *reason = decoder->reason();
        if (result == kJpegOk) {
            if (width != nullptr) *width = decoder->width();
            if (height != nullptr) *height = decoder->height();
            if (components != nullptr) *components = decoder->components();
            if (comment != nullptr && commentSize > 0) {
                const std::string& text = decoder->comment();
                if (decoder->hasComment() && !text.empty())
                    std::memcpy(
                        comment, text.data(),
                        std::min<std::size_t>(static_cast<std::size_t>(commentSize), text.size()));
                else
                    comment[0] = 0;
            }
        }
    }
    FileClose(&source);
    return result;
}

int DecodeJpegFileRows(const char* path, void* context, JpegBeginFn begin, JpegRowFn row,
                       JpegEndFn end, int* reason) {
    if (path == nullptr) {
        if (reason != nullptr) *reason = 0;
        return kJpegFailed;
    }
    FileSource source;
    source.path = path;
    source.context = context;
    source.begin = begin;
    source.row = row;
    source.end = end;
    return DecodeJpegStream(FileOpen, &source, FileRead, FileClose, FileBegin, FileRow, FileEnd,
                            reason);
}

int GetJpegCommentLength(const char* path) {
    if (path == nullptr) return 0;
    FileSource source;
    source.path = path;
    if (FileOpen(&source) < 0) return 0;
    int length = 0;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(FileRead, &source));
    if (decoder && decoder->ReadHeader() == kJpegOk)
        length = static_cast<int>(decoder->comment().size());
    FileClose(&source);
    return length;
}
