#!/usr/bin/env python3
"""Fails when an installed header declares a function that libquorin.so does not export.

A program that includes <quorin/...> and calls what it reads there links against the shared
library only, so every function an installed header promises must be a dynamic symbol of it:
free functions and members (constructors and destructors included) that the header declares
without defining them, and the members of every instantiation the header names with
`extern template`. Inline functions, those defined in the header, defaulted, deleted and pure
virtual ones, and templates without such an instantiation need nothing from the library. A class
with a virtual function defined in the library also needs its virtual table there.

The declarations come from clang's own reading of the headers (its JSON syntax tree, which gives
each declaration's file and mangled name), so macros, overloads and ABI tags count as the
compiler sees them; the exports come from `nm -D --defined-only`.

Usage: check_exports.py CLANG LIBRARY [ROOT]   checks ROOT/include/quorin/*.h (default: this
                                                checkout) against LIBRARY
       check_exports.py CLANG --self-test       builds a small header and library with one
                                                declared function missing, checks that exactly
                                                it is reported
CLANG is clang++ 14 (or later); when it is empty or ends in -NOTFOUND the check reports itself
skipped (exit status 77).
"""
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77
FUNCTION_KINDS = ("FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl",
                  "CXXConversionDecl")


class Reader:
    """Walks clang's JSON syntax tree in the order it was written. The dump names a location's
    file (and line) only when it differs from the location written before, so the file of a
    declaration is the last one named at or before its own location."""

    def __init__(self, header_dir):
        self.header_dir = os.path.realpath(header_dir) + os.sep
        self.file, self.line = "", None
        # mangled name -> (file, line) of the declarations the library must define, and the
        # names some declaration defines (inline, a body, defaulted...).
        self.declared, self.defined = {}, set()
        self.virtual_of = {}  # mangled virtual function -> its class's virtual table name
        # Members of the instantiations named by `extern template`: (mangled name, where, place
        # of the template's member); they are needed unless the template defines that member.
        self.instantiated = []
        self.template_defined = set()  # places of the template members defined in the header
        self.template_ids = {}  # id of a template member -> its place
        self.defined_ids = set()  # ids of template members defined out of the class

    def note_location(self, loc):
        """(file, line, offset) of a location, following the elided names."""
        if not isinstance(loc, dict):
            return None
        # A location inside a macro: the place it is expanded at is the declaration's.
        for key in ("spellingLoc", "expansionLoc"):
            if key in loc:
                self.note_location(loc[key])
        if "file" in loc:
            self.file = loc["file"]
        if "line" in loc:
            self.line = loc["line"]
        if "expansionLoc" in loc:
            return self.note_location({"offset": loc["expansionLoc"].get("offset")})
        return (self.file, self.line, loc.get("offset"))

    def ours(self, file):
        return os.path.realpath(file).startswith(self.header_dir)

    def walk(self, node, context="plain", record=None):
        kind = node.get("kind")
        where = self.note_location(node.get("loc"))
        if "range" in node:
            self.note_location(node["range"].get("begin"))
            self.note_location(node["range"].get("end"))
        if kind in ("ClassTemplateDecl", "FunctionTemplateDecl",
                    "ClassTemplatePartialSpecializationDecl"):
            # A template's own members need nothing from the library; its specializations
            # inside are implicit instantiations (explicit ones follow as their own nodes).
            context = "template"
        elif kind == "ClassTemplateSpecializationDecl" and context != "template":
            # `extern template` (or an explicit specialization): its members are promised.
            context = "instantiation"
        if kind in ("CXXRecordDecl", "ClassTemplateSpecializationDecl") and not node.get(
                "isImplicit"):
            record = node
        if kind in FUNCTION_KINDS and where is not None and self.ours(where[0]):
            self.function(node, where, context, record)
        for child in node.get("inner", ()):
            if isinstance(child, dict):
                self.walk(child, context, record)

    def function(self, node, where, context, record):
        defined = bool(node.get("inline") or node.get("constexpr") or node.get("isImplicit") or
                       node.get("explicitlyDefaulted") or node.get("explicitlyDeleted") or
                       node.get("pure") or
                       any(c.get("kind") == "CompoundStmt" for c in node.get("inner", ())))
        place = (where[0], where[2])
        if defined and "previousDecl" in node:
            self.defined_ids.add(node["previousDecl"])
        if context == "template":
            self.template_ids[node.get("id")] = place
            if defined:
                self.template_defined.add(place)
            return
        name = node.get("mangledName")
        if not name:
            return
        owner = class_mangling(name) if record is not None else None
        if node.get("kind") == "CXXConstructorDecl" and owner and record.get(
                "definitionData", {}).get("isAbstract"):
            # An abstract class is only ever a base: its constructors are the base-object ones.
            prefix = "_ZN" + owner[1]
            if name.startswith(prefix + "C1"):
                name = prefix + "C2" + name[len(prefix) + 2:]
        if node.get("virtual") and owner:
            self.virtual_of[name] = owner[0]
        if context == "instantiation":
            self.instantiated.append((name, where[:2], place, defined))
        elif defined:
            self.defined.add(name)
        else:
            self.declared.setdefault(name, where[:2])

    def needed(self):
        """(functions, virtual tables) the library must export: mangled name -> (file, line);
        a table by its own mangled name. A class whose virtual functions are not all defined in
        the header has its table where the first of them is defined: in the library."""
        template_defined = self.template_defined | {
            self.template_ids[i] for i in self.defined_ids if i in self.template_ids}
        functions = {n: w for n, w in self.declared.items() if n not in self.defined}
        for name, where, place, defined in self.instantiated:
            if not defined and place not in template_defined:
                functions.setdefault(name, where)
        vtables = {}
        for name, where in functions.items():
            if name in self.virtual_of:
                vtables.setdefault("_ZTV" + self.virtual_of[name], where)
        return functions, vtables


