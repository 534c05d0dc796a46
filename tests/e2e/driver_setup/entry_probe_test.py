"""Whole-program tests of the driver setup entry through its probe build (entry_probe.cpp),
natively or, with --wine-launcher, as the child of the Windows translator launcher under
Wine (which reads the real exit status, so 3010 stays 3010)."""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import quorle_e2e as e2e  # noqa: E402

PROBE = None
LAUNCHER = None
PLANTED = None
OBJDUMP = None
PLANTED_SYSTEM = []
LOAD_TIME_PROBE = None


def failure_line(message):
    return b"QUORLE_DRIVER_SETUP " + message.encode() + b"\n"


class EntryProbe(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="quorle-setup-probe-")
        self.addCleanup(tmp.cleanup)
        self.root = pathlib.Path(tmp.name)

    def install(self, folder, probe=None):
        probe = probe or PROBE
        folder.mkdir(parents=True, exist_ok=True)
        target = folder / pathlib.Path(probe).name
        shutil.copy2(probe, target)
        return target

    def run_probe(self, program, args, outcome, launcher_options=()):
        env = {"QUORLE_PROBE_OUTCOME": outcome}
        if LAUNCHER:
            return e2e.run_under_wine(LAUNCHER, program, args, launcher_options, env=env)
        return e2e.run_native(program, args, env={**os.environ, **env})

    def test_outcomes_become_exit_statuses(self):
        program = self.install(self.root / "app")
        for outcome, status in (("success", 0), ("restart", 3010)):
            with self.subTest(outcome):
                result = self.run_probe(program, [], outcome)
                # Natively an exit status has 8 bits: 3010 arrives as 3010 mod 256.
                self.assertEqual(result.status, status if LAUNCHER else status % 256)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.stderr, b"")

    def test_any_argument_is_refused(self):
        program = self.install(self.root / "app")
        for args in (["x"], [""], ["a b"], ['"'], ["", ""]):
            with self.subTest(args=args):
                result = self.run_probe(program, args, "success")
                self.assertEqual(result.stderr, failure_line("driver setup takes no arguments"))
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.status, 1)

    def test_driver_folder_beside_a_long_path(self):
        # Deep enough that the program's own path passes MAX_PATH (260) on Windows.
        deep = self.root / "app with spaces"
        for i in range(6):
            deep = deep / f"folder-{i}-of-a-path-longer-than-the-classic-windows-limit"
        program = self.install(deep)
        if LAUNCHER:
            expected = e2e.winpath(deep) + "\\drivers\\vbcable"
        else:
            expected = str(deep) + "/drivers/vbcable"
        self.assertGreater(len(expected), 260)
        if LAUNCHER:
            # CreateProcessW refuses a program path this long, so Wine starts it directly.
            proc = subprocess.run([str(e2e.WINE_RUN), str(program)], stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=120, check=False,
                                  env=e2e.wine_env({"QUORLE_PROBE_OUTCOME": "folder"}))
            result = e2e.Outcome(proc.stdout, proc.stderr, proc.returncode)
        else:
            result = self.run_probe(program, [], "folder")
        self.assertEqual(result.stderr, failure_line(expected))
        self.assertEqual(result.status, 1)

    def test_no_standard_error_keeps_the_status(self):
        program = self.install(self.root / "app")
        if LAUNCHER:
            result = self.run_probe(program, [], "folder", ["--no-stderr"])
            self.assertEqual(result.stderr, b"")
            self.assertEqual(result.status, 1)
        else:
            proc = subprocess.run([str(program)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  env={**os.environ, "QUORLE_PROBE_OUTCOME": "folder"},
                                  preexec_fn=lambda: os.close(2), check=False)
            self.assertEqual(proc.stdout, b"")
            self.assertEqual(proc.returncode, 1)

    def test_windowless(self):
        if not LAUNCHER:
            self.skipTest("the subsystem is a Windows property")
        # GUI subsystem: no console of its own, yet every case above reads its line from an
        # inherited standard error.
        headers = subprocess.run([OBJDUMP, "-p", PROBE], capture_output=True, check=True).stdout
        self.assertRegex(headers, rb"Subsystem\s+0+2\s")

    def test_planted_library_is_not_loaded(self):
        if not LAUNCHER:
            self.skipTest("the library search order is a Windows property")
        program = self.install(self.root / "app")
        shutil.copy2(PLANTED, self.root / "app" / "quorle_planted.dll")
        result = self.run_probe(program, [], "planted")
        # The library is loadable when asked for by its folder, so the plain load was
        # refused by the search order alone.
        self.assertEqual(result.stderr,
                         failure_line("default search: not loaded; application folder: loaded"))
        self.assertEqual(result.status, 1)

    def test_stand_ins_of_system_libraries_beside_the_probe_are_not_loaded(self):
        if not PLANTED_SYSTEM:
            self.skipTest("no stand-ins of system libraries in this build")
        # The probe delay-loads avrt, propsys, winmm, ksuser and cfgmgr32 and calls into each
        # after restricting the library search; its control imports them at load time. Each
        # stand-in leaves NAME.dll.loaded beside itself when something loads it.
        for name, probe, delayed in (("delay-loaded", PROBE, True),
                                     ("imported at load time", LOAD_TIME_PROBE, False)):
            with self.subTest(name):
                folder = self.root / name.replace(" ", "-")
                program = self.install(folder, probe)
                for library in PLANTED_SYSTEM:
                    shutil.copy2(library, folder)
                result = self.run_probe(program, [], "system")
                self.assertEqual((result.status, result.stderr), (0, b""))
                loaded = sorted(p.name.split(".")[0].lower() for p in folder.glob("*.loaded"))
                if delayed:
                    self.assertEqual(loaded, [])
                else:
                    # The planting itself works: Wine picks up at least the stand-in of avrt
                    # (measured: avrt, propsys and ksuser) in place of its own.
                    self.assertIn("avrt", loaded)


def main():
    global PROBE, LAUNCHER, PLANTED, OBJDUMP, PLANTED_SYSTEM, LOAD_TIME_PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--wine-launcher")
    parser.add_argument("--planted")
    parser.add_argument("--objdump")
    parser.add_argument("--planted-system", nargs="+", default=[])
    parser.add_argument("--load-time-probe")
    options, rest = parser.parse_known_args()
    PROBE, LAUNCHER = options.probe, options.wine_launcher
    PLANTED, OBJDUMP = options.planted, options.objdump
    PLANTED_SYSTEM, LOAD_TIME_PROBE = options.planted_system, options.load_time_probe
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
