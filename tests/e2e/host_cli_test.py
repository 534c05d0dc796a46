"""Whole-binary tests of the audio host's command line: every message byte for byte on
standard error, nothing on standard output, exit status 1. Runs the native program, or the
Windows program under Wine with --wine LAUNCHER."""

import argparse
import sys
import unittest

import quorle_e2e as e2e

HOST = None
LAUNCHER = None

PAIRS = "arguments must be flag/value pairs"
UNKNOWN = "unknown or duplicate argument"
EX_MISSING = "one excluded parent PID is required"
EX_INVALID = "exactly one positive excluded PID is required"
TARGET_MISSING = "target is required"
TARGET = "target must be system or pid:N"
IDENTITY = "process identity is not valid for system capture"
EXE = "expected executable is required"
START = "expected process creation time is required"

CASES = [
    ([], EX_MISSING),
    (["--help"], PAIRS),
    ([""], PAIRS),
    (["--list", "x"], UNKNOWN),
    (["--list", "a", "b"], PAIRS),
    (["--target", "system", "--target", "system", "--exclude-pids", "4000"], UNKNOWN),
    (["--target", "system", "--exclude-pids", "0"], EX_INVALID),
    (["--target", "system", "--exclude-pids", "4294967296"], EX_INVALID),
    (["--target", "system", "--exclude-pids", "4000,5000"], EX_INVALID),
    (["--target", "system", "--exclude-pids", ""], EX_INVALID),
    (["--target", "bogus"], EX_MISSING),
    (["--exclude-pids", "4000"], TARGET_MISSING),
    (["--target", "system", "--exclude-pids", "4000", "--expected-exe", ""], IDENTITY),
    (["--target", "System", "--exclude-pids", "4000"], TARGET),
    (["--target", "pid: 4", "--exclude-pids", "4000"], TARGET),
    (["--target", "pid:12", "--exclude-pids", "4000", "--expected-exe", ""], EXE),
    # Values with spaces, quotes, backslashes and non-ASCII characters pass through intact.
    (["--target", "pid:12", "--exclude-pids", "+4000", "--expected-exe",
      'C:\\Program Files\\"Tüv" Ünïcode\\\\', "--expected-start", "0"], START),
    (["--target", "pid:12", "--exclude-pids", "4000", "--expected-exe", "C:\\A.exe",
      "--expected-start", "18446744073709551616"], START),
]


def run(args):
    if LAUNCHER:
        return e2e.run_under_wine(LAUNCHER, HOST, args)
    return e2e.run_native(HOST, args)


class CommandLine(unittest.TestCase):
    def test_every_message_is_byte_exact(self):
        for args, message in CASES:
            with self.subTest(args=args):
                outcome = run(args)
                self.assertEqual(outcome.stderr, e2e.error_line(message))
                self.assertEqual(outcome.stdout, b"")
                self.assertEqual(outcome.status, 1)

    def test_invalid_utf8_argument_is_taken_lossily(self):
        if LAUNCHER:
            self.skipTest("Windows arguments are UTF-16; no invalid bytes can reach them")
        outcome = e2e.run_native(HOST, [b"--target", b"pid:12", b"--exclude-pids", b"4000",
                                        b"--expected-exe", b"C:\\\xff.exe"])
        self.assertEqual(outcome.stderr, e2e.error_line(START))
        self.assertEqual(outcome.status, 1)


def main():
    global HOST, LAUNCHER
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--wine-launcher")
    options, rest = parser.parse_known_args()
    HOST = options.host
    LAUNCHER = options.wine_launcher
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
