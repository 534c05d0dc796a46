"""Whole-binary test of a default-sink switch during a capture: two sinks s1 and s2, both kept
rendering by a reader of their monitors; a player's tone plays on the default sink while the
host captures that player, and the default changes to s2, s1 and s2 again, 2 s apart. Run
beside a sound server by its fixture with the two sinks (tests/fixtures/with-... --sink s1...
--sink s2...).

Judged as a listener hears it, in 100 ms windows placed in time by when their bytes reached
the translator, leaving out 150 ms around each switch (and around the end of a span in which
the server delivered nothing):
- the tone sounds in at least 95 % of the windows in which the server delivered it. What
  the server delivered is shown by `parec --monitor-stream` of the same sink
  input, started again at once each time the server ends it (a moved stream ends its
  monitor streams), just as the host taps it again. PulseAudio, after moving a stream back
  to a sink, delivers nothing of it to any monitor for up to about 2 s; no per-stream
  capture can have that sound, and the host must do no worse than parec there. A player
  cut short by a busy machine is silent in both;
- on PipeWire, a moved stream's monitor follows it, so parec is never ended;
- every time the server ended the host's tap, the host reported a discontinuity.

    default_sink_switch_test.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER"""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import live_support
from live_support import STAND_IN, pcm_report, stop
HOST = None
PLAYER = None
PIPEWIRE = False

WINDOW = 4800  # 100 ms of the host's mono output: 100 periods of 1 kHz
SWITCH_MARGIN = 0.15
# A sine of amplitude 0.5 has a Goertzel power of about 0.0625; a quarter of its amplitude
# is a tone cut to silence or to a fragment.
TONE_POWER = 0.0625 / 16
SWITCHES = ("s2", "s1", "s2")
SWITCH_INTERVAL = 2.0


class TimedReader:
    """Reads a pipe on a thread of its own, noting when each piece arrived (monotonic)."""

    def __init__(self, pipe):
        self.pipe = pipe
        self.pieces = []  # (arrival time, total bytes so far)
        self.data = bytearray()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        while True:
            piece = self.pipe.read1(65536)
            if not piece:
                return
            self.data += piece
            self.pieces.append((time.monotonic(), len(self.data)))

    def arrival(self, end):
        """When byte `end - 1` had arrived."""
        for at, total in self.pieces:
            if total >= end:
                return at
        return None


