"""Whole-program capture on real Windows, on a machine with an audio device: the audio host
captures one player's process tree (--target pid:<player>) while a second player sounds a
different tone beside it. This script is the translator: it starts the host as its child,
names itself with --exclude-pids and passes the player's identity as the application list
would show it. What was captured is judged from the PCM bytes as the Linux live tests judge
it: per 100 ms window, the target's tone at its level, the other player's tone absent.

    windows_tone_capture_test.py --host quorle_audio_host.exe --player wasapi_tone_player.exe"""

import argparse
import ctypes
import ctypes.wintypes as wintypes
import os
import pathlib
import signal
import subprocess
import sys
import threading
import unittest

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tools"
sys.path.insert(0, str(TOOLS))
import pcm_report  # noqa: E402

HOST = None
PLAYER = None
HEADER = (b'{"backend":"wasapi-process-loopback","channels":1,"event":"format",'
          b'"sampleFormat":"s16le","sampleRate":48000}\n')
WINDOW = 4800  # 100 ms: whole periods of 440 Hz and 1000 Hz
CAPTURE_SECONDS = 3
LEVEL = 0.4


def process_identity(pid):
    """The executable path and creation time (100-ns ticks since 1601) of a process, read
    as the audio host's application list reads them."""
    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    kernel32.OpenProcess.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
    kernel32.OpenProcess.restype = wintypes.HANDLE
    kernel32.QueryFullProcessImageNameW.argtypes = [
        wintypes.HANDLE, wintypes.DWORD, wintypes.LPWSTR, ctypes.POINTER(wintypes.DWORD)]
    kernel32.GetProcessTimes.argtypes = [wintypes.HANDLE] + [ctypes.POINTER(wintypes.FILETIME)] * 4
    kernel32.CloseHandle.argtypes = [wintypes.HANDLE]
    handle = kernel32.OpenProcess(0x00101000, False, pid)  # query limited + synchronize
    if not handle:
        raise OSError(ctypes.get_last_error(), "OpenProcess")
    try:
        size = wintypes.DWORD(32768)
        path = ctypes.create_unicode_buffer(size.value)
        if not kernel32.QueryFullProcessImageNameW(handle, 0, path, ctypes.byref(size)):
            raise OSError(ctypes.get_last_error(), "QueryFullProcessImageNameW")
        times = [wintypes.FILETIME() for _ in range(4)]
        if not kernel32.GetProcessTimes(handle, *[ctypes.byref(t) for t in times]):
            raise OSError(ctypes.get_last_error(), "GetProcessTimes")
        created = (times[0].dwHighDateTime << 32) | times[0].dwLowDateTime
        return path.value, created
    finally:
        kernel32.CloseHandle(handle)


# Starts a program and prints its process id, then exits: the program lives on with a parent
# that is gone, outside this script's (the translator's) process tree, as an application the
# user picked would be.
LAUNCHER = ("import subprocess, sys\n"
            "p = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL,"
            " stdout=subprocess.DEVNULL)\n"
            "print(p.pid, flush=True)\n")


def start_player(frequency, seconds):
    """Starts a player outside this process's tree; returns its process id."""
    launched = subprocess.run(
        [sys.executable, "-c", LAUNCHER, PLAYER, "--frequency", str(frequency),
         "--level", str(LEVEL), "--seconds", str(seconds)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, check=True, timeout=30)
    return int(launched.stdout)


def stop(pid):
    try:
        os.kill(pid, signal.SIGTERM)  # TerminateProcess
    except OSError:
        pass  # already ended


class WindowsToneCapture(unittest.TestCase):
    def test_captures_the_target_tree_only(self):
        target_pid = start_player(1000, CAPTURE_SECONDS + 4)
        other_pid = start_player(440, CAPTURE_SECONDS + 4)
        try:
            exe, created = process_identity(target_pid)
            host = subprocess.Popen(
                [HOST, "--target", "pid:%d" % target_pid, "--exclude-pids", str(os.getpid()),
                 "--expected-exe", exe, "--expected-start", str(created)],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            errors = []
            reader = threading.Thread(target=lambda: errors.append(host.stderr.read()))
            reader.start()
            wanted = CAPTURE_SECONDS * 48000 * 2
            pcm = bytearray()

            def read_pcm():
                while len(pcm) < wanted:
                    block = host.stdout.read(wanted - len(pcm))
                    if not block:
                        break
                    pcm.extend(block)

            pcm_reader = threading.Thread(target=read_pcm)
            pcm_reader.start()
            pcm_reader.join(timeout=CAPTURE_SECONDS + 30)
            if pcm_reader.is_alive():
                host.kill()
                pcm_reader.join()
            # A closed output ends the capture: exit status 0, no error line.
            host.stdout.close()
            status = host.wait(timeout=10)
            reader.join(timeout=10)
        finally:
            stop(target_pid)
            stop(other_pid)
        stderr = errors[0] if errors else b""
        self.assertEqual(status, 0, stderr)
        self.assertTrue(stderr.startswith(HEADER), stderr)
        self.assertNotIn(b'"event":"error"', stderr)
        self.assertEqual(len(pcm), wanted, "the capture ended early")

        samples = pcm_report.pcm_samples(bytes(pcm))
        first = next((i for i, s in enumerate(samples) if s != 0), len(samples))
        sounding = samples[first:]
        windows = [sounding[i:i + WINDOW] for i in range(0, len(sounding) - WINDOW + 1, WINDOW)]
        self.assertGreaterEqual(len(windows), 20, "less than 2 s of sound")
        # A sine of amplitude A has a Goertzel power of about A*A/4 (0.04 for 0.4) and an
        # RMS level of A/sqrt(2); a tone that is absent stays far below 1e-5.
        for n, window in enumerate(windows[:-1]):  # the last may hold the player's end
            with self.subTest(window=n):
                self.assertGreater(pcm_report.goertzel_power(window, 1000), 0.02)
                self.assertLess(pcm_report.goertzel_power(window, 440), 1e-5)
                self.assertAlmostEqual(pcm_report.rms(window), LEVEL / 2 ** 0.5,
                                       delta=0.3 * LEVEL / 2 ** 0.5)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    options, rest = parser.parse_known_args()
    HOST, PLAYER = options.host, options.player
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
