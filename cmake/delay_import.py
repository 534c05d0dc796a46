#!/usr/bin/env python3
"""Delay-loading for the mingw-w64 build.

    delay_import.py libraries --nm NM --ar AR --dlltool DLLTOOL --lib-dir DIR --out DIR NAME...
    delay_import.py fill PROGRAM.exe

"libraries" makes, for each NAME (ole32, setupapi, ...), a delay-import library
OUT/libNAME.a for NAME.dll: the functions of the toolchain's import library DIR/libNAME.a
(those with both a thunk and an __imp_ pointer; data exports cannot be delay-loaded) go into
a module-definition file, which dlltool turns into a delay library; the import library's
static members (the inline helpers of ws2_32, the GUIDs of ksuser) are added to it as they
are. Found first on the library path, such a library takes the place of the import library
for every -lNAME of the link, whichever library asked for it.

"fill" points the PE delay-import directory (data directory 13) of a linked program at its
delay-import descriptors. GNU ld places the descriptors of dlltool's delay libraries in .text
(sections .text$2) and leaves that directory empty, so tools that read the directory would
see no delay imports. The descriptors are found by their symbols __DELAY_IMPORT_DESCRIPTOR_*
and must lie side by side, directly followed by the 32 zero bytes of the symbol
__quorle_delay_import_end (delay_import_end.cpp, in .text$3), which ends the table. A program
without delay imports keeps an empty directory."""

import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile

DESCRIPTOR_SIZE = 32
DESCRIPTOR_PREFIX = "__DELAY_IMPORT_DESCRIPTOR_"
END_SYMBOL = "__quorle_delay_import_end"
DELAY_DIRECTORY = 13


class Failure(Exception):
    pass


# ---- libraries -------------------------------------------------------------------------

def exported_functions(nm, library):
    """The functions an import library provides: thunk symbols that have an __imp_ pointer."""
    listing = subprocess.run([nm, "--defined-only", library], capture_output=True, text=True,
                             check=True).stdout
    thunks, pointers = set(), set()
    for line in listing.splitlines():
        parts = line.split()
        if len(parts) != 3:
            continue
        _, kind, name = parts
        if kind == "I" and name.startswith("__imp_"):
            pointers.add(name[len("__imp_"):])
        elif kind == "T":
            thunks.add(name)
    return sorted(thunks & pointers)


def static_members(nm, library):
    """The members of an import library that are plain objects: they define symbols, none of
    them an import (kind I: the __imp_ pointers, the import descriptors and names)."""
    listing = subprocess.run([nm, "-A", "--defined-only", library], capture_output=True,
                             text=True, check=True).stdout
    kinds = {}
    for line in listing.splitlines():
        located, _, symbol = line.rpartition(":")
        parts = symbol.split()
        if len(parts) != 3 or located.count(":") < 1:
            continue
        member = located.rsplit(":", 1)[1]
        kinds.setdefault(member, set()).add(parts[1])
    return sorted(member for member, found in kinds.items() if "I" not in found)


def make_libraries(nm, ar, dlltool, lib_dir, out, names):
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    for name in names:
        library = str(pathlib.Path(lib_dir) / ("lib%s.a" % name))
        functions = exported_functions(nm, library)
        if not functions:
            raise Failure("lib%s.a: no functions to delay-load" % name)
        with tempfile.TemporaryDirectory() as work:
            definition = pathlib.Path(work) / ("%s.def" % name)
            definition.write_text("LIBRARY %s.dll\nEXPORTS\n%s\n" % (name, "\n".join(functions)))
            # Run in OUT with a plain file name: dlltool names the library's symbols after
            # the path it is given (__DELAY_IMPORT_DESCRIPTOR_libNAME_a).
            subprocess.run([dlltool, "--input-def", str(definition), "--dllname", name + ".dll",
                            "--output-delaylib", "lib%s.a" % name],
                           check=True, cwd=str(out))
            members = static_members(nm, library)
            if members:
                subprocess.run([ar, "x", library, *members], check=True, cwd=work)
                subprocess.run([ar, "rs", str(out / ("lib%s.a" % name)), *members], check=True,
                               cwd=work)


# ---- fill ------------------------------------------------------------------------------

