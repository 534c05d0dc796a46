#!/usr/bin/env python3
"""Checks that Windows programs load only DLLs of the system folder: every DLL a program
imports (directly or delay-loaded) must be a file of that folder. The driver setup loads
DLLs from System32 only, so a DLL beside it (a vcpkg dependency built as a DLL, the
Visual C++ runtime) would keep it from starting; the audio host ships alone as well.

    check_imports.py [--system32 DIR] [--restricted PROGRAM.exe]... PROGRAM.exe...

DIR defaults to %SystemRoot%\\System32. The API sets of the C runtime (api-ms-win-crt-*)
stand for ucrtbase.dll, the C runtime DLL, and are refused; the other API sets
(api-ms-win-*, ext-ms-win-*) are the system's own and accepted.

A restricted program (the driver setup, which runs elevated and restricts its library search
as its first call) must in addition import at load time only DLLs that every process maps
anyway: kernel32.dll, ntdll.dll, the api-ms-win-core-* API sets and msvcrt.dll (a Known
DLL, the mingw build's C runtime). Every other DLL it uses must be delay-loaded, so that it
and its dependencies load after that first call, from System32 only.

One line per program; exit status 1 on any problem."""

import argparse
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from check_manifest import PeError, PeImage  # noqa: E402


LOAD_TIME_DLLS = ("kernel32.dll", "ntdll.dll", "msvcrt.dll")
LOAD_TIME_API_SETS = "api-ms-win-core-"


def import_tables(data):
    """The names of the DLLs a PE image imports at load time (the import directory) and
    those it delay-loads (the delay-import directory), each in table order."""
    image = PeImage(data)
    load_time = []
    rva, _ = image.directory(1)
    if rva:
        at = image.offset(rva)
        while True:
            lookup, _, _, name, thunks = image.unpack("<IIIII", at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            load_time.append(image.text(name))
            at += 20
    delayed = []
    rva, _ = image.directory(13)
    if rva:
        at = image.offset(rva)
        while True:
            attributes, name = image.unpack("<II", at)
            if name == 0:
                break
            if attributes & 1 == 0:
                raise PeError("a delay-import descriptor with addresses instead of RVAs")
            delayed.append(image.text(name))
            at += 32
    return load_time, delayed


def imported_dlls(data):
    """The names of the DLLs a PE image imports, in table order: the import directory,
    then the delay-load directory."""
    load_time, delayed = import_tables(data)
    return load_time + delayed


def load_time_problems(names):
    """What is wrong with a restricted program importing these DLLs at load time."""
    return ["%s: loaded before the library search is restricted; delay-load it" % name
            for name in names
            if name.lower() not in LOAD_TIME_DLLS and
            not name.lower().startswith(LOAD_TIME_API_SETS)]


def name_problems(names, system_dlls):
    """What is wrong with importing these DLLs, given the system folder's file names (lower
    case)."""
    problems = []
    for name in names:
        lower = name.lower()
        if lower.startswith("api-ms-win-crt-"):
            problems.append("%s: the C runtime DLL" % name)
        elif lower.startswith(("api-ms-win-", "ext-ms-win-")):
            continue
        elif lower not in system_dlls:
            problems.append("%s: not a DLL of the system folder" % name)
    return problems


def program_problems(path, system_dlls, restricted=False):
    with open(path, "rb") as f:
        data = f.read()
    try:
        load_time, delayed = import_tables(data)
    except PeError as error:
        return [str(error)]
    problems = name_problems(load_time + delayed, system_dlls)
    if restricted:
        problems += load_time_problems(load_time)
    return problems


def describe(path):
    load_time, delayed = import_tables(pathlib.Path(path).read_bytes())
    return "imports only system DLLs (at load time: %s; delay-loaded: %s)" % (
        ", ".join(load_time) or "none", ", ".join(delayed) or "none")


def system_folder_dlls(folder):
    return {entry.name.lower() for entry in pathlib.Path(folder).iterdir()}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--system32",
                        default=os.path.join(os.environ.get("SystemRoot", r"C:\Windows"),
                                             "System32"))
    parser.add_argument("--restricted", action="append", default=[])
    parser.add_argument("programs", nargs="*")
    options = parser.parse_args(argv)
    if not options.programs and not options.restricted:
        parser.error("no program to check")
    system_dlls = system_folder_dlls(options.system32)
    failed = False
    for program, restricted in ([(p, True) for p in options.restricted] +
                                [(p, False) for p in options.programs]):
        problems = program_problems(program, system_dlls, restricted)
        failed = failed or bool(problems)
        print("%s: %s" % (program, "; ".join(problems) if problems else describe(program)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