def tone_windows(reader):
    """Per whole 100 ms window of a TimedReader's s16le mono 48 kHz output: when it was
    played (its last byte's arrival less its length) and whether the tone sounds in it."""
    samples = pcm_report.pcm_samples(bytes(reader.data))
    result = []
    for w in range(len(samples) // WINDOW):
        at = reader.arrival((w + 1) * WINDOW * 2)
        tone = pcm_report.goertzel_power(samples[w * WINDOW:(w + 1) * WINDOW], 1000)
        result.append((at - WINDOW / 48000.0, tone > TONE_POWER))
    return result


class RestartingMonitor:
    """`parec --monitor-stream` of one sink input, started again each time it ends, as a
    tap that is re-attached at once. Keeps, per run, when it started and when its first data
    came, and where its sound lacked the tone."""

    def __init__(self, sink_input):
        self.sink_input = sink_input
        self.runs = []  # [started, first data or None, ended]
        self.silent = []  # when windows without the tone were played
        self.stopping = False
        self.proc = None
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        while True:
            with self.lock:
                if self.stopping:
                    return
                self.proc = subprocess.Popen(
                    ["parec", "--monitor-stream=%d" % self.sink_input, "--raw",
                     "--format=s16le", "--rate=48000", "--channels=1", "--latency-msec=20"],
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            entry = [time.monotonic(), None, None]
            self.runs.append(entry)
            reader = TimedReader(self.proc.stdout)
            reader.thread.join()
            if reader.pieces:
                entry[1] = reader.pieces[0][0]
            self.proc.wait()
            self.proc.stdout.close()
            entry[2] = time.monotonic()
            self.silent += [played for played, tone in tone_windows(reader) if not tone]

    def finish(self):
        with self.lock:
            self.stopping = True
            if self.proc is not None and self.proc.poll() is None:
                self.proc.terminate()
        self.thread.join()

    def delivered(self, at):
        """Whether the server delivered the tone to this monitor around time `at`: it was
        delivering the stream, and no window of it without the tone lies near (the two
        captures' windows are placed in time only to within some tens of milliseconds)."""
        if any(abs(played - at) < 2 * WINDOW / 48000.0 for played in self.silent):
            return False
        return any(first is not None and first <= at and (end is None or at <= end)
                   for _, first, end in self.runs)

    def resumptions(self):
        """When the runs that had to wait for their data got it."""
        return [first for started, first, _ in self.runs
                if first is not None and first - started > SWITCH_MARGIN]

    def starved(self, limit):
        """The runs that waited longer than `limit` seconds for their first data."""
        return [run for run in self.runs
                if run[1] is not None and run[1] - run[0] > limit]


def sink_input_of(pid, limit=5.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        listing = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True,
                                 text=True).stdout
        for block in listing.split("\n\n"):
            index = re.search(r"Sink Input #(\d+)", block)
            owner = re.search(r'application\.process\.id = "(\d+)"', block)
            if index and owner and int(owner.group(1)) == pid:
                return int(index.group(1))
        time.sleep(0.05)
    raise AssertionError("the player's stream did not appear")


def set_default_sink(name):
    subprocess.run(["pactl", "set-default-sink", name], check=True)


class DefaultSinkSwitch(unittest.TestCase):

    def start(self, *args):
        proc = subprocess.Popen([PLAYER, *args], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE)
        self.addCleanup(stop, proc)
        return proc

    def test_the_tone_survives_default_sink_switches(self):
        for sink in ("s1", "s2"):
            keeper = self.start("--keep-sink-awake", "--sink", sink)
            keeper.stdout.readline()
            self.assertEqual(keeper.stdout.readline().strip(), b"awake")
        set_default_sink("s1")
        player = self.start("--frequency", "1000", "--level", "0.5", "--seconds", "12")
        player_pid = int(player.stdout.readline().split()[1])
        sink_input = sink_input_of(player_pid)

        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        err = pathlib.Path(tmp.name) / "stderr"
        env = dict(os.environ, QUORLE_AUDIO_DIAGNOSTICS="")
        host = subprocess.Popen(
            [sys.executable, str(STAND_IN), "--host", HOST, "--target-pid", str(player_pid),
             "--out", "-", "--stderr", str(err), "--seconds", "8.5"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.addCleanup(stop, host)
        output = TimedReader(host.stdout)
        monitor = RestartingMonitor(sink_input)
        self.addCleanup(monitor.finish)

        started = time.monotonic()
        switched = []
        for i, sink in enumerate(SWITCHES):
            time.sleep(max(0.0, started + (i + 1) * SWITCH_INTERVAL - time.monotonic()))
            switched.append(time.monotonic())
            set_default_sink(sink)
        self.assertEqual(host.wait(timeout=30), 0)
        output.thread.join()
        monitor.finish()
        ended = time.monotonic()

        judged = heard = delivered = heard_delivered = 0
        missing = []
        for played, has_tone in tone_windows(output):
            if played < started + 0.3 or played > ended - 0.3:
                continue  # the tap's start, and the capture's end
            # Around each switch, and around the moment the server resumed a stream it had
            # left without data for a while: both are splices.
            if any(abs(played - s) < SWITCH_MARGIN + WINDOW / 48000.0
                   for s in switched + monitor.resumptions()):
                continue
            server_delivered = monitor.delivered(played)
            judged += 1
            heard += has_tone
            delivered += server_delivered
            heard_delivered += has_tone and server_delivered
            if not has_tone:
                missing.append("%.1f%s" % (played - started, "" if server_delivered else "*"))
        report = ("tone in %d of %d windows, %d of the %d the server delivered to parec; "
                  "missing at %s s (* parec had no tone there either); parec runs %s"
                  % (heard, judged, heard_delivered, delivered, missing,
                     [tuple(None if t is None else round(t - started, 2) for t in run)
                      for run in monitor.runs]))
        print(report, file=sys.stderr)
        self.assertGreaterEqual(judged, 50, report)
        # parec worked: it had the stream before the first switch (2 s) at least. (After
        # two switches back, PulseAudio may leave it without data for nearly half the time.)
        self.assertGreaterEqual(delivered, 15, report)
        self.assertGreaterEqual(heard_delivered, 0.95 * delivered, report)
        if PIPEWIRE:
            # A moved stream's monitor follows it: nothing has to be tapped again.
            self.assertEqual(len(monitor.runs), 1, report)

        # Each tap the server ended was taken up again, which is a discontinuity; a starved
        # span lies after one of them.
        text = err.read_text()
        counts = [int(c) for c in re.findall(r"discontinuities=(\d+)", text)]
        self.assertTrue(counts, text)
        restarts = len(monitor.runs) - 1
        self.assertGreaterEqual(counts[-1], restarts, report + "\n" + text)
        self.assertLessEqual(len(monitor.starved(0.3)), counts[-1], report + "\n" + text)


def main():
    global HOST, PLAYER, PIPEWIRE
    HOST, PLAYER, PIPEWIRE, rest = live_support.live_arguments()
    result = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
