#!/usr/bin/env python3
"""End-to-end capture runs of a Tarnwick program under Wine, through tarnwickctl.

    capture.py real|demo --program EXE --ctl TARNWICKCTL.exe --launcher tools/tarnwick-wine [--data FILE]

real: tarnwick.exe on pseudo-terminals (tools/pty-peer.py): COM5's far end sends
--data, every byte value, once the port has sent a byte; the raw file must be
those bytes exactly. COM6 echoes, captured as shown, then into a full disk.
demo: tarnwick-demo.exe, four ports under Send Test Data in the three forms.
Runs inside a Wine session as ctest sets it up; every wait is bounded.
"""

import argparse
import datetime
import json
import os
import random
import re
import subprocess
import sys
import tempfile

from common import MODEM_BOX, PATTERN, CheckFailed, wait_until

STAMP = re.compile(rb"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) ")


class Tarnwick:
    def __init__(self, args, folder):
        self.args, self.folder = args, folder
        self.env = dict(os.environ, TARNWICK_PREFIX=os.environ["WINEPREFIX"])
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([args.launcher, args.program], stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=subprocess.STDOUT, env=self.env)
        wait_until(lambda: self.ctl("status")[0] == 0, "the Tarnwick frame window", 60)

    def ctl(self, *words):
        # Files, not pipes: a Wine process can hand a pipe on to a lingering server.
        with tempfile.TemporaryFile() as out:
            status = subprocess.call(["wine", self.args.ctl] + list(words), cwd=self.folder,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=out, env=self.env)
            out.seek(0)
            return status, out.read().decode("latin-1").replace("\r", "")

    def expect(self, status, *words, says=""):
        got, text = self.ctl(*words)
        if got != status or says not in text:
            raise CheckFailed("tarnwickctl %s: exit %d, %r (expected %d and %r)"
                              % (" ".join(words), got, text, status, says))
        if words[0] != "status":
            print("  tarnwickctl %s -> %d %s" % (" ".join(words), got, text.strip()), flush=True)
        return text

    def status(self):
        return json.loads(self.expect(0, "status", "--json"))

    def capture(self, port):
        found = [c for c in self.status()["captures"] if c["port"] == port]
        return found[0] if found else None

    def finish(self):
        self.ctl("dismiss", "cancel")
        self.ctl("quit")
        try:
            return self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run_real(args, folder):
    data = bytes(range(256)) + random.Random(5).randbytes(200000)
    program = Tarnwick(args, folder)
    try:
        program.expect(0, "open", "5", "2")
        answered = []
        def modem_boxes():  # one per pty port: its modem inputs cannot be read
            answered.extend(program.ctl("dismiss")[1].split("\n")[:-1])
            return len(answered) >= 2
        wait_until(modem_boxes, "a box per port")
        if answered != [MODEM_BOX] * 2:
            raise CheckFailed("boxes %r" % answered)
        # Relative paths are the tool's own working folder's.
        program.expect(0, "capture", "COM5", "raw.bin")
        program.expect(0, "capture", "COM6", "shown.txt", "--as-shown")
        with open(args.data, "wb") as f:
            f.write(data)
        program.expect(0, "--port", "COM5", "type", "x")  # the far end sends once it hears a byte
        program.expect(0, "--port", "COM6", "type", "echo\\x1b\\r\\n")
        wait_until(lambda: program.capture("COM5")["bytesCaptured"] == len(data), "every byte")
        wait_until(lambda: program.capture("COM6")["bytesCaptured"] == 24, "the echoed line")
        program.expect(0, "capture", "--stop", says="COM5: stopped; %d bytes" % len(data))
        got = read(os.path.join(folder, "raw.bin"))
        if got != data:
            at = next((i for i in range(min(len(got), len(data))) if got[i] != data[i]), None)
            raise CheckFailed("raw.bin: %d bytes of %d, first difference at %r"
                              % (len(got), len(data), at))
        if read(os.path.join(folder, "shown.txt")) != b"<Port Opened>echo<1bH>\r\n":
            raise CheckFailed("shown.txt holds %r" % read(os.path.join(folder, "shown.txt")))
        # Refused, with the reason.
        program.expect(1, "capture", "COM5", "raw.bin", says="exists")
        program.expect(1, "capture", "COM9", "x.bin", says="no such port open")
        program.expect(2, "capture", "COM5", "com5.bin", says="names a device")
        program.expect(2, "capture", "COM5", "x" * 300, says="longer than MAX_PATH")
        # A disk that fails stops that capture only; the port goes on.
        program.expect(0, "capture", "COM6", "/dev/full", "--force")
        program.expect(0, "--port", "COM6", "type", "full\\r\\n")
        wait_until(lambda: program.capture("COM6")["state"] == "failed", "the failed write")
        text = program.expect(0, "status")
        if not re.search(r"COM6 +raw +failed +0  Z:\\dev\\full: Disk full", text):
            raise CheckFailed("status does not show the failure: %r" % text)
        received = [p for p in program.status()["ports"] if p["name"] == "COM6"][0]["bytesReceived"]
        program.expect(0, "--port", "COM6", "type", "more")
        wait_until(lambda: [p for p in program.status()["ports"] if p["name"] == "COM6"][0]
                   ["bytesReceived"] == received + 4, "the port going on")
        program.expect(1, "capture", "--stop", "COM6", says="failed after 0 bytes")
        if program.capture("COM6") or program.ctl("boxes")[1].strip():
            raise CheckFailed("a failure left behind")
    finally:
        if program.finish() != 0:
            raise CheckFailed("Tarnwick did not end with 0")


