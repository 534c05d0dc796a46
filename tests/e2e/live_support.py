"""What the whole-binary live capture tests share: starting and stopping tone players, and
running a test file's cases while a sink keeper holds the server's sink awake."""

import argparse
import array
import json
import pathlib
import signal
import subprocess
import sys
import time
import unittest

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tools"
sys.path.insert(0, str(TOOLS))
import pcm_report  # noqa: E402,F401  (the live tests take it from here)

STAND_IN = TOOLS / "stand_in_translator.py"  # plays the translator that starts the host


def start_player(player, *args):
    """A tone_player child; returns (process, pid it reported, child pid or None)."""
    proc = subprocess.Popen([player, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    pid = int(proc.stdout.readline().split()[1])
    child = None
    if "--fork" in args:
        child = int(proc.stdout.readline().split()[1])
    return proc, pid, child


def stop(proc):
    if proc.poll() is None:
        proc.kill()
    proc.wait()
    if proc.stdout is not None:
        proc.stdout.close()


def live_arguments():
    """The live tests' command line: --host and --player, the rest for unittest; and whether
    the server is PipeWire's (pipewire-pulse). Returns (host, player, pipewire, rest)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    args, rest = parser.parse_known_args()
    info = subprocess.run(["pactl", "info"], capture_output=True, text=True).stdout
    return args.host, args.player, "on PipeWire" in info, rest


def run_cases(player, argv):
    """Runs the calling file's cases; returns the exit status. The keeper keeps the server's
    sink rendering in small steps (see tone_player --keep-sink-awake)."""
    keeper = subprocess.Popen([player, "--keep-sink-awake"], stdout=subprocess.PIPE,
                              stdin=subprocess.DEVNULL)
    keeper.stdout.readline()
    if keeper.stdout.readline().strip() != b"awake":
        print("the sink keeper did not start", file=sys.stderr)
        stop(keeper)
        return 1
    try:
        result = unittest.main(argv=[sys.argv[0], *argv], exit=False, verbosity=2).result
    finally:
        stop(keeper)
    return 0 if result.wasSuccessful() else 1


# --- Judging a capture against what the server delivered -------------------------------
# The server's own record of a stream (parec on the sink input's monitor) shows what any
# client of the server could have captured; where the server itself departs from the played
# sound (a PipeWire graph xrun), the capture may depart with it, never on its own.

def sink_input_of(pid, limit=10.0):
    """The index of the sink input that process `pid` plays, once it exists."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        listing = subprocess.run(["pactl", "-f", "json", "list", "sink-inputs"],
                                 capture_output=True, text=True).stdout
        for entry in json.loads(listing or "[]"):
            if entry.get("properties", {}).get("application.process.id") == str(pid):
                return entry["index"]
        time.sleep(0.01)
    raise AssertionError("process %d plays no stream" % pid)


class ServerRecord:
    """parec recording one sink input's monitor (or a source) as 48 kHz stereo float32."""

    def __init__(self, path, sink_input=None, device=None):
        self.path = path
        command = ["parec", "--raw", "--format=float32le", "--rate=48000", "--channels=2",
                   "--latency-msec=20"]
        command += ["--monitor-stream=%d" % sink_input] if sink_input is not None else []
        command += ["--device=%s" % device] if device is not None else []
        self.file = open(path, "wb")
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.file,
                                     stderr=subprocess.DEVNULL)

    def stop(self):
        """Ends the recording; the samples as the host would output them (mono s16)."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.file.close()
        data = pathlib.Path(self.path).read_bytes()
        floats = array.array("f")
        floats.frombytes(data[: len(data) // 8 * 8])
        if sys.byteorder != "little":
            floats.byteswap()
        return pcm_report.downmix_s16(floats)


def diagnostics(err):
    """The counters of the host's last diagnostics line: {accepted_frames: .., ...}."""
    last = {}
    for line in err.splitlines():
        if line.startswith(b"QUORLE_CAPTURE "):
            last = {key.decode(): int(value) for key, value in
                    (field.split(b"=") for field in line.split()[1:])}
    return last


NEEDLE = 16  # samples: unique within a random or ramp signal


def _find(haystack, needle, start):
    """The sample index of `needle` (bytes of samples) in `haystack` from sample `start`."""
    at = haystack.find(needle, 2 * start)
    while at >= 0 and at % 2:
        at = haystack.find(needle, at + 1)
    return -1 if at < 0 else at // 2


def find_samples(haystack, needle):
    """The index of the samples `needle` in the samples `haystack`, -1 if absent."""
    return _find(haystack.tobytes(), needle.tobytes(), 0)


def departures(captured, reference, complete=True):
    """Where `captured` (samples) leaves `reference` (samples) after the reference's start:
    a list of (at, missing, inserted), `at` the reference sample where it leaves, `missing`
    the reference samples it skips, `inserted` the samples it has in their place (a capture
    that lacks the reference's start: (0, missing, 0)). Returns None when the capture has
    nothing of the reference's first second. Unless `complete`, a
    capture that ends before the reference does is no departure."""
    cap, ref = captured.tobytes(), reference.tobytes()
    i = _find(cap, ref[:2 * NEEDLE], 0)
    j, found = 0, []
    if i < 0:
        # The capture lacks the reference's start: from where does it have it?
        j = next((at for at in range(0, min(len(reference), 48000), NEEDLE // 2)
                  if any(ref[2 * at:2 * (at + NEEDLE)])
                  and _find(cap, ref[2 * at:2 * (at + NEEDLE)], 0) >= 0), -1)
        if j < 0:
            return None
        i = _find(cap, ref[2 * j:2 * (j + NEEDLE)], 0)
        while j > 0 and i > 0 and captured[i - 1] == reference[j - 1]:
            i, j = i - 1, j - 1
        found.append((0, j, 0))
    while j < len(reference):
        if i < len(captured) and captured[i] == reference[j]:
            i, j = i + 1, j + 1
            continue
        if i >= len(captured):
            if complete:
                found.append((j, len(reference) - j, 0))
            break
        # Resynchronise: the first reference sample from which the capture goes on.
        at, step = j, 1
        while at < len(reference):
            needle = ref[2 * at:2 * (at + NEEDLE)]
            k = _find(cap, needle, i) if any(needle) else -1
            if k >= 0:
                break
            at += step
            step = min(step * 2, 64)
        if at >= len(reference):
            found.append((j, len(reference) - j, len(captured) - i))
            break
        # Back to where the two sequences start to agree again.
        while at > j and k > i and captured[k - 1] == reference[at - 1]:
            at, k = at - 1, k - 1
        found.append((j, at - j, k - i))
        i, j = k, at
    return found


def signal_part(record, signal):
    """The part of a server record from the played signal's first to its last samples (what
    the server delivered of it), or None when the record lacks either end."""
    data = record.tobytes()
    first = _find(data, signal[:NEEDLE].tobytes(), 0)
    last = _find(data, signal[-NEEDLE:].tobytes(), max(first, 0))
    if first < 0 or last < 0:
        return None
    return record[first:last + NEEDLE]
