#!/usr/bin/python3
"""Generates src/dicom/dictionary/dictionary_table.inc, the tag dictionary of the toolkit.

Source: the data dictionary text file that DCMTK installs (Debian package libdcmtk17,
/usr/share/libdcmtk17/dicom.dic), itself generated from the registry of data elements of the
DICOM standard (PS3.6 Table 6-1, plus the command elements of PS3.7 and the non-private
DICONDE and DICOS elements that PS3.6 registers). Every line is "(gggg,eeee) VR Keyword VM
Version", tab separated; ranges such as (6000-60FF,3000) or (0020,3100-31FF) are repeating tags.

What the generator decides:

* Ambiguous VRs. DCMTK writes them as lower-case pseudo VRs; the standard's text is "OB or OW",
  "US or SS", "US or OW" or "US or SS or OW", and "UL" for the directory offsets that DCMTK
  writes "up". The system's own rule turns "OX" (OB or OW) into "OW"; every other choice takes
  the first VR given, so "US or SS", "US or OW" and "US or SS or OW" become "US":
      ox (OB or OW)              -> OW
      px (pixel data, OB or OW)  -> OW
      xs (US or SS)              -> US
      lt (US or OW, US or SS or OW; look-up table data) -> US
      up (UL, offsets in a DICOMDIR) -> UL
* The item (FFFE,E000) has no VR and is left out; the two delimiters (FFFE,E00D) and
  (FFFE,E0DD) get "DL", which the parser treats as delimiters.
* The catch-all rows (group lengths, private creators, the "illegal" odd groups 0001-0007) are
  rules of the lookup, not entries.
* Repeating groups follow the standard: 50xx, 60xx and 7Fxx stand for the even groups only
  (odd groups are private); an element range such as (0020,31xx) stands for every element.
* Keywords drop DCMTK's "RETIRED_" prefix, so they read as the standard's keywords.
* Some retired repeating tags of the standard are missing from some editions of DCMTK's file
  (the ACR-NEMA compression groups 1000 and 1010, (0028,04x0)...(0028,08x8), the 7Fxx variable
  pixel data group); SUPPLEMENT below lists them, transcribed from PS3.6 Table 6-1, and adds
  those the source does not have.
* The system's own private elements, in the private block that its creator "QUORIN" reserves in
  group 0009 (element numbers cc00-ccFF where cc is the creator's element, 0x11 to 0x7F):
  (0009,cc01) CS horizontal flip flag, (0009,cc43) SQ tooth code sequence, (0009,cc45) US. They
  are expanded for every creator slot, because an implicit VR file carries no creator context
  at the point where the VR is needed.

Run: /usr/bin/python3 tools/gen_dictionary.py [dicom.dic] > src/dicom/dictionary/dictionary_table.inc
"""

import re
import sys

DEFAULT_SOURCE = "/usr/share/libdcmtk17/dicom.dic"

PSEUDO_VR = {"ox": "OW", "px": "OW", "xs": "US", "lt": "US", "up": "UL"}

# (group range, element range, VR, keyword), same notation as the source file.
SUPPLEMENT = [
    ("0028", "04x0", "US", "RowsForNthOrderCoefficients"),
    ("0028", "04x1", "US", "ColumnsForNthOrderCoefficients"),
    ("0028", "04x2", "LO", "CoefficientCoding"),
    ("0028", "04x3", "AT", "CoefficientCodingPointers"),
    ("0028", "08x0", "CS", "CodeLabel"),
    ("0028", "08x2", "US", "NumberOfTables"),
    ("0028", "08x3", "AT", "CodeTableLocation"),
    ("0028", "08x4", "US", "BitsForCodeWord"),
    ("0028", "08x8", "AT", "ImageDataLocation"),
    ("1000", "xxx0", "US", "EscapeTriplet"),
    ("1000", "xxx1", "US", "RunLengthTriplet"),
    ("1000", "xxx2", "US", "HuffmanTableSize"),
    ("1000", "xxx3", "US", "HuffmanTableTriplet"),
    ("1000", "xxx4", "US", "ShiftTableSize"),
    ("1000", "xxx5", "US", "ShiftTableTriplet"),
    ("1010", "xxxx", "US", "ZonalMap"),
    ("7Fxx", "0011", "US", "VariableNextDataGroup"),
    ("7Fxx", "0020", "OW", "VariableCoefficientsSDVN"),
    ("7Fxx", "0030", "OW", "VariableCoefficientsSDHN"),
    ("7Fxx", "0040", "OW", "VariableCoefficientsSDDN"),
]

