"""Whole-binary test of a reader that stops reading: the translator keeps the audio host's
standard output open but takes nothing more, while a tone plays. The host fills the pipe and
its worker waits in its write; SIGINT must still end the capture at once with exit status 0
and no error line. Run beside a sound server by its fixture (tests/fixtures/with-...).

    stalled_reader_test.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER"""

import argparse
import fcntl
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import live_support
from live_support import STAND_IN, stop
HOST = None
PLAYER = None

HEADER = (b'{"backend":"wasapi-process-loopback","channels":1,"event":"format",'
          b'"sampleFormat":"s16le","sampleRate":48000}\n')
DIAGNOSTICS = b"QUORLE_CAPTURE rate=48000 channels=2 accepted_frames="
F_GETPIPE_SZ = 1032
# Generous for the sanitizer presets; the time measured is printed.
STOP_LIMIT = 5.0


def start_player(*args):
    proc, pid, _ = live_support.start_player(PLAYER, *args)
    return proc, pid


def unread_bytes(fd):
    return int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)


def wait_for(condition, limit, what):
    end = time.monotonic() + limit
    while not condition():
        if time.monotonic() > end:
            raise AssertionError(what)
        time.sleep(0.01)


def wait_until_full(fd, limit=30):
    """The unread byte count once it has stayed the same for a second."""
    end = time.monotonic() + limit
    seen, since = -1, time.monotonic()
    while time.monotonic() < end:
        now, count = time.monotonic(), unread_bytes(fd)
        if count != seen:
            seen, since = count, now
        elif count > 0 and now - since >= 1.0:
            return count
        time.sleep(0.02)
    raise AssertionError("the host never filled the pipe (%d bytes)" % seen)


class StalledReader(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_sigint_ends_a_capture_whose_reader_takes_nothing(self):
        player, player_pid = start_player("--frequency", "440", "--level", "0.5",
                                          "--seconds", "60")
        self.addCleanup(stop, player)
        err_file = pathlib.Path(self.tmp.name) / "stderr"
        pid_file = pathlib.Path(self.tmp.name) / "host.pid"
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        capacity = fcntl.fcntl(read_end, F_GETPIPE_SZ)
        # The stand-in hands its standard output (this pipe) on to the host.
        translator = subprocess.Popen(
            [sys.executable, str(STAND_IN), "--host", HOST, "--target-pid", str(player_pid),
             "--stderr", str(err_file), "--pid-file", str(pid_file)],
            stdin=subprocess.DEVNULL, stdout=write_end, stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.addCleanup(stop, translator)
        wait_for(lambda: pid_file.exists() and pid_file.read_text().endswith("\n"), 10,
                 "the host did not start")
        host = int(pid_file.read_text())

        # Blocks of 1920 bytes fill the pipe until no further block fits (the tone brings
        # 96000 bytes a second): then the worker waits in its write while the capture goes
        # on and drops what the ring cannot hold.
        full = wait_until_full(read_end)
        self.assertGreater(full, capacity // 2)
        self.assertEqual(full % 1920, 0)
        time.sleep(1.5)
        self.assertEqual(unread_bytes(read_end), full, "the pipe was not full")

        sent = time.monotonic()
        os.kill(host, signal.SIGINT)
        try:
            status = translator.wait(timeout=STOP_LIMIT)
        except subprocess.TimeoutExpired:
            os.kill(host, signal.SIGKILL)
            translator.wait()
            self.fail("no exit %.1f s after SIGINT while the reader takes nothing" % STOP_LIMIT)
        elapsed = time.monotonic() - sent
        print("stalled reader: host ended %.0f ms after SIGINT" % (elapsed * 1000),
              file=sys.stderr)
        self.assertEqual(status, 0)
        err = err_file.read_bytes()
        self.assertTrue(err.startswith(HEADER), err)
        lines = err[len(HEADER):].splitlines(keepends=True)
        # No error line; while the write waited, the drops were still reported once a second.
        self.assertTrue(all(line.startswith(DIAGNOSTICS) for line in lines), lines)
        self.assertGreaterEqual(len(lines), 1, "no drop report while the write waited")
        self.assertNotIn(b" dropped_frames=0 ", lines[-1])
        self.assertEqual(unread_bytes(read_end), full, "written after the stop")


def main():
    global HOST, PLAYER
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    args, rest = parser.parse_known_args()
    HOST, PLAYER = args.host, args.player
    return live_support.run_cases(PLAYER, rest)


if __name__ == "__main__":
    sys.exit(main())
