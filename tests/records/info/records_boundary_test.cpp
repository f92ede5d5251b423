// Records at their exact edges: grey table entries that land on a half, compared exactly with the
// table's formula evaluated independently in Python.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "records/info/lutgray.h"

namespace {

// The table from the settings, step by step as the record's definition gives it.
const char* kTableFormula = R"(
import sys, math
def table(n, m, b, c, g, inv):
    m = m or 256
    s = n // m
    C, B, G = s * c, s * b, s * g
    N = float(n); H = N / 2
    K = H / (H - C) if C >= 0 else (H + C) / H
    O = (H - 1) - (H - 1 - B) * K
    if G > 0:
        A = (H - G) * (H - G) / (2 * (H - G) - N); X = (n - 1) - A; Y = A
    elif G < 0:
        A = (H + G) * (H + G) / (2 * (H + G) - N); X = A; Y = (n - 1) - A
    if G != 0:
        P = (A - N - 1) * A
    clamp = lambda v: min(max(v, 0), n - 1)
    out = []
    for i in range(n):
        v = clamp(math.trunc(K * i + O + 0.5))
        if G != 0:
            v = n - 1 if G == -H else clamp(math.trunc(P / (X - v) + Y + 0.5))
        out.append(n - 1 - v if inv else v)
    return out
for case in sys.argv[1:]:
    print(' '.join(map(str, table(*map(int, case.split(','))))))
)";

TEST(RecordBoundaries, GreyTableEntriesRoundHalfUp) {
    // Contrast -64 of 256 halves the slope (K = 0.5, O = 63.5): every even input lands exactly
    // on a half, which must go up. The other rows add brightness, gamma, inversion and a
    // 4096-entry table (step 16).
    struct Case {
        std::uint32_t n;
        int brightness, contrast, gamma, inversion;
    };
    const Case cases[] = {{256, 0, -64, 0, 0},  {256, 7, -64, 0, 1},   {256, 0, -100, 0, 0},
                          {256, -30, 40, 0, 0}, {256, 0, -64, 20, 0},  {256, 5, -50, -20, 0},
                          {4096, 0, -64, 0, 0}, {4096, 3, -90, 30, 0}, {4096, -12, 17, -40, 1}};
    std::vector<std::string> args;
    for (const Case& c : cases)
        args.push_back(std::to_string(c.n) + ",256," + std::to_string(c.brightness) + "," +
                       std::to_string(c.contrast) + "," + std::to_string(c.gamma) + "," +
                       std::to_string(c.inversion));
    const auto reference = quorin::test::RunPython(kTableFormula, args);
    ASSERT_EQ(reference.status, 0);
    std::istringstream lines(reference.output);
    for (const Case& c : cases) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        std::istringstream values(line);
        CInfosLUTGray lut(c.brightness, c.contrast, c.gamma, std::uint8_t(c.inversion), 256, 239);
        std::vector<std::uint16_t> table(c.n);
        ASSERT_TRUE(lut.GetTable(table.data(), c.n));
        for (std::uint32_t i = 0; i < c.n; ++i) {
            unsigned expected = 0;
            values >> expected;
            ASSERT_EQ(table[i], expected) << "n " << c.n << " b " << c.brightness << " c "
                                          << c.contrast << " g " << c.gamma << " entry " << i;
        }
    }
}

}  // namespace
