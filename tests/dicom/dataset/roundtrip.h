// Reads one element of a class from a byte stream and writes it back, for the suites.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "dicom/dataset/element.h"
#include "dicom_bytes.h"

namespace quorin::test {

// An element of class T read by its stream constructor from the element that starts `b`.
// An empty (0008,0005) goes first: a search never finds anything at offset 0.
template <class T>
T ReadFirst(const Bytes& b, std::uint16_t group, std::uint16_t element, int type = 3) {
    Bytes stream(b.syntax());
    stream.header(0x0008, 0x0005, "CS", 0).raw(b.data);
    win::CMemFile f(stream.data);
    return T(type, group, element, &f, IsImplicit(b.syntax()) ? 1 : 0, IsBig(b.syntax()) ? 0 : 1,
             0);
}

inline std::vector<std::uint8_t> Written(CElementDICOM& e) {
    win::CMemFile out;
    WriteElement(e, &out);
    return out.Data();
}

}  // namespace quorin::test

namespace quorin::test {
// "" when equal; else where the two byte streams first differ, for readable failures.
inline std::string FirstDifference(const std::vector<std::uint8_t>& a,
                                   const std::vector<std::uint8_t>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return "offset " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]) + " (sizes " + std::to_string(a.size()) + ", " +
                   std::to_string(b.size()) + ")";
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    return "";
}
}  // namespace quorin::test
