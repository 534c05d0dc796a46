#!/usr/bin/env python3
"""The control-flow guard and CET check itself, on stand-ins, and the programs of this build
through it.

    hardening_check_test.py [--programs EXE...] [--clang CLANG --lld-link LLD_LINK]

The programs (MSVC builds) must pass. The stand-ins are stand_in_guard.c built with clang
for x64 and ARM64 Windows and linked by lld-link with and without /guard:cf and /CETCOMPAT
(mingw's linker sets neither bit); further rows patch single fields of the good x64 one."""

import argparse
import pathlib
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import check_hardening  # noqa: E402

OPTIONS = None


class Programs(unittest.TestCase):
    def test_programs_are_guarded(self):
        if not OPTIONS.programs:
            self.skipTest("no MSVC programs in this build")
        for program in OPTIONS.programs:
            with self.subTest(program=program):
                self.assertEqual(check_hardening.program_problems(program)[0], [])
                self.assertEqual(check_hardening.main([program]), 0)


def _patched(data, change):
    """A copy of a PE image with one field changed by `change(bytearray, image)`."""
    import check_manifest
    copy = bytearray(data)
    change(copy, check_manifest.PeImage(data))
    return bytes(copy)


def _clear_guard_flags(copy, image):
    start = image.offset(image.directory(check_hardening.LOAD_CONFIG)[0])
    struct.pack_into("<I", copy, start + check_hardening.GUARD_FLAGS_OFFSET[0x20B], 0)


def _drop_load_config(copy, _image):
    (pe,) = struct.unpack_from("<I", copy, 0x3C)
    struct.pack_into("<II", copy, pe + 24 + 112 + 8 * check_hardening.LOAD_CONFIG, 0, 0)


def _clear_cet_bit(copy, image):
    rva, size = image.directory(check_hardening.DEBUG)
    start = image.offset(rva)
    for entry in range(size // 28):
        kind, _, _, pointer = struct.unpack_from("<IIII", copy, start + 28 * entry + 12)
        if kind == check_hardening.DEBUG_TYPE_EX_DLLCHARACTERISTICS:
            struct.pack_into("<I", copy, pointer, 0)


class StandIns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (OPTIONS.clang and OPTIONS.lld_link):
            raise unittest.SkipTest("needs clang and lld-link")
        cls.work = tempfile.TemporaryDirectory(prefix="quorle-guard-")
        work = pathlib.Path(cls.work.name)
        cls.built = {}
        objects = {}
        for target, machine in (("x86_64", "x64"), ("aarch64", "arm64")):
            objects[machine] = work / ("guard_%s.obj" % machine)
            subprocess.run([OPTIONS.clang, "--target=%s-pc-windows-msvc" % target, "-O1",
                            "-Xclang", "-cfguard", "-c", str(HERE / "stand_in_guard.c"),
                            "-o", str(objects[machine])], check=True)
        links = {
            "x64 guard cet": ("x64", ["/guard:cf", "/cetcompat"]),
            "x64 guard": ("x64", ["/guard:cf"]),
            "x64 cet": ("x64", ["/guard:no", "/cetcompat"]),
            "arm64 guard": ("arm64", ["/guard:cf"]),
            "arm64 none": ("arm64", ["/guard:no"]),
        }
        for name, (machine, options) in links.items():
            out = work / (name.replace(" ", "_") + ".exe")
            subprocess.run([OPTIONS.lld_link, "/nologo", "/nodefaultlib", "/entry:entry",
                            "/subsystem:console", "/machine:" + machine, *options,
                            str(objects[machine]), "/out:" + str(out)], check=True)
            cls.built[name] = out.read_bytes()

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def verdict(self, data):
        path = pathlib.Path(self.work.name) / "case.exe"
        path.write_bytes(data)
        return check_hardening.program_problems(str(path))

    def test_table(self):
        good = self.built["x64 guard cet"]
        cases = [
            ("guard and CET", good, None, []),
            ("guard without CET", self.built["x64 guard"], "not CET shadow-stack compatible", []),
            ("CET without guard", self.built["x64 cet"], "no control-flow guard", []),
            ("ARM64 with guard", self.built["arm64 guard"], None, ["CET not checked on ARM64"]),
            ("ARM64 without guard", self.built["arm64 none"], "no control-flow guard",
             ["CET not checked on ARM64"]),
            ("guard flags cleared", _patched(good, _clear_guard_flags),
             "load configuration guard flags 0x0 lack 0x500", []),
            ("no load configuration", _patched(good, _drop_load_config),
             "no load configuration with guard flags", []),
            ("CET bit cleared", _patched(good, _clear_cet_bit),
             "not CET shadow-stack compatible", []),
            ("not a program", pathlib.Path(__file__).read_bytes(), "not a PE file", []),
            ("cut short", good[:0x100], "PE file", []),
        ]
        for name, data, problem, notes in cases:
            with self.subTest(name):
                problems, found_notes = self.verdict(data)
                if problem is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertTrue(any(problem in p for p in problems), problems)
                self.assertEqual(found_notes, notes)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--programs", nargs="*", default=[])
    parser.add_argument("--clang")
    parser.add_argument("--lld-link")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
