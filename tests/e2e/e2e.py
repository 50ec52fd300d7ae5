#!/usr/bin/env python3
"""End-to-end checks of a Tarnwick program running under Wine.

    e2e.py real|demo --program EXE --ctl TARNWICKCTL.exe --launcher tools/tarnwick-wine
           --prefix WINEPREFIX

real: tarnwick.exe on pseudo-terminals linked as COM5 to COM7, with this script
as the far end of each line. demo: tarnwick-demo.exe on its simulated adapter.
The program is driven through tarnwickctl (commands, the Open Ports dialog,
posted keys and clicks) and read back through its message boxes and the pixels
it paints. Pixels are read from the X server, so the run has an Xvfb display of
its own (and with it a Wine prefix of its own, created on first use): windows
of other Wine sessions on a shared display would cover it.
Every wait is bounded and polls for its condition; nothing sleeps on a guess.
"""

import argparse
import os
import pty
import select
import subprocess
import sys
import tempfile
import threading
import time
import tty

WAIT_STEP = 0.05
START_TIMEOUT = 60
TIMEOUT = 15
MODEM_BOX = "GetCommModemStatus Error:50"


def build_test_pattern():
    alphabet = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    return b"".join(alphabet[:width] + b"\r\n" for width in range(5, 47))


TEST_PATTERN = build_test_pattern()


class CheckFailed(Exception):
    pass


