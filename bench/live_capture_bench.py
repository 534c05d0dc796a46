#!/usr/bin/env python3
"""Live capture on Linux, measured against the PulseAudio daemon of the environment
(scripts/bench runs it under tests/fixtures/with-pulseaudio).

    live_capture_bench.py --host QUORLE_AUDIO_HOST --player TONE_PLAYER [--seconds 60]

- live_capture_cpu_percent: the host's CPU time (user + system, all threads, from wait4)
  while it captures a playing tone (the player's default 20 ms buffer) for --seconds
  seconds, as a percentage of one core. No other client is on the daemon.
- live_latency_ms: a player paced in real time with a 10 ms server buffer plays silence with
  a short burst every 500 ms and prints the CLOCK_MONOTONIC time just before it writes each
  burst's first block; a reader of the host's standard output notes the CLOCK_MONOTONIC
  time at which the first bytes of each burst arrive. The figure is the median over the
  bursts of arrival minus write (the p90 and the count are printed too). A low-latency
  reader of the sink's monitor runs meanwhile (tone_player --keep-sink-awake): an idle
  null sink renders seconds ahead, which would otherwise delay a new stream."""

import argparse
import array
import os
import pathlib
import select
import statistics
import subprocess
import sys
import tempfile
import time

TOOLS = pathlib.Path(__file__).resolve().parents[1] / "tests" / "tools"
STAND_IN = TOOLS / "stand_in_translator.py"


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


def cpu_percent(host, player, seconds):
    tone, pid = start_player(player, "--frequency", "1000", "--level", "0.5",
                             "--seconds", str(seconds + 10))
    with tempfile.TemporaryDirectory() as tmp:
        cpu_file = pathlib.Path(tmp) / "cpu"
        subprocess.run([sys.executable, str(STAND_IN), "--host", host, "--target-pid", str(pid),
                        "--out", os.devnull, "--seconds", str(seconds),
                        "--cpu-file", str(cpu_file)], check=True, stderr=subprocess.DEVNULL)
        cpu = float(cpu_file.read_text())
    tone.kill()
    tone.wait()
    return 100.0 * cpu / seconds


def latency_ms(host, player, bursts):
    onsets_proc, pid = start_player(player, "--onsets", str(bursts), "--interval-ms", "500",
                                    "--latency-ms", "10", "--level", "0.5", "--delay", "1")
    capture = subprocess.Popen([sys.executable, str(STAND_IN), "--host", host,
                                "--target-pid", str(pid), "--out", "-"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    arrivals = []   # monotonic seconds of the first bytes of each burst
    writes = []     # monotonic seconds at which the player wrote each burst
    quiet = 48000   # samples since the last non-zero one
    pending = b""
    out = capture.stdout.fileno()
    player_out = onsets_proc.stdout.fileno()
    open_fds = {out, player_out}
    while out in open_fds:
        ready, _, _ = select.select(list(open_fds), [], [], 1.0)
        now = time.monotonic()
        if player_out in ready:
            line = os.read(player_out, 4096)
            if not line:
                open_fds.discard(player_out)
            for word in line.split():
                if word.isdigit():
                    writes.append(int(word) / 1e6)
        if out in ready:
            data = os.read(out, 65536)
            if not data:
                open_fds.discard(out)
                continue
            data = pending + data
            usable = len(data) // 2 * 2
            pending = data[usable:]
            samples = array.array("h")
            samples.frombytes(data[:usable])
            for value in samples:
                if value != 0:
                    if quiet >= 4800:  # 100 ms of silence before: a new burst
                        arrivals.append(now)
                    quiet = 0
                else:
                    quiet += 1
    capture.wait()
    onsets_proc.wait()
    latencies = []
    for write in writes:
        later = [a for a in arrivals if write <= a < write + 0.5]
        if later:
            latencies.append((later[0] - write) * 1000.0)
    return latencies


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--player", required=True)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--bursts", type=int, default=40)
    parser.add_argument("--skip-cpu", action="store_true")
    args = parser.parse_args()
    keeper = keep_awake(args.player)
    try:
        latencies = latency_ms(args.host, args.player, args.bursts)
    finally:
        keeper.kill()
        keeper.wait()
    if latencies:
        latencies.sort()
        p90 = latencies[int(0.9 * (len(latencies) - 1))]
        print("live latency: %d bursts, median %.1f ms, p90 %.1f ms, min %.1f ms, max %.1f ms"
              % (len(latencies), statistics.median(latencies), p90, latencies[0],
                 latencies[-1]))
        print("summary: live_latency_ms %.1f ms" % statistics.median(latencies))
    else:
        print("live latency: no burst arrived")
    if not args.skip_cpu:
        cpu = cpu_percent(args.host, args.player, args.seconds)
        print("live capture: %.1f s of a playing tone" % args.seconds)
        print("summary: live_capture_cpu_percent %.3f %%" % cpu)
    return 0 if latencies else 1


if __name__ == "__main__":
    sys.exit(main())
