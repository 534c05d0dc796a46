"""The capture run's console stop handler in a real process: a stop signal (Linux) or a
Ctrl+C console event (Windows under Wine, where SIGINT to the program's Unix process arrives
as CTRL_C_EVENT) only sets the console stop flag; the program then ends normally."""

import argparse
import signal
import subprocess
import sys
import unittest

import quorle_e2e as e2e

PROBE = None
UNDER_WINE = False


def start_probe():
    if UNDER_WINE:
        command = [str(e2e.WINE_RUN), PROBE]
        env = e2e.wine_env()
    else:
        command = [PROBE]
        env = None
    return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)


class ConsoleStop(unittest.TestCase):
    def check_signal(self, number):
        probe = start_probe()
        try:
            self.assertEqual(probe.stdout.readline(), b"ready\n")
            probe.send_signal(number)
            out, err = probe.communicate(timeout=60)
        finally:
            if probe.poll() is None:
                probe.kill()
                probe.wait()
        self.assertEqual(out, b"stopped\n")
        self.assertEqual(err, b"")
        self.assertEqual(probe.returncode, 0)

    def test_interrupt(self):
        self.check_signal(signal.SIGINT)

    def test_terminate_and_hang_up(self):
        if UNDER_WINE:
            self.skipTest("Windows has no such events; Wine only maps SIGINT to Ctrl+C")
        for number in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=number):
                self.check_signal(number)


def main():
    global PROBE, UNDER_WINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--wine", action="store_true")
    options, rest = parser.parse_known_args()
    PROBE = options.probe
    UNDER_WINE = options.wine
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
