#!/usr/bin/env python3
"""End-to-end burn-in runs of a Tarnwick program under Wine, through tarnwickctl.

    burnin.py demo|real --program EXE --ctl TARNWICKCTL.exe --launcher tools/tarnwick-wine

demo: tarnwick-demo.exe with three faulty ports of sixteen (one corrupting,
one without a plug, one whose output is held); the burn-in must fail exactly
those three with their reasons, `screen` must print what the window shows, and
a slow sound port must pass. real: tarnwick.exe on pseudo-terminals
(tools/pty-peer.py), two echoing, one changing a byte in 10,000 and one whose
far end hangs up mid-run; the burn-in must fail those two only, the modem
status that no pty can read staying a note.
Runs inside a Wine session (tools/wine-session.sh) and, for real, under
tools/pty-peer.py playing those ports, as ctest sets them up; every wait is bounded.
"""

import argparse
import csv
import json
import os
import signal
import subprocess
import sys
import tempfile

from common import CheckFailed, wait_until

DEMO_FAULTS = {"COM5": ("corrupt:20000", "pattern error"), "COM12": ("pulled", "nothing received"),
               "COM9": ("held:1", "output held (XOFF) from")}
BURNIN_FAILED = 3
INTERRUPTED = 4


def ctl(args, env, *words):
    # Files, not pipes: a Wine process can hand a pipe on to a lingering server.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.call(["wine", args.ctl] + list(words), stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err, env=env)
        out.seek(0)
        err.seek(0)
        return (status, out.read().decode("latin-1").replace("\r", ""),
                err.read().decode("latin-1").replace("\r", ""))


def burnin(args, env, first, count, report, seconds="5", baud="115200", expected=BURNIN_FAILED):
    status, out, err = ctl(args, env, "burnin", str(first), str(count), "--seconds", seconds,
                           "--baud", baud, "--report", report)
    print(out + err, flush=True)
    if status != expected:
        raise CheckFailed("burnin exited with %d, expected %d" % (status, expected))
    with open(report, newline="") as f:
        return {row["port"]: row for row in csv.DictReader(f)}


def expect_verdicts(rows, names, failing):
    if sorted(rows) != sorted(names):
        raise CheckFailed("report rows %r, expected %r" % (sorted(rows), sorted(names)))
    for name, row in rows.items():
        reason = failing.get(name)
        if (row["verdict"] == "fail") != bool(reason) or (reason and reason not in row["reason"]):
            raise CheckFailed("%s: %s (%s), expected %s" % (name, row["verdict"], row["reason"],
                                                           reason or "pass"))


def screen_matches_window(args, env, port):
    status, out, err = ctl(args, env, "screen", port)
    lines = out.split("\n")[:35]
    if status != 0 or len(lines) != 35:
        raise CheckFailed("screen %s: %s" % (port, err.strip()))
    # The window's error for a row it does not show names its bottom row.
    _, out, err = ctl(args, env, "--port", port, "check-row", "x", "999")
    bottom = int((out + err).rsplit(" ", 1)[-1])
    for back in range(3):
        status, out, err = ctl(args, env, "--port", port, "check-row", lines[34 - back],
                               str(bottom - back))
        if status != 0:
            raise CheckFailed("%s: %s" % (port, (out + err).strip()))


def launch(args, env, extra_env=None):
    log = tempfile.TemporaryFile()
    process = subprocess.Popen([args.launcher, args.program], stdin=subprocess.DEVNULL,
                               stdout=log, stderr=subprocess.STDOUT, env=dict(env, **(extra_env or {})))
    wait_until(lambda: ctl(args, env, "status")[0] == 0, "the Tarnwick frame window", 60)
    return process


def finish(args, env, process):
    ctl(args, env, "dismiss", "cancel")
    ctl(args, env, "quit")
    try:
        process.wait(20)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def interrupted_run(args, env, report):
    """A TERM to tools/tarnwickctl (a CI job's time-out) reaches the burn-in as
    Ctrl-C and ends the run early: its ports are incomplete, never passed."""
    wrapper = os.path.join(os.path.dirname(args.launcher), "tarnwickctl")
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen([wrapper, "burnin", "30", "2", "--seconds", "120",
                                    "--report", report], stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT, env=env)

        def sending():
            status, text, _ = ctl(args, env, "status", "--json")
            ports = json.loads(text)["ports"] if status == 0 else []
            return any(p["name"] == "COM30" and p["bytesSent"] > 0 for p in ports)
        wait_until(sending, "the run to send")
        process.send_signal(signal.SIGTERM)
        status = process.wait(60)
        out.seek(0)
        print(out.read().decode("latin-1").replace("\r", ""), flush=True)
    if status != INTERRUPTED:
        raise CheckFailed("an interrupted burnin exited with %d, expected %d" % (status, INTERRUPTED))
    with open(report, newline="") as f:
        rows = list(csv.DictReader(f))
    if [row["verdict"] for row in rows] != ["incomplete"] * 2:
        raise CheckFailed("interrupted verdicts %r" % [row["verdict"] for row in rows])


def run_demo(args, env, report):
    faults = ",".join("%s=%s" % (name, fault) for name, (fault, _) in DEMO_FAULTS.items())
    if ctl(args, env, "burnin", "1", "2")[0] != 2:
        raise CheckFailed("burnin without --seconds is not a usage error")
    process = launch(args, env, {"TARNWICK_DEMO_FAULTS": faults})
    try:
        rows = burnin(args, env, 1, 16, report)
        expect_verdicts(rows, ["COM%d" % n for n in range(1, 17)],
                        {name: reason for name, (_, reason) in DEMO_FAULTS.items()})
        ctl(args, env, "tile")
        screen_matches_window(args, env, "COM1")
        rows = burnin(args, env, 20, 1, report, seconds="10", baud="1200", expected=0)
        expect_verdicts(rows, ["COM20"], {})
        interrupted_run(args, env, report)
    finally:
        finish(args, env, process)


def run_real(args, env, report):
    process = launch(args, env)
    try:
        # The burn-in itself answers the box each pty port raises for its
        # unreadable modem inputs.
        rows = burnin(args, env, 5, 4, report)
        expect_verdicts(rows, ["COM5", "COM6", "COM7", "COM8"],
                        {"COM7": "pattern error", "COM8": "box \"Com "})
        if any("modem status unreadable" not in rows[name]["note"] for name in ("COM5", "COM6")):
            raise CheckFailed("the unreadable modem status is not noted")
        if ctl(args, env, "boxes")[1].strip():
            raise CheckFailed("boxes left open after the burn-in")
    finally:
        finish(args, env, process)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["demo", "real"])
    for option in ("--program", "--ctl", "--launcher"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    env = dict(os.environ, TARNWICK_PREFIX=os.environ["WINEPREFIX"])
    try:
        with tempfile.TemporaryDirectory() as folder:
            (run_demo if args.mode == "demo" else run_real)(args, env, os.path.join(folder, "r.csv"))
        print("burn-in %s: all checks passed" % args.mode)
    except (CheckFailed, subprocess.TimeoutExpired) as failure:
        print("FAILED: %s" % failure)
        sys.exit(1)


if __name__ == "__main__":
    main()
