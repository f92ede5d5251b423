// Table-driven text-width checks of the records' SDK-record exchange: every text field is
// written with texts of width - 2, width - 1 and width characters, converted to the record and
// back, and must come back whole or cut to width - 1, its field terminated.
#pragma once
#include <gtest/gtest.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorin::test {

template <class R>
struct TextField {
    const char* name;
    std::size_t width;                                // characters including the NUL
    std::function<void(R&, const std::string&)> set;  // into the record object
    std::function<std::string(const R&)> get;
    std::function<const char*(const SOMUImage&)> field;  // the field in the SDK record
};

// `toSOMU` and `fromSOMU` convert a whole object; each field gets its own text, distinct from
// its neighbours, so that a field written into the wrong place shows.
template <class R>
void CheckTextWidths(const std::vector<TextField<R>>& fields,
                     const std::function<void(const R&, SOMUImage&)>& toSOMU,
                     const std::function<void(R&, const SOMUImage&)>& fromSOMU) {
    for (int delta : {-2, -1, 0}) {
        R source;
        std::vector<std::string> texts;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const std::size_t length = fields[k].width + delta;
            std::string text(length, static_cast<char>('A' + k % 26));
            if (!text.empty()) text[0] = static_cast<char>('a' + k % 26);
            texts.push_back(text);
            fields[k].set(source, text);
        }
        auto record = std::make_unique<SOMUImage>();
        toSOMU(source, *record);
        R back;
        fromSOMU(back, *record);
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const std::string expected = texts[k].substr(0, fields[k].width - 1);
            const char* raw = fields[k].field(*record);
            EXPECT_EQ(raw[fields[k].width - 1], '\0') << fields[k].name << " delta " << delta;
            EXPECT_EQ(std::string(raw, strnlen(raw, fields[k].width)), expected)
                << fields[k].name << " delta " << delta;
            EXPECT_EQ(fields[k].get(back), expected) << fields[k].name << " delta " << delta;
        }
    }
}

}  // namespace quorin::test
