#!/usr/bin/env python3
"""Runs a command with Wine COM ports linked to pseudo-terminals, and plays the
far end of each line while the command runs.

    python3 tools/pty-peer.py [--prefix WINEPREFIX] --port com40=echo \
        [--port com41=sink:out.bin] [--port com42=source:in.bin] -- COMMAND...

Modes: echo (send back everything received), sink[:FILE] (collect what is
received, into FILE when given), source:FILE (send FILE's bytes, then collect
and drop what arrives), source-after:N:FILE (drop what arrives; once N bytes
have, read FILE then and send its bytes, so the command decides the moment
and writes FILE first), hangup-after:N (echo until N bytes have been received,
then close the far end for good, as a device that vanished: the command
decides the moment by what it writes), corrupt:N (echo, but change every N-th
byte, as a noisy line). The links are removed and the ptys
closed when the command ends; the exit status is the command's.
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


def is_hangup_mode(mode):
    return mode.startswith("hangup-after:") and mode[13:].isdigit() and int(mode[13:]) > 0


def is_corrupt_mode(mode):
    return mode.startswith("corrupt:") and mode[8:].isdigit() and int(mode[8:]) > 0


def source_after(mode):
    """(N, FILE) of a source-after:N:FILE mode, else None."""
    parts = mode.split(":", 2)
    if len(parts) == 3 and parts[0] == "source-after" and parts[1].isdigit() and parts[2]:
        return int(parts[1]), parts[2]
    return None


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
                    or mode.startswith("source:") or is_hangup_mode(mode)
                    or is_corrupt_mode(mode) or source_after(mode)):
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
        self.hangup_after = int(mode[13:]) if is_hangup_mode(mode) else None
        self.corrupt_every = int(mode[8:]) if is_corrupt_mode(mode) else None
        self.source_after = source_after(mode)
        self.received = 0
        self.hung_up = False
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
                # Only the tty: a copy of a master kept here would keep that
                # line up after its peer closed it.
                os.closerange(3, ready_w)
                os.closerange(ready_w + 1, os.sysconf("SC_OPEN_MAX"))
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
        elif self.corrupt_every:
            changed = bytearray(data)
            for i in range(len(changed)):
                self.received += 1
                if self.received % self.corrupt_every == 0:
                    changed[i] ^= 0x20
            self.outgoing += bytes(changed)
        elif self.source_after:
            before = self.received
            self.received += len(data)
            count, path = self.source_after
            if before < count <= self.received:
                with open(path, "rb") as f:
                    self.outgoing += f.read()
        elif self.hangup_after is not None:
            # Bytes past the count are not echoed: what the command wrote
            # after the hang-up point never reaches a far end.
            self.outgoing += data[:max(0, self.hangup_after - self.received)]
            self.received += len(data)
            if self.received >= self.hangup_after:
                self.hang_up()
        elif self.sink:
            self.sink.write(data)
            self.sink.flush()

    def hang_up(self):
        # Closing the master hangs up the slave: every later call on the
        # port fails, as on an adapter pulled out. The link stays.
        os.close(self.master)
        self.master = -1
        self.outgoing = b""
        self.hung_up = True
        sys.stderr.write("pty-peer: %s hung up after %d bytes\n" % (self.name, self.received))

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
        if not self.hung_up:
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
            live = [p for p in peers if not p.hung_up]
            readers = [p.master for p in live]
            writers = [p.master for p in live if p.outgoing]
            readable, writable, _ = select.select(readers, writers, [], 0.05)
            for p in live:
                if p.master in readable:
                    p.on_readable()
                if not p.hung_up and p.master in writable:
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
