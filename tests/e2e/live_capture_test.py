"""Whole-binary tests of live capture on Linux: the real audio host against a real server
of the PulseAudio protocol (tests/fixtures/with-pulseaudio or tests/fixtures/with-pipewire
runs this file), real players, the translator played by tests/tools/stand_in_translator.py.
What was captured is judged from the PCM bytes: tone powers (Goertzel), levels, and exact
equality with the downmix of the played samples. Cases that need PipeWire's own players
run only against PipeWire.

    live_capture_test.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER"""

import array
import ctypes
import math
import os
import pathlib
import random
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

import live_support
from live_support import STAND_IN, pcm_report, stop
HOST = None
PLAYER = None
PIPEWIRE = False  # the server is PipeWire's (pipewire-pulse)

HEADER = (b'{"backend":"wasapi-process-loopback","channels":1,"event":"format",'
          b'"sampleFormat":"s16le","sampleRate":48000}\n')


def error_line(message):
    return ('{"code":"capture_failed","event":"error","message":"%s"}\n' % message).encode()


def start_player(*args):
    """A tone_player child; returns (process, pid it reported, child pid or None)."""
    return live_support.start_player(PLAYER, *args)


class Capture:
    """One capture run through the stand-in translator, its output in files."""

    def __init__(self, tmp, target_pid=None, seconds=None, play=(), env=None, stdout=None):
        self.out = pathlib.Path(tmp) / "capture.pcm"
        self.err = pathlib.Path(tmp) / "stderr"
        self.pid_file = pathlib.Path(tmp) / "host.pid"
        command = [sys.executable, str(STAND_IN), "--host", HOST, "--stderr", str(self.err),
                   "--pid-file", str(self.pid_file)]
        command += ["--system"] if target_pid is None else ["--target-pid", str(target_pid)]
        if seconds is not None:
            command += ["--seconds", str(seconds)]
        for p in play:
            command += ["--play", p]
        if stdout is None:
            command += ["--out", str(self.out)]
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                     stdout=stdout if stdout is not None else subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, env=env)

    def host_pid(self, limit=10.0):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            text = self.pid_file.read_text() if self.pid_file.exists() else ""
            if text.endswith("\n"):
                return int(text)
            time.sleep(0.01)
        raise AssertionError("the host did not start")

    def wait(self, timeout=60):
        status = self.proc.wait(timeout=timeout)
        return status, self.samples(), self.err.read_bytes() if self.err.exists() else b""

    def samples(self):
        return pcm_report.read_pcm(str(self.out)) if self.out.exists() else array.array("h")


def write_tone_wav(path, frequency, level, seconds):
    """A 48 kHz stereo 16-bit WAV file of a sine on both channels (for pw-play)."""
    frames = array.array("h")
    for i in range(int(48000 * seconds)):
        value = int(level * 32767 * math.sin(2 * math.pi * frequency * i / 48000))
        frames.extend((value, value))
    if sys.byteorder != "little":
        frames.byteswap()
    with wave.open(str(path), "wb") as f:
        f.setnchannels(2)
        f.setsampwidth(2)
        f.setframerate(48000)
        f.writeframes(frames.tobytes())


def ramp_first_frame(value):
    """The frame of the ramp signal (see test_onset_loss) that a captured s16 value shows:
    frame n plays (n // 2 + 1000) / 32768 on both channels, which the host turns into
    n // 2 + 999."""
    return 2 * (value - 999)


def sounding(samples):
    """The samples from the first to the last non-zero one."""
    first = next((i for i, s in enumerate(samples) if s != 0), len(samples))
    last = next((i for i in range(len(samples) - 1, -1, -1) if samples[i] != 0), -1)
    return samples[first:last + 1]


# PipeWire (0.3.65) may hand a consumer the first cycle of a stream it has just linked at half
# the stream's level. Measured on a loaded machine: one 256-sample quantum at half level, at
# the start of the host's capture in some runs and at the start of parec's record of the sink
# in others, never elsewhere.
HALF_LEVEL_ONSET = 256


def join_played(heard, played):
    """(n, at): where `heard` (a consumer's samples of a stream from its first non-zero one)
    joins the played samples: heard[n] is played[at]. The n leading samples are, on PipeWire,
    at most one first quantum at half the level of the played samples before played[at]; on
    PulseAudio n is 0. (0, -1) when `heard` does not join the played samples so."""
    at = live_support.find_samples(played, heard[:live_support.NEEDLE])
    if at >= 0 or not PIPEWIRE:
        return 0, at
    for n in range(1, min(len(heard), HALF_LEVEL_ONSET) + 1):
        at = live_support.find_samples(played, heard[n:n + live_support.NEEDLE])
        if at >= 0:
            halved = at >= n and all(abs(2 * heard[k] - played[at - n + k]) <= 2
                                     for k in range(n))
            return (n, at) if halved else (0, -1)
    return 0, -1


