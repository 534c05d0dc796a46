#!/usr/bin/env python3
"""Runs a command against an X display that breaks its connection on cue: a proxy on a display
number of its own forwards the command's X connection to the display of DISPLAY, and closes it
when the client sends its first request with the given major opcode (that request is never
forwarded). Exits with the command's status; the command's output streams are its own.

    x11_cutting_proxy.py OPCODE -- COMMAND [ARGS...]

16 (InternAtom) cuts a client after its connection is set up, at its first own request."""

import os
import select
import socket
import struct
import subprocess
import sys
import threading


def reserve_display():
    """A display number no server uses, held through its lock file as X servers do."""
    for number in range(300, 600):
        lock = "/tmp/.X%d-lock" % number
        try:
            fd = os.open(lock, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o444)
        except FileExistsError:
            continue
        os.write(fd, b"%10d\n" % os.getpid())
        os.close(fd)
        path = "/tmp/.X11-unix/X%d" % number
        if os.path.exists(path):
            os.unlink(lock)
            continue
        return number, lock, path
    raise RuntimeError("no free display number")


def real_display_path():
    display = os.environ["DISPLAY"]
    number = display.split(":")[-1].split(".")[0]
    return "/tmp/.X11-unix/X%s" % number


class Cutter:
    """Follows the client's byte stream request by request."""

    def __init__(self, opcode):
        self.opcode = opcode
        self.buffer = b""
        self.setup_done = False
        self.order = "<"

    def feed(self, data):
        """Returns (bytes to forward, cut now)."""
        self.buffer += data
        out = b""
        while True:
            if not self.setup_done:
                if len(self.buffer) < 12:
                    return out, False
                self.order = "<" if self.buffer[0:1] == b"l" else ">"
                name, auth = struct.unpack(self.order + "HH", self.buffer[6:10])
                size = 12 + (name + 3) // 4 * 4 + (auth + 3) // 4 * 4
                if len(self.buffer) < size:
                    return out, False
                out += self.buffer[:size]
                self.buffer = self.buffer[size:]
                self.setup_done = True
                continue
            if len(self.buffer) < 4:
                return out, False
            if self.buffer[0] == self.opcode:
                return out, True
            units = struct.unpack(self.order + "H", self.buffer[2:4])[0]
            if units == 0:  # BIG-REQUESTS: the length follows in 32 bits
                if len(self.buffer) < 8:
                    return out, False
                units = struct.unpack(self.order + "I", self.buffer[4:8])[0]
            size = units * 4
            if len(self.buffer) < size:
                return out, False
            out += self.buffer[:size]
            self.buffer = self.buffer[size:]


def serve(listener, opcode, target):
    while True:
        try:
            client, _ = listener.accept()
        except OSError:
            return
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.connect(target)
        cutter = Cutter(opcode)
        alive = True
        while alive:
            ready, _, _ = select.select([client, server], [], [])
            for sock in ready:
                data = sock.recv(65536)
                if not data:
                    alive = False
                    break
                if sock is server:
                    client.sendall(data)
                    continue
                out, cut = cutter.feed(data)
                if out:
                    server.sendall(out)
                if cut:
                    alive = False
                    break
        client.close()
        server.close()


def main():
    opcode = int(sys.argv[1])
    command = sys.argv[sys.argv.index("--") + 1:]
    number, lock, path = reserve_display()
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        os.makedirs("/tmp/.X11-unix", exist_ok=True)
        listener.bind(path)
        listener.listen(4)
        threading.Thread(target=serve, args=(listener, opcode, real_display_path()),
                         daemon=True).start()
        env = dict(os.environ, DISPLAY=":%d" % number)
        return subprocess.run(command, env=env).returncode
    finally:
        listener.close()
        os.unlink(path)
        os.unlink(lock)


if __name__ == "__main__":
    sys.exit(main())
