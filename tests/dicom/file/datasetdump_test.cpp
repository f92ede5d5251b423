// The dump tool's listing: a value that could not be read, or cannot be written, shows its status
// rather than an empty value.
#include "dicom/file/datasetdump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dicom/dataset/dataset.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/number.h"
#include "dicom/dataset/text.h"

namespace {

TEST(DataSetDump, ShowsTheStatusOfAValueItCannotShow) {
    CInfosDicomList list;
    // Required, never given a value: status 9.
    const CElementUSMultiple rows(0, 0x0028, 0x0010, 0u, 0, quorin::kLittleEndian);
    // 14,000 decimal strings (69,999 bytes): more than DS's 16-bit length field holds.
    std::string values = "12.5";
    for (int i = 1; i < 14000; ++i) values += "\\12.5";
    CElementUN unknown(4, 0x3006, 0x0050, 0, quorin::kLittleEndian);
    std::unique_ptr<CElementDICOM> contour(
        quorin::NewElementOfVr("DS", unknown, reinterpret_cast<const std::uint8_t*>(values.data()),
                               static_cast<std::uint32_t>(values.size())));
    ASSERT_TRUE(contour && list.Insert(&rows) && list.Insert(contour.get()));
    std::string out;
    quorin::DumpDataSet(list, out);
    EXPECT_NE(out.find("(0028,0010) US          0  (status 9: required element without a value)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("(3006,0050) DS      69999  (status 14: value cannot be written)"),
              std::string::npos)
        << out;
}

}  // namespace
