#!/usr/bin/python3
"""Older files for comparing the information answers of two builds of the library.

  make_files.py DIR
      DIR/NAME.tif (and .jpg) files and DIR/classes.txt: one line "NAME CLASS" per file.

Sound files: the strip sweep (tools/fixtures/strip_sweep.py, every strip layout, depth and
compression a writer may leave, under each record layout), the export fixtures of
tools/fixtures/v5files.py (every record layout, full-mouth series, half-size form, colour and
5-6-5 members, ".jpg" files), and files written by PIL (libtiff) and tiffcp in every
compression they know, the grey ones given a header record afterwards. From a spread of these,
damaged files: every other compression code, strips that are damaged (past the end, short,
without byte counts, shared, zero rows per strip, garbage), files cut at a spread of lengths,
and sizes and depths the container refuses or that no file of that length can hold.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "fixtures")
sys.path.insert(0, FIXTURES)

from v5files import BASE_FIELDS, picture, write_stored  # noqa: E402

LETTERS = "RPTCSX"


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# ---- little-endian TIFF directories ------------------------------------------------------------

def directories(data):
    """(offset, [(entry offset, tag, type, count, value)]) of each directory, in chain order."""
    out, seen = [], set()
    if len(data) < 8:
        return out
    (at,) = struct.unpack_from("<I", data, 4)
    while at and at not in seen and at + 2 <= len(data) and len(out) < 32:
        seen.add(at)
        (n,) = struct.unpack_from("<H", data, at)
        if at + 2 + 12 * n + 4 > len(data):
            break
        entries = [(at + 2 + 12 * i,) + struct.unpack_from("<HHII", data, at + 2 + 12 * i)
                   for i in range(n)]
        out.append((at, entries))
        (at,) = struct.unpack_from("<I", data, at + 2 + 12 * n)
    return out


def entry(data, tag):
    """Every entry of `tag` over all directories."""
    return [e for _, es in directories(data) for e in es if e[1] == tag]


def set_value(data, tag, value):
    """The value field of every `tag` entry; False when there is none."""
    found = entry(data, tag)
    for at, _, typ, _, _ in found:
        if typ == 3:
            struct.pack_into("<HH", data, at + 8, value & 0xFFFF, 0)
        else:
            struct.pack_into("<I", data, at + 8, value & 0xFFFFFFFF)
    return bool(found)


def retag(data, tag, new):
    found = entry(data, tag)
    for at, *_ in found:
        struct.pack_into("<H", data, at, new)
    return bool(found)


def array(data, e):
    """Values of a SHORT or LONG entry (inline or at its offset); None when unreadable."""
    _, _, typ, count, value = e
    size = {3: 2, 4: 4}.get(typ)
    if size is None or count > 1 << 16:
        return None
    raw = struct.pack("<I", value) if size * count <= 4 else data[value:value + size * count]
    if len(raw) < size * count:
        return None
    return list(struct.unpack_from("<%d%s" % (count, "H" if size == 2 else "I"), raw))


def put_array(data, e, values):
    _, _, typ, count, value = e
    fmt = "<%d%s" % (count, "H" if typ == 3 else "I")
    if (2 if typ == 3 else 4) * count <= 4:
        packed = struct.pack(fmt, *values).ljust(4, b"\x00")
        data[e[0] + 8:e[0] + 12] = packed
    else:
        struct.pack_into(fmt, data, value, *values)


def with_description(data, record):
    """The first directory rewritten at the end of the file with `record` as its description."""
    data = bytearray(data)
    first, entries = directories(data)[0]
    (n,) = struct.unpack_from("<H", data, first)
    (next_offset,) = struct.unpack_from("<I", data, first + 2 + 12 * n)
    if len(data) % 2:
        data += b"\x00"
    at = len(data)
    data += record
    kept = [(tag, typ, count, value) for _, tag, typ, count, value in entries if tag != 270]
    kept.append((270, 2, len(record), at))
    kept.sort()
    if len(data) % 2:
        data += b"\x00"
    new = len(data)
    data += struct.pack("<H", len(kept)) + b"".join(struct.pack("<HHII", *k) for k in kept)
    data += struct.pack("<I", next_offset)
    struct.pack_into("<I", data, 4, new)
    return data


# ---- the files ---------------------------------------------------------------------------------

class Folder:
    def __init__(self, path):
        self.path = path
        self.lines = []
        self.number = 0

    def name(self, letter, ext=".tif"):
        self.number += 1
        stem = "img%d" % self.number if letter == "-" else "%s%d" % (letter, self.number)
        return stem + ext

    def add(self, data, letter, cls, ext=".tif"):
        name = self.name(letter, ext)
        with open(os.path.join(self.path, name), "wb") as fp:
            fp.write(bytes(data))
        self.lines.append("%s %s" % (name, cls))
        return name


def strip_sweep(folder, tmp):
    out = os.path.join(tmp, "sweep")
    run([sys.executable, os.path.join(FIXTURES, "strip_sweep.py"), "sweep", out])
    bases = []
    with open(os.path.join(out, "cases.txt")) as fp:
        for i, line in enumerate(fp):
            f = line.split()
            name = f[0]
            cls = "sound/sweep/%s-%s-%s-%s-%s/%s" % (f[2], f[3], f[4], f[5], f[1], f[6])
            with open(os.path.join(out, name + ".tif"), "rb") as src:
                data = src.read()
            # Derived names keep their "a"; the others spread over the letters.
            letter = "R" if name.endswith("a") else LETTERS[i % len(LETTERS)]
            if name.endswith("a"):
                folder.number += 1
                new = "R%da.tif" % folder.number
                with open(os.path.join(folder.path, new), "wb") as dst:
                    dst.write(data)
                folder.lines.append("%s %s" % (new, cls))
            else:
                folder.add(data, letter, cls)
            if f[6] == "cur-whole":
                bases.append((data, "sweep-%s-%s-%s-%s-%s" % (f[2], f[3], f[4], f[5], f[1])))
    return bases


V5_CASES = [
    ("grey", "R", []), ("grey", "R", ["--compress", "lzw", "--rows", "7"]),
    ("grey", "R", ["--compress", "lzw:2", "--rows", "3"]),
    ("grey", "R", ["--width", "190", "--height", "240"]),
    ("grey", "R", ["--width", "190", "--height", "240", "--reduced"]),
    ("grey", "R", ["--width", "1840", "--height", "1360", "--compress", "lzw", "--rows", "8"]),
    ("grey", "R", ["--reduced", "--compress", "lzw"]),
    ("grey", "P", ["--no-pixel-size"]), ("grey", "P", []), ("grey", "T", ["--empty-date"]),
    ("grey", "R", ["--drawing", "300"]), ("grey", "R", ["--drawing-past-end", "--drawing", "9"]),
    ("grey", "R", ["--sum", "bad"]), ("grey", "-", []), ("grey", "-", ["--bits", "24"]),
    ("grey", "C", ["--bits", "24"]),
    ("fms", "F", ["--pages", "3"]), ("fms", "B", ["--pages", "2", "--compress", "lzw"]),
    ("fms", "N", ["--pages", "1"]),
    ("halfsize", "R", []), ("halfsize", "R", ["--header", "327"]),
    ("colourtif", "C", ["--record", "5403"]), ("colourtif", "S", ["--record", "5402"]),
    ("colourtif", "C", ["--record", "short", "--compress", "lzw"]),
    ("colourtif", "C", ["--bits", "8"]),
    ("rgb565", "C", ["--width", "40", "--height", "30"]), ("rgb565", "S", []),
    ("greyjpg", "R", []), ("colourjpg", "S", []),
] + [("grey", letter, ["--layout", layout])
     for layout in ("0x5408", "0x5407", "0x5406", "0x5405", "0x5404", "0x5403", "0x5402",
                    "0x5401", "text45", "text46", "text47")
     for letter in ("R", "P", "F", "T")]


def v5_fixtures(folder, tmp):
    bases = []
    for i, (kind, letter, options) in enumerate(V5_CASES):
        ext = ".jpg" if kind.endswith("jpg") else ".tif"
        out = os.path.join(tmp, "v5_%d%s" % (i, ext))
        run([sys.executable, os.path.join(FIXTURES, "v5files.py"), kind, out] + options)
        with open(out, "rb") as fp:
            data = fp.read()
        cls = "sound/v5/%s%s" % (kind, "".join(options).replace("--", "-"))
        folder.add(data, letter, cls, ext)
        if ext == ".tif" and kind != "rgb565":
            bases.append((data, "v5-%s%s" % (kind, "".join(options).replace("--", "-"))))
    return bases


def record():
    return bytes(write_stored(0x5409, dict(BASE_FIELDS, sum=0)))


def independent(folder, tmp):
    """Files written by PIL (libtiff) and tiffcp, in every compression they offer."""
    bases = []
    pil = ["raw", "tiff_lzw", "packbits", "tiff_adobe_deflate", "tiff_deflate", "jpeg"]
    cp = ["none", "lzw", "lzw:2", "zip", "packbits", "jpeg", "jpeg:r"]
    for bits, (w, h) in ((8, (64, 64)), (8, (37, 23)), (24, (64, 48)), (24, (17, 9))):
        img = picture(h, w, 3 if bits == 24 else 1, w)
        plain = os.path.join(tmp, "plain.tif")
        Image.fromarray(img).save(plain, compression="raw")
        made = []
        for c in pil:
            out = os.path.join(tmp, "pil-%d-%s.tif" % (w, c))
            Image.fromarray(img).save(out, compression=c)
            made.append(("pil-" + c, out))
            for rows in (1, 5):
                out = os.path.join(tmp, "pil-%d-%s-%d.tif" % (w, c, rows))
                Image.fromarray(img).save(out, compression=c, tiffinfo={278: rows})
                made.append(("pil-%s-rows%d" % (c, rows), out))
        for c in cp:
            for rows in ([], ["-r", "8"]):
                out = os.path.join(tmp, "cp-%d-%s-%d.tif" % (w, c.replace(":", ""), len(rows)))
                try:
                    run(["tiffcp", "-c", c] + rows + [plain, out])
                except subprocess.CalledProcessError:
                    continue
                made.append(("tiffcp-%s%s" % (c, "".join(rows)), out))
        for label, path in made:
            with open(path, "rb") as fp:
                data = fp.read()
            if bits == 8:
                data = with_description(data, record())
            cls = "sound/indep/%s-%d-%dx%d" % (label, bits, w, h)
            for letter in (("R", "T", "-") if bits == 8 else ("C", "S", "-")):
                folder.add(data, letter, cls)
            bases.append((bytes(data), "indep-%s-%d" % (label, bits)))
    return bases


# ---- damage ------------------------------------------------------------------------------------

COMPRESSIONS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 32773, 32946, 34712, 65535]


def damaged(data):
    """(class, bytes) of each damaged form of a sound file."""
    out = []
    comp = ([e[4] & 0xFFFF for e in entry(data, 259)] or [1])[0]
    for code in COMPRESSIONS:
        if code != comp and (code, comp) not in ((0, 1), (1, 0)):
            d = bytearray(data)
            if set_value(d, 259, code):
                out.append(("compression/%d" % code, d))

    size = len(data)
    offsets, counts = entry(data, 273), entry(data, 279)
    if offsets and counts:
        o, c = offsets[0], counts[0]
        ov, cv = array(data, o), array(data, c)
        if ov and cv and len(ov) == len(cv):
            d = bytearray(data)
            put_array(d, o, [x + size for x in ov])
            out.append(("strips/offsets-past-end", d))
            for label, f in (("zero", lambda v: [0] * len(v)),
                             ("half", lambda v: [x // 2 for x in v]),
                             ("past-end", lambda v: [x + size for x in v]),
                             ("one-short", lambda v: v[:-1] + [max(v[-1] - 1, 0)])):
                d = bytearray(data)
                put_array(d, c, f(cv))
                out.append(("strips/counts-" + label, d))
            if len(ov) > 1:
                d = bytearray(data)
                put_array(d, o, [ov[0]] * len(ov))
                out.append(("strips/all-shared", d))
            d = bytearray(data)
            retag(d, 279, 65000)
            out.append(("strips/no-byte-counts", d))
            # Garbage over the strip data itself.
            d = bytearray(data)
            for x, n in zip(ov, cv):
                d[x:x + n] = bytes([0xFF]) * len(d[x:x + n])
            out.append(("strips/garbage", d))
            d = bytearray(data)
            for x, n in zip(ov, cv):
                d[x:x + n] = bytes(len(d[x:x + n]))
            out.append(("strips/zeros", d))
    for label, value in (("zero", 0), ("one", 1)):
        d = bytearray(data)
        if set_value(d, 278, value):
            out.append(("strips/rows-per-strip-" + label, d))
    if entry(data, 513):
        for label, tag, value in (("jpeg-offset-zero", 513, 0), ("jpeg-length-zero", 514, 0),
                                  ("jpeg-past-end", 513, size)):
            d = bytearray(data)
            set_value(d, tag, value)
            out.append(("strips/" + label, d))

    dirs = directories(data)
    cuts = {"header": 6, "first-directory": dirs[0][0] + 5 if dirs else 9,
            "half": size // 2, "last-byte": size - 1, "ninety": size * 9 // 10}
    if offsets:
        cuts["first-strip"] = (array(data, offsets[0]) or [size])[0] + 1
    descriptions = entry(data, 270)
    if descriptions:
        cuts["description"] = descriptions[0][4] + 10
    for label, cut in cuts.items():
        if 0 <= cut < size:
            out.append(("truncated/" + label, bytes(data[:cut])))

    for label, tag, value in (("width-65535", 256, 65535), ("height-65535", 257, 65535),
                              ("width-70000", 256, 70000), ("width-zero", 256, 0),
                              ("width-plus-one", 256, None), ("height-4096", 257, 4096),
                              ("bits-4", 258, 4), ("bits-12", 258, 12), ("bits-16", 258, 16),
                              ("bits-6", 258, 6)):
        d = bytearray(data)
        if value is None:
            e = entry(data, 256)
            value = (e[0][4] + 1) if e else 1
        if tag == 258 and any(e[3] != 1 for e in entry(data, 258)):
            # three values: make the entry one value
            for at, *_ in entry(data, 258):
                struct.pack_into("<HHII", d, at, 258, 3, 1, value)
            out.append(("size/" + label, d))
            continue
        if set_value(d, tag, value):
            out.append(("size/" + label, d))
    d = bytearray(data)
    if set_value(d, 256, 190) and set_value(d, 257, 240) and set_value(d, 258, 6):
        out.append(("size/half-size-directory", d))
    return out


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    folder = Folder(out)
    with tempfile.TemporaryDirectory() as tmp:
        sweep = strip_sweep(folder, tmp)
        v5 = v5_fixtures(folder, tmp)
        indep = independent(folder, tmp)
    # Damage a spread of the sound files: every strip-sweep case of one record, the fixtures
    # and the independent files.
    for i, (data, base) in enumerate(sweep[::3] + v5 + indep[::2]):
        for cls, d in damaged(data):
            folder.add(d, LETTERS[i % len(LETTERS)], "%s/%s" % (cls, base))
    with open(os.path.join(out, "classes.txt"), "w") as fp:
        fp.write("\n".join(folder.lines) + "\n")
    print(len(folder.lines), "files")


if __name__ == "__main__":
    main()
