#!/usr/bin/env python3
"""The version resource check itself, and the programs of this build through it.

    version_info_check_test.py --version X.Y.Z --programs EXE... [--no-version EXE]

The programs must pass; a program without a version resource must fail; the check's rules
are tried on variants of the first program's own version resource, each with one field
changed in place."""

import argparse
import os
import pathlib
import struct
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import check_manifest  # noqa: E402
import check_version_info  # noqa: E402

OPTIONS = None


def _blob(program):
    data = pathlib.Path(program).read_bytes()
    found = [r for r in check_manifest.resources(data) if r[0] == check_version_info.RT_VERSION]
    return found[0][3]


def _text(value):
    return value.encode("utf-16-le")


class Programs(unittest.TestCase):
    def test_programs_carry_the_version(self):
        self.assertTrue(OPTIONS.programs)
        for program in OPTIONS.programs:
            with self.subTest(program=program):
                self.assertEqual(check_version_info.program_problems(program, OPTIONS.version),
                                 [])

    def test_files_without_one_version_resource_fail(self):
        cases = [(OPTIONS.no_version, "0 RT_VERSION resources"), (__file__, "not a PE file")]
        for program, reason in cases:
            if program is None:
                continue
            with self.subTest(program=program):
                problems = check_version_info.program_problems(program, OPTIONS.version)
                self.assertEqual(len(problems), 1, problems)
                self.assertIn(reason, problems[0])
                self.assertEqual(
                    check_version_info.main(["--version", OPTIONS.version, program]), 1)

    def test_each_rule(self):
        program = OPTIONS.programs[0]
        name = os.path.basename(program)
        blob = _blob(program)
        version = OPTIONS.version
        other = ".".join(str(int(p) + 1) for p in version.split("."))
        fixed = blob.find(struct.pack("<I", check_version_info.FIXED_SIGNATURE))
        self.assertGreater(fixed, 0)

        def replace_text(old, new, count=-1):
            self.assertEqual(len(old), len(new))
            self.assertIn(_text(old), blob)
            return blob.replace(_text(old), _text(new), count)

        def set_word(offset, value):
            changed = bytearray(blob)
            struct.pack_into("<I", changed, fixed + offset, value)
            return bytes(changed)

        cases = [
            ("wrong version expected", blob, other, "file version"),
            ("file version field", set_word(8, 0x00090009), version, "file version 9.9."),
            ("product version field", set_word(16, 0x00090009), version, "product version 9.9."),
            ("no signature", set_word(0, 0), version, "no VS_FIXEDFILEINFO"),
            ("product name", replace_text("Quorle\0", "Qworle\0"), version,
             "ProductName is 'Qworle'"),
            ("no product name", replace_text("ProductName", "ProductNamf"), version,
             "no ProductName string"),
            ("no description", replace_text("FileDescription", "FileDescriptiom"), version,
             "no FileDescription string"),
            ("renamed program", replace_text(name, name[:-5] + "X.exe"), version,
             "OriginalFilename is"),
            ("key", replace_text("VS_VERSION_INFO", "VS_VERSION_INFX", 1), version,
             "not VS_VERSION_INFO"),
            ("truncated", blob[:40], version, "version resource"),
        ]
        for label, changed, expected_version, problem in cases:
            with self.subTest(label):
                problems = check_version_info.version_problems(changed, expected_version, name)
                self.assertTrue(any(problem in p for p in problems), problems)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--programs", nargs="+", default=[])
    parser.add_argument("--no-version")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
