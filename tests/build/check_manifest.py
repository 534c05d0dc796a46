#!/usr/bin/env python3
"""Checks the application manifest embedded in Windows programs: exactly one RT_MANIFEST
resource, with id 1, whose XML asks for asInvoker without UI access, declares the
Windows 10/11 supportedOS entry and longPathAware. Reads the PE file's resource table itself,
so it runs anywhere Python does (Linux for the mingw build, Windows for the MSVC one).

    check_manifest.py PROGRAM.exe...    one line per program; exit status 1 on any problem"""

import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
WINDOWS_10_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST_NAMESPACES = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"


class PeError(Exception):
    pass


def _unpack(fmt, data, offset):
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise PeError("truncated PE file")
    return struct.unpack_from(fmt, data, offset)


class PeImage:
    """The parts of a PE file these checks read: sections and data directories."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("not a PE file")
        (pe,) = _unpack("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE file")
        _, section_count, _, _, _, optional_size, _ = _unpack("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        (magic,) = _unpack("<H", data, optional)
        directories = {0x10B: optional + 96, 0x20B: optional + 112}.get(magic)
        if directories is None:
            raise PeError("unknown optional header 0x%x" % magic)
        (count,) = _unpack("<I", data, directories - 4)
        self.directories = [_unpack("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(section_count):
            virtual_size, address, raw_size, raw_pointer = _unpack(
                "<IIII", data, optional + optional_size + 40 * i + 8)
            self.sections.append((address, max(virtual_size, raw_size), raw_pointer))

    def directory(self, index):
        """(rva, size) of a data directory; (0, 0) when absent."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for address, size, raw_pointer in self.sections:
            if address <= rva < address + size:
                return raw_pointer + rva - address
        raise PeError("address 0x%x outside every section" % rva)

    def unpack(self, fmt, offset):
        return _unpack(fmt, self.data, offset)

    def text(self, rva):
        """The NUL-terminated ASCII text at an address."""
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        return self.data[start:end if end >= 0 else len(self.data)].decode("ascii", "replace")


def resources(data):
    """Every resource of a PE image as (type, name, language, bytes); type and name are
    numbers, or strings for named entries."""
    image = PeImage(data)
    resource_rva, _ = image.directory(2)
    if resource_rva == 0:
        return []
    base = image.offset(resource_rva)

    def label(value):
        if value & 0x80000000:
            at = base + (value & 0x7FFFFFFF)
            (length,) = image.unpack("<H", at)
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return value

    def walk(offset, depth, path):
        named, numbered = image.unpack("<HH", offset + 12)
        for i in range(named + numbered):
            name, target = image.unpack("<II", offset + 16 + 8 * i)
            here = path + (label(name),)
            if target & 0x80000000:
                if depth == 2:
                    raise PeError("resource tree deeper than type/name/language")
                yield from walk(base + (target & 0x7FFFFFFF), depth + 1, here)
            elif depth == 2:
                rva, size = image.unpack("<II", base + target)
                start = image.offset(rva)
                yield here + (data[start:start + size],)
            else:
                raise PeError("resource data above the language level")

    return list(walk(base, 0, ()))


def _local(tag):
    return tag.rsplit("}", 1)[-1]


def _namespace(tag):
    return tag[1:].split("}", 1)[0] if tag.startswith("{") else ""


def manifest_problems(text):
    """What is wrong with a manifest's text (an empty list when nothing is)."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError as error:
        return ["manifest is not well-formed XML (%s)" % error]
    problems = []
    if root.tag != "{%s}assembly" % ASM_V1:
        problems.append("root element is %s, not assembly of %s" % (root.tag, ASM_V1))
    levels = [e for e in root.iter() if _local(e.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        problems.append("%d requestedExecutionLevel entries, not 1" % len(levels))
    else:
        level = levels[0]
        if _namespace(level.tag) not in TRUST_NAMESPACES:
            problems.append("requestedExecutionLevel in namespace '%s'" % _namespace(level.tag))
        if level.get("level") != "asInvoker":
            problems.append("execution level is %r, not 'asInvoker'" % level.get("level"))
        if level.get("uiAccess", "false").lower() != "false":
            problems.append("uiAccess is %r" % level.get("uiAccess"))
    supported = [e.get("Id", "").lower() for e in root.iter()
                 if e.tag == "{%s}supportedOS" % COMPATIBILITY]
    if WINDOWS_10_11 not in supported:
        problems.append("no supportedOS entry %s (found %s)" % (WINDOWS_10_11, supported))
    long_paths = [(e.text or "").strip().lower() for e in root.iter()
                  if e.tag == "{%s}longPathAware" % SETTINGS_2016]
    if long_paths != ["true"]:
        problems.append("longPathAware is %s, not one 'true'" % long_paths)
    return problems


def program_problems(path):
    """What is wrong with the manifest resources of one program."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        found = [r for r in resources(data) if r[0] == RT_MANIFEST]
    except PeError as error:
        return [str(error)]
    if not found:
        return ["no RT_MANIFEST resource"]
    if len(found) > 1:
        return ["%d RT_MANIFEST resources (name, language: %s), not 1" %
                (len(found), ", ".join("%s %s" % (r[1], r[2]) for r in found))]
    _, name, _, text = found[0]
    if name != 1:
        return ["RT_MANIFEST resource has id %r, not 1" % (name,)]
    return manifest_problems(text)


def main(paths):
    failed = False
    for path in paths:
        problems = program_problems(path)
        failed = failed or bool(problems)
        print("%s: %s" % (path, "; ".join(problems) if problems else "manifest ok"))
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
