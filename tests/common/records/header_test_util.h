// Shared by the header suites: the twelve header classes as a table, a filler that gives every
// field a distinctive value, and a description of a header's fields as text, so that two
// headers compare field by field with a readable difference.
#pragma once
#include <gtest/gtest.h>
#include <quorin/somuimage.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "records/core/imagetype.h"
#include "records/headers/headerkinds.h"

namespace quorin::test {

struct HeaderKind {
    const char* name;
    std::int32_t type;  // set by the class's Reset
    std::function<std::unique_ptr<CHeader>()> make;
    std::function<std::unique_ptr<CHeader>(const CHeader&)> copy;  // copy constructor
    std::function<void(CHeader&, const CHeader&)> assign;          // the class's operator=
};

template <class T>
HeaderKind MakeHeaderKind(const char* name, std::int32_t type) {
    return HeaderKind{
        name, type, [] { return std::make_unique<T>(); },
        [](const CHeader& h) { return std::make_unique<T>(static_cast<const T&>(h)); },
        [](CHeader& a, const CHeader& b) { static_cast<T&>(a) = static_cast<const T&>(b); }};
}

inline const std::vector<HeaderKind>& AllHeaderKinds() {
    static const std::vector<HeaderKind> kinds = {
        MakeHeaderKind<CHeaderSC>("SC", 10),         MakeHeaderKind<CHeaderVL>("VL", 9),
        MakeHeaderKind<CHeaderWlk>("Wlk", 2),        MakeHeaderKind<CHeaderDX>("DX", 7),
        MakeHeaderKind<CHeaderIO>("IO", 8),          MakeHeaderKind<CHeaderZel>("Zel", 1),
        MakeHeaderKind<CHeaderCeph>("Ceph", 6),      MakeHeaderKind<CHeaderPano>("Pano", 3),
        MakeHeaderKind<CHeaderCR>("CR", 13),         MakeHeaderKind<CHeaderCRIO>("CRIO", 14),
        MakeHeaderKind<CHeaderCRPano>("CRPano", 15), MakeHeaderKind<CHeaderCRCeph>("CRCeph", 16),
    };
    return kinds;
}

// A zero-filled record on the heap (records are large), freed with what it owns.
struct RecordDeleter {
    void operator()(SOMUImage* record) const {
        FreeSOMUImageData(record);
        delete record;
    }
};
using RecordPtr = std::unique_ptr<SOMUImage, RecordDeleter>;
inline RecordPtr NewRecord() {
    RecordPtr record(new SOMUImage);
    InitSOMUImage(record.get());
    return record;
}

// Gives every field the record exchanges a distinctive value (`seed` varies them), and
// the fields kept only in memory too. The filter is left alone (its exchange is asymmetric).
void FillHeader(CHeader& h, int seed, const std::string& folder = "/data/PAT1");

// What to describe.
enum DescribeScope : unsigned {
    kExchanged = 1,   // every field the SDK record carries
    kPersistent = 2,  // patient, study and series: kept by Reset
    kMemoryOnly = 4,  // second pixel size, writer version, checksum, values without a field
    kNowDates = 8,    // the image's first date-time, set to now by Reset
    kFilter = 16,     // filter, parameter and processed flag
    kAll = 31,
};
std::string DescribeHeader(const CHeader& h, unsigned scope = kAll);

}  // namespace quorin::test
