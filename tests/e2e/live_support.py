"""What the whole-binary live capture tests share: starting and stopping tone players, and
running a test file's cases while a sink keeper holds the server's sink awake."""

import subprocess
import sys
import unittest


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
