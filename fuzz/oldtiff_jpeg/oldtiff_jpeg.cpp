// The compact JPEG decoder over arbitrary streams, delivered in small read chunks.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "oldtiff/jpegdecoder.h"

namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size, pos;
    int width = 0, components = 0;
    std::uint32_t sum = 0;
};

int Read(void* c, std::uint8_t* buffer, int size) {
    auto* s = static_cast<Source*>(c);
    // Odd chunk sizes exercise the refills.
    const std::size_t n =
        std::min<std::size_t>({s->size - s->pos, static_cast<std::size_t>(size), 333});
    if (n == 0) return -1;
    std::memcpy(buffer, s->data + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}

int Begin(void* c, int width, int height, int components, const char* comment) {
    auto* s = static_cast<Source*>(c);
    // A caller's own limit: the picture must be one it could hold.
    if (static_cast<long long>(width) * height > (1 << 22)) return -1;
    s->width = width;
    s->components = components;
    s->sum += static_cast<std::uint32_t>(std::strlen(comment));
    return 0;
}

int Row(void* c, int row, const std::uint8_t* pixels) {
    auto* s = static_cast<Source*>(c);
    // Touch the whole delivered row.
    for (int i = 0; i < s->width * s->components; ++i) s->sum += pixels[i];
    return row >= 0 ? 0 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Source source{data, size, 0};
    int reason = 0;
    DecodeJpegStream(nullptr, &source, Read, nullptr, Begin, Row, nullptr, &reason);
    return 0;
}
