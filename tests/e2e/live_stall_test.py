"""Whole-binary test of a stalled audio host: the host is stopped (SIGSTOP, then SIGCONT)
partway through a played signal, for a time from a short scheduling hiccup to much more than
the capture's grace for late data, while parec records the same sink input's monitor. What
the host then writes is judged against what the server delivered (parec's record): after a
short stall it is the same sample for sample; after a long one it may differ only where the
host reported it (a discontinuity, or frames the hand-off ring dropped). Run beside a sound
server by its fixture (tests/fixtures/with-...).

    live_stall_test.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER"""

import os
import pathlib
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import live_support
from live_support import STAND_IN, pcm_report, stop
HOST = None
PLAYER = None
PIPEWIRE = False  # the server is PipeWire's (pipewire-pulse)

# Seconds of silence before the signal, so that every tap is attached (the player connects
# 1.5 s after it starts, once a busy machine has surely started the capture).
LEAD_IN = 1.0
SIGNAL = 2.0   # seconds of signal
TAIL = 1.5  # seconds of silence after it
STALL_AT = 0.8  # seconds into the signal
# Where in the signal (samples) a departure the stall caused lies: the stall's start is only
# known to within the player's and the server's start-up.
STALL_WINDOW = (int((STALL_AT - 0.25) * 48000), int((STALL_AT + 0.5) * 48000))
# Stall lengths (ms) and whether the host's output must equal the server's record. A stall only
# delays the capture: the server keeps what the host did not read, and once the host runs
# again each piece it reads produces the packets that came due meanwhile, so its own queues
# never hold the stall's length. Beyond 320 ms the ticks due exceed the packets the schedule
# keeps, and the oldest are skipped with a discontinuity.
STALLS = ((30, True), (60, True), (100, True), (200, True), (400, False))


def played_signal():
    rng = random.Random(7)
    return [struct.unpack("<f", struct.pack("<f", rng.uniform(-0.9, 0.9)))[0]
            for _ in range(int(2 * 48000 * SIGNAL))]


class StalledHost(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def capture_with_stall(self, stereo, stall_ms):
        """Plays `stereo`, captures it and stops the host for `stall_ms` partway; returns
        (host samples, parec samples, host standard error)."""
        tmp = pathlib.Path(self.tmp.name)
        path = tmp / ("played%d.f32" % stall_ms)
        # The tail outlasts the diagnostics line's second: the counters printed last include
        # every flag of the signal.
        tail = [0.0] * int(2 * 48000 * TAIL)
        path.write_bytes(struct.pack("<%df" % (len(stereo) + len(tail)), *stereo, *tail))
        player, pid, _ = live_support.start_player(
            PLAYER, "--file", str(path), "--lead-in", str(LEAD_IN), "--latency-ms", "250",
            "--delay", "1.5")
        self.addCleanup(stop, player)
        out, err, pid_file = tmp / "capture.pcm", tmp / "stderr", tmp / "host.pid"
        for f in (out, err, pid_file):
            f.unlink(missing_ok=True)
        capture = subprocess.Popen(
            [sys.executable, str(STAND_IN), "--host", HOST, "--target-pid", str(pid),
             "--out", str(out), "--stderr", str(err), "--pid-file", str(pid_file)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=dict(os.environ, QUORLE_AUDIO_DIAGNOSTICS="1"))
        self.addCleanup(stop, capture)
        sink_input = live_support.sink_input_of(pid)
        connected = time.monotonic()
        record = live_support.ServerRecord(str(tmp / "parec.f32"), sink_input=sink_input)
        try:
            while not (pid_file.exists() and pid_file.read_text().endswith("\n")):
                time.sleep(0.01)
            host = int(pid_file.read_text())
            time.sleep(max(0.0, connected + LEAD_IN + STALL_AT - time.monotonic()))
            os.kill(host, signal.SIGSTOP)
            time.sleep(stall_ms / 1000.0)
            os.kill(host, signal.SIGCONT)
            status = capture.wait(timeout=60)
        finally:
            server = record.stop()
        self.assertEqual(status, 1)  # the player ended: "selected process exited"
        return pcm_report.read_pcm(str(out)), server, err.read_bytes()

    def test_a_stall_of_the_host_loses_nothing_unreported(self):
        stereo = played_signal()
        expected = pcm_report.downmix_s16(stereo)
        server_name = "PipeWire" if PIPEWIRE else "PulseAudio"
        for stall_ms, exact in STALLS:
            with self.subTest(stall_ms=stall_ms):
                host, server, err = self.capture_with_stall(stereo, stall_ms)
                delivered = live_support.signal_part(server, expected)
                self.assertIsNotNone(delivered, "parec lacks the signal's start or end")
                if not PIPEWIRE:
                    # PulseAudio delivers the played samples as they are.
                    self.assertEqual(delivered, expected, "parec departs from the played file")
                found = live_support.departures(host, delivered)
                counters = live_support.diagnostics(err)
                load = os.getloadavg()[0]
                print("stall %d ms (%s, load %.2f): %s; discontinuities=%s dropped_frames=%s"
                      % (stall_ms, server_name, load,
                         "equal to parec" if found == [] else "departures (at, missing, "
                         "inserted) %s" % found, counters.get("discontinuities"),
                         counters.get("dropped_frames")), file=sys.stderr)
                self.assertIsNotNone(found, "the signal's start is not in the capture")
                self.assertTrue(counters, "no diagnostics line: %r" % err[-400:])
                if counters["dropped_frames"] == 0:
                    # Every place where the capture leaves what the server delivered is a
                    # packet flagged as a discontinuity.
                    self.assertLessEqual(len(found), counters["discontinuities"], found)
                if exact:
                    # The stall changes nothing. (Elsewhere a server that delivers later than
                    # the grace for late data, as PipeWire's graph does when a loaded machine
                    # stalls it for 100 ms, leaves a flagged gap, checked above.)
                    near = [d for d in found if STALL_WINDOW[0] <= d[0] < STALL_WINDOW[1]]
                    self.assertEqual(near, [], "load %.2f, %s" % (load, counters))


def main():
    global HOST, PLAYER, PIPEWIRE
    HOST, PLAYER, PIPEWIRE, rest = live_support.live_arguments()
    return live_support.run_cases(PLAYER, rest)


if __name__ == "__main__":
    sys.exit(main())