class Image:
    """The parts of a PE image that the fill needs: sections, the data directories and the
    COFF symbol table that GNU ld keeps."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Failure("not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise Failure("not a PE file")
        (_, sections, _, self.symbols_at, self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise Failure("not a 64-bit program")
        self.directories_at = optional + 112
        count = struct.unpack_from("<I", data, optional + 108)[0]
        if count <= DELAY_DIRECTORY:
            raise Failure("no delay-import directory entry")
        self.sections = []
        at = optional + optional_size
        for _ in range(sections):
            name, vsize, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, at)
            self.sections.append((name.rstrip(b"\0"), rva, max(vsize, raw_size), raw_at,
                                  raw_size))
            at += 40

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories_at + 8 * index)

    def offset(self, rva, size):
        for _, start, length, raw_at, raw_size in self.sections:
            if start <= rva and rva + size <= start + min(length, raw_size):
                return raw_at + rva - start
        raise Failure("RVA 0x%x is not in the file" % rva)

    def symbols(self):
        """(name, RVA) of every symbol defined in a section."""
        if self.symbols_at == 0:
            raise Failure("no symbol table (a stripped program)")
        strings = self.symbols_at + 18 * self.symbol_count
        found = []
        index = 0
        while index < self.symbol_count:
            at = self.symbols_at + 18 * index
            raw, value, section, _, _, aux = struct.unpack_from("<8sIhHBB", self.data, at)
            if raw[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", raw, 4)[0]
                name = self.data[start:self.data.index(b"\0", start)]
            else:
                name = raw.rstrip(b"\0")
            if 0 < section <= len(self.sections):
                found.append((name.decode("latin-1"), self.sections[section - 1][1] + value))
            index += 1 + aux
        return found


def delay_table(image):
    """(RVA, size) of the descriptor table including its zero end, or None without delay
    imports. Checks that the table is whole: side by side, RVA-based, named, and ended."""
    symbols = image.symbols()
    descriptors = sorted(rva for name, rva in symbols if name.startswith(DESCRIPTOR_PREFIX))
    ends = [rva for name, rva in symbols if name == END_SYMBOL]
    if not descriptors:
        return None
    if len(ends) != 1:
        raise Failure("delay imports without the end of their table (%s)" % END_SYMBOL)
    for index, rva in enumerate(descriptors):
        if rva != descriptors[0] + index * DESCRIPTOR_SIZE:
            raise Failure("delay-import descriptors are not side by side")
        attributes, name = struct.unpack_from("<II", image.data,
                                              image.offset(rva, DESCRIPTOR_SIZE))
        if attributes != 1:
            raise Failure("delay-import descriptor at 0x%x is not RVA-based" % rva)
        text_at = image.offset(name, 1)
        text = image.data[text_at:image.data.index(b"\0", text_at)]
        if not re.fullmatch(rb"[\w.-]+\.dll", text, re.IGNORECASE):
            raise Failure("delay-import descriptor at 0x%x names no DLL" % rva)
    end = descriptors[-1] + DESCRIPTOR_SIZE
    if ends[0] != end:
        raise Failure("the end of the delay-import table does not follow its descriptors")
    end_at = image.offset(end, DESCRIPTOR_SIZE)
    if image.data[end_at:end_at + DESCRIPTOR_SIZE] != bytes(DESCRIPTOR_SIZE):
        raise Failure("the end of the delay-import table is not zero")
    return descriptors[0], end + DESCRIPTOR_SIZE - descriptors[0]


def fill(path):
    data = bytearray(pathlib.Path(path).read_bytes())
    image = Image(bytes(data))
    table = delay_table(image)
    current = image.directory(DELAY_DIRECTORY)
    if table is None or current == table:
        return
    if current != (0, 0):
        raise Failure("the delay-import directory is already set elsewhere")
    struct.pack_into("<II", data, image.directories_at + 8 * DELAY_DIRECTORY, *table)
    temporary = pathlib.Path(str(path) + ".delay")
    temporary.write_bytes(bytes(data))
    os.replace(temporary, path)


def main(argv):
    try:
        if argv[:1] == ["fill"] and len(argv) == 2:
            fill(argv[1])
            return 0
        if argv[:1] == ["libraries"]:
            import argparse
            parser = argparse.ArgumentParser(prog="delay_import.py libraries")
            for option in ("--nm", "--ar", "--dlltool", "--lib-dir", "--out"):
                parser.add_argument(option, required=True)
            parser.add_argument("names", nargs="+")
            options = parser.parse_args(argv[1:])
            make_libraries(options.nm, options.ar, options.dlltool, options.lib_dir,
                           options.out, options.names)
            return 0
    except (Failure, OSError, subprocess.CalledProcessError, struct.error, ValueError) as error:
        print("delay_import.py: %s: %s" % (argv[-1], error), file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
