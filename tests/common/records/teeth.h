// Tooth numbers for the tests, from the numbering rules rather than from our tables.
#pragma once
#include <string>

namespace quorin::test {

// The Universal number of an FDI number (quadrant and tooth, 11..48 and 51..85): permanent teeth
// run 1..16 along the upper jaw from the patient's right and 17..32 back along the lower jaw;
// deciduous teeth do the same with the letters A..T.
inline std::string UniversalOf(int fdi) {
    const int quadrant = fdi / 10;
    const int tooth = fdi % 10;
    switch (quadrant) {
        case 1:
            return std::to_string(9 - tooth);
        case 2:
            return std::to_string(8 + tooth);
        case 3:
            return std::to_string(25 - tooth);
        case 4:
            return std::to_string(24 + tooth);
        case 5:
            return std::string(1, static_cast<char>('F' - tooth));
        case 6:
            return std::string(1, static_cast<char>('E' + tooth));
        case 7:
            return std::string(1, static_cast<char>('P' - tooth));
        case 8:
            return std::string(1, static_cast<char>('O' + tooth));
    }
    return "?";
}

}  // namespace quorin::test