def wait_until(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise CheckFailed("timed out after %g s waiting for %s" % (timeout, what))
        time.sleep(WAIT_STEP)


class Peers:
    """The far ends of the pseudo-terminals: collects what each port sends,
    and echoes it back on ports set to echo."""

    def __init__(self, names):
        self.lock = threading.Lock()
        self.lines = {}
        for name in names:
            master, slave = os.openpty()
            tty.setraw(slave)
            self.lines[name] = {"master": master, "slave": slave, "path": os.ttyname(slave),
                                "received": bytearray(), "echo": False}
        self.wake_read, self.wake_write = os.pipe()
        self.running = True
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        by_fd = {line["master"]: line for line in self.lines.values()}
        while self.running:
            ready, _, _ = select.select(list(by_fd) + [self.wake_read], [], [])
            for fd in ready:
                if fd == self.wake_read:
                    continue
                try:
                    data = os.read(fd, 65536)
                except OSError:
                    continue
                line = by_fd[fd]
                with self.lock:
                    line["received"] += data
                    echo = line["echo"]
                if echo:
                    os.write(fd, data)

    def path(self, name):
        return self.lines[name]["path"]

    def received(self, name):
        with self.lock:
            return bytes(self.lines[name]["received"])

    def set_echo(self, name, on):
        with self.lock:
            self.lines[name]["echo"] = on

    def send(self, name, data):
        os.write(self.lines[name]["master"], data)

    def close(self):
        self.running = False
        os.write(self.wake_write, b"x")
        self.thread.join(5)
        for line in self.lines.values():
            os.close(line["master"])
            os.close(line["slave"])


def holders_of(path):
    """Processes other than this one that hold PATH open."""
    holders = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            fds = os.listdir("/proc/%s/fd" % pid)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == path:
                    holders.append(int(pid))
                    break
            except OSError:
                pass
    return holders


class Session:
    """A private X display with a Wine prefix, wineserver and desktop on it."""

    def __init__(self, prefix, tools_dir):
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=prefix, TARNWICK_PREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.xvfb = None
        self.server_started = False
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                      "1280x1024x24", "-nolisten", "tcp"],
                                     pass_fds=[write_end], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as display:
            ready, _, _ = select.select([display], [], [], 30)
            if ready:
                number = display.readline().strip()
        if not number:
            raise CheckFailed("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode()
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            print("creating the Wine prefix %s (once)" % prefix, flush=True)
            self.quiet([os.path.join(tools_dir, "wine-prefix.sh"), prefix], 300)
        self.quiet(["wineserver", "-p"], 30)
        self.server_started = True
        self.quiet(["wine", "cmd", "/c", "exit"], 60)

    def quiet(self, command, timeout):
        subprocess.call(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, env=self.env, timeout=timeout)

    def close(self):
        if self.server_started:
            self.quiet(["wineserver", "-k"], 30)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


class Tarnwick:
    """One run of the program under Wine, and tarnwickctl to drive it."""

    def __init__(self, args, session, mappings):
        self.args = args
        self.env = session.env
        self.log = tempfile.TemporaryFile()
        # Output goes to files, never to pipes: a Wine process can hand a pipe
        # on to a server that outlives it, and a reader would wait for that.
        self.process = subprocess.Popen([args.launcher, args.program] + mappings,
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT, env=self.env)
        self.seen_boxes = {}

    def ctl(self, *words):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.call(["wine", self.args.ctl] + list(words),
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                     env=self.env)
            out.seek(0)
            err.seek(0)
            text = out.read().decode("latin-1").replace("\r", "")
            errors = err.read().decode("latin-1").replace("\r", "")
        return status, text, errors

    def ctl_ok(self, *words):
        status, text, errors = self.ctl(*words)
        if status != 0:
            raise CheckFailed("tarnwickctl %s failed (%d): %s" % (" ".join(words), status,
                                                                  errors.strip()))
        return text

    def boxes(self, wait=0):
        """The open message boxes as (handle, text), remembered for later counts;
        with WAIT, waits up to that many seconds for one to open."""
        found = []
        words = ["--wait", str(int(wait * 1000))] if wait else []
        for row in self.ctl_ok(*(words + ["boxes", "--handles"])).splitlines():
            handle, _, text = row.partition("\t")
            self.seen_boxes[handle] = text
            found.append((handle, text))
        return found

    def dismiss(self, button="ok"):
        """Answers every open box; returns the texts answered."""
        texts = []
        for row in self.ctl_ok("dismiss", "--handles", button).splitlines():
            handle, _, text = row.partition("\t")
            self.seen_boxes[handle] = text
            texts.append(text)
        return texts

    def answer_box(self, text, button="ok"):
        """Waits for the box with TEXT and answers it; fails on any other box."""
        def shown():
            boxes = self.boxes(wait=1)
            others = [t for _, t in boxes if t != text]
            if others:
                raise CheckFailed("expected the box %r, but Tarnwick shows %r" % (text, others))
            return boxes
        wait_until(shown, "the box %r" % text)
        answered = self.dismiss(button)
        if answered != [text]:
            raise CheckFailed("answered the boxes %r, expected only %r" % (answered, text))

    def expect_no_boxes(self):
        boxes = self.boxes()
        if boxes:
            raise CheckFailed("unexpected boxes: %r" % [t for _, t in boxes])

    def wait_started(self):
        def running():
            if self.process.poll() is not None:
                raise CheckFailed("the program ended at start with status %d: %s"
                                  % (self.process.returncode, self.output()))
            return self.ctl("ports")[0] == 0
        wait_until(running, "the Tarnwick frame window", START_TIMEOUT)

    def lamps(self, port):
        signal_row = self.ctl_ok("--port", port, "lamps").splitlines()[0]
        return dict(item.split("=") for item in signal_row.split())

    def wait_lamps(self, port, expected):
        def matches():
            lamps = self.lamps(port)
            return all(lamps.get(name) == state for name, state in expected.items())
        try:
            wait_until(matches, "the lamps of %s" % port)
        except CheckFailed:
            raise CheckFailed("%s lamps are %r, expected %r" % (port, self.lamps(port), expected))

    def wait_row(self, port, text, row=None):
        words = ["--port", port, "--wait", str(TIMEOUT * 1000), "check-row", text]
        status, out, errors = self.ctl(*(words + ([str(row)] if row else [])))
        if status != 0:
            raise CheckFailed("%s: %s" % (port, out.strip() or errors.strip()))

    def wait_exit(self):
        try:
            return self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            raise CheckFailed("the program did not end within %d s" % TIMEOUT)

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("latin-1").strip()

    def stop(self):
        if self.process.poll() is None:
            self.ctl("dismiss", "cancel")
            self.ctl("quit")
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Suite:
    def __init__(self):
        self.failures = 0

    def check(self, name, action):
        started = time.monotonic()
        try:
            action()
        except CheckFailed as failure:
            self.failures += 1
            print("FAIL %s: %s" % (name, failure), flush=True)
            return False
        print("ok   %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        return True


REAL_PORTS = ["COM5", "COM6", "COM7"]
MISSING_PORT = 40


def run_real(args, session, suite):
    peers = Peers(REAL_PORTS)
    dosdevices = os.path.join(args.prefix, "dosdevices")
    missing_link = os.path.join(dosdevices, "com%d" % MISSING_PORT)
    if os.path.islink(missing_link):
        os.unlink(missing_link)
    program = Tarnwick(args, session,
                       ["%s=%s" % (name, peers.path(name)) for name in REAL_PORTS])
    try:
        if suite.check("tarnwick.exe starts under the launcher", program.wait_started):
            real_checks(program, peers, suite)
    finally:
        program.stop()
        peers.close()
        for name in REAL_PORTS:
            link = os.path.join(dosdevices, name.lower())
            if os.path.islink(link) and os.readlink(link).startswith("/dev/pts/"):
                os.unlink(link)


def real_checks(program, peers, suite):
    def open_three():
        program.ctl_ok("open", "5", "3")
        names = sorted(line.split()[0] for line in program.ctl_ok("ports").splitlines())
        if names != REAL_PORTS:
            raise CheckFailed("port windows %r, expected %r" % (names, REAL_PORTS))
    if not suite.check("Open Ports dialog opens a run of three ports", open_three):
        return

    def modem_boxes_once_per_port():
        # Each port's first poll fails to read the modem status on a pty; the
        # box must come once for each port, not at every poll.
        def three_seen():
            for handle, text in program.boxes(wait=1):
                if text != MODEM_BOX:
                    raise CheckFailed("unexpected box %r" % text)
            program.dismiss()
            return len(program.seen_boxes) >= len(REAL_PORTS)
        wait_until(three_seen, "one %r box per port" % MODEM_BOX)
        program.ctl_ok("tile")
        # Bytes that reach the screen prove the poll has run on since.
        peers.send("COM7", b"\r\npolled")
        program.wait_row("COM7", "polled")
        program.expect_no_boxes()
        if len(program.seen_boxes) != len(REAL_PORTS):
            raise CheckFailed("%d modem-status boxes for %d ports"
                              % (len(program.seen_boxes), len(REAL_PORTS)))
    if not suite.check("GetCommModemStatus box appears once per port", modem_boxes_once_per_port):
        return

    def typed_keys():
        program.ctl_ok("--port", "COM5", "key", "a")
        wait_until(lambda: peers.received("COM5"), "the typed key at the peer")
        program.ctl_ok("--port", "COM5", "key", "return")
        wait_until(lambda: len(peers.received("COM5")) >= 2, "Enter at the peer")
        program.ctl_ok("--port", "COM6", "type", "x")
        wait_until(lambda: peers.received("COM6"), "the typed character at the peer")
        got = (peers.received("COM5"), peers.received("COM6"), peers.received("COM7"))
        if got != (b"a\r", b"x", b""):
            raise CheckFailed("peers received %r, expected (b'a\\r', b'x', b'')" % (got,))
    suite.check("typed character arrives as one byte, Enter as 0x0D", typed_keys)

    def peer_bytes_shown():
        peers.send("COM5", b"\r\nfrom peer: ESC\x1b[1m tab\tend")
        program.wait_row("COM5", "from peer: ESC<1bH>[1m tab<9H>end")
        status, out, _ = program.ctl("--port", "COM5", "check-row", "<Port Opened>")
        if status == 0:
            raise CheckFailed("the bottom row also matches other text: the check is blind")
        rows = program.ctl_ok("--port", "COM5", "check-row", "from peer: ESC<1bH>[1m tab<9H>end")
        bottom = int(rows.split()[1])
        program.wait_row("COM5", "<Port Opened>", bottom - 1)
    suite.check("bytes from the peer are painted in the port window", peer_bytes_shown)

    def test_pattern():
        start = {name: len(peers.received(name)) for name in REAL_PORTS}
        program.ctl_ok("send-test-data")
        wanted = 3 * len(TEST_PATTERN)
        try:
            wait_until(lambda: all(len(peers.received(name)) - start[name] >= wanted
                                   for name in REAL_PORTS), "three patterns on every port")
        finally:
            program.ctl_ok("send-test-data")
        for name in REAL_PORTS:
            program.ctl_ok("--port", name, "type", "Z")
        wait_until(lambda: all(peers.received(name).endswith(b"Z") for name in REAL_PORTS),
                   "the end mark after the pattern")
        for name in REAL_PORTS:
            sent = peers.received(name)[start[name]:-1]
            copies = len(sent) // len(TEST_PATTERN)
            if copies < 3 or sent != TEST_PATTERN * copies:
                bad = next((i for i in range(len(sent))
                            if sent[i] != TEST_PATTERN[i % len(TEST_PATTERN)]), len(sent))
                raise CheckFailed("%s sent %d bytes that are not whole patterns (first "
                                  "difference at byte %d)" % (name, len(sent), bad))
    suite.check("test pattern arrives byte-exact and repeats on every port", test_pattern)

    def loopback_with_echo():
        start = len(peers.received("COM6"))
        peers.set_echo("COM6", True)
        try:
            program.ctl_ok("--port", "COM6", "loopback-test")
            program.answer_box("Place the loopback plug on COM6")
            program.answer_box("Port failed loopback test(Error:eH)")
        finally:
            peers.set_echo("COM6", False)
        if peers.received("COM6")[start:] != b"TESTING\0":
            raise CheckFailed("the test sent %r" % peers.received("COM6")[start:])
    suite.check("loopback test with an echoing peer fails with eH", loopback_with_echo)

    def missing_port():
        status, _, _ = program.ctl("open", str(MISSING_PORT), "1")
        if status == 0:
            raise CheckFailed("COM%d opened, but it has no device" % MISSING_PORT)
        program.answer_box("Error from CreateFile: 2 COM%d 0" % MISSING_PORT)
        program.answer_box("Port failed to open.")
    suite.check("missing port gives the two boxes", missing_port)

    def ctl_errors():
        status, _, errors = program.ctl("--port", "COM9", "clear-screen")
        if status != 1 or "COM9 has no port window" not in errors:
            raise CheckFailed("tarnwickctl on a port with no window: %d %r" % (status, errors))
        status, _, errors = program.ctl("no-such-command")
        if status != 2:
            raise CheckFailed("an unknown command gave status %d" % status)
    suite.check("tarnwickctl reports a port with no window", ctl_errors)

    def modem_box_count():
        program.expect_no_boxes()
        modem = [t for t in program.seen_boxes.values() if t == MODEM_BOX]
        if len(modem) != len(REAL_PORTS):
            raise CheckFailed("%d %r boxes in the run, expected %d" % (len(modem), MODEM_BOX,
                                                                     len(REAL_PORTS)))
    suite.check("no further modem-status box during the run", modem_box_count)

    def close_frame():
        program.ctl_ok("quit")
        status = program.wait_exit()
        if status != 0:
            raise CheckFailed("exit status %d: %s" % (status, program.output()))
        for name in REAL_PORTS:
            path = peers.path(name)
            wait_until(lambda: not holders_of(path), "%s (%s) to be released" % (name, path), 5)
    suite.check("closing the frame with ports open exits 0 and releases every pty", close_frame)

    def nothing_running():
        status, _, errors = program.ctl("tile")
        if status != 1 or "no Tarnwick is running" not in errors:
            raise CheckFailed("tarnwickctl with no Tarnwick: %d %r" % (status, errors))
    suite.check("tarnwickctl reports that no Tarnwick is running", nothing_running)


def run_demo(args, session, suite):
    program = Tarnwick(args, session, [])
    try:
        if suite.check("tarnwick-demo.exe starts under the launcher", program.wait_started):
            demo_checks(program, suite)
    finally:
        program.stop()


def demo_checks(program, suite):
    def open_ports():
        program.ctl_ok("open", "5", "3")
        program.expect_no_boxes()
        program.ctl_ok("tile")
    if not suite.check("demo opens a run of three ports without boxes", open_ports):
        return

    lit_plug = {"CTS": "lit", "DSR": "lit", "CD": "lit", "RTS": "lit", "DTR": "lit",
                "LOOP": "dark"}

    def lamps_in_colours():
        program.wait_lamps("COM5", dict(lit_plug, RI="dark"))
        program.wait_lamps("COM6", dict(lit_plug, RI="lit"))
        # Below the labels, which have no descenders, a lamp shows only its fill.
        colour = program.ctl_ok("--port", "COM5", "pixel", "20", "15").strip()
        if colour != "80FF80":
            raise CheckFailed("CTS lamp fill is %s, expected 80FF80 (RGB 128,255,128)" % colour)
        colour = program.ctl_ok("--port", "COM5", "pixel", "101", "15").strip()
        if colour != "C0C0C0":
            raise CheckFailed("dark RI lamp fill is %s, expected C0C0C0" % colour)
    suite.check("lamps lit in their colours, RI on the even port", lamps_in_colours)

    def loop_lamp_click():
        program.ctl_ok("--port", "COM5", "click", "200", "8")
        program.wait_lamps("COM5", {"LOOP": "lit"})
        program.ctl_ok("--port", "COM5", "click", "200", "8")
        program.wait_lamps("COM5", {"LOOP": "dark"})
        program.expect_no_boxes()
    suite.check("LOOP lamp present and toggled by a click", loop_lamp_click)

    def loopback_passes():
        program.ctl_ok("--port", "COM6", "loopback-test")
        program.answer_box("Place the loopback plug on COM6")
        program.answer_box("COM6 passed the loopback test. RI present.")
        program.ctl_ok("--port", "COM5", "loopback-test")
        program.answer_box("Place the loopback plug on COM5")
        program.answer_box("COM5 passed the loopback test.")
    suite.check("loopback test passes, with RI on the even port", loopback_passes)

    def exit_command():
        program.ctl_ok("--port", "COM5", "exit")
        status = program.wait_exit()
        if status != 0:
            raise CheckFailed("exit status %d: %s" % (status, program.output()))
    suite.check("command 201 ends the demo with status 0", exit_command)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["real", "demo"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--ctl", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--prefix", required=True)
    args = parser.parse_args()
    for path in (args.program, args.ctl, args.launcher):
        if not os.path.exists(path):
            print("e2e: missing %s" % path)
            return 1
    suite = Suite()
    started = time.monotonic()
    try:
        session = Session(os.path.abspath(args.prefix),
                          os.path.dirname(os.path.abspath(args.launcher)))
    except (CheckFailed, subprocess.TimeoutExpired) as failure:
        print("FAIL session: %s" % failure)
        return 1
    try:
        (run_real if args.mode == "real" else run_demo)(args, session, suite)
    finally:
        session.close()
    print("%s: %d failed, %.1f s" % (args.mode, suite.failures, time.monotonic() - started))
    return 1 if suite.failures else 0


if __name__ == "__main__":
    sys.exit(main())
