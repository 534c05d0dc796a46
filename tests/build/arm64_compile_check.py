#!/usr/bin/env python3
"""Compiles the Windows build's own sources for ARM64 Windows (aarch64-w64-mingw32) with
clang-16, syntax and semantics only: there is no ARM64 C runtime here to link against.

Takes each command of the mingw build's compile_commands.json whose source belongs to the
programs, the shared audio module, the Windows layers or the tests' Windows tools and
programs (unit-test sources and GoogleTest are left out), and runs it through clang-16:
  --target=aarch64-w64-mingw32 -fsyntax-only, the mingw-w64 headers and g++'s mingw
  libstdc++ headers (-nostdinc++), -std=c++23 spelled -std=c++2b, x86-only -m flags and
  gcc's precompiled header dropped, and __cpp_concepts announced as libstdc++ 12 needs it
  for <expected> (clang 16 does not announce it itself).

    arm64_compile_check.py BUILD_DIR [--jobs N]     exit status 1 when any source fails"""

import argparse
import concurrent.futures
import json
import os
import pathlib
import shlex
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
CLANG = "clang-16"
GCC_MINGW = pathlib.Path("/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++")
MINGW_HEADERS = pathlib.Path("/usr/share/mingw-w64/include")
# Sources that are compiled for the programs and the tools that run beside them.
INCLUDED = ("src/", "tests/tools/", "tests/e2e/", "tests/build/")
ARM64_FLAGS = [
    "--target=aarch64-w64-mingw32", "-fsyntax-only", "-nostdinc++",
    "-isystem", str(GCC_MINGW), "-isystem", str(GCC_MINGW / "x86_64-w64-mingw32"),
    "-isystem", str(MINGW_HEADERS),
    "-D__cpp_concepts=202002L", "-Wno-macro-redefined", "-Wno-unknown-warning-option",
]


def arm64_command(entry):
    """The clang-16 ARM64 command for one compile command."""
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    out = [CLANG]
    rest = iter(args[1:])
    for arg in rest:
        if arg in ("-o", "-MF", "-MT", "-MQ"):
            next(rest, None)
        elif arg == "-include":
            # gcc's precompiled header (cmake_pch.hxx): clang reads the header itself.
            header = next(rest, "")
            out += ["-include", header]
        elif arg in ("-c", "-MD", "-MMD", "-Winvalid-pch") or arg.startswith("-m"):
            continue
        elif arg == "-std=c++23" or arg == "-std=gnu++23":
            out.append("-std=c++2b")
        else:
            out.append(arg)
    return out + ARM64_FLAGS


def selected(entries):
    chosen = []
    for entry in entries:
        source = pathlib.Path(entry["directory"], entry["file"]).resolve()
        try:
            relative = source.relative_to(ROOT).as_posix()
        except ValueError:
            continue
        if relative.startswith(INCLUDED) and source.suffix in (".c", ".cpp"):
            chosen.append((relative, entry))
    return chosen


def check(item):
    relative, entry = item
    proc = subprocess.run(arm64_command(entry), cwd=entry["directory"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    return relative, proc.returncode, proc.stdout.decode(errors="replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--jobs", type=int, default=2)
    options = parser.parse_args()
    database = pathlib.Path(options.build_dir) / "compile_commands.json"
    entries = selected(json.loads(database.read_text()))
    if not entries:
        print("arm64 compile check: no sources in %s" % database)
        return 1
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        for relative, status, output in pool.map(check, entries):
            if status != 0:
                failed += 1
                print("FAILED %s\n%s" % (relative, output))
    print("arm64 compile check: %d sources, %d failed" % (len(entries), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
