#!/usr/bin/env python3
"""Runs a command with Wine COM ports linked to pseudo-terminals, and plays the
far end of each line while the command runs.

    python3 tools/pty-peer.py [--prefix WINEPREFIX] --port com40=echo \
        [--port com41=sink:out.bin] [--port com42=source:in.bin] -- COMMAND...

Modes: echo (send back everything received), sink[:FILE] (collect what is
received, into FILE when given), source:FILE (send FILE's bytes, then collect
and drop what arrives). The links are removed and the ptys closed when the
command ends; the exit status is the command's.
"""

import os
import pty
import select
import signal
import subprocess
import sys
import tty


def usage(message):
    sys.stderr.write("pty-peer: %s\n" % message)
    sys.stderr.write(__doc__)
    sys.exit(2)


def parse_arguments(argv):
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    ports = []
    i = 0
    while i < len(argv) and argv[i] != "--":
        arg = argv[i]
        if arg in ("--prefix", "--port") and i + 1 < len(argv):
            value = argv[i + 1]
            i += 2
        elif arg.startswith("--prefix=") or arg.startswith("--port="):
            arg, value = arg.split("=", 1)
            i += 1
        else:
            usage("unknown argument %r" % arg)
        if arg == "--prefix":
            prefix = value
        else:
            if "=" not in value:
                usage("--port wants NAME=MODE, got %r" % value)
            name, mode = value.split("=", 1)
            if not name.lower().startswith("com") or not name[3:].isdigit():
                usage("port name must be comN, got %r" % name)
            if not (mode == "echo" or mode == "sink" or mode.startswith("sink:")
                    or mode.startswith("source:")):
                usage("unknown mode %r" % mode)
            ports.append((name.lower(), mode))
    command = argv[i + 1:]
    if not ports or not command:
        usage("need at least one --port and a command after --")
    return prefix, ports, command


class Peer:
    def __init__(self, dosdevices, name, mode):
        self.name = name
        self.mode = mode
        self.master, self.slave = pty.openpty()
        # No echo, no line editing, no translation: the line carries bytes.
        tty.setraw(self.slave)
        self.link = os.path.join(dosdevices, name)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        self.holder = self.hold_terminal(os.ttyname(self.slave))
        self.outgoing = b""
        self.sink = None
        if mode.startswith("sink:"):
            self.sink = open(mode[5:], "wb")
        elif mode.startswith("source:"):
            with open(mode[7:], "rb") as f:
                self.outgoing = f.read()

    @staticmethod
    def hold_terminal(path):
        # A daemon that opens the tty (the wineserver does) would make it
        # its controlling terminal and get SIGHUP when the master closes. A
        # helper in a session of its own takes the tty first.
        ready_r, ready_w = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.close(ready_r)
                os.setsid()
                fd = os.open(path, os.O_RDWR)
                os.write(ready_w, b"1")
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
                while True:
                    signal.pause()
            finally:
                os._exit(0)
        os.close(ready_w)
        os.read(ready_r, 1)
        os.close(ready_r)
        return pid

    def on_readable(self):
        try:
            data = os.read(self.master, 4096)
        except OSError:
            return
        if self.mode == "echo":
            self.outgoing += data
        elif self.sink:
            self.sink.write(data)
            self.sink.flush()

    def on_writable(self):
        try:
            sent = os.write(self.master, self.outgoing)
        except OSError:
            return
        self.outgoing = self.outgoing[sent:]

    def close(self):
        os.kill(self.holder, signal.SIGKILL)
        os.waitpid(self.holder, 0)
        if os.path.islink(self.link):
            os.unlink(self.link)
        if self.sink:
            self.sink.close()
        os.close(self.master)
        os.close(self.slave)


def run(prefix, ports, command):
    dosdevices = os.path.join(prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    peers = []
    try:
        for name, mode in ports:
            peers.append(Peer(dosdevices, name, mode))
        child = subprocess.Popen(command)
        signal.signal(signal.SIGTERM, lambda *_: child.terminate())
        while child.poll() is None:
            readers = [p.master for p in peers]
            writers = [p.master for p in peers if p.outgoing]
            readable, writable, _ = select.select(readers, writers, [], 0.05)
            for p in peers:
                if p.master in readable:
                    p.on_readable()
                if p.master in writable:
                    p.on_writable()
        return child.returncode
    finally:
        for p in peers:
            p.close()


def main():
    prefix, ports, command = parse_arguments(sys.argv[1:])
    status = run(prefix, ports, command)
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == "__main__":
    main()