def power(samples, frequency):
    return pcm_report.goertzel_power(sounding(samples), frequency)


# 100 ms: a whole number of periods of both test tones (44 of 440 Hz, 100 of 1000 Hz).
WINDOW = 4800


def windows(samples):
    """The sounding part cut into whole 100 ms windows."""
    part = sounding(samples)
    return [part[i:i + WINDOW] for i in range(0, len(part) - WINDOW + 1, WINDOW)]


class LiveCapture(unittest.TestCase):
    """A sine of amplitude A has a Goertzel power of about A*A/4 (0.0625 for 0.5); a tone
    that is absent stays far below 1e-5."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def assert_tone(self, samples, present, absent=()):
        """A present tone must sound in nearly every 100 ms window: a player that underruns
        on a busy machine leaves a short silence and resumes its sine at another phase,
        which would spoil one coherent measurement over the whole capture but costs only a
        window or two here. An absent tone must stay absent over the whole capture."""
        parts = windows(samples)
        self.assertGreaterEqual(len(parts), 5, "less than half a second of sound")
        for f in present:
            powers = [pcm_report.goertzel_power(w, f) for w in parts]
            weak = [i for i, p in enumerate(powers) if p <= 0.01]
            self.assertLessEqual(len(weak), len(parts) // 5,
                                 "%s Hz missing in windows %s of %d (powers %s)"
                                 % (f, weak, len(parts), ["%.4f" % powers[i] for i in weak]))
        for f in absent:
            self.assertLess(power(samples, f), 1e-5, "%s Hz present" % f)

    def test_pid_target_gets_only_its_own_tone(self):
        a, a_pid, _ = start_player("--frequency", "440", "--level", "0.5", "--seconds", "5")
        b, _, _ = start_player("--frequency", "1000", "--level", "0.5", "--seconds", "5")
        self.addCleanup(stop, a)
        self.addCleanup(stop, b)
        status, samples, err = Capture(self.tmp.name, a_pid, seconds=2).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440], [1000])
        # Both channels carry the sine of amplitude 0.5: -9.03 dBFS RMS in the mono output.
        level = pcm_report.dbfs(statistics.median(pcm_report.rms(w) for w in windows(samples)))
        self.assertAlmostEqual(level, 20 * math.log10(0.5 / math.sqrt(2)), delta=0.2)

    def test_system_leaves_out_the_translators_own_sound(self):
        other, _, _ = start_player("--frequency", "440", "--level", "0.5", "--seconds", "5")
        self.addCleanup(stop, other)
        mine = "%s --frequency 1000 --level 0.5 --seconds 5" % PLAYER
        status, samples, err = Capture(self.tmp.name, None, seconds=2, play=[mine]).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440], [1000])

    def test_inclusion_follows_child_processes(self):
        parent, parent_pid, child = start_player("--fork", "--frequency", "440", "--seconds", "5")
        self.addCleanup(stop, parent)
        self.addCleanup(lambda: os.kill(child, signal.SIGKILL) if pid_alive(child) else None)
        status, samples, err = Capture(self.tmp.name, parent_pid, seconds=2).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440])

    def test_exclusion_follows_child_processes(self):
        other, _, _ = start_player("--frequency", "440", "--seconds", "5")
        self.addCleanup(stop, other)
        mine = "%s --fork --frequency 1000 --seconds 3" % PLAYER
        status, samples, err = Capture(self.tmp.name, None, seconds=2, play=[mine]).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440], [1000])

    def test_a_player_that_starts_late_is_picked_up(self):
        late, late_pid, _ = start_player("--delay", "1", "--frequency", "440", "--seconds", "5")
        self.addCleanup(stop, late)
        status, samples, err = Capture(self.tmp.name, late_pid, seconds=3).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440])
        # Silence (written as such) came before the player started.
        self.assertGreater(len(samples) - len(sounding(samples)), 48000 // 2)

    def test_the_target_exiting_ends_the_capture_with_the_error_line(self):
        player, pid, _ = start_player("--frequency", "440", "--seconds", "1")
        self.addCleanup(stop, player)
        status, samples, err = Capture(self.tmp.name, pid).wait()
        self.assertEqual(status, 1)
        self.assertEqual(err, HEADER + error_line("selected process exited"))
        self.assert_tone(samples, [440])

    def test_sigint_ends_the_capture_with_status_0(self):
        status, samples, err = Capture(self.tmp.name, None, seconds=1).wait()
        self.assertEqual((status, err), (0, HEADER))
        # Silent packets keep coming while nothing plays: about a second of zeros.
        self.assertGreater(len(samples), 48000 // 2)
        self.assertEqual(len(samples) % 960, 0)
        self.assertFalse(any(samples))

    def test_the_translator_exiting_ends_the_capture_with_status_0(self):
        capture = Capture(self.tmp.name, None)
        host = capture.host_pid()
        time.sleep(0.5)
        # The host is reparented to this process (a subreaper), which can then reap it.
        capture.proc.kill()
        capture.proc.wait()
        status = wait_orphan(host, timeout=5)
        self.assertEqual(status, 0)

    def test_a_reader_that_closes_the_pipe_ends_the_capture_quietly(self):
        read_end, write_end = os.pipe()
        capture = Capture(self.tmp.name, None, stdout=write_end)
        os.close(write_end)
        self.assertEqual(len(os.read(read_end, 1920)), 1920)
        closed = time.monotonic()
        os.close(read_end)
        status = capture.proc.wait(timeout=10)
        elapsed = time.monotonic() - closed
        err = capture.err.read_bytes()
        self.assertEqual((status, err), (0, HEADER))
        # The loop sees the worker's stop within its 250 ms wait (generous for a busy box).
        self.assertLess(elapsed, 1.5)
        print("closed pipe: host ended %.0f ms after the reader left" % (elapsed * 1000),
              file=sys.stderr)

    def test_one_stream_comes_through_bit_for_bit(self):
        # Judged against what the server delivered: parec records the same sink input's
        # monitor during the capture. PulseAudio delivers the played samples as they are;
        # PipeWire's graph can skip or zero a quantum for every monitor of a stream (an xrun),
        # and the capture may depart from the played samples there, never elsewhere.
        rng = random.Random(42)
        stereo = [struct.unpack("<f", struct.pack("<f", rng.uniform(-0.9, 0.9)))[0]
                  for _ in range(2 * 48000)]
        path = pathlib.Path(self.tmp.name) / "played.f32"
        # Half a second of silence after the signal: the player exits only once that has
        # played, so the signal itself has reached the capture before its target ends.
        tail = [0.0] * 48000
        path.write_bytes(struct.pack("<%df" % (len(stereo) + len(tail)), *stereo, *tail))
        # A large player buffer: a busy machine must not make the player underrun (the
        # server would then skip samples, and the played sound would not be the file). A
        # second of silence leads in, so that the tap is surely attached when the signal plays,
        # and the player connects only once a busy machine has surely started the capture.
        player, pid, _ = start_player("--file", str(path), "--lead-in", "1",
                                      "--latency-ms", "250", "--delay", "1.5")
        self.addCleanup(stop, player)
        # The diagnostics line's counters tell a gap the host marked (a discontinuity, a drop)
        # from a change it did not.
        capture = Capture(self.tmp.name, pid, env=dict(os.environ, QUORLE_AUDIO_DIAGNOSTICS="1"))
        record = live_support.ServerRecord(str(pathlib.Path(self.tmp.name) / "parec.f32"),
                                           sink_input=live_support.sink_input_of(pid))
        try:
            status, samples, err = capture.wait()
        finally:
            server = record.stop()
        self.assertEqual(status, 1)  # the player ended: "selected process exited"
        expected = pcm_report.downmix_s16(stereo)
        # On a mismatch the host's own counters (drops, discontinuities) tell a gap in the
        # capture from a change of the played sound on the server's side.
        self.assert_departs_only_with_the_server(samples, [server], expected, err)

    def assert_departs_only_with_the_server(self, captured, servers, expected, err, at=None):
        """Each place where the capture departs from `expected` (the played samples; from
        sample `at` of them on for a capture that started late, which may also end early)
        is one where one of the server's records departs from them too; on PulseAudio
        neither departs from the whole of them."""
        whole = at is None
        at = 0 if whole else at
        reference = expected[at:]
        host = live_support.departures(captured, reference, complete=whole)
        self.assertIsNotNone(host, "%s; the host's standard error: %r"
                             % (describe_difference(captured.tobytes(), reference.tobytes()),
                                err[-400:]))
        host = [(a + at, missing, inserted) for a, missing, inserted in host]
        delivered = []
        for server in servers:
            # The record from where it starts (a sink's monitor on PulseAudio misses the first
            # milliseconds of a new stream, which the server mixes in by rewinding).
            _, start = join_played(sounding(server), expected)
            self.assertGreaterEqual(start, 0, "parec lacks the played signal")
            if not PIPEWIRE and whole:
                self.assertEqual(start, 0, "parec lacks the start of the played signal")
            # Before a record starts, it excuses no departure of the capture.
            delivered += [(a + start, missing, inserted) for a, missing, inserted
                          in live_support.departures(server, expected[start:])]
        if host or delivered:
            print("departures from the played samples (at, missing, inserted): host %s, "
                  "parec %s" % (host, delivered), file=sys.stderr)
        if not PIPEWIRE and whole:
            # PulseAudio plays a player with a large buffer as it is. (A small one, as the
            # onset's, may run dry on a busy machine: then what is played is not the file.)
            self.assertEqual(delivered, [], "parec departs from the played samples")
        own = [d for d in host if not any(
            d[0] <= p[0] + max(p[1], 1) + live_support.NEEDLE
            and p[0] <= d[0] + max(d[1], 1) + live_support.NEEDLE for p in delivered)]
        self.assertEqual(own, [], "the capture departs where the server did not (load %.2f); "
                         "the host's counters: %s" % (os.getloadavg()[0],
                                                       live_support.diagnostics(err)))

    def test_losing_the_server_fails_the_capture(self):
        if PIPEWIRE:
            self.skipTest("kills a PulseAudio daemon of its own; runs with PulseAudio")
        daemon_dir = tempfile.TemporaryDirectory()
        self.addCleanup(daemon_dir.cleanup)
        daemon, env = private_daemon(daemon_dir.name)
        self.addCleanup(stop, daemon)
        capture = Capture(self.tmp.name, None, env=env)
        capture.host_pid()
        time.sleep(0.5)
        daemon.kill()
        status, samples, err = capture.wait()
        self.assertEqual(status, 1)
        self.assertEqual(err, HEADER + error_line(
            "next capture packet: Connection terminated (0xA050000B)"))
        self.assertGreater(len(samples), 0)

    def test_ten_programs_at_once_are_all_heard(self):
        if "QUORLE_LIVE_SANITIZED" in os.environ:
            self.skipTest("a sanitized host is too slow to mix ten streams in real time")
        # Each on its own frequency (whole periods in 100 ms), 0.04 each: the sum cannot clip.
        # The players keep the usual small buffer (20 ms): the small graph period it brings
        # is where PipeWire's server starved taps sharing one connection.
        frequencies = [300 + 100 * i for i in range(10)]
        for f in frequencies:
            player, _, _ = start_player("--frequency", str(f), "--level", "0.04",
                                        "--seconds", "8")
            self.addCleanup(stop, player)
        status, samples, err = Capture(self.tmp.name, None, seconds=4).wait()
        self.assertEqual((status, err), (0, HEADER))
        parts = windows(samples)
        self.assertGreaterEqual(len(parts), 10, "less than a second of sound")
        # A sine of 0.04 has a power of 4e-4; a tone counts as present above a quarter of it.
        for f in frequencies:
            weak = [i for i, w in enumerate(parts) if pcm_report.goertzel_power(w, f) <= 1e-4]
            self.assertLessEqual(len(weak), len(parts) // 5,
                                 "%d Hz missing in windows %s of %d" % (f, weak, len(parts)))

    def test_pw_play_is_matched_as_a_pid_target(self):
        if not PIPEWIRE:
            self.skipTest("pw-play needs PipeWire")
        wav = pathlib.Path(self.tmp.name) / "tone.wav"
        write_tone_wav(wav, 440, 0.5, 5)
        native = subprocess.Popen(["pw-play", str(wav)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, native)
        other, _, _ = start_player("--frequency", "1000", "--level", "0.5", "--seconds", "5")
        self.addCleanup(stop, other)
        status, samples, err = Capture(self.tmp.name, native.pid, seconds=2).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440], [1000])

    def test_the_translators_own_pw_play_is_left_out_of_system(self):
        if not PIPEWIRE:
            self.skipTest("pw-play needs PipeWire")
        wav = pathlib.Path(self.tmp.name) / "mine.wav"
        write_tone_wav(wav, 1000, 0.5, 5)
        other, _, _ = start_player("--frequency", "440", "--level", "0.5", "--seconds", "5")
        self.addCleanup(stop, other)
        status, samples, err = Capture(self.tmp.name, None, seconds=2,
                                       play=["pw-play %s" % wav]).wait()
        self.assertEqual((status, err), (0, HEADER))
        self.assert_tone(samples, [440], [1000])

    def test_onset_loss_of_a_program_that_starts_during_a_capture(self):
        # A program that starts playing while the capture runs: its first frames until the
        # capture taps its stream are lost. The signal names its own frames (a slow ramp),
        # so where the capture joins it tells how much was lost; the figure is printed. What
        # follows is judged against the sink's monitor, recorded from before the program
        # started (the only sound of the sink): the capture departs from the ramp only
        # where the server did. On PipeWire a stream's monitors (what the host taps) and the
        # sink's mix each depart from a late player in places of their own, so there parec
        # also records the stream's monitor from when the stream appears.
        ramp = [(n // 2 + 1000) / 32768.0 for n in range(48000)]
        stereo = [v for value in ramp for v in (value, value)]
        path = pathlib.Path(self.tmp.name) / "ramp.f32"
        path.write_bytes(struct.pack("<%df" % len(stereo), *stereo))
        records = [live_support.ServerRecord(str(pathlib.Path(self.tmp.name) / "sink.f32"),
                                             device="@DEFAULT_MONITOR@")]
        try:
            player, pid, _ = start_player("--file", str(path), "--delay", "1.5",
                                          "--latency-ms", "20")
            self.addCleanup(stop, player)
            capture = Capture(self.tmp.name, pid)
            self.addCleanup(stop, capture.proc)
            if PIPEWIRE:
                records.append(live_support.ServerRecord(
                    str(pathlib.Path(self.tmp.name) / "stream.f32"),
                    sink_input=live_support.sink_input_of(pid)))
            status, samples, err = capture.wait()
        finally:
            servers = [record.stop() for record in records]
        self.assertEqual(status, 1)  # the player ended: "selected process exited"
        part = sounding(samples)
        self.assertGreater(len(part), 0, "nothing of the program was captured")
        expected = pcm_report.downmix_s16(stereo)
        half, at = join_played(part, expected)
        self.assertGreaterEqual(at, 0, "the capture does not start with a piece of the ramp: "
                                "%s" % list(part[:8]))
        lost = at - half  # part[0] is the ramp's frame `lost`, at half level when half > 0
        self.assertLess(lost, 48000, "the whole first second was lost")
        if not PIPEWIRE:
            # What follows is the ramp itself, in order. (On PipeWire the server may skip
            # some of a player's samples that came late, so there the judge is its record.)
            k = min(4800, len(part) - 1)
            self.assertLessEqual(abs(ramp_first_frame(part[k]) - (lost + k)), 2)
        print("onset (%s): the first %.1f ms of a program starting during a capture lost%s"
              % ("PipeWire" if PIPEWIRE else "PulseAudio", lost / 48.0,
                 ", the next %d samples at half level" % half if half else ""),
              file=sys.stderr)
        self.assert_departs_only_with_the_server(part[half:], servers, expected, err, at)

    def test_no_reachable_server_fails_the_activation(self):
        env = dict(os.environ, PULSE_SERVER="unix:/nonexistent/quorle/native")
        status, samples, err = Capture(self.tmp.name, None, env=env).wait()
        self.assertEqual(status, 1)
        self.assertEqual(err, error_line(
            "audio server connection (PulseAudio protocol): "
            "Connection refused (0xA0500006)"))
        self.assertEqual(len(samples), 0)


def private_daemon(directory):
    """A PulseAudio daemon of one test (so that killing it leaves the others alone); returns
    the process and the environment that reaches it."""
    socket = os.path.join(directory, "native")
    env = dict(os.environ, HOME=directory, XDG_RUNTIME_DIR=directory,
               PULSE_SERVER="unix:" + socket)
    daemon = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
         "--disable-shm=yes", "--log-target=file:" + os.path.join(directory, "log"),
         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
         "--load=module-null-sink sink_name=lost rate=48000 channels=2 format=float32le"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    for _ in range(100):
        if subprocess.run(["pactl", "info"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            break
        time.sleep(0.05)
    return daemon, env


def describe_difference(captured, expected):
    """How far the capture follows the expected bytes from where their start appears."""
    at = captured.find(expected[:64])
    if at < 0:
        return "the start of the played signal is not in the capture"
    n = 0
    while n < len(expected) and at + n < len(captured) and captured[at + n] == expected[n]:
        n += 1
    return ("the capture follows the played signal for %d of %d samples (capture of %d)"
            % (n // 2, len(expected) // 2, len(captured) // 2))


def pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


def wait_orphan(pid, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    raise AssertionError("the host did not end after the translator exited")


def become_subreaper():
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def main():
    global HOST, PLAYER, PIPEWIRE
    HOST, PLAYER, PIPEWIRE, rest = live_support.live_arguments()
    become_subreaper()
    return live_support.run_cases(PLAYER, rest)


if __name__ == "__main__":
    sys.exit(main())
