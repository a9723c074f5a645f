#!/usr/bin/env python3
"""programUploader.exe under Wine, watched while it runs: the monitor after
an upload, and Ctrl-C (kill -INT on the Wine process, which Wine hands to
the console handler as CTRL_C_EVENT) during the monitor and in the middle of
an upload.

The far end is picSim with our firmware and the monitor's test application
(which prints a line as its very first act), or bootloaderSim.  Its port is
made at --port-link, which Wine maps to --port-name.  The uploader's output
goes to files that the test reads as they grow: a pipe handed to Wine would
stay open after the program ends.

Each case checks the exit value and the output in order; where the far end
outlives the run, also that the port's settings are as the uploader found
them.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import examples_test as ex  # noqa: E402  the end-to-end table's simulator, hex reader and chip oracle

Failure = ex.Failure
WAIT_S = 90          # Wine's start and an upload on a loaded machine
FIRST = b"app first\n"
DONE = b"\nProgramming complete\n"
HUNG_UP = b"The serial port was disconnected.\n"
START = b"; Ctrl-C quits. What is typed is not sent to the chip in this build.\n"
INTERRUPTED = re.compile(rb"ERROR: Interrupted at address ([0-9A-F]{4}); the chip holds only part of the program\.")


class PicSim:
    """picSim with the firmware, unthrottled or in real time, its port also
    at link."""

    def __init__(self, args, link, fast=True):
        self.proc = subprocess.Popen([args.picsim, "--firmware", args.firmware, "--link", link]
                                     + (["--fast"] if fast else []),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = self.proc.stdout.readline().decode()
        if not first.startswith("picSim: port "):
            self.stop()
            raise Failure("picSim did not announce its port (%r)" % first)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.communicate()


class Run:
    """A program with its output in files, read as they grow."""

    def __init__(self, command, folder, tag):
        self.paths = [os.path.join(folder, tag + ".out"), os.path.join(folder, tag + ".err")]
        with open(self.paths[0], "wb") as out, open(self.paths[1], "wb") as err:
            self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err)

    def output(self):
        return [open(p, "rb").read() for p in self.paths]

    def wait_for(self, stream, pattern):
        """Until the stream (0 out, 1 err) matches pattern (bytes or a regex)."""
        end = time.monotonic() + WAIT_S
        while time.monotonic() < end:
            text = self.output()[stream]
            if (pattern.search(text) if hasattr(pattern, "search") else pattern in text):
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        out, err = self.output()
        raise Failure("no %r on standard %s\nstandard output: %r\nstandard error: %r"
                      % (pattern, ("output", "error")[stream], out, err))

    def finish(self):
        try:
            self.proc.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("still running after %d s: %r" % (WAIT_S, self.output()))
        return (self.proc.returncode,) + tuple(self.output())


# What a DCB holds of a terminal's settings.  Wine writes the rest of the
# termios (VMIN, IGNBRK, NOFLSH) its own way when it sets a DCB, the one the
# uploader found too, so only these can come back as they were.
DCB_FIELDS = re.compile(r"speed \d+ baud|-?(?:cs[5-8]|parenb|parodd|cstopb|crtscts|ixon|ixoff)\b")


def port_settings(link):
    stty = subprocess.run(["stty", "-a", "-F", link], capture_output=True, text=True)
    return " ".join(DCB_FIELDS.findall(stty.stdout)) if stty.returncode == 0 else stty.stderr


def in_order(data, pieces):
    at = 0
    for piece in pieces:
        at = data.find(piece, at)
        if at < 0:
            return False
        at += len(piece)
    return True


def exe(args, *options):
    return ["bash", args.wine, "exec", args.wine_state, args.uploader, "-p", args.port_name] + list(options)


def expect(tag, got, status, out, err, port_before=None, link=None):
    rc, stdout, stderr = got
    if rc != status or not in_order(stdout, out) or not in_order(stderr, err):
        raise Failure("%s: exit %d (expected %d)\nstandard output: %r\nstandard error: %r\nexpected in order: %r / %r"
                      % (tag, rc, status, stdout, stderr, out, err))
    if port_before is not None and port_settings(link) != port_before:
        raise Failure("%s: the port's settings changed:\nbefore: %s\nafter:  %s"
                      % (tag, port_before, port_settings(link)))
    print("%s: exit %d" % (tag, rc))


def case_monitor(args, folder):
    """The program's first line after the upload's last, for --monitor-seconds
    (five: picSim, unthrottled, shares the machine with Wine and the other
    rows)."""
    sim = PicSim(args, args.port_link)
    try:
        before = port_settings(args.port_link)
        run = Run(exe(args, "--monitor-seconds", "5", args.app), folder, "monitor")
        expect("monitor", run.finish(), 1, [DONE, FIRST], [b"Monitor at 19200 bit/s for 5 s" + START],
               before, args.port_link)
    finally:
        sim.stop()


def case_monitor_speed(args, folder):
    """--monitor=9600 switches the open port once the end command is out (the
    application talks at 9600 bit/s after 20 ms, in real time); the port goes
    back to the upload's speed.  Three tries, as on Linux: picSim catching up
    with the wall clock on a loaded machine can run those 20 ms before the
    switch."""
    for attempt in (1, 2, 3):
        sim = PicSim(args, args.port_link, fast=False)
        try:
            before = port_settings(args.port_link)
            run = Run(exe(args, "--monitor=9600", "--monitor-seconds", "3", args.slow_app), folder, "monitor-speed")
            expect("monitor at 9600", run.finish(), 1, [DONE, b"app 9600\n"],
                   [b"Monitor at 9600 bit/s for 3 s" + START], before, args.port_link)
            return
        except Failure as failure:
            if attempt == 3:
                raise
            print("try %d failed: %s" % (attempt, str(failure)[-300:]), file=sys.stderr)
        finally:
            sim.stop()


def case_monitor_ctrl_c(args, folder):
    """Ctrl-C ends the monitor: the upload's exit value, the port put back."""
    sim = PicSim(args, args.port_link)
    try:
        before = port_settings(args.port_link)
        run = Run(exe(args, "--monitor", args.app), folder, "monitor-ctrl-c")
        run.wait_for(0, FIRST)
        run.proc.send_signal(signal.SIGINT)
        expect("monitor, Ctrl-C", run.finish(), 1, [DONE, FIRST], [b"Monitor at 19200 bit/s" + START],
               before, args.port_link)
    finally:
        sim.stop()