def run_demo(args, folder):
    program = Tarnwick(args, folder)
    try:
        program.expect(0, "open", "1", "4", "--baud", "921600")
        program.expect(1, "capture", "1", "6", "run", says="not open: COM5, COM6; nothing captures")
        program.expect(0, "capture", "1", "2", "run")
        program.expect(0, "capture", "COM3", "shown.txt", "--as-shown")
        program.expect(0, "capture", "COM4", "stamped.txt", "--timestamps")
        started = datetime.datetime.now()
        program.expect(0, "send-test-data")
        try:
            wait_until(lambda: all(p["bytesReceived"] > 20 * len(PATTERN)
                                   for p in program.status()["ports"]), "twenty patterns")
        finally:
            program.expect(0, "send-test-data")
        wait_until(lambda: all(p["bytesReceived"] == p["bytesSent"]
                               for p in program.status()["ports"]), "the lines to go quiet")
        received = {p["name"]: p["bytesReceived"] for p in program.status()["ports"]}
        program.expect(0, "capture", "--stop")
        ended = datetime.datetime.now()
        for name in ("COM1", "COM2"):
            got = read(os.path.join(folder, "run", name + "-rx.bin"))
            if got != PATTERN * (received[name] // len(PATTERN)) or len(got) != received[name]:
                raise CheckFailed("%s-rx.bin: %d bytes, not the %d received" % (name, len(got),
                                                                               received[name]))
        shown = b"<Port Opened>" + PATTERN * (received["COM3"] // len(PATTERN))
        if read(os.path.join(folder, "shown.txt")) != shown:
            raise CheckFailed("shown.txt is not the screen's lines")
        stamps, lines = [], []
        for line in read(os.path.join(folder, "stamped.txt")).split(b"\r\n")[:-1]:
            match = STAMP.match(line)
            if not match:
                raise CheckFailed("a line without its time: %r" % line)
            stamps.append(datetime.datetime.strptime(match.group(1).decode(),
                                                     "%Y-%m-%d %H:%M:%S.%f"))
            lines.append(line[24:] + b"\r\n")
        if b"".join(lines) != b"<Port Opened>" + PATTERN * (received["COM4"] // len(PATTERN)):
            raise CheckFailed("stamped.txt is not the screen's lines")
        slack = datetime.timedelta(seconds=2)
        if stamps != sorted(stamps) or stamps[0] < started - slack or stamps[-1] > ended + slack:
            raise CheckFailed("times from %s to %s, the run from %s to %s"
                              % (stamps[0], stamps[-1], started, ended))
    finally:
        if program.finish() != 0:
            raise CheckFailed("Tarnwick did not end with 0")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["demo", "real"])
    for option in ("--program", "--ctl", "--launcher"):
        parser.add_argument(option, required=True)
    parser.add_argument("--data")
    args = parser.parse_args()
    try:
        with tempfile.TemporaryDirectory() as folder:
            (run_demo if args.mode == "demo" else run_real)(args, folder)
        print("capture %s: all checks passed" % args.mode)
    except (CheckFailed, subprocess.TimeoutExpired) as failure:
        print("FAILED: %s" % failure)
        sys.exit(1)


if __name__ == "__main__":
    main()
