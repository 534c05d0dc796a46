#!/usr/bin/env python3
"""Checks that Windows programs load only DLLs of the system folder: every DLL a program
imports (directly or delay-loaded) must be a file of that folder. The driver setup loads
DLLs from System32 only, so a DLL beside it (a vcpkg dependency built as a DLL, the
Visual C++ runtime) would keep it from starting; the audio host ships alone as well.

    check_imports.py [--system32 DIR] PROGRAM.exe...

DIR defaults to %SystemRoot%\\System32. The API sets of the C runtime (api-ms-win-crt-*)
stand for ucrtbase.dll, the C runtime DLL, and are refused; the other API sets
(api-ms-win-*, ext-ms-win-*) are the system's own and accepted. One line per program; exit
status 1 on any problem."""

import argparse
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from check_manifest import PeError, PeImage  # noqa: E402


def imported_dlls(data):
    """The names of the DLLs a PE image imports, in table order: the import directory,
    then the delay-load directory."""
    image = PeImage(data)
    names = []
    rva, _ = image.directory(1)
    if rva:
        at = image.offset(rva)
        while True:
            lookup, _, _, name, thunks = image.unpack("<IIIII", at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            names.append(image.text(name))
            at += 20
    rva, _ = image.directory(13)
    if rva:
        at = image.offset(rva)
        while True:
            _, name = image.unpack("<II", at)
            if name == 0:
                break
            names.append(image.text(name))
            at += 32
    return names


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


def program_problems(path, system_dlls):
    with open(path, "rb") as f:
        data = f.read()
    try:
        return name_problems(imported_dlls(data), system_dlls)
    except PeError as error:
        return [str(error)]


def system_folder_dlls(folder):
    return {entry.name.lower() for entry in pathlib.Path(folder).iterdir()}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--system32",
                        default=os.path.join(os.environ.get("SystemRoot", r"C:\Windows"),
                                             "System32"))
    parser.add_argument("programs", nargs="+")
    options = parser.parse_args(argv)
    system_dlls = system_folder_dlls(options.system32)
    failed = False
    for program in options.programs:
        problems = program_problems(program, system_dlls)
        failed = failed or bool(problems)
        print("%s: %s" % (program, "; ".join(problems) if problems else
                          "imports only system DLLs (%s)" %
                          ", ".join(imported_dlls(pathlib.Path(program).read_bytes()))))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
