#!/usr/bin/env python3
"""Checks the exploit mitigations of Windows programs from their PE headers:
  - control-flow guard: the optional header's GUARD_CF DLL characteristic, and a load
    configuration whose guard flags say the code is instrumented and the table of valid call
    targets is present (what /guard:cf at compile and link time produces);
  - CET shadow-stack compatibility (/CETCOMPAT): the CET_COMPAT bit of the extended DLL
    characteristics in the debug directory, on x64 only (it does not apply to ARM64, and the
    check says so).
Reads the PE file itself (check_manifest's reader), so it runs anywhere Python does.

    check_hardening.py PROGRAM.exe...    one line per program; exit status 1 on any problem"""

import struct
import sys

import check_manifest
from check_manifest import PeError

MACHINES = {0x8664: "x64", 0xAA64: "ARM64", 0x14C: "x86"}
GUARD_CF = 0x4000  # IMAGE_DLLCHARACTERISTICS_GUARD_CF
CF_INSTRUMENTED = 0x100  # IMAGE_GUARD_CF_INSTRUMENTED
CF_FUNCTION_TABLE_PRESENT = 0x400  # IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT
LOAD_CONFIG = 10
DEBUG = 6
DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
CET_COMPAT = 0x1  # IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT
# Offset of GuardFlags in the load configuration (PE32+, PE32).
GUARD_FLAGS_OFFSET = {0x20B: 0x90, 0x10B: 0x58}


def _headers(data):
    """(machine, optional-header magic, DLL characteristics) of a PE image."""
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    (machine,) = struct.unpack_from("<H", data, pe + 4)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    (characteristics,) = struct.unpack_from("<H", data, optional + 70)
    return machine, magic, characteristics


def _guard_flags(image, magic):
    """The load configuration's GuardFlags, or None when it has none."""
    rva, size = image.directory(LOAD_CONFIG)
    if rva == 0 or size == 0:
        return None
    start = image.offset(rva)
    (declared,) = image.unpack("<I", start)
    offset = GUARD_FLAGS_OFFSET[magic]
    if declared < offset + 4:
        return None
    (flags,) = image.unpack("<I", start + offset)
    return flags


def _cet_compatible(image):
    rva, size = image.directory(DEBUG)
    if rva == 0:
        return False
    start = image.offset(rva)
    for entry in range(size // 28):
        kind, data_size, _, pointer = image.unpack("<IIII", start + 28 * entry + 12)
        if kind == DEBUG_TYPE_EX_DLLCHARACTERISTICS and data_size >= 4:
            (flags,) = image.unpack("<I", pointer)
            return bool(flags & CET_COMPAT)
    return False


def program_problems(path):
    """(problems, notes) of one program: what is wrong, and what was not checked and why."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        image = check_manifest.PeImage(data)
        machine, magic, characteristics = _headers(data)
        problems = []
        notes = []
        if not characteristics & GUARD_CF:
            problems.append("no control-flow guard (GUARD_CF DLL characteristic unset)")
        flags = _guard_flags(image, magic)
        wanted = CF_INSTRUMENTED | CF_FUNCTION_TABLE_PRESENT
        if flags is None:
            problems.append("no load configuration with guard flags")
        elif flags & wanted != wanted:
            problems.append("load configuration guard flags 0x%x lack 0x%x" % (flags, wanted))
        name = MACHINES.get(machine, "machine 0x%x" % machine)
        if machine == 0x8664:
            if not _cet_compatible(image):
                problems.append("not CET shadow-stack compatible (no CET_COMPAT)")
        else:
            notes.append("CET not checked on %s" % name)
        return problems, notes
    except (PeError, struct.error) as error:
        return ["%s" % error if isinstance(error, PeError) else "truncated PE file"], []


def main(paths):
    failed = False
    for path in paths:
        problems, notes = program_problems(path)
        failed = failed or bool(problems)
        verdict = "; ".join(problems) if problems else "control-flow guard ok"
        print("%s: %s" % (path, "; ".join([verdict] + notes)))
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