# The system's private block in group 0009: element low byte, VR, keyword.
PRIVATE_GROUP = 0x0009
PRIVATE_SLOTS = range(0x11, 0x80)
PRIVATE_ELEMENTS = [
    (0x01, "CS", "QuorinHorizontalFlip"),
    (0x43, "SQ", "QuorinToothCodeSequence"),
    (0x45, "US", "QuorinPreviewValue"),
]

VALID_VRS = set(
    "AE AS AT CS DA DL DS DT FD FL IS LO LT OB OD OF OL OV OW PN SH SL SQ SS ST SV TM UC UI UL UN "
    "UR US UT UV".split()
)


def mask_of(text):
    """'60xx' -> (mask, value): the bits that must match and their value."""
    mask = value = 0
    for ch in text:
        mask <<= 4
        value <<= 4
        if ch.lower() != "x":
            mask |= 0xF
            value |= int(ch, 16)
    return mask, value


def range_to_mask(text, even_default):
    """A DCMTK range 'gggg-gggg', 'gggg-o-gggg' or 'gggg-u-gggg' -> (mask, value)."""
    m = re.fullmatch(r"([0-9A-Fa-f]{4})(?:-([ou])?-?([0-9A-Fa-f]{4}))?", text)
    if not m:
        raise ValueError("bad range " + text)
    low = int(m.group(1), 16)
    if m.group(3) is None:
        return 0xFFFF, low
    high = int(m.group(3), 16)
    span = high - low + 1
    # Every range of the standard is an aligned block (xx or xxx).
    if span & (span - 1) or low & (span - 1):
        raise ValueError("range is not an aligned block: " + text)
    mask = 0xFFFF & ~(span - 1)
    parity = m.group(2)
    if parity == "u" or (parity is None and not even_default):
        return mask, low
    if parity == "o":
        return mask | 1, low | 1
    return mask | 1, low  # even numbers only


def read_source(path):
    exact = {}
    repeating = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            fields = [x for x in fields if x != ""]
            tag, vr, keyword, _vm, version = fields[:5]
            if version in ("GENERIC", "ILLEGAL", "PRIVATE"):
                continue  # rules of the lookup
            if vr == "na":
                if tag in ("(FFFE,E00D)", "(FFFE,E0DD)"):
                    vr = "DL"
                else:
                    continue  # the item tag has no VR
            vr = PSEUDO_VR.get(vr, vr)
            if vr not in VALID_VRS:
                raise ValueError("unknown VR %s in %s" % (vr, line))
            if keyword.startswith("RETIRED_"):
                keyword = keyword[len("RETIRED_"):]
            m = re.fullmatch(r"\(([^,]+),([^)]+)\)", tag)
            group, element = m.group(1), m.group(2)
            if "-" in group or "-" in element:
                gmask, gvalue = range_to_mask(group, even_default=True)
                emask, evalue = range_to_mask(element, even_default=False)
                repeating.append((gmask, gvalue, emask, evalue, vr, keyword))
            else:
                key = (int(group, 16) << 16) | int(element, 16)
                if key in exact:
                    raise ValueError("duplicate tag " + tag)
                exact[key] = (vr, keyword)
    return exact, repeating


def add_supplement(exact, repeating):
    for group, element, vr, keyword in SUPPLEMENT:
        gmask, gvalue = mask_of(group)
        if "x" in group.lower():
            gmask |= 1  # repeating groups are even
        emask, evalue = mask_of(element)
        known = [r for r in repeating if r[:4] == (gmask, gvalue, emask, evalue)]
        if known:
            if known[0][4] != vr:
                raise ValueError("supplement disagrees with the source on " + keyword)
            continue  # the source already has it
        repeating.append((gmask, gvalue, emask, evalue, vr, keyword))
    for slot in PRIVATE_SLOTS:
        for low, vr, keyword in PRIVATE_ELEMENTS:
            key = (PRIVATE_GROUP << 16) | (slot << 8) | low
            assert key not in exact
            exact[key] = (vr, keyword)


