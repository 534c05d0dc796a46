#!/usr/bin/env python3
"""Plays the translator on Linux: starts quorle_audio_host as its own child, names itself
with --exclude-pids, and for a process target passes the identity the translator would have
read from the application list (the executable path and the creation time of the process).

    stand_in_translator.py --host PATH (--target-pid N | --system) [--out FILE|-]
                           [--seconds S] [--stderr FILE] [--pid-file FILE]
                           [--play "PLAYER ARGS"]... [--cpu-file FILE]

--out: where the host's standard output goes (default -, this program's own standard
output, so that a reader of it reads the PCM directly). The host's standard error lines are
copied to this program's standard error (and to --stderr). After S seconds (when given) the
host gets SIGINT, as a console stop. --cpu-file receives the host's CPU time (user and
system, all threads) in seconds. --play starts a program of the translator's own (its
sound is the translator's) before the host, and stops it at the end. --pid-file receives
the host's process id. The exit status is the host's (128 + N when a signal N ended it)."""

import argparse
import os
import shlex
import signal
import subprocess
import sys
import threading
import time

SECONDS_1601_TO_1970 = 11_644_473_600


def process_identity(pid):
    """The executable path and the creation time (100-ns ticks since 1601) of a process, as
    the audio host reads them from /proc."""
    exe = os.readlink("/proc/%d/exe" % pid)
    with open("/proc/%d/stat" % pid, encoding="utf-8", errors="replace") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    start_ticks = int(fields[19])  # field 22 of the whole line
    with open("/proc/stat", encoding="utf-8") as f:
        boot = next(int(line.split()[1]) for line in f if line.startswith("btime "))
    hz = os.sysconf("SC_CLK_TCK")
    seconds = boot + SECONDS_1601_TO_1970 + start_ticks // hz
    return exe, seconds * 10_000_000 + (start_ticks % hz) * 10_000_000 // hz


def host_command(host, target_pid=None):
    """The command line the translator gives the host; this process is the translator."""
    command = [host]
    if target_pid is None:
        command += ["--target", "system", "--exclude-pids", str(os.getpid())]
    else:
        exe, start = process_identity(target_pid)
        command += ["--target", "pid:%d" % target_pid, "--exclude-pids", str(os.getpid()),
                    "--expected-exe", exe, "--expected-start", str(start)]
    return command


def wait_host(pid, seconds):
    """Waits for the host, sending SIGINT after `seconds` (if given); returns its wait
    status and resource usage (all its threads)."""
    if seconds is not None:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            done, status, usage = os.wait4(pid, os.WNOHANG)
            if done == pid:
                return status, usage
            time.sleep(0.01)
        os.kill(pid, signal.SIGINT)
    _, status, usage = os.wait4(pid, 0)
    return status, usage


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--target-pid", type=int)
    target.add_argument("--system", action="store_true")
    parser.add_argument("--out", default="-")
    parser.add_argument("--seconds", type=float)
    parser.add_argument("--stderr")
    parser.add_argument("--pid-file")
    parser.add_argument("--play", action="append", default=[])
    parser.add_argument("--cpu-file", help="receives the host's CPU time in seconds")
    args = parser.parse_args()

    players = [subprocess.Popen(shlex.split(p), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL) for p in args.play]
    command = host_command(args.host, None if args.system else args.target_pid)
    out = sys.stdout if args.out == "-" else open(args.out, "wb")
    host = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.PIPE)
    if out is not sys.stdout:
        out.close()
    if args.pid_file:
        with open(args.pid_file, "w", encoding="utf-8") as f:
            f.write("%d\n" % host.pid)
    lines = []

    def copy_stderr():
        for line in host.stderr:
            lines.append(line)
            sys.stderr.buffer.write(line)
            sys.stderr.flush()

    reader = threading.Thread(target=copy_stderr)
    reader.start()
    # A Ctrl+C of the user reaches the host as well (same process group); just wait then.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    status, usage = wait_host(host.pid, args.seconds)
    host.returncode = os.waitstatus_to_exitcode(status)
    if args.cpu_file:
        with open(args.cpu_file, "w", encoding="utf-8") as f:
            f.write("%.6f\n" % (usage.ru_utime + usage.ru_stime))
    reader.join()
    for player in players:
        player.kill()
        player.wait()
    if args.stderr:
        with open(args.stderr, "wb") as f:
            f.write(b"".join(lines))
    return host.returncode if host.returncode >= 0 else 128 - host.returncode


if __name__ == "__main__":
    sys.exit(main())
