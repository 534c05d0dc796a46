"""Whole-program tests of quorle_driver_setup, copied into a temporary application folder as
the translator's installation holds it: exact bytes on standard error, nothing on standard
output, exit status. The synthetic build carries synthetic_manifest.json (four small files)
so that a run can pass the integrity check and reach cable detection."""

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

SHIPPED = None
SYNTHETIC = None
MARKER_PROVIDER = None
CONFIG_CONTROL = None
WINDOWS = sys.platform == "win32"

SYNTHETIC_FILES = {
    "Alpha.inf": b"Signature=synthetic\r\n",
    "beta.sys": b"synthetic driver bytes\n",
    "empty.cat": b"",
    "readme.txt": b"synthetic package\n",
}


def failure_line(message):
    return b"QUORLE_DRIVER_SETUP " + message.encode() + b"\n"


class DriverSetupProgram(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="quorle-setup-e2e-")
        self.addCleanup(tmp.cleanup)
        # A folder path with a space and non-ASCII letters in it.
        self.app = pathlib.Path(tmp.name) / "Quorle Café"
        self.drivers = self.app / "drivers" / "vbcable"
        self.app.mkdir()

    def install(self, program):
        target = self.app / ("quorle_driver_setup" + pathlib.Path(program).suffix)
        shutil.copy2(program, target)
        return target

    def write_package(self):
        self.drivers.mkdir(parents=True, exist_ok=True)
        for name, content in SYNTHETIC_FILES.items():
            (self.drivers / name).write_bytes(content)

    def assert_fails_with(self, outcome, message):
        self.assertEqual(outcome.stderr, failure_line(message))
        self.assertEqual(outcome.stdout, b"")
        self.assertEqual(outcome.status, 1)

    def test_any_argument_is_refused(self):
        program = self.install(SHIPPED)
        for args in (["x"], [""], ["--help"], ["a b"], ["", ""]):
            with self.subTest(args=args):
                self.assert_fails_with(e2e.run_native(program, args),
                                       "driver setup takes no arguments")

    def test_missing_driver_folder_names_the_first_file(self):
        program = self.install(SHIPPED)
        self.assert_fails_with(e2e.run_native(program, []),
                               "missing bundled driver file VBCABLE_ControlPanel.exe")

    def test_shipped_manifest_rejects_a_folder_or_a_wrong_file(self):
        program = self.install(SHIPPED)
        first = self.drivers / "VBCABLE_ControlPanel.exe"
        first.mkdir(parents=True)
        self.assert_fails_with(e2e.run_native(program, []),
                               "missing bundled driver file VBCABLE_ControlPanel.exe")
        first.rmdir()
        first.write_bytes(b"not the vendor file")
        self.assert_fails_with(e2e.run_native(program, []),
                               "bundled driver integrity check failed: VBCABLE_ControlPanel.exe")

    @unittest.skipIf(WINDOWS, "Windows has a device tree: detection goes on from there")
    def test_intact_package_reaches_detection_which_finds_no_device_tree(self):
        program = self.install(SYNTHETIC)
        self.write_package()
        (self.drivers / "unlisted.sys").write_bytes(b"extra")
        (self.drivers / "sub").mkdir()
        (self.drivers / "sub" / "beta.sys").write_bytes(b"other")
        # Past the integrity check, detection reads the device tree first; without a Windows
        # one it fails before the audio backend is asked (no backend line), and nothing is
        # installed.
        self.assert_fails_with(e2e.run_native(program, []),
                               "Cannot enumerate Windows audio driver identities")

    def test_damaged_package(self):
        program = self.install(SYNTHETIC)
        cases = [
            ("one changed byte", lambda: (self.drivers / "beta.sys").write_bytes(
                b"synthetic driver bytez\n"), "bundled driver integrity check failed: beta.sys"),
            ("emptied file", lambda: (self.drivers / "beta.sys").write_bytes(b""),
             "bundled driver integrity check failed: beta.sys"),
            ("two missing files", lambda: [(self.drivers / n).unlink()
                                           for n in ("readme.txt", "Alpha.inf")],
             "missing bundled driver file Alpha.inf"),
            ("a FIFO in a file's place", lambda: [(self.drivers / "empty.cat").unlink(),
                                                  os.mkfifo(self.drivers / "empty.cat")],
             "missing bundled driver file empty.cat"),
        ]
        for label, damage, message in cases:
            if label == "a FIFO in a file's place" and not hasattr(os, "mkfifo"):
                continue
            with self.subTest(label):
                shutil.rmtree(self.drivers, ignore_errors=True)
                self.write_package()
                damage()
                self.assert_fails_with(e2e.run_native(program, [], timeout=20), message)

    def test_digest_library_configuration_is_never_read(self):
        """The program runs elevated: a digest library configuration named by the user's
        environment must not load a module into it, and must not change the verdict."""
        work = pathlib.Path(tempfile.mkdtemp(prefix="quorle-conf-", dir=self.app.parent))
        marker = work / "marker"
        config = work / "openssl.cnf"
        # A backslash escapes the next character in the configuration's values: a Windows
        # path keeps its separators only doubled.
        module = str(MARKER_PROVIDER).replace("\\", "\\\\")
        config.write_text(
            "openssl_conf = openssl_init\n"
            "[openssl_init]\n"
            "providers = provider_sect\n"
            "[provider_sect]\n"
            "marker = marker_sect\n"
            "default = default_sect\n"
            "[marker_sect]\n"
            f"module = {module}\n"
            "activate = 1\n"
            "[default_sect]\n"
            "activate = 1\n")
        hostile = dict(os.environ, OPENSSL_CONF=str(config),
                       QUORLE_TEST_PROVIDER_MARKER=str(marker))

        # The configuration is live: a program with the same digest library that reads it
        # loads the module. A library built without module support loads none at all, named
        # by a configuration or not: then there is nothing a configuration could load.
        control = e2e.run_native(CONFIG_CONTROL, [], env=hostile)
        self.assertEqual(control.status, 0, control.stderr)
        loads_modules = True
        if not marker.exists():
            by_path = e2e.run_native(CONFIG_CONTROL, [MARKER_PROVIDER], env=hostile)
            loads_modules = by_path.status == 0
            self.assertFalse(loads_modules, "the configuration did not load the marker module, "
                             "which the library loads by its path")
        marker.unlink(missing_ok=True)

        self.write_package()
        cases = [
            ("intact package", SYNTHETIC, lambda: None),
            ("changed file", SYNTHETIC,
             lambda: (self.drivers / "beta.sys").write_bytes(b"changed")),
            ("shipped manifest, one file in place", SHIPPED,
             lambda: (self.drivers / "VBCABLE_ControlPanel.exe").write_bytes(b"x")),
        ]
        for label, build, damage in cases:
            with self.subTest(label):
                shutil.rmtree(self.drivers, ignore_errors=True)
                self.write_package()
                damage()
                program = self.install(build)
                plain = e2e.run_native(program, [])
                with_config = e2e.run_native(program, [], env=hostile)
                self.assertFalse(marker.exists(), "the program loaded the configured module")
                self.assertEqual(with_config, plain)
                self.assertEqual(with_config.status, 1)
        if not loads_modules:
            self.skipTest("the program's verdict is unchanged, but this digest library cannot "
                          "load provider modules at all, so no configuration could load one")

    @unittest.skipIf(WINDOWS, "a child process without standard error needs POSIX")
    def test_closed_standard_error_keeps_the_status(self):
        program = self.install(SHIPPED)
        proc = subprocess.run([str(program), "x"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              check=False,
                              preexec_fn=lambda: os.close(2))
        self.assertEqual(proc.stdout, b"")
        self.assertEqual(proc.returncode, 1)


def main():
    global SHIPPED, SYNTHETIC, MARKER_PROVIDER, CONFIG_CONTROL
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--synthetic", required=True)
    parser.add_argument("--marker-provider", required=True)
    parser.add_argument("--config-control", required=True)
    options, rest = parser.parse_known_args()
    SHIPPED = options.program
    SYNTHETIC = options.synthetic
    MARKER_PROVIDER = options.marker_provider
    CONFIG_CONTROL = options.config_control
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
