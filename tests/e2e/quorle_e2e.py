"""Shared helpers of the whole-binary tests: run a built program the way the translator
does (natively, or under Wine through the Windows translator launcher) and capture its
standard output bytes, standard error bytes and real exit status."""

import os
import pathlib
import subprocess
import tempfile
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parents[2]
WINE_RUN = ROOT / "scripts" / "wine-run"


@dataclass
class Outcome:
    stdout: bytes
    stderr: bytes
    status: int


def wine_env(extra=None):
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["LANG"] = "C.UTF-8"
    env["LC_ALL"] = "C.UTF-8"
    if extra:
        env.update(extra)
    return env


def run_native(program, args, env=None, timeout=60, stdin=subprocess.DEVNULL):
    proc = subprocess.run([str(program), *args], stdin=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, timeout=timeout, check=False)
    return Outcome(proc.stdout, proc.stderr, proc.returncode)


def run_under_wine(launcher, program, args, launcher_options=(), env=None, timeout=120):
    """Runs `program` as the child of the Windows translator launcher; the exit status is
    the child's real one (3010 stays 3010), read from the launcher's status file."""
    with tempfile.TemporaryDirectory() as tmp:
        status_file = pathlib.Path(tmp) / "status"
        command = [str(WINE_RUN), str(launcher), "--status-file", winpath(status_file),
                   *launcher_options, "--", winpath(program), *args]
        proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=wine_env(env), timeout=timeout,
                              check=False)
        text = status_file.read_text() if status_file.exists() else ""
        status = int(text) if text.isdigit() else -1
        return Outcome(proc.stdout, proc.stderr, status)


def winpath(path):
    """The Wine path of a Unix path (drive Z: maps the Unix root)."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def error_line(message):
    """The audio host's error line for `message` (ASCII messages without escapes)."""
    return ('{"code":"capture_failed","event":"error","message":"%s"}\n' % message).encode()
