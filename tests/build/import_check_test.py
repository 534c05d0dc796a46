#!/usr/bin/env python3
"""The import check itself, and the programs of this build through it.

    import_check_test.py --programs EXE... [--restricted EXE...] [--foreign EXE]
                         [--system32 DIR | --wine-prefix DIR]

The programs must import system DLLs only; the restricted ones (the driver setup and its
entry probe) must also import at load time only kernel32, ntdll, msvcrt and the core API
sets, and delay-load every other DLL. The stand-in program that imports a DLL of its own
(--foreign) must fail with that DLL's name, and as a restricted program also for loading it
at start. The system folder is Windows' own, or the system32 folder of a Wine prefix
(created when missing)."""

import argparse
import os
import pathlib
import subprocess
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))
import check_imports  # noqa: E402

OPTIONS = None
SYSTEM_DLLS = None


class Programs(unittest.TestCase):
    def test_programs_import_system_dlls_only(self):
        self.assertTrue(OPTIONS.programs)
        for program in OPTIONS.programs:
            with self.subTest(program=program):
                names = check_imports.imported_dlls(pathlib.Path(program).read_bytes())
                self.assertIn("kernel32.dll", [n.lower() for n in names])
                self.assertEqual(check_imports.program_problems(program, SYSTEM_DLLS), [])

    def test_restricted_programs_delay_load_all_but_the_load_time_few(self):
        if not OPTIONS.restricted:
            self.skipTest("no restricted program in this build")
        for program in OPTIONS.restricted:
            with self.subTest(program=program):
                load_time, delayed = check_imports.import_tables(
                    pathlib.Path(program).read_bytes())
                self.assertIn("kernel32.dll", [n.lower() for n in load_time])
                # Each of these programs calls into shell32 (the command line) at least, so
                # an empty delay-import directory means the delay imports went unseen.
                self.assertIn("shell32.dll", [n.lower() for n in delayed])
                self.assertEqual(
                    check_imports.program_problems(program, SYSTEM_DLLS, restricted=True), [])

    def test_a_dll_of_its_own_fails(self):
        if OPTIONS.foreign is None:
            self.skipTest("no stand-in in this build")
        self.assertEqual(check_imports.program_problems(OPTIONS.foreign, SYSTEM_DLLS),
                         ["quorle_planted.dll: not a DLL of the system folder"])
        self.assertEqual(
            check_imports.program_problems(OPTIONS.foreign, SYSTEM_DLLS, restricted=True),
            ["quorle_planted.dll: not a DLL of the system folder",
             "quorle_planted.dll: loaded before the library search is restricted; "
             "delay-load it"])


class Names(unittest.TestCase):
    def test_each_rule(self):
        system = {"kernel32.dll", "ole32.dll", "ucrtbase.dll"}
        cases = [
            ("KERNEL32.dll", []),
            ("ole32.dll", []),
            ("api-ms-win-core-synch-l1-2-0.dll", []),
            ("ext-ms-win-ntuser-window-l1-1-0.dll", []),
            ("api-ms-win-crt-runtime-l1-1-0.dll",
             ["api-ms-win-crt-runtime-l1-1-0.dll: the C runtime DLL"]),
            ("VCRUNTIME140.dll", ["VCRUNTIME140.dll: not a DLL of the system folder"]),
            ("MSVCP140.dll", ["MSVCP140.dll: not a DLL of the system folder"]),
            ("libcrypto-3-x64.dll", ["libcrypto-3-x64.dll: not a DLL of the system folder"]),
            ("cubeb.dll", ["cubeb.dll: not a DLL of the system folder"]),
        ]
        for name, problems in cases:
            with self.subTest(name):
                self.assertEqual(check_imports.name_problems([name], system), problems)

    def test_load_time_rule_of_restricted_programs(self):
        late = "loaded before the library search is restricted; delay-load it"
        cases = [
            ("KERNEL32.dll", []),
            ("ntdll.dll", []),
            ("msvcrt.dll", []),
            ("api-ms-win-core-synch-l1-2-0.dll", []),
            ("api-ms-win-security-base-l1-1-0.dll",
             ["api-ms-win-security-base-l1-1-0.dll: " + late]),
            ("ext-ms-win-ntuser-window-l1-1-0.dll",
             ["ext-ms-win-ntuser-window-l1-1-0.dll: " + late]),
            ("SHELL32.dll", ["SHELL32.dll: " + late]),
            ("cfgmgr32.dll", ["cfgmgr32.dll: " + late]),
            ("CRYPT32.dll", ["CRYPT32.dll: " + late]),
            ("kernelbase.dll", ["kernelbase.dll: " + late]),
        ]
        for name, problems in cases:
            with self.subTest(name):
                self.assertEqual(check_imports.load_time_problems([name]), problems)

    def test_not_a_program(self):
        self.assertEqual(check_imports.program_problems(__file__, set()), ["not a PE file"])


def system_folder(options):
    if options.system32:
        return options.system32
    prefix = pathlib.Path(options.wine_prefix or os.environ.get("WINEPREFIX") or
                          ROOT / "build" / "wineprefix")
    folder = prefix / "drive_c" / "windows" / "system32"
    if not folder.is_dir():
        env = dict(os.environ, WINEPREFIX=str(prefix))
        subprocess.run([str(ROOT / "scripts" / "wine-run"), "cmd", "/c", "exit", "0"],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False, timeout=300)
    return folder


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--programs", nargs="+", default=[])
    parser.add_argument("--restricted", nargs="+", default=[])
    parser.add_argument("--foreign")
    parser.add_argument("--system32")
    parser.add_argument("--wine-prefix")
    OPTIONS, rest = parser.parse_known_args()
    if not OPTIONS.system32 and os.name == "nt":
        OPTIONS.system32 = os.path.join(os.environ["SystemRoot"], "System32")
    SYSTEM_DLLS = check_imports.system_folder_dlls(system_folder(OPTIONS))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