STRUCT_TEXT = """\
// A repeating tag: (group & groupMask) == groupValue and (element & elementMask) ==
// elementValue. Every repeating group fixes the group's high byte, which buckets the search.
struct RepeatingTag {
    std::uint16_t groupMask;
    std::uint16_t groupValue;
    std::uint16_t elementMask;
    std::uint16_t elementValue;
    char vr[3];
    const char* keyword;
};

"""


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def emit(exact, repeating, out):
    keys = sorted(exact)
    out.write("// Generated by tools/gen_dictionary.py from DCMTK's dicom.dic; do not edit.\n")
    out.write("// clang-format off\n")
    out.write("#pragma once\n\n")
    out.write("#include <cstddef>\n#include <cstdint>\n\n")
    out.write("namespace quorin::dictionary_table {\n\n")
    out.write(STRUCT_TEXT)
    out.write("inline constexpr std::size_t kCount = %d;\n\n" % len(keys))
    out.write("// Tags (group << 16 | element), ascending.\n")
    out.write("inline constexpr std::uint32_t kTags[kCount] = {\n")
    for i in range(0, len(keys), 8):
        out.write("    " + ", ".join("0x%08X" % k for k in keys[i:i + 8]) + ",\n")
    out.write("};\n\n")
    out.write("// Two VR letters per tag, in the order of kTags.\n")
    out.write("inline constexpr char kVrs[] =\n")
    for i in range(0, len(keys), 32):
        out.write('    "' + "".join(exact[k][0] for k in keys[i:i + 32]) + '"\n')
    out.write("    ;\n\n")
    # Keywords: one pool of NUL-terminated texts, reached by offset (no relocations).
    offsets = []
    pool = []
    size = 0
    for k in keys:
        offsets.append(size)
        pool.append(exact[k][1])
        size += len(exact[k][1]) + 1
    out.write("// Offsets of the keywords in kKeywords, in the order of kTags.\n")
    out.write("inline constexpr std::uint32_t kKeywordOffsets[kCount] = {\n")
    for i in range(0, len(offsets), 10):
        out.write("    " + ", ".join(str(o) for o in offsets[i:i + 10]) + ",\n")
    out.write("};\n\n")
    out.write("inline constexpr char kKeywords[] =\n")
    for word in pool:
        assert re.fullmatch(r"[A-Za-z0-9_]+", word), word
        out.write('    "%s\\0"\n' % word)
    out.write("    ;\n\n")
    out.write("// Repeating tags, grouped by the high byte of the group (every range fixes it).\n")
    out.write("inline constexpr RepeatingTag kRepeating[] = {\n")
    repeating.sort(key=lambda r: (r[1] >> 8, r[1], r[3]))
    for gmask, gvalue, emask, evalue, vr, keyword in repeating:
        assert gmask & 0xFF00 == 0xFF00
        out.write('    {0x%04X, 0x%04X, 0x%04X, 0x%04X, "%s", %s},\n'
                  % (gmask, gvalue, emask, evalue, vr, c_string(keyword)))
    out.write("};\n\n")
    # kRepeatingStart[h] .. kRepeatingStart[h + 1]: the entries whose group high byte is h.
    starts = []
    for high in range(257):
        starts.append(sum(1 for r in repeating if (r[1] >> 8) < high))
    assert starts[-1] < 256
    out.write("inline constexpr std::uint8_t kRepeatingStart[257] = {\n")
    for i in range(0, 257, 16):
        out.write("    " + ", ".join(str(x) for x in starts[i:i + 16]) + ",\n")
    out.write("};\n\n")
    out.write("}  // namespace quorin::dictionary_table\n")


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SOURCE
    exact, repeating = read_source(source)
    add_supplement(exact, repeating)
    emit(exact, repeating, sys.stdout)


if __name__ == "__main__":
    main()
