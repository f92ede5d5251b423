// The rows a container read delivers, gathered into one top-down buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quorin::test {

struct Picture {
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<int> rows;  // in the order they came
};

// The row callback of ReadOldTiffRows, with a Picture as its context.
inline void Collect(void* context, std::int32_t row, const std::uint8_t* bytes) {
    auto* p = static_cast<Picture*>(context);
    p->rows.push_back(row);
    const std::size_t at = static_cast<std::size_t>(row) * p->rowBytes;
    if (p->pixels.size() < at + p->rowBytes) p->pixels.resize(at + p->rowBytes);
    std::memcpy(p->pixels.data() + at, bytes, p->rowBytes);
}

}  // namespace quorin::test
