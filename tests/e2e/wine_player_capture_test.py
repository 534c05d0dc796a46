"""The Windows tone player (tests/tools/wasapi_tone_player, WASAPI shared mode) under Wine,
heard by the Linux audio host's system capture. Wine's audio driver plays into the private
PulseAudio daemon that tests/fixtures/with-pulseaudio runs this file beside (a sink input
owned by the wine64 process), so the capture finds the player's tone at its level. The
translator is tests/tools/stand_in_translator.py, beside this script and the player.

    wine_player_capture_test.py --host QUORLE_AUDIO_HOST (Linux) --player wasapi_tone_player.exe

Wine starts slowly on a busy machine and its player may underrun there (short gaps), so the
tone is judged per 100 ms window and only enough whole windows are required."""

import argparse
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = pathlib.Path(__file__).resolve().parent
TOOLS = HERE.parent / "tools"
sys.path.insert(0, str(TOOLS))
sys.path.insert(0, str(HERE))
import pcm_report  # noqa: E402
import quorle_e2e  # noqa: E402

STAND_IN = TOOLS / "stand_in_translator.py"
HOST = None
PLAYER = None
HEADER = (b'{"backend":"wasapi-process-loopback","channels":1,"event":"format",'
          b'"sampleFormat":"s16le","sampleRate":48000}\n')
LEVEL = 0.4
WINDOW = 4800  # 100 ms, 100 periods of 1000 Hz


def wait_for_pid(pid_file, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        text = pid_file.read_text() if pid_file.exists() else ""
        if text.endswith("\n"):
            return int(text)
        time.sleep(0.01)
    raise AssertionError("the host did not start")


class WinePlayerCapture(unittest.TestCase):
    def test_system_capture_hears_the_wine_player(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = pathlib.Path(tmp) / "capture.pcm"
            err = pathlib.Path(tmp) / "stderr"
            pid_file = pathlib.Path(tmp) / "host.pid"
            # The translator is a process of its own: a system capture leaves out the
            # translator's tree, which this script and its player must not be part of.
            translator = subprocess.Popen(
                [sys.executable, str(STAND_IN), "--host", HOST, "--system", "--out", str(out),
                 "--stderr", str(err), "--pid-file", str(pid_file)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                host_pid = wait_for_pid(pid_file)
                player = subprocess.run(
                    [str(quorle_e2e.WINE_RUN), PLAYER, "--frequency", "1000",
                     "--level", str(LEVEL), "--seconds", "3"],
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    env=quorle_e2e.wine_env(), timeout=240, check=False)
                time.sleep(0.5)  # the last packets on their way
                os.kill(host_pid, signal.SIGINT)  # a console stop
                status = translator.wait(timeout=30)
            finally:
                if translator.poll() is None:
                    translator.kill()
                    translator.wait()
            stderr = err.read_bytes() if err.exists() else b""
            samples = pcm_report.read_pcm(str(out))

        self.assertEqual(player.returncode, 0, player.stderr)
        self.assertTrue(player.stdout.startswith(b"pid "), player.stdout)
        self.assertEqual(status, 0, stderr)
        self.assertTrue(stderr.startswith(HEADER), stderr)

        first = next((i for i, s in enumerate(samples) if s != 0), len(samples))
        last = next((i for i in range(len(samples) - 1, -1, -1) if samples[i] != 0), -1)
        sounding = samples[first:last + 1]
        self.assertGreater(len(sounding), WINDOW, "nothing of the player was captured")
        self.assertAlmostEqual(pcm_report.main_frequency(sounding), 1000, delta=2)
        # Whole windows at the tone and its level: Goertzel power A*A/4, RMS A/sqrt(2).
        windows = [sounding[i:i + WINDOW] for i in range(0, len(sounding) - WINDOW + 1, WINDOW)]
        exact = [w for w in windows
                 if abs(pcm_report.goertzel_power(w, 1000) - LEVEL * LEVEL / 4) < 0.002
                 and abs(pcm_report.rms(w) - LEVEL / 2 ** 0.5) < 0.003]
        self.assertGreaterEqual(len(exact), 5, "%d of %d windows at the tone and its level"
                                % (len(exact), len(windows)))
        peak = max(abs(s) for s in sounding) / 32767
        self.assertAlmostEqual(peak, LEVEL, delta=0.005)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    options, rest = parser.parse_known_args()
    HOST, PLAYER = options.host, options.player
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
