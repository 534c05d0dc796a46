#!/usr/bin/env python3
"""Checks the version resource of Windows programs: exactly one RT_VERSION resource whose
fixed part carries the expected file and product version (the project's version, fourth part
0), and whose string table names the product, the same version as text, a description and
the program's own file name. Reads the PE file itself (check_manifest's reader), so it runs
anywhere Python does.

    check_version_info.py --version X.Y.Z PROGRAM.exe...   one line per program; exit
                                                           status 1 on any problem"""

import argparse
import os
import struct
import sys

import check_manifest
from check_manifest import PeError

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD
PRODUCT_NAME = "Quorle"


def _align(offset):
    return (offset + 3) & ~3


def _node(blob, offset):
    """One version-resource node at `offset`: (key, value, children, end). The value is the
    raw bytes of a binary node, or the text of a text node."""
    if offset + 6 > len(blob):
        raise PeError("version resource truncated")
    length, value_length, kind = struct.unpack_from("<HHH", blob, offset)
    end = offset + length
    if length < 6 or end > len(blob):
        raise PeError("version resource node of length %d at %d" % (length, offset))
    key_end = offset + 6
    while key_end + 1 < end and blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[offset + 6:key_end].decode("utf-16-le", "replace")
    start = _align(key_end + 2)
    if kind == 1:  # text: value_length counts UTF-16 units, NUL included
        raw = blob[start:start + 2 * value_length]
        value = raw.decode("utf-16-le", "replace").split("\0", 1)[0]
        after = start + 2 * value_length
    else:
        value = blob[start:start + value_length]
        after = start + value_length
    children = []
    child = _align(after)
    while child < end:
        node = _node(blob, child)
        children.append(node)
        child = _align(node[3])
    return key, value, children, end


def version_problems(blob, version, file_name):
    """What is wrong with one VS_VERSIONINFO blob (an empty list when nothing is)."""
    try:
        key, fixed, children, _ = _node(blob, 0)
    except PeError as error:
        return [str(error)]
    if key != "VS_VERSION_INFO":
        return ["version resource key is %r, not VS_VERSION_INFO" % key]
    if len(fixed) < 52 or struct.unpack_from("<I", fixed, 0)[0] != FIXED_SIGNATURE:
        return ["no VS_FIXEDFILEINFO in the version resource"]
    problems = []
    parts = [int(p) for p in version.split(".")] + [0] * 4
    expected = ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3])
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    wanted = dotted(*expected)
    for name, found in (("file", (file_ms, file_ls)), ("product", (product_ms, product_ls))):
        if found != expected:
            problems.append("%s version %s, not %s" % (name, dotted(*found), wanted))
    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, entries, _ in tables:
                for entry_key, value, _, _ in entries:
                    strings[entry_key] = value
    rules = [("ProductName", PRODUCT_NAME), ("ProductVersion", version),
             ("FileVersion", version), ("OriginalFilename", file_name)]
    for name, value in rules:
        found = strings.get(name)
        if found is None:
            problems.append("no %s string" % name)
        elif found.lower() != value.lower():
            problems.append("%s is %r, not %r" % (name, found, value))
    if not strings.get("FileDescription", "").strip():
        problems.append("no FileDescription string")
    return problems


def program_problems(path, version):
    """What is wrong with the version resource of one program."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        found = [r for r in check_manifest.resources(data) if r[0] == RT_VERSION]
    except PeError as error:
        return [str(error)]
    if len(found) != 1:
        return ["%d RT_VERSION resources, not 1" % len(found)]
    return version_problems(found[0][3], version, os.path.basename(path))


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("programs", nargs="+")
    options = parser.parse_args(argv)
    failed = False
    for path in options.programs:
        problems = program_problems(path, options.version)
        failed = failed or bool(problems)
        print("%s: %s" % (path, "; ".join(problems) if problems else "version " + options.version))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
