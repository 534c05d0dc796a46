"""Whole-binary tests of a capture run as far as this machine can take one: the process
checks (wrong parent, identity, ancestry) and the activation of the process-loopback client.
Natively on Linux the activation looks for a PulseAudio server and, as these tests name a
socket that does not exist, finds none; under Wine (through the Windows translator launcher)
the activation starts and Wine completes it with 0x80070002.
Every failure is one exact error line, no header line, nothing on standard output, status 1.
"""

import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time
import unittest

import quorle_e2e as e2e

HOST = None
LAUNCHER = None
IDENTITY_CHECK = None

IDENTITY_CHANGED = "selected process identity changed; refresh the process list"
NOT_CHILD = "excluded PID must be the helper's parent application"
INCLUDES_TRANSLATOR = "selected process tree includes the translator or belongs to it"
NOT_PRESENT = "selected process is no longer present"
LINUX_ACTIVATION = ("audio server connection (PulseAudio protocol): "
                    "Connection refused (0xA0500006)")
# No PulseAudio server for the native runs, whatever this machine runs.
NO_SERVER = dict(os.environ, PULSE_SERVER="unix:/nonexistent/quorle/native")
# Wine 8 completes the activation with ERROR_FILE_NOT_FOUND as an HRESULT.
WINE_ACTIVATION = ("process-loopback activation (requires supported Windows build): "
                   "File not found. (0x80070002)")


def activation_failure():
    return WINE_ACTIVATION if LAUNCHER else LINUX_ACTIVATION


def run_host(args):
    """Runs the host as the translator does: as its child, naming the parent's pid."""
    if LAUNCHER:
        return e2e.run_under_wine(LAUNCHER, HOST, ["--exclude-pids", "{PID}", *args],
                                  launcher_options=["--timeout-ms", "60000"])
    return e2e.run_native(HOST, ["--exclude-pids", str(os.getpid()), *args], env=NO_SERVER)


class UnrelatedProcess:
    """A process outside the translator's tree that runs until the test ends it."""

    def __enter__(self):
        if LAUNCHER:
            # cmd.exe reads its standard input until the pipe closes.
            self._tmp = tempfile.TemporaryDirectory()
            pid_file = pathlib.Path(self._tmp.name) / "pid"
            self._proc = subprocess.Popen(
                [str(e2e.WINE_RUN), LAUNCHER, "--pid-file", e2e.winpath(pid_file),
                 "--timeout-ms", "120000", "--", "C:\\windows\\system32\\cmd.exe"],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                env=e2e.wine_env())
            deadline = time.monotonic() + 60
            while not (pid_file.exists() and pid_file.read_text().strip().isdigit()):
                if time.monotonic() > deadline or self._proc.poll() is not None:
                    raise RuntimeError("the unrelated Windows process did not start")
                time.sleep(0.05)
            self.pid = int(pid_file.read_text())
        else:
            # The shell ends at once, so the sleeping process has no parent in this tree.
            out = subprocess.run(["sh", "-c", "sleep 120 >/dev/null 2>&1 & echo $!"],
                                 capture_output=True, check=True).stdout
            self.pid = int(out)
        return self

    def __exit__(self, *exc):
        if LAUNCHER:
            self._proc.stdin.close()
            self._proc.wait(timeout=60)
            self._tmp.cleanup()
        else:
            os.kill(self.pid, 9)

    def identity(self):
        """The executable and start time as the host reads them (identity_check reports a
        mismatch with the real values)."""
        args = [str(self.pid), "?", "1"]
        if LAUNCHER:
            command = [str(e2e.WINE_RUN), IDENTITY_CHECK, *args]
            env = e2e.wine_env()
        else:
            command = [IDENTITY_CHECK, *args]
            env = None
        out = subprocess.run(command, capture_output=True, env=env, timeout=60).stdout
        match = re.fullmatch(rb"mismatch exe=(.*) start=(\d+)\n", out)
        if not match:
            raise RuntimeError("identity_check: %r" % out)
        return match.group(1).decode(), int(match.group(2))


class CaptureRun(unittest.TestCase):
    def assert_fails(self, outcome, message):
        self.assertEqual(outcome.stderr, e2e.error_line(message))
        self.assertEqual(outcome.stdout, b"")
        self.assertEqual(outcome.status, 1)

    def test_system_capture_reaches_the_activation(self):
        self.assert_fails(run_host(["--target", "system"]), activation_failure())

    def test_excluded_pid_must_be_the_parent(self):
        outcome = (e2e.run_under_wine(LAUNCHER, HOST, ["--target", "system", "--exclude-pids",
                                                       "4294967295"],
                                      launcher_options=["--timeout-ms", "60000"])
                   if LAUNCHER else
                   e2e.run_native(HOST, ["--target", "system", "--exclude-pids", "1"]))
        self.assert_fails(outcome, NOT_CHILD)

    def test_process_identity(self):
        with UnrelatedProcess() as target:
            exe, start = target.identity()
            cases = [
                # The identity as listed passes every check; the activation is next.
                (exe, start, activation_failure()),
                # Only A-Z are folded.
                (exe.upper(), start, activation_failure()),
                (exe, start + 1, IDENTITY_CHANGED),
                (exe, start - 1, IDENTITY_CHANGED),
                (exe + "\\", start, IDENTITY_CHANGED),
            ]
            for expected_exe, expected_start, message in cases:
                with self.subTest(exe=expected_exe, start=expected_start):
                    outcome = run_host(["--target", "pid:%d" % target.pid, "--expected-exe",
                                        expected_exe, "--expected-start", str(expected_start)])
                    self.assert_fails(outcome, message)
            gone = target.pid
        if not LAUNCHER:
            # Wine reuses its small process ids quickly; only Linux can name a gone one.
            deadline = time.monotonic() + 30
            while pathlib.Path("/proc/%d" % gone).exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            outcome = run_host(["--target", "pid:%d" % gone, "--expected-exe", exe,
                                "--expected-start", str(start)])
            self.assert_fails(outcome, NOT_PRESENT)

    def test_translator_cannot_be_the_target(self):
        if LAUNCHER:
            self.skipTest("the launcher substitutes its pid only for a whole argument")
        outcome = run_host(["--target", "pid:%d" % os.getpid(), "--expected-exe", "x",
                            "--expected-start", "1"])
        self.assert_fails(outcome, INCLUDES_TRANSLATOR)


def main():
    global HOST, LAUNCHER, IDENTITY_CHECK
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--identity-check", required=True)
    parser.add_argument("--wine-launcher")
    options, rest = parser.parse_known_args()
    HOST = options.host
    LAUNCHER = options.wine_launcher
    IDENTITY_CHECK = options.identity_check
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
