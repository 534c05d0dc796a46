#!/usr/bin/env python3
"""Live capture on Linux, measured against the audio server of the environment (scripts/bench
runs it once under tests/fixtures/with-pulseaudio and once under tests/fixtures/with-pipewire),
beside what a user would run instead: `parec` on the same playback stream.

    live_capture_bench.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER --floor POLL_FLOOR
                          [--seconds 60] [--bursts 40] [--suffix _pipewire]

Every figure name gets --suffix appended. PAREC below is
`parec --monitor-stream=<the player's sink input> --latency-msec=20 --format=s16le --channels=1`.

- live_capture_cpu_percent: the host's CPU time (user + system, all threads, from wait4)
  while it captures a playing tone (the player's default 20 ms buffer) for --seconds
  seconds, as a percentage of one core.
- parec_cpu_percent: PAREC's CPU time over the same window, on the same tone stream, its
  output thrown away.
- poll_floor_cpu_percent: over the same window, a bare loop sleeping 2 ms (POLL_FLOOR), the
  cost of the capture worker's poll alone.
  The three run side by side, so that the load of the machine weighs on all of them alike.
  The host's and PAREC's threads are listed with their CPU (/proc/PID/task/*/stat) and
  wake-ups a second (voluntary context switches, /proc/PID/task/*/status) over the middle
  of the window.
- live_latency_ms: a player paced in real time with a 10 ms server buffer plays one second
  of silence, then silence with a short burst every 505 ms, and prints the CLOCK_MONOTONIC
  time just before it writes each burst's first block. The host and PAREC both capture that
  stream; a reader of each one's output notes the CLOCK_MONOTONIC time at which the first
  bytes of each burst arrive (the first non-zero sample after 100 ms of zeros). The figure
  is the median over the bursts of arrival minus write (the p90 and the count are printed
  too). The period is no multiple of the host's 20 ms output block, so the bursts start at
  four different points of a block and the median does not depend on where the first one
  fell. A low-latency reader of the sink's monitor runs meanwhile (tone_player
  --keep-sink-awake): an idle null sink renders seconds ahead, which would otherwise delay a
  new stream.
- parec_latency_ms: the same, for PAREC's output (its default rate, 44100 Hz).
- live_latency_ten_ms: live_latency_ms with ten programs playing, the host capturing with
  `--target system`: the burst player and nine players of silence (streams that deliver
  all the time, as programs do, but leave the bursts alone in the mix).
- live_capture_ten_cpu_percent: the host's CPU while it captures ten programs, each playing
  its own tone, with `--target system`, over the same window as live_capture_cpu_percent.
  Its threads are listed as above.
- parec_ten_cpu_percent: beside it, the CPU of ten PARECs together, one on each program's
  stream: what a user would run to record the ten separately.

The machine's load (/proc/loadavg) is printed before and after each measurement: the figures
of a loaded machine are not those of a quiet one.

Other packet or fragment sizes are measured with a host built for them: configure with
`-DQUORLE_PULSE_PACKET_MS=20 -DQUORLE_PULSE_FRAGMENT_MS=40` (the product's 10 and 20 when
empty), build quorle_audio_host and pass it as --host.

Finally the goals are checked: host CPU minus the floor at most PAREC's, and host latency at
most 10 ms above PAREC's."""

import argparse
import array
import os
import pathlib
import re
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tests" / "tools"
STAND_IN = TOOLS / "stand_in_translator.py"
HOST_RATE = 48000   # the host's output: mono s16le at 48 kHz
PAREC_RATE = 44100  # parec's default rate, kept by the command line above
LATENCY_GOAL_MS = 10.0


def parec_command(sink_input):
    return ["parec", "--monitor-stream=%d" % sink_input, "--latency-msec=20", "--format=s16le",
            "--channels=1"]


def keep_awake(player):
    keeper = subprocess.Popen([player, "--keep-sink-awake"], stdout=subprocess.PIPE,
                              stdin=subprocess.DEVNULL)
    keeper.stdout.readline()
    keeper.stdout.readline()  # "awake"
    return keeper


