#!/usr/bin/env python3
"""The manifest check itself, and the programs of this build through it.

    manifest_check_test.py --programs EXE... [--no-manifest EXE --two-manifests EXE]

The programs must pass; stand-in programs without a manifest and with two manifest
resources must fail with their reason; the check's content rules are tried on variants
of the project's manifest."""

import argparse
import pathlib
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import check_manifest  # noqa: E402

MANIFEST = (HERE.parents[1] / "cmake" / "quorle.manifest").read_text()
OPTIONS = None


class Programs(unittest.TestCase):
    def test_programs_carry_the_manifest(self):
        self.assertTrue(OPTIONS.programs)
        for program in OPTIONS.programs:
            with self.subTest(program=program):
                self.assertEqual(check_manifest.program_problems(program), [])

    def test_files_without_one_manifest_fail_with_their_reason(self):
        cases = [(OPTIONS.no_manifest, "no RT_MANIFEST resource"),
                 (OPTIONS.two_manifests, "2 RT_MANIFEST resources"),
                 (__file__, "not a PE file")]
        for program, reason in cases:
            if program is None:
                continue
            with self.subTest(program=program):
                problems = check_manifest.program_problems(program)
                self.assertEqual(len(problems), 1, problems)
                self.assertIn(reason, problems[0])
                self.assertEqual(check_manifest.main([program]), 1)


class Content(unittest.TestCase):
    def test_project_manifest_passes(self):
        self.assertEqual(check_manifest.manifest_problems(MANIFEST.encode()), [])

    def test_each_rule(self):
        trust = '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
        win10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
        long_path = '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">'
        cases = [
            ("elevation", trust, trust.replace("asInvoker", "requireAdministrator"),
             "execution level is 'requireAdministrator'"),
            ("highest", trust, trust.replace("asInvoker", "highestAvailable"),
             "execution level is 'highestAvailable'"),
            ("ui access", trust, trust.replace('"false"', '"true"'), "uiAccess is 'true'"),
            ("no level", trust, "", "0 requestedExecutionLevel entries"),
            ("two levels", trust, trust + trust, "2 requestedExecutionLevel entries"),
            ("Windows 8.1 only", win10, "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
             "no supportedOS entry"),
            ("long paths off", ">true</longPathAware>", ">false</longPathAware>",
             "longPathAware is ['false']"),
            ("long paths, 2005 namespace", long_path,
             long_path.replace("SMI/2016/", "SMI/2005/"), "longPathAware is []"),
            ("not XML", "</assembly>", "", "not well-formed XML"),
        ]
        for name, old, new, problem in cases:
            with self.subTest(name):
                self.assertIn(old, MANIFEST)
                problems = check_manifest.manifest_problems(MANIFEST.replace(old, new).encode())
                self.assertTrue(any(problem in p for p in problems), problems)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--programs", nargs="+", default=[])
    parser.add_argument("--no-manifest")
    parser.add_argument("--two-manifests")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