def class_mangling(member):
    """For a mangled member _ZN[K]<class components><member>E<parameters>: (its class as a
    virtual table names it, the class components); None when the name is not of that form or
    holds a code this reader does not follow."""
    match = re.match(r"_ZN[rVKRO]*", member)
    if not match:
        return None
    pos, parts = match.end(), []
    while pos < len(member) and member[pos] != "E":
        start = pos
        if member[pos].isdigit():
            digits = re.match(r"\d+", member[pos:]).group()
            pos += len(digits) + int(digits)
        elif member[pos:pos + 2] == "St":
            pos += 2
        elif member[pos] in "CD" and pos + 1 < len(member) and member[pos + 1].isdigit():
            pos += 2
        elif member[pos] in "IB" and parts:
            # Template arguments or an ABI tag belong to the component before them.
            pos = skip_balanced(member, pos) if member[pos] == "I" else pos + 1
            if member[start] == "B":
                digits = re.match(r"\d+", member[pos:]).group()
                pos += len(digits) + int(digits)
            parts[-1] += member[start:pos]
            continue
        else:
            return None
        parts.append(member[start:pos])
    if len(parts) < 2:
        return None
    owner = "".join(parts[:-1])
    return (owner if len(parts) == 2 else f"N{owner}E"), owner


def skip_balanced(mangled, pos):
    """The position after the template arguments that open at POS ("I" ... "E"); identifiers
    are skipped by their length, so their letters never count."""
    depth = 0
    while pos < len(mangled):
        c = mangled[pos]
        if c.isdigit():
            digits = re.match(r"\d+", mangled[pos:]).group()
            pos += len(digits) + int(digits)
            continue
        if c in "ILXFJN":
            depth += 1
        elif c == "E":
            depth -= 1
            if depth == 0:
                return pos + 1
        pos += 1
    return pos


def declared(clang, root):
    """(functions, vtables): the mangled names the installed headers need from the library, each
    with its (file, line)."""
    header_dir = os.path.join(root, "include", "quorin")
    headers = sorted(glob.glob(os.path.join(header_dir, "*.h")))
    if not headers:
        raise SystemExit(f"check_exports: no headers in {header_dir}")
    unit = "".join(f"#include <quorin/{os.path.basename(h)}>\n" for h in headers)
    # The standard library makes most of the dump: stream it, and parse only the top-level
    # declarations that begin in an installed header.
    process = subprocess.Popen(
        [clang, "-std=c++20", "-x", "c++", "-fsyntax-only", "-Xclang", "-ast-dump=json",
         "-I", os.path.join(root, "include"), "-"], stdin=subprocess.PIPE,
        stdout=subprocess.PIPE, text=True)
    process.stdin.write(unit)
    process.stdin.close()
    reader = Reader(header_dir)
    chunk, start, files, line_number, previous = [], None, [], None, ""
    for line in process.stdout:
        # Top-level declarations are the entries of the translation unit's "inner" list, each
        # opening with "{" and closing with "}" at four spaces.
        if line.startswith("    {") and not chunk:
            chunk, start, files, line_number = [line], None, [], reader.line
            continue
        if not chunk:
            continue
        chunk.append(line)
        # "includedFrom" names the including file, not the location's.
        if '"file": ' in line and '"includedFrom"' not in previous:
            files.append(json.loads(line.split('"file": ', 1)[1].rstrip().rstrip(",")))
        elif '"line": ' in line:
            line_number = int(line.split('"line": ', 1)[1].rstrip().rstrip(","))
        previous = line
        if start is None and (files or '"range"' in line):
            # The declaration's own location comes first; when it names no file, it is in the
            # file of the location before.
            start = files[0] if files else reader.file
        if line.startswith("    }"):
            # Another file's declarations never name an installed header; ours begin in one or
            # name it (a macro of another file expanded in ours).
            if reader.ours(start or reader.file) or any(reader.ours(f) for f in files):
                reader.walk(json.loads("".join(chunk).rstrip().rstrip(",")))
            else:
                reader.file = files[-1] if files else reader.file
                reader.line = line_number
            chunk = []
    if process.wait() != 0:
        raise SystemExit("check_exports: clang could not read the installed headers")
    return reader.needed()


