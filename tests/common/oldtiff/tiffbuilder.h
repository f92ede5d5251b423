// Hand-built little-endian TIFF files for the container's edge cases: directories of entries
// whose values either sit inline or point at blobs placed before the directories.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorin::test {

class TiffBuilder {
  public:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
        int blob = -1;  // the value is the offset of this blob
    };
    using Directory = std::vector<Entry>;

    TiffBuilder() { m_bytes = {'I', 'I', 42, 0, 0, 0, 0, 0}; }

    // Places bytes in the file (word-aligned) and returns their handle.
    int Blob(const std::vector<std::uint8_t>& bytes) {
        if (m_bytes.size() % 2) m_bytes.push_back(0);
        m_offsets.push_back(static_cast<std::uint32_t>(m_bytes.size()));
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return static_cast<int>(m_offsets.size()) - 1;
    }
    std::uint32_t Offset(int blob) const { return m_offsets[static_cast<std::size_t>(blob)]; }

    static Entry Value(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                       std::uint32_t value) {
        return {tag, type, count, value, -1};
    }
    static Entry At(std::uint16_t tag, std::uint16_t type, std::uint32_t count, int blob) {
        return {tag, type, count, 0, blob};
    }

    // A plain 8-bit image directory with one strip at `pixels`.
    static Directory Grey(std::uint32_t width, std::uint32_t height, int pixels,
                          std::uint32_t byteCount, std::uint32_t subfile = 0) {
        return {Value(254, 4, 1, subfile),  Value(256, 4, 1, width), Value(257, 4, 1, height),
                Value(258, 3, 1, 8),        Value(259, 3, 1, 1),     Value(262, 3, 1, 1),
                At(273, 4, 1, pixels),      Value(277, 3, 1, 1),     Value(278, 4, 1, height),
                Value(279, 4, 1, byteCount)};
    }

    // Writes the directories in a chain after the blobs; `loopTo` >= 0 makes the last one
    // point back at that directory.
    std::vector<std::uint8_t> Build(const std::vector<Directory>& directories, int loopTo = -1) {
        std::vector<std::uint8_t> out = m_bytes;
        if (out.size() % 2) out.push_back(0);
        std::vector<std::uint32_t> starts;
        std::uint32_t pos = static_cast<std::uint32_t>(out.size());
        for (const auto& d : directories) {
            starts.push_back(pos);
            pos += static_cast<std::uint32_t>(2 + 12 * d.size() + 4);
        }
        for (std::size_t i = 0; i < directories.size(); ++i) {
            const auto& d = directories[i];
            Put16(out, static_cast<std::uint16_t>(d.size()));
            for (const auto& e : d) {
                Put16(out, e.tag);
                Put16(out, e.type);
                Put32(out, e.count);
                Put32(out, e.blob >= 0 ? Offset(e.blob) : e.value);
            }
            std::uint32_t next = i + 1 < directories.size() ? starts[i + 1] : 0;
            if (i + 1 == directories.size() && loopTo >= 0)
                next = starts[static_cast<std::size_t>(loopTo)];
            Put32(out, next);
        }
        if (!starts.empty()) std::memcpy(&out[4], &starts[0], 4);
        return out;
    }

    static void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

  private:
    std::vector<std::uint8_t> m_bytes;
    std::vector<std::uint32_t> m_offsets;
};

}  // namespace quorin::test
