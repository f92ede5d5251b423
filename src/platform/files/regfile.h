// The Windows ".reg" export format: parsing one hive's text into keys and values, and writing a
// hive back. Strings are held in the system's 8-bit code page; REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ given as hex in a version 5 file are UTF-16LE there and converted at this border.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/types.h"

namespace quorin::reg {

struct Value {
    std::string name;  // as first written; "" is the default value ("@")
    win::DWORD type = 0;
    std::vector<win::BYTE> data;
};

struct Key {
    std::string path;                     // relative to the hive root, as first written
    std::map<std::string, Value> values;  // by upper-case name
};

struct Hive {
    std::map<std::string, Key> keys;  // by upper-case normalised path; "" is the root
};

// "A\\B\" -> "A\B": empty components dropped.
std::string NormaliseKeyPath(std::string_view path);
std::string UpperKey(std::string_view text);
// The key, created with its parents when missing.
Key& EnsureKey(Hive& hive, std::string_view normalisedPath);
Key* FindKey(Hive& hive, std::string_view normalisedPath);
// A key or value name the text can hold: a line break would end its line, and what follows would
// read as lines of their own (another key, another value).
bool NameFits(std::string_view name);

struct ParseResult {
    int malformedLines = 0;
    int firstMalformedLine = 0;  // 1-based
};
// Adds the text's keys under `rootName` (e.g. "HKEY_CURRENT_USER") to `hive`; lines that cannot
// be read, and sections under another root, are counted and skipped.
ParseResult ParseRegText(std::string_view fileBytes, std::string_view rootName, Hive& hive);
// Version 5 text, 8-bit, CRLF line ends.
std::string WriteRegText(const Hive& hive, std::string_view rootName);

}  // namespace quorin::reg
