#!/usr/bin/env python3
"""End-to-end checks of a Tarnwick program under Wine, driven by tarnwickctl and
read back through its boxes, rows and pixels. Run inside a Wine session of its
own display: real, tarnwick.exe under tools/pty-peer.py with COM5 a sink into
--sink and COM6 and COM7 echoing; demo, tarnwick-demo.exe on its simulated
adapter. Every wait is bounded and polls for its condition.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

from common import MODEM_BOX, PATTERN, CheckFailed, wait_until

TIMEOUT = 15


class Tarnwick:
    def __init__(self, args):
        self.args = args
        self.log = tempfile.TemporaryFile()
        self.seen = {}  # every box seen, by handle
        # Output goes to a file: a Wine process can hand a pipe on to a server
        # that outlives it, and a reader would wait for that.
        self.process = subprocess.Popen([args.launcher, args.program], stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=subprocess.STDOUT)

    def ctl(self, *words):
        with tempfile.TemporaryFile() as out:
            status = subprocess.call(["wine", self.args.ctl] + list(words),
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            out.seek(0)
            return status, out.read().decode("latin-1").replace("\r", "")

    def ok(self, *words):
        status, text = self.ctl(*words)
        if status != 0:
            raise CheckFailed("tarnwickctl %s failed (%d): %s" % (" ".join(words), status, text))
        return text

    def rows(self, *words):
        found = []
        for row in self.ok(*words).splitlines():
            handle, _, text = row.partition("\t")
            self.seen[handle] = text
            found.append(text)
        return found

    def answer(self, text, button="ok"):
        """Waits for the box with TEXT and answers it; any other box fails."""
        def shown():
            boxes = self.rows("--wait", str(TIMEOUT * 1000), "boxes", "--handles")
            if [t for t in boxes if t != text]:
                raise CheckFailed("expected the box %r, Tarnwick shows %r" % (text, boxes))
            return boxes
        wait_until(shown, "the box %r" % text)
        if self.rows("dismiss", "--handles", button) != [text]:
            raise CheckFailed("answered more than the box %r" % text)

    def no_boxes(self):
        # A box that is coming has come once the program has polled a while more.
        self.ok("wait-polls", "20")
        boxes = self.rows("boxes", "--handles")
        if boxes:
            raise CheckFailed("unexpected boxes: %r" % boxes)

    def started(self):
        if self.process.poll() is not None:
            self.log.seek(0)
            raise CheckFailed("ended at start: %s" % self.log.read().decode("latin-1"))
        return self.ctl("ports")[0] == 0

    def row(self, port, text):
        status, out = self.ctl("--port", port, "--wait", str(TIMEOUT * 1000), "check-row", text)
        if status != 0:
            raise CheckFailed("%s: %s" % (port, out.strip()))

    def lamps(self, port, expected):
        def matches():
            lamps = dict(i.split("=") for i in self.ok("--port", port, "lamps").split("\n")[0].split())
            return all(lamps.get(name) == state for name, state in expected.items()) or None
        wait_until(matches, "the lamps %r of %s" % (expected, port))

    def exits_with_zero(self, *words):
        self.ok(*words)
        try:
            status = self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            raise CheckFailed("the program did not end")
        if status != 0:
            raise CheckFailed("exit status %d" % status)

    def stop(self):
        if self.process.poll() is None:
            self.ctl("dismiss", "cancel")
            self.ctl("quit")
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()


def real_checks(program, sink, check):
    def sunk():
        with open(sink, "rb") as f:
            return f.read()

    def open_three():
        program.ok("open", "5", "3")
        names = sorted(line.split()[0] for line in program.ok("ports").splitlines())
        if names != ["COM5", "COM6", "COM7"]:
            raise CheckFailed("port windows %r" % names)

    def modem_box_once_per_port():
        # A pty's modem status cannot be read: one box per port, not per poll.
        def three():
            program.rows("--wait", str(TIMEOUT * 1000), "boxes", "--handles")
            program.rows("dismiss", "--handles", "ok")
            return len(program.seen) >= 3
        wait_until(three, "a box per port")
        program.ok("tile")
        program.ok("--port", "COM6", "key", "return")
        program.ok("--port", "COM6", "type", "polled")  # echoed back once the poll runs on
        program.row("COM6", "polled")
        program.no_boxes()
        if list(program.seen.values()) != [MODEM_BOX] * 3:
            raise CheckFailed("boxes %r" % list(program.seen.values()))

    def typed_keys():
        program.ok("--port", "COM5", "key", "a")
        program.ok("--port", "COM5", "key", "return")
        program.ok("--port", "COM5", "type", "x")
        wait_until(lambda: len(sunk()) >= 3, "three bytes at the far end")
        if sunk() != b"a\rx":
            raise CheckFailed("the far end received %r" % sunk())

    def echo_shown():
        program.ok("--port", "COM6", "key", "return")
        program.ok("--port", "COM6", "type", "from far: tab\tend")
        program.row("COM6", "from far: tab<9H>end")

    def test_pattern():
        start = len(sunk())
        program.ok("send-test-data")
        try:
            wait_until(lambda: len(sunk()) - start >= 3 * len(PATTERN), "three patterns")
        finally:
            program.ok("send-test-data")
        program.ok("--port", "COM5", "type", "Z")
        wait_until(lambda: sunk().endswith(b"Z"), "the end mark")
        sent = sunk()[start:-1]
        if len(sent) % len(PATTERN) or sent != PATTERN * (len(sent) // len(PATTERN)):
            raise CheckFailed("%d bytes that are not whole patterns" % len(sent))

    def loopback_on_echo():
        program.ok("--port", "COM7", "loopback-test")
        program.answer("Place the loopback plug on COM7")
        program.answer("Port failed loopback test(Error:eH)")

    def missing_port():
        if program.ctl("open", "40", "1")[0] == 0:
            raise CheckFailed("COM40 opened without a device")
        program.answer("Error from CreateFile: 2 COM40 0")
        program.answer("Port failed to open.")
        program.no_boxes()

    for name, action in [("Open Ports opens a run of three ports", open_three),
                         ("the modem-status box comes once per port", modem_box_once_per_port),
                         ("a typed key is one byte, Enter 0x0D", typed_keys),
                         ("echoed bytes are painted with their markers", echo_shown),
                         ("the test pattern arrives byte-exact and repeats", test_pattern),
                         ("the loopback test on an echoing line fails with eH", loopback_on_echo),
                         ("a missing port gives its two boxes", missing_port),
                         ("quit with ports open exits 0", lambda: program.exits_with_zero("quit"))]:
        if not check(name, action):
            return


def demo_checks(program, check):
    plug = {"CTS": "lit", "DSR": "lit", "CD": "lit", "RTS": "lit", "DTR": "lit", "LOOP": "dark"}

    def open_ports():
        program.ok("open", "5", "3")
        program.no_boxes()
        program.ok("tile")

    def lamps():
        program.lamps("COM5", dict(plug, RI="dark"))
        program.lamps("COM6", dict(plug, RI="lit"))
        for x, colour in (("20", "80FF80"), ("101", "C0C0C0")):  # below the labels
            got = program.ok("--port", "COM5", "pixel", x, "15").strip()
            if got != colour:
                raise CheckFailed("the lamp at x %s is %s, not %s" % (x, got, colour))
        for state in ("lit", "dark"):
            program.ok("--port", "COM5", "click", "200", "8")
            program.lamps("COM5", {"LOOP": state})
        program.no_boxes()

    def loopback():
        for port, ri in (("COM6", " RI present."), ("COM5", "")):
            program.ok("--port", port, "loopback-test")
            program.answer("Place the loopback plug on %s" % port)
            program.answer("%s passed the loopback test.%s" % (port, ri))

    def hostile_messages():
        # Wine cannot deliver a WM_COPYDATA of megabytes at all; what reaches
        # the program is refused, and it answers the next request.
        for size, dwdata, replies in (("16", None, ["status 1"]), ("15", None, ["no reply"]),
                                      ("40", "7", ["no reply"]), ("2097152", None, None),
                                      ("67108864", None, None), ("40", None, ["status 0"])):
            got = program.ok("request", size, *([dwdata] if dwdata else [])).split()
            if " ".join(got) not in (replies or ["status 1", "no reply"]):
                raise CheckFailed("a request of %s bytes: %r" % (size, got))
            program.ok("status")
        for words in (("post", "2", "0", "0"), ("--port", "COM5", "post", "2", "0", "0"),
                      ("post", "275", "0", "305419896")):  # WM_DESTROY, WM_TIMER with a bad callback
            program.ok(*words)
        program.no_boxes()
        if "3 ports open" not in program.ok("status"):
            raise CheckFailed("a port closed: %r" % program.ok("status"))

    for name, action in [("the demo opens three ports without boxes", open_ports),
                         ("huge or malformed requests and stray messages leave it running", hostile_messages),
                         ("lamps in their colours, RI on the even port, LOOP by a click", lamps),
                         ("the loopback test passes, with RI on the even port", loopback),
                         ("command 201 ends the demo with 0",
                          lambda: program.exits_with_zero("--port", "COM5", "exit"))]:
        if not check(name, action):
            return


def launcher_checks(args, program):
    """A second launcher on the prefix is refused before Wine starts, and
    tools/tarnwickctl reaches the program the first one runs (tarnwickctl.exe
    beside it), in Linux lines."""
    with tempfile.TemporaryFile() as out:
        status = subprocess.call([args.launcher, args.program], stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=out, timeout=TIMEOUT)
        out.seek(0)
        text = out.read().decode("latin-1")
    if status != 1 or "already runs" not in text:
        raise CheckFailed("a second launcher gave %d: %r" % (status, text))
    wrapper = os.path.join(os.path.dirname(args.launcher), "tarnwickctl")
    with tempfile.TemporaryFile() as out:
        status = subprocess.call([wrapper, "status"], stdin=subprocess.DEVNULL, stdout=out,
                                 timeout=TIMEOUT)
        out.seek(0)
        text = out.read().decode("latin-1")
    expected = program.ok("status")
    if status != 0 or text != expected:
        raise CheckFailed("tools/tarnwickctl status gave %d: %r, not %r" % (status, text, expected))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["real", "demo"])
    for option in ("--program", "--ctl", "--launcher"):
        parser.add_argument(option, required=True)
    parser.add_argument("--sink")
    args = parser.parse_args()
    os.environ["TARNWICK_PREFIX"] = os.environ["WINEPREFIX"]
    failures = []

    def check(name, action):
        started = time.monotonic()
        try:
            action()
        except CheckFailed as failure:
            failures.append(name)
            print("FAIL %s: %s" % (name, failure), flush=True)
            return False
        print("ok   %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        return True

    program = Tarnwick(args)
    try:
        if check("%s starts" % os.path.basename(args.program),
                 lambda: wait_until(program.started, "the frame window", 60)):
            if args.mode == "real":
                check("a second launcher is refused; tools/tarnwickctl answers in Linux lines",
                      lambda: launcher_checks(args, program))
                real_checks(program, args.sink, check)
            else:
                demo_checks(program, check)
    finally:
        program.stop()
    print("%s: %d failed" % (args.mode, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