def exported(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True, text=True,
                         check=True).stdout
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}


def demangle(names):
    if not names:
        return {}
    out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True,
                         check=True).stdout.splitlines()
    return dict(zip(names, out))


def check(clang, library, root):
    """The faults (one line each) and the number of functions the headers need."""
    functions, vtables = declared(clang, root)
    symbols = exported(library)
    missing = sorted(n for n in functions if n not in symbols)
    missing_tables = sorted(n for n in vtables if n not in symbols)
    names = demangle(missing + missing_tables)
    faults = []
    for name in missing:
        faults.append((functions[name], names[name]))
    for name in missing_tables:
        faults.append((vtables[name], names[name]))
    faults.sort(key=lambda f: (f[0][0], f[0][1] or 0, f[1]))
    return [f"{os.path.relpath(p, root)}:{line}: not exported: {what}"
            for (p, line), what in faults], len(functions)


SELF_TEST_HEADER = """#pragma once
#include <string>
struct Kept {
    Kept();
    virtual ~Kept();
    void Declared();
    void Defined() {}
    inline void Inline();
    void Constant() const;
    Kept(const Kept&) = default;
    virtual void Pure() = 0;
    template <class T> void Member(T);
    std::string Tagged() const;
};
inline void Kept::Inline() {}
void Forgotten(int);
template <class T> struct Box {
    void Fill();
    int Size() const { return 1; }
    void Late();
    virtual ~Box();
};
template <class T> void Box<T>::Late() {}
template <class T> Box<T>::~Box() {}
extern template struct Box<int>;
extern template struct Box<long>;
template <class T> void Free(T);
namespace room { void Named(); }
extern "C" int Plain(void);
struct __attribute__((visibility("hidden"))) Hidden {
    virtual void Run();
};
"""
SELF_TEST_SOURCE = """#include <quorin/kept.h>
Kept::Kept() {}
Kept::~Kept() {}
void Kept::Declared() {}
void Kept::Constant() const {}
std::string Kept::Tagged() const { return {}; }
template <class T> void Box<T>::Fill() {}
template struct Box<int>;
void room::Named() {}
extern "C" int Plain(void) { return 0; }
void Hidden::Run() {}
"""


def build_kept(clang, root, header, source):
    """Writes `header` as ROOT/include/quorin/kept.h and builds `source` into ROOT/libkept.so,
    whose path it answers: a small library for the check to judge."""
    os.makedirs(os.path.join(root, "include", "quorin"))
    with open(os.path.join(root, "include", "quorin", "kept.h"), "w") as f:
        f.write(header)
    with open(os.path.join(root, "kept.cpp"), "w") as f:
        f.write(source)
    library = os.path.join(root, "libkept.so")
    subprocess.run([clang, "-std=c++20", "-shared", "-fPIC", "-I", os.path.join(root, "include"),
                    os.path.join(root, "kept.cpp"), "-o", library], check=True)
    return library


def self_test(clang):
    """A header whose forgotten function, class the library keeps hidden (its member and its
    virtual table) and instantiation the library does not build must be reported, and nothing
    inline, templated or defined in the header."""
    with tempfile.TemporaryDirectory() as tmp:
        library = build_kept(clang, tmp, SELF_TEST_HEADER, SELF_TEST_SOURCE)
        faults, count = check(clang, library, tmp)
    lines = SELF_TEST_HEADER.splitlines()
    at = {text: lines.index(text) + 1 for text in ("void Forgotten(int);", "    void Fill();",
                                                   "    virtual void Run();")}
    wanted = [f"include/quorin/kept.h:{at['void Forgotten(int);']}: not exported: Forgotten(int)",
              f"include/quorin/kept.h:{at['    void Fill();']}: not exported: "
              "Box<long>::Fill()",
              f"include/quorin/kept.h:{at['    virtual void Run();']}: not exported: Hidden::Run()",
              f"include/quorin/kept.h:{at['    virtual void Run();']}: not exported: "
              "vtable for Hidden"]
    # Kept(), ~Kept(), Declared, Constant, Tagged, Forgotten, Box<int>::Fill, Box<long>::Fill,
    # room::Named, Plain, Hidden::Run
    if faults != wanted or count != 11:
        print(f"check_exports self-test: expected {wanted} of 11 functions, got {faults} of "
              f"{count}")
        return 1
    print("check_exports self-test: the forgotten function, hidden class and instantiation are "
          "reported:", "; ".join(faults))
    return 0


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    clang = argv[1]
    if not clang or clang.endswith("-NOTFOUND"):
        print("check_exports: skipped: clang++ not found (tools/check installs it)")
        return SKIP
    if argv[2] == "--self-test":
        return self_test(clang)
    library = argv[2]
    root = argv[3] if len(argv) > 3 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults, count = check(clang, library, root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_exports: {len(faults)} declarations of include/quorin/ are not exported by "
              f"{library}: export them (cmake/exports.cmake) or move them to a header under src/")
        return 1
    print(f"check_exports: the {count} functions the installed headers declare are all exported")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