def start_player(player, *args):
    proc = subprocess.Popen([player, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    pid = int(proc.stdout.readline().split()[1])
    return proc, pid


def sink_input_of(pid, timeout=5.0):
    """The index of the sink input whose application.process.id is `pid`, once it exists."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        listing = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True,
                                 text=True, check=False).stdout
        for block in listing.split("Sink Input #")[1:]:
            index = int(block.split(None, 1)[0])
            if re.search(r'application\.process\.id = "%d"' % pid, block):
                return index
        time.sleep(0.02)
    raise RuntimeError("no sink input of process %d" % pid)


def wait_file(path, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and path.read_text().strip():
            return int(path.read_text())
        time.sleep(0.01)
    raise RuntimeError("no %s" % path)


def print_load(label):
    with open("/proc/loadavg", encoding="utf-8") as f:
        print("load %s: %s" % (label, " ".join(f.read().split()[:3])))


def stop(proc):
    """Ends a process with SIGTERM; returns its CPU seconds (all threads, from wait4)."""
    proc.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(proc.pid, 0)
    proc.returncode = 0
    return usage.ru_utime + usage.ru_stime


def thread_sample(pid):
    """Per thread of `pid`: name, CPU ticks (user + system), voluntary context switches."""
    threads = {}
    for task in pathlib.Path("/proc/%d/task" % pid).iterdir():
        try:
            stat = (task / "stat").read_text()
            status = (task / "status").read_text()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        ticks = int(fields[11]) + int(fields[12])  # utime, stime
        # Each voluntary switch is one sleep of the thread, so one wake-up.
        switches = next(int(line.split()[1]) for line in status.splitlines()
                        if line.startswith("voluntary_ctxt_switches:"))
        threads[int(task.name)] = (name, ticks, switches)
    return threads


def thread_report(label, before, after, seconds):
    hz = os.sysconf("SC_CLK_TCK")
    for tid, (name, ticks, switches) in sorted(after.items()):
        if tid not in before:
            continue
        _, ticks0, switches0 = before[tid]
        print("  %s thread %-16s %5.2f %% of a core, %6.0f wake-ups/s"
              % (label, name, 100.0 * (ticks - ticks0) / hz / seconds,
                 (switches - switches0) / seconds))


def start_capture(started, host, target, seconds, cpu_file, pid_file):
    """Starts the host under the stand-in translator for `seconds`, its output discarded and
    its CPU time written to `cpu_file`; the stand-in joins `started` (to be ended on every
    way out) before its host's pid is awaited. Returns the stand-in and the host's pid."""
    capture = subprocess.Popen(
        [sys.executable, str(STAND_IN), "--host", host, *target, "--out", os.devnull,
         "--seconds", str(seconds), "--cpu-file", str(cpu_file), "--pid-file", str(pid_file)],
        stderr=subprocess.DEVNULL)
    started.append(capture)
    return capture, wait_file(pid_file)


def end_all(started):
    """Ends the processes a measurement started that are still running, last-started first."""
    for proc in reversed(started):
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def cpu_percent(host, player, floor, seconds):
    """The host's, PAREC's and the floor's CPU, in percent of a core, over one window."""
    started = []  # every process of the window, ended on every way out
    try:
        tone, pid = start_player(player, "--frequency", "1000", "--level", "0.5",
                                 "--seconds", str(seconds + 10))
        started.append(tone)
        sink_input = sink_input_of(pid)
        with tempfile.TemporaryDirectory() as tmp:
            cpu_file = pathlib.Path(tmp) / "cpu"
            pid_file = pathlib.Path(tmp) / "pid"
            floor_proc = subprocess.Popen([floor], stdin=subprocess.DEVNULL,
                                          stdout=subprocess.PIPE)
            started.append(floor_proc)
            floor_proc.stdout.readline()  # "ready"
            floor_start = time.monotonic()
            parec = subprocess.Popen(parec_command(sink_input), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL)
            started.append(parec)
            parec_start = time.monotonic()
            capture, host_pid = start_capture(started, host, ["--target-pid", str(pid)],
                                              seconds, cpu_file, pid_file)
            # Threads over the middle of the window: past the start, before the stop.
            margin = min(2.0, seconds / 4)
            time.sleep(margin)
            inner_start = time.monotonic()
            host_before, parec_before = thread_sample(host_pid), thread_sample(parec.pid)
            time.sleep(max(seconds - 2 * margin - 0.5, 0.5))
            inner = time.monotonic() - inner_start
            host_after, parec_after = thread_sample(host_pid), thread_sample(parec.pid)
            if capture.wait() != 0:
                raise RuntimeError("the capture failed")
            host_cpu = float(cpu_file.read_text())
            parec_cpu = stop(parec)
            parec_seconds = time.monotonic() - parec_start
            floor_cpu = stop(floor_proc)
            floor_seconds = time.monotonic() - floor_start
    finally:
        end_all(started)
    print("threads over %.1f s of the window:" % inner)
    thread_report("host ", host_before, host_after, inner)
    thread_report("parec", parec_before, parec_after, inner)
    return (100.0 * host_cpu / seconds, 100.0 * parec_cpu / parec_seconds,
            100.0 * floor_cpu / floor_seconds)


def ten_program_cpu_percent(host, player, seconds):
    """The host's CPU capturing ten tone players with --system, and the CPU of ten PARECs,
    one on each player's stream, beside it; in percent of a core."""
    started = []
    parecs = []
    try:
        pids = []
        for i in range(10):
            proc, pid = start_player(player, "--frequency", str(300 + 100 * i), "--level",
                                     "0.05", "--seconds", str(seconds + 10))
            started.append(proc)
            pids.append(pid)
        for pid in pids:
            parecs.append(subprocess.Popen(parec_command(sink_input_of(pid)),
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL))
        started.extend(parecs)
        parec_start = time.monotonic()
        with tempfile.TemporaryDirectory() as tmp:
            cpu_file = pathlib.Path(tmp) / "cpu"
            pid_file = pathlib.Path(tmp) / "pid"
            capture, host_pid = start_capture(started, host, ["--system"], seconds, cpu_file,
                                              pid_file)
            margin = min(2.0, seconds / 4)
            time.sleep(margin)
            inner_start = time.monotonic()
            before = thread_sample(host_pid)
            time.sleep(max(seconds - 2 * margin - 0.5, 0.5))
            inner = time.monotonic() - inner_start
            after = thread_sample(host_pid)
            if capture.wait() != 0:
                raise RuntimeError("the capture of ten programs failed")
            host_cpu = float(cpu_file.read_text())
            parec_cpu = sum(stop(proc) for proc in parecs)
            parec_seconds = time.monotonic() - parec_start
    finally:
        end_all(started)
    print("threads of the ten-program capture over %.1f s of the window:" % inner)
    thread_report("host ", before, after, inner)
    return 100.0 * host_cpu / seconds, 100.0 * parec_cpu / parec_seconds


class BurstReader:
    """Notes when the first bytes of each burst arrive in one reader's s16le mono output."""

    def __init__(self, fd, rate):
        self.fd = fd
        self.gap = rate // 10  # 100 ms of zeros before a burst
        self.quiet = rate      # samples since the last non-zero one
        self.pending = b""
        self.arrivals = []     # monotonic seconds

    def read(self, now):
        data = os.read(self.fd, 65536)
        if not data:
            return False
        data = self.pending + data
        usable = len(data) // 2 * 2
        self.pending = data[usable:]
        samples = array.array("h")
        samples.frombytes(data[:usable])
        for value in samples:
            if value != 0:
                if self.quiet >= self.gap:
                    self.arrivals.append(now)
                self.quiet = 0
            else:
                self.quiet += 1
        return True

    def latencies_ms(self, writes):
        result = []
        for write in writes:
            later = [a for a in self.arrivals if write <= a < write + 0.5]
            if later:
                result.append((later[0] - write) * 1000.0)
        return result


def latency_ms(host, player, bursts, others=0):
    """Onset latencies of the host and of PAREC on one player's bursts, in ms. With
    `others`, that many players of silence play beside it and the host captures --system."""
    silent = [start_player(player, "--level", "0", "--seconds", str(bursts * 0.505 + 30))[0]
              for _ in range(others)]
    onsets_proc, pid = start_player(player, "--onsets", str(bursts), "--interval-ms", "505",
                                    "--latency-ms", "10", "--level", "0.5", "--delay", "1",
                                    "--lead-in", "1")
    target = ["--system"] if others else ["--target-pid", str(pid)]
    capture = subprocess.Popen([sys.executable, str(STAND_IN), "--host", host, *target,
                                "--out", "-", "--seconds", str(bursts * 0.505 + 4)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    # PAREC names the stream, so it starts once the stream exists, in the silent lead-in.
    # Its stream ends with the player's ("Entity killed"): that message is expected.
    parec = subprocess.Popen(parec_command(sink_input_of(pid)), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    readers = {capture.stdout.fileno(): BurstReader(capture.stdout.fileno(), HOST_RATE),
               parec.stdout.fileno(): BurstReader(parec.stdout.fileno(), PAREC_RATE)}
    host_reader = readers[capture.stdout.fileno()]
    parec_reader = readers[parec.stdout.fileno()]
    writes = []  # monotonic seconds at which the player wrote each burst
    player_out = onsets_proc.stdout.fileno()
    open_fds = {player_out, *readers}
    # The host ends when the player does; PAREC is stopped then.
    while capture.stdout.fileno() in open_fds:
        ready, _, _ = select.select(list(open_fds), [], [], 1.0)
        now = time.monotonic()
        for fd in ready:
            if fd == player_out:
                line = os.read(player_out, 4096)
                if not line:
                    open_fds.discard(player_out)
                writes.extend(int(word) / 1e6 for word in line.split() if word.isdigit())
            elif not readers[fd].read(now):
                open_fds.discard(fd)
    capture.wait()
    onsets_proc.wait()
    parec.terminate()
    parec.wait()
    for proc in silent:
        proc.kill()
        proc.wait()
    return host_reader.latencies_ms(writes), parec_reader.latencies_ms(writes)


def report_latency(label, name, latencies):
    if not latencies:
        print("%s latency: no burst arrived" % label)
        return None
    latencies = sorted(latencies)
    p90 = latencies[int(0.9 * (len(latencies) - 1))]
    median = statistics.median(latencies)
    print("%s latency: %d bursts, median %.1f ms, p90 %.1f ms, min %.1f ms, max %.1f ms"
          % (label, len(latencies), median, p90, latencies[0], latencies[-1]))
    print("summary: %s %.1f ms" % (name, median))
    return median


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    parser.add_argument("--floor", required=True, help="the poll_floor program")
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--bursts", type=int, default=40)
    parser.add_argument("--suffix", default="", help="appended to every figure's name")
    args = parser.parse_args()
    server = subprocess.run(["pactl", "info"], capture_output=True, text=True,
                            check=True).stdout
    server_name = re.search(r"^Server Name: (.*)$", server, re.M)
    print("server: %s" % (server_name.group(1) if server_name else "unknown"))

    keeper = keep_awake(args.player)
    try:
        print_load("before the latency")
        host_lat, parec_lat = latency_ms(args.host, args.player, args.bursts)
        print_load("after the latency")
        ten_lat, _ = latency_ms(args.host, args.player, args.bursts, others=9)
        print_load("after the ten-program latency")
    finally:
        keeper.kill()
        keeper.wait()
    host_latency = report_latency("live", "live_latency_ms" + args.suffix, host_lat)
    parec_latency = report_latency("parec", "parec_latency_ms" + args.suffix, parec_lat)
    report_latency("live, ten programs,", "live_latency_ten_ms" + args.suffix, ten_lat)

    host_cpu, parec_cpu, floor_cpu = cpu_percent(args.host, args.player, args.floor,
                                                 args.seconds)
    print_load("after the CPU window")
    print("live capture: %.1f s of a playing tone" % args.seconds)
    print("summary: live_capture_cpu_percent%s %.3f %%" % (args.suffix, host_cpu))
    print("summary: parec_cpu_percent%s %.3f %%" % (args.suffix, parec_cpu))
    ten_cpu, ten_parec_cpu = ten_program_cpu_percent(args.host, args.player, args.seconds)
    print_load("after the ten-program CPU window")
    print("summary: live_capture_ten_cpu_percent%s %.3f %%" % (args.suffix, ten_cpu))
    print("summary: parec_ten_cpu_percent%s %.3f %%" % (args.suffix, ten_parec_cpu))
    # The floor is one figure of the whole run: scripts/bench combines the windows' values.
    print("poll floor: %.3f %%" % floor_cpu)

    print("goal: host CPU - floor %.3f %% <= parec %.3f %%: %s"
          % (host_cpu - floor_cpu, parec_cpu,
             "met" if host_cpu - floor_cpu <= parec_cpu else "missed"))
    if host_latency is not None and parec_latency is not None:
        print("goal: host latency %.1f ms <= parec %.1f ms + %.0f ms: %s"
              % (host_latency, parec_latency, LATENCY_GOAL_MS,
                 "met" if host_latency <= parec_latency + LATENCY_GOAL_MS else "missed"))
    return 0 if host_lat and parec_lat else 1


if __name__ == "__main__":
    sys.exit(main())