def case_monitor_hang_up(args, folder):
    """The far end goes (bootloaderSim ends after the session's end command)."""
    sim = ex.Simulator(args.sim, os.path.join(folder, "hang-up.dump.hex"), args.port_link)
    try:
        run = Run(exe(args, "-q", "--monitor"), folder, "monitor-hang-up")
        expect("monitor, hang-up", run.finish(), 1, [], [b"Monitor at 19200 bit/s" + START, HUNG_UP])
    finally:
        sim.stop()


def interrupted_upload(args, folder, tag, wine, fill):
    """fill, with Ctrl-C once a few blocks are written, by the Windows or the
    Linux uploader: its run, the simulator's exit value and the chip left."""
    dump = os.path.join(folder, tag + ".dump.hex")
    sim = ex.Simulator(args.sim, dump, args.port_link if wine else None)
    try:
        command = exe(args, fill) if wine else [args.linux_uploader, "-p", sim.port, fill]
        run = Run(command, folder, tag)
        run.wait_for(0, b"programming address 0040")
        run.proc.send_signal(signal.SIGINT)
        got = run.finish()
        sim_rc = sim.finish()[0]
    finally:
        sim.stop()
    return got, sim_rc, ex.read_hex(dump) if os.path.exists(dump) else {}


def case_upload_ctrl_c(args, folder):
    """Ctrl-C in the middle of an upload: the Linux uploader's ERROR line and
    exit value, the end command sent (the simulator's session ended with it),
    and the chip holds the program up to the address named.  The simulator
    ends with its session, so the port's settings are checked after Ctrl-C
    in the monitor, where the far end stays: the way out is the same."""
    fill = ex.hex_path(args.examples, "fill", "inhx32")
    expected = ex.chip_after_upload(ex.gpdasm_reading(fill, ex.PROCESSOR["fill"]), ignore_overlap=False)
    last = {}
    for tag, wine in (("linux", False), ("wine", True)):
        (rc, stdout, stderr), sim_rc, chip = interrupted_upload(args, folder, "ctrl-c." + tag, wine, fill)
        m = INTERRUPTED.search(stdout)
        if rc != 0 or not m or sim_rc != 0:
            raise Failure("%s: exit %d, simulator exit %d (0: the end command came)\n"
                          "standard output: %r\nstandard error: %r" % (tag, rc, sim_rc, stdout, stderr))
        # The block named was on its way: the chip may have written it.
        address = int(m.group(1), 16)
        below = [{a: v for a, v in expected.items() if a < end} for end in (address, address + 4)]
        if not below[0] or chip not in below:
            raise Failure("%s: interrupted at %04X, and the chip is not the program below it\n%s"
                          % (tag, address, ex.describe_difference(below[1], chip)))
        last[tag] = INTERRUPTED.sub(b"ERROR: Interrupted at address ....", stdout.rstrip(b"\n").split(b"\n")[-1])
        print("%s: %s, exit %d, the end command sent" % (tag, m.group(0).decode(), rc))
    if last["wine"] != last["linux"]:
        raise Failure("last line %r where Linux gives %r" % (last["wine"], last["linux"]))


CASES = {"monitor": case_monitor, "monitor-speed": case_monitor_speed, "monitor-ctrl-c": case_monitor_ctrl_c,
         "monitor-hang-up": case_monitor_hang_up, "upload-ctrl-c": case_upload_ctrl_c}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--wine", required=True, help="tests/windows/wine.sh")
    parser.add_argument("--wine-state", required=True, help="the Wine state folder of this ctest run")
    parser.add_argument("--uploader", required=True, help="programUploader.exe")
    parser.add_argument("--port-link", required=True, help="the far end's --link, mapped to --port-name")
    parser.add_argument("--port-name", required=True, help="the COM port the uploader opens")
    parser.add_argument("--linux-uploader", help="the Linux programUploader")
    parser.add_argument("--sim", help="bootloaderSim")
    parser.add_argument("--picsim", help="picSim")
    parser.add_argument("--firmware", help="our bootloader firmware's default build")
    parser.add_argument("--app", help="monitorApp, talking at once at 19200 bit/s")
    parser.add_argument("--slow-app", help="monitorApp, talking at 9600 bit/s after 20 ms")
    parser.add_argument("--examples", help="the examples folder")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="wineSession.") as folder:
        try:
            CASES[args.case](args, folder)
        except (Failure, subprocess.TimeoutExpired) as failure:
            print("FAIL: %s: %s" % (args.case, failure), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
