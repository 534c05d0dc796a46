"""Whole-program tests of quorle_driver_setup, copied into a temporary application folder as
the translator's installation holds it: exact bytes on standard error, nothing on standard
output, exit status. The synthetic build carries synthetic_manifest.json (four small files)
so that a run can pass the integrity check and reach cable detection.

The same table runs against the native program and, with --wine-launcher, against the
Windows program under Wine as the child of the translator launcher (which reads the real
exit status). Under Wine a third build, whose manifest covers the test cable package (one
INF of a made-up class), installs a device through Wine's device installer."""

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
LAUNCHER = None
# The native program on Windows itself (not under Wine).
NATIVE_WINDOWS = sys.platform == "win32"
CABLE_PROGRAM = None
CABLE_PACKAGE = None
CABLE_DEVICES = None
PLANTED_SYSTEM = []

BACKEND_LINE = b"QUORLE_AUDIO backend=wasapi binding=0.38.0\n"
NOT_HEALTHY = ("Existing VB-CABLE device is not healthy; check Device Manager or restart "
               "Windows. No driver was replaced.")

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

    def run_program(self, program, args, **options):
        if LAUNCHER:
            return e2e.run_under_wine(LAUNCHER, program, args, **options)
        return e2e.run_native(program, args, **options)

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
                self.assert_fails_with(self.run_program(program, args),
                                       "driver setup takes no arguments")

    def test_missing_driver_folder_names_the_first_file(self):
        program = self.install(SHIPPED)
        self.assert_fails_with(self.run_program(program, []),
                               "missing bundled driver file VBCABLE_ControlPanel.exe")

    def test_shipped_manifest_rejects_a_folder_or_a_wrong_file(self):
        program = self.install(SHIPPED)
        first = self.drivers / "VBCABLE_ControlPanel.exe"
        first.mkdir(parents=True)
        self.assert_fails_with(self.run_program(program, []),
                               "missing bundled driver file VBCABLE_ControlPanel.exe")
        first.rmdir()
        first.write_bytes(b"not the vendor file")
        self.assert_fails_with(self.run_program(program, []),
                               "bundled driver integrity check failed: VBCABLE_ControlPanel.exe")

    @unittest.skipIf(NATIVE_WINDOWS, "the machine's own device tree decides how far it goes")
    def test_intact_package_reaches_detection(self):
        program = self.install(SYNTHETIC)
        self.write_package()
        (self.drivers / "unlisted.sys").write_bytes(b"extra")
        (self.drivers / "sub").mkdir()
        (self.drivers / "sub" / "beta.sys").write_bytes(b"other")
        # Stand-ins of system DLLs beside the program (Windows only): every DLL but kernel32
        # and msvcrt is delay-loaded after the library search is restricted, so none is
        # picked up. A stand-in that is loaded leaves NAME.dll.loaded beside itself.
        for library in PLANTED_SYSTEM:
            shutil.copy2(library, self.app)
        outcome = self.run_program(program, [])
        self.assertEqual(sorted(p.name for p in self.app.glob("*.loaded")), [])
        if LAUNCHER:
            # Under Wine the device tree answers (with no device), the audio backend opens
            # on the private PulseAudio daemon and lists its endpoints, no cable is found, and
            # installation reads the INF, which this package does not hold.
            self.assertEqual(outcome.stderr, BACKEND_LINE + failure_line(
                "read signed INF: Windows error 2"))
            self.assertEqual((outcome.stdout, outcome.status), (b"", 1))
        else:
            # Without a Windows device tree detection fails before the audio backend is
            # asked (no backend line), and nothing is installed.
            self.assert_fails_with(outcome, "Cannot enumerate Windows audio driver identities")

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
            ("a folder in a file's place", lambda: [(self.drivers / "empty.cat").unlink(),
                                                    (self.drivers / "empty.cat").mkdir()],
             "missing bundled driver file empty.cat"),
        ]
        if not LAUNCHER and hasattr(os, "mkfifo"):
            # A Windows file system has no FIFO.
            cases.append(("a FIFO in a file's place",
                          lambda: [(self.drivers / "empty.cat").unlink(),
                                   os.mkfifo(self.drivers / "empty.cat")],
                          "missing bundled driver file empty.cat"))
        for label, damage, message in cases:
            with self.subTest(label):
                shutil.rmtree(self.drivers, ignore_errors=True)
                self.write_package()
                damage()
                self.assert_fails_with(self.run_program(program, [], timeout=60), message)

    def test_digest_library_configuration_is_never_read(self):
        """The program runs elevated: a digest library configuration named by the user's
        environment must not load a module into it, and must not change the verdict."""
        if LAUNCHER:
            self.skipTest("no openssl command under Wine for the control run")
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

    def test_closed_standard_error_keeps_the_status(self):
        program = self.install(SHIPPED)
        if LAUNCHER:
            outcome = e2e.run_under_wine(LAUNCHER, program, ["x"], ["--no-stderr"])
            self.assertEqual((outcome.stdout, outcome.stderr, outcome.status), (b"", b"", 1))
            return
        if NATIVE_WINDOWS:
            self.skipTest("a child process without standard error needs POSIX here")
        proc = subprocess.run([str(program), "x"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              check=False,
                              preexec_fn=lambda: os.close(2))
        self.assertEqual(proc.stdout, b"")
        self.assertEqual(proc.returncode, 1)


class CableInstallUnderWine(unittest.TestCase):
    """The program with the test cable package under Wine: the first run installs the
    device, the second judges it. Wine's device tree (cfgmgr32) answers without any device,
    so detection never sees the cable and each run goes on to the installer, which finds the
    device in its class set and reads its node status, which Wine also answers without
    writing it: the device counts as not started."""

    def setUp(self):
        if not LAUNCHER:
            self.skipTest("installs a device through the Windows device installer")
        tmp = tempfile.TemporaryDirectory(prefix="quorle-setup-cable-")
        self.addCleanup(tmp.cleanup)
        self.app = pathlib.Path(tmp.name) / "Quorle"
        drivers = self.app / "drivers" / "vbcable"
        drivers.mkdir(parents=True)
        self.inf = drivers / "vbMmeCable64_win10.inf"
        shutil.copy2(pathlib.Path(CABLE_PACKAGE) / self.inf.name, self.inf)
        self.program = self.app / "quorle_driver_setup.exe"
        shutil.copy2(CABLE_PROGRAM, self.program)
        self.clean_up()  # what an interrupted earlier run may have left
        self.addCleanup(self.clean_up)
        self.assertEqual(self.devices(), [])

    def cable_devices(self, action):
        proc = subprocess.run([str(e2e.WINE_RUN), str(CABLE_DEVICES), e2e.winpath(self.inf),
                               action], stdin=subprocess.DEVNULL, capture_output=True,
                              env=e2e.wine_env(), timeout=120, check=False)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return proc.stdout.decode().splitlines()

    def devices(self):
        return self.cable_devices("list")

    def system_inf_copies(self):
        content = self.inf.read_bytes()
        folder = pathlib.Path(e2e.wine_env()["WINEPREFIX"]) / "drive_c" / "windows" / "inf"
        return [p for p in folder.glob("*.inf") if p.read_bytes() == content]

    def clean_up(self):
        self.cable_devices("remove")
        for copy in self.system_inf_copies():
            copy.unlink()
            copy.with_suffix(".pnf").unlink(missing_ok=True)

    def test_first_run_installs_and_second_run_judges_the_device(self):
        rows = [
            # The device is created, registered and the INF installed on it; Wine's driver
            # update asks for no restart.
            ("first run, no cable", BACKEND_LINE, 0),
            # The existing device is found and judged, nothing is created.
            ("second run, cable device present", BACKEND_LINE + failure_line(NOT_HEALTHY), 1),
        ]
        for label, stderr, status in rows:
            with self.subTest(label):
                outcome = e2e.run_under_wine(LAUNCHER, self.program, [])
                self.assertEqual(outcome.stderr, stderr)
                self.assertEqual(outcome.stdout, b"")
                self.assertEqual(outcome.status, status)
                # One device, with its driver; its node status call succeeds without writing
                # its outputs (no DN_STARTED bit), the reason for the second run's verdict.
                self.assertEqual(self.devices(),
                                 ["device driver=1 status_call=0 status=0 problem=0"])
                self.assertEqual(len(self.system_inf_copies()), 1)


def main():
    global SHIPPED, SYNTHETIC, MARKER_PROVIDER, CONFIG_CONTROL, LAUNCHER
    global CABLE_PROGRAM, CABLE_PACKAGE, CABLE_DEVICES, PLANTED_SYSTEM
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--synthetic", required=True)
    parser.add_argument("--marker-provider")
    parser.add_argument("--config-control")
    parser.add_argument("--wine-launcher")
    parser.add_argument("--cable-package-program")
    parser.add_argument("--cable-package")
    parser.add_argument("--cable-devices")
    parser.add_argument("--planted-system", nargs="*", default=[])
    options, rest = parser.parse_known_args()
    SHIPPED = options.program
    SYNTHETIC = options.synthetic
    MARKER_PROVIDER = options.marker_provider
    CONFIG_CONTROL = options.config_control
    LAUNCHER = options.wine_launcher
    CABLE_PROGRAM = options.cable_package_program
    CABLE_PACKAGE = options.cable_package
    CABLE_DEVICES = options.cable_devices
    PLANTED_SYSTEM = options.planted_system
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
