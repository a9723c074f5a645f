#!/usr/bin/env python3
"""The bootloader firmware on picSim, driven by the real programUploader.

  assemble  the committed hex is the default build, byte for byte; its words,
            configuration word and layout; option checks at assembly time
  upload    one example uploaded through the firmware: the chip holds the
            example outside 0x1F00-0x1FFF with its block 0 in the slot, and
            the firmware's own words unchanged (fill: see realtime)
  app       an application that reports over the USART: it runs after the
            upload, again after a reset once the window has passed, and an
            uploader that polls at reset gets the bootloader instead
  errors    the firmware's error reports as the uploader prints them, and its
            answers to frames the uploader never sends
  receiver  the receiver overrun by polls during the greeting and by bytes
            during a block write, and the firmware going on; the EEPROM
            verify; each also on a fixture that must fail it
  memory    20 uploads into one picSim: the instruction objects stay one a
            word and no line symbol is lost; with gpsim's own rewrite, they
            are lost
  opens     --reset-on-open: queries back to back, each answered, then an
            upload whose program runs; a reset during a block's write
  speeds    every speed the uploader offers at 20 MHz; a mismatch never greets
  trace     --trace at 9600 bit/s against the 19200 bit/s firmware, and an
            upload whose first block arrives damaged, sent again with
            --retries: the application starts
  realtime  examples/fill uploaded in real time and checked like the others;
            prints the wall time beside bootloaderSim's for the same file
  chips     one row a chip of the family (--chip): blink with an EEPROM image
            of the chip's size, then the test application, through the image
            of its flash size on picSim --chip; on the rows so marked also a
            cut upload, the refused EEPROM offset 0x80 and a planted fault

picSim runs with --fast except where real time is the point, and then with
a build whose quiet time is the longest it offers: unthrottled, the chip's
seconds pass faster than the uploader's.
"""

import argparse
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import examples_test as ex  # noqa: E402  the hex reader, gpdasm's reading, the upload model

Failure = ex.Failure

BOOT_LOW, BOOT_HIGH = 0x1F00, 0x1FFF
SLOT = 0x1FF8                   # the application's block 0 on the chip
COMMIT = SLOT - 4               # nops once a session that wrote flash ended cleanly
COMMITTED, HOLD = 0x0000, 0x2800    # nop, goto 0x0000
CONFIG_WORD = 0x2007
SPEEDS = (2400, 4800, 9600, 19200, 38400, 57600)
BAUD = {2400: termios.B2400, 4800: termios.B4800, 9600: termios.B9600,
        19200: termios.B19200, 38400: termios.B38400, 57600: termios.B57600}
APP_OK = b"app ok\n"
QUIET_S = 10                    # the default build's quiet time
WDTE = 0x0004                   # the configuration word's watchdog enable
TIMEOUT_S = 90
COMMIT_WAIT_S = 0.5


# ------------------------------------------------------------------ processes

class PicSim:
    """A picSim for one run, its port read from its first line."""

    def __init__(self, args, firmware, *options, fast=True):
        command = [args.picsim, "--firmware", firmware] + (["--fast"] if fast else []) + list(options)
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        first = self.proc.stdout.readline().decode() if ready else ""
        m = re.match(r"picSim: port (\S+)$", first.rstrip("\n"))
        if not m:
            self.stop()
            raise Failure("picSim did not announce its port (first line %r, %s)"
                          % (first, " ".join(command)))
        self.port = m.group(1)

    def finish(self, interrupt=True):
        """Ends the run (SIGINT unless it stops by itself) and returns its output."""
        if interrupt and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            out, err = self.proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.stop()
            raise Failure("picSim did not end")
        if self.proc.returncode != 0:
            raise Failure("picSim exit %d: %s" % (self.proc.returncode, err.decode()))
        return out.decode()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


def uploader(args, port, *options, timeout=TIMEOUT_S):
    run = subprocess.run([args.uploader, "-p", port] + list(options),
                         capture_output=True, text=True, timeout=timeout)
    return run.returncode, run.stdout + run.stderr


def open_port(port, speed=19200):
    fd = os.open(port, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = BAUD[speed]
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    return fd


def read_for(fd, seconds, until=None):
    """Bytes from fd until `until` returns true for them, the line is quiet
    for `seconds`, or it hangs up."""
    data = b""
    while until is None or not until(data):
        ready, _, _ = select.select([fd], [], [], seconds)
        if not ready:
            break
        try:
            chunk = os.read(fd, 256)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


# ------------------------------------------------------------------ images

def firmware_words(args, path=None):
    return ex.read_hex(path or args.firmware)


def chip_after(firmware, image, ignore_overlap=False, config_refused=False):
    """The chip that picSim holds after an upload of `image` through the
    firmware: the firmware's words, then what the upload sends, with block 0
    in the slot, and the commit block committed once flash was written (a
    refused configuration block does not count against the session).  A
    refused configuration block ends the first pass, so no EEPROM byte
    follows it."""
    chip = dict(firmware)
    for address, value in ex.chip_after_upload(image, ignore_overlap).items():
        if address < 4:
            chip[SLOT + address] = value
        elif address < ex.CONFIG_START:
            chip[address] = value
        elif address >= ex.EEPROM_START and not config_refused:
            chip[address] = value
        if address < ex.CONFIG_START:
            chip.update(commit_block(COMMITTED))
    return chip


def commit_block(word):
    return {COMMIT + i: word for i in range(4)}


def upload_and_dump(args, workdir, tag, hexfile, *options, sim_options=(), firmware=None, speed=19200):
    dump = os.path.join(workdir, tag + ".dump.hex")
    sim = PicSim(args, firmware or args.fast_firmware, "--dump", dump, *sim_options)
    # picSim takes a byte at the speed the pseudo-terminal has when it reads
    # it, which can be after the uploader has put the terminal's first speed
    # back; held open at the upload's speed, the terminal keeps it.
    held = open_port(sim.port, speed)
    try:
        rc, output = uploader(args, sim.port, *options, hexfile)
        # The end command is still on its way, and the commit block is
        # written after it: a few milliseconds of the chip's time.
        time.sleep(COMMIT_WAIT_S)
    finally:
        os.close(held)
        sim.finish()
    return rc, output, ex.read_hex(dump)


# ------------------------------------------------------------------ assemble

CONFIG_FIELDS = (  # name, mask, value the firmware must set
    ("HS oscillator", 0x0003, 0x0002),
    ("watchdog off", 0x0004, 0x0000),
    ("low-voltage programming off", 0x0080, 0x0000),
    ("flash write protection off", 0x0600, 0x0600),
    ("code protection off", 0x2000, 0x2000),
    ("data EEPROM protection off", 0x0100, 0x0100),
)

OPTION_CASES = (  # options, error expected (None: assembles)
    (("FOSC=20000000", "BAUD=57600"), None),
    (("FOSC=20000000", "BAUD=2400"), None),
    (("FOSC=4000000", "BAUD=2400", "WINDOW_MS=2550", "QUIET_S=16"), None),
    (("FOSC=4000000", "BAUD=57600"), "2 %"),
    (("BAUD=1200",), "the uploader offers"),
    (("FOSC=25000000",), "4 to 20 MHz"),
    (("WINDOW_MS=3000",), "WINDOW_MS"),
    (("QUIET_S=16", "WDT=1"), None),
    (("QUIET_S=5",), "QUIET_S"),
    (("QUIET_S=17",), "QUIET_S"),
    (("WDT=2",), "WDT"),
)


LISTING_CASES = (  # selfWriteRules.asm variant, the check's complaint (None: passes)
    (None, None),
    ("UNLOCK_ORDER", "without 55h, AAh written to EECON2"),
    ("WRITE_NOPS", "WR not followed by 2 nop"),
    ("READ_NOPS_SHORT", "RD not followed by 2 nop"),
    ("NO_PROMISE", "no READ_NOPS symbol"),
)


LAYOUT_CASES = (  # processor, a change to the source, the listing check's complaint ("": passes)
    ("p16f873", ("", ""), ""),
    ("p16f873", ("SELF_WRITE      equ     _WRT_ON", "SELF_WRITE      equ     _WRT_OFF"), "code cannot write flash"),
    ("p16f877a", ("BOOT_START      equ     FLASH_WORDS - 0x100", "BOOT_START equ FLASH_WORDS - 0x200"),
     "BOOT_START is 1E00"),
)


def gpasm(args, out, *defines, processor="p16f877a"):
    command = ["gpasm", "-p", processor] + [x for d in defines for x in ("-D", d)] + ["-o", out, args.source]
    return subprocess.run(command, capture_output=True, text=True, timeout=60)


def listing_symbol(listing, name):
    m = re.search(r"^%s\s+([0-9A-F]{8})$" % name, listing, re.M)
    return int(m.group(1), 16) if m else None


# The committed images: file, flash words, the chips it serves (gpasm's
# processors), the words of the reset jump (pagesel takes one bit of PCLATH
# below 0x1000, two above).
IMAGES = (
    ("bootloader.hex", 0x2000, ("p16f877a",), 3),
    ("bootloader-16F876-877.hex", 0x2000, ("p16f876", "p16f877", "p16f876a", "p16f877a"), 3),
    ("bootloader-16F873-874.hex", 0x1000, ("p16f873", "p16f874", "p16f873a", "p16f874a"), 2),
)


def check_image(words, flash, jump, name):
    """The layout of one image for a chip of `flash` words; its summary line."""
    low_end, high_end = flash - 0x100, flash - 1
    slot_at, commit_at = flash - 8, flash - 12
    own = sorted(a for a in words if low_end <= a <= high_end)
    low = sorted(a for a in words if a < low_end)
    if low != list(range(jump)):
        raise Failure("%s: words outside the range other than the jump at 0-%d: %s" % (name, jump - 1, low))
    slot = [a for a in own if slot_at <= a < slot_at + 4]
    if slot:
        raise Failure("%s: the slot's words are in the hex: %s" % (name, slot))
    if any(words.get(commit_at + i) != HOLD for i in range(4)):
        raise Failure("%s: the commit block does not hold the application back: %s"
                      % (name, ["%04X" % words.get(commit_at + i, 0x3FFF) for i in range(4)]))
    if any(flash <= a < CONFIG_WORD or a > CONFIG_WORD for a in words):
        raise Failure("%s: the hex sets more than its flash and the configuration word" % name)
    config = words.get(CONFIG_WORD)
    if config is None:
        raise Failure("%s: no configuration word" % name)
    for field, mask, value in CONFIG_FIELDS:
        if config & mask != value:
            raise Failure("%s: configuration word %04X: not %s" % (name, config, field))
    return ("%s: %d words of 256 used at %04X-%04X (%d code, 4 the commit block), 4 the slot, "
            "%d free; jump at 0000-%04X; configuration word %04X"
            % (name, len(own), low_end, high_end, len(own) - 4, 256 - len(own) - 4, jump - 1, config))


def cmd_assemble(args):
    ex.require_gputils("gpasm")
    built_dir = os.path.dirname(args.firmware)
    with tempfile.TemporaryDirectory() as scratch:
        for name, flash, processors, jump in IMAGES:
            committed, built = os.path.join(args.committed, name), os.path.join(built_dir, name)
            with open(committed, "rb") as a, open(built, "rb") as b:
                image = a.read()
                if image != b.read():
                    raise Failure("%s is not the default build %s: commit the rebuilt hex" % (committed, built))
            print(check_image(ex.read_hex(committed), flash, jump, name))
            # Every chip the image names takes the same words.
            for processor in processors:
                out = os.path.join(scratch, processor + ".hex")
                run = gpasm(args, out, processor=processor)
                with open(out, "rb") as f:
                    if run.returncode != 0 or f.read() != image:
                        raise Failure("gpasm -p %s: not %s\n%s" % (processor, name, run.stdout + run.stderr))
            print("  the same words for %s" % ", ".join(p[1:].upper() for p in processors))
        run = gpasm(args, os.path.join(scratch, "none.hex"), processor="p16f84a")
        if run.returncode == 0 or "the chip: gpasm -p" not in run.stdout + run.stderr:
            raise Failure("a chip outside the family assembles:\n%s" % (run.stdout + run.stderr))


        for baud in SPEEDS:
            out = os.path.join(scratch, "b%d.hex" % baud)
            run = gpasm(args, out, "BAUD=%d" % baud)
            if run.returncode != 0:
                raise Failure("BAUD=%d does not assemble:\n%s" % (baud, run.stdout + run.stderr))
            with open(os.path.splitext(out)[0] + ".lst") as f:
                listing = f.read()
            print("20 MHz, %5d bit/s: SPBRG %3d, BRGH %d, speed off by %.3f %%"
                  % (baud, listing_symbol(listing, "BRG_VALUE"), listing_symbol(listing, "USE_BRGH"),
                     listing_symbol(listing, "BAUD_ERROR_MILLIPERCENT") / 1000.0))
        for options, error in OPTION_CASES:
            out = os.path.join(scratch, "o.hex")
            run = gpasm(args, out, *options)
            said = run.stdout + run.stderr
            if error is None and run.returncode != 0:
                raise Failure("%s does not assemble:\n%s" % (" ".join(options), said))
            if error is not None and (run.returncode == 0 or error not in said):
                raise Failure("%s: expected an error with %r, got exit %d:\n%s"
                              % (" ".join(options), error, run.returncode, said))
        print("%d option sets checked at assembly time" % len(OPTION_CASES))

        for define, problem in LISTING_CASES:
            out = os.path.join(scratch, "rules.hex")
            run = subprocess.run(["gpasm"] + (["-D", define] if define else []) + ["-o", out, args.rules],
                                 capture_output=True, text=True, timeout=60)
            if run.returncode != 0:
                raise Failure("%s does not assemble:\n%s" % (args.rules, run.stdout + run.stderr))
            check = subprocess.run([sys.executable, args.listing_check, os.path.splitext(out)[0] + ".lst"],
                                   capture_output=True, text=True, timeout=60)
            if (check.returncode == 0) != (problem is None) or (problem and problem not in check.stderr):
                raise Failure("listing check, %s: exit %d, expected %s\n%s"
                              % (define or "every rule kept", check.returncode,
                                 repr(problem) if problem else "success", check.stderr))
        print("listing check: %d self-write sequences judged" % len(LISTING_CASES))

        with open(args.source) as f:
            source = f.read()
        for processor, (old, new), problem in LAYOUT_CASES:
            asm = os.path.join(scratch, "layout.asm")
            with open(asm, "w") as f:
                f.write(source.replace(old, new))
            run = subprocess.run(["gpasm", "-p", processor, "-o", os.path.join(scratch, "layout.hex"), asm],
                                 capture_output=True, text=True, timeout=60)
            check = subprocess.run([sys.executable, args.listing_check, "--layout",
                                    os.path.join(scratch, "layout.lst")], capture_output=True, text=True, timeout=60)
            if run.returncode != 0 or (check.returncode == 0) != (not problem) or problem not in check.stderr:
                raise Failure("listing check of the layout, %s with %r: exit %d, expected %r\n%s%s"
                              % (processor, new, check.returncode, problem, run.stdout, check.stderr))
        print("listing check: %d layouts judged" % len(LAYOUT_CASES))


# ------------------------------------------------------------------ upload

def cmd_upload(args):
    ex.require_gputils("gpdasm")
    workdir = ex.fresh_dir(args.work)
    path = ex.hex_path(args.examples, args.name, "inhx32")
    image = ex.gpdasm_reading(path, ex.PROCESSOR[args.name])
    overlap = args.name == "overlap"
    start = time.monotonic()
    rc, output, chip = upload_and_dump(args, workdir, args.name, path, *(["-o"] if overlap else []))
    # The overlap example walks into the configuration words, which code
    # cannot write: the firmware refuses their block.
    want_rc, want_text = ((0, "ERROR: Invalid address 2004\n") if overlap
                          else (1, "\nProgramming complete\n"))
    if rc != want_rc or want_text not in output:
        raise Failure("%s: uploader exit %d, expected %d and %r\n%s"
                      % (args.name, rc, want_rc, want_text, output))
    expected = chip_after(firmware_words(args, args.fast_firmware), image, overlap, config_refused=overlap)
    if chip != expected:
        raise Failure("%s: the chip differs from the firmware plus the example\n%s"
                      % (args.name, ex.describe_difference(expected, chip)))
    print("%s: %d words on the chip, block 0 at %04X, the firmware unchanged (%.1f s)"
          % (args.name, len(chip), SLOT, time.monotonic() - start))


# ------------------------------------------------------------------ app

def app_output(args, *options, reports=0):
    """What the chip prints: over a whole run that ends by itself, or until
    `reports` reports have come and then half a second more."""
    sim = PicSim(args, *options)
    fd = open_port(sim.port)
    if reports:
        said = read_for(fd, 10, until=lambda d: d.count(APP_OK) >= reports)
        said += read_for(fd, 0.5)
    else:
        said = read_for(fd, 5)
    os.close(fd)
    sim.finish(interrupt=bool(reports))
    return said


def cmd_app(args):
    workdir = ex.fresh_dir(args.work)
    fw = args.fast_firmware
    for app in (args.app, args.app_jump):
        tag = os.path.basename(app)
        dump = os.path.join(workdir, tag + ".dump.hex")
        sim = PicSim(args, fw, "--dump", dump)
        try:
            rc, output = uploader(args, sim.port, app)
            if rc != 1:
                raise Failure("%s: upload failed (exit %d)\n%s" % (tag, rc, output))
            # A '?' that reaches the chip before the application has set up
            # its USART is lost: ask again until it answers.
            fd = open_port(sim.port)
            said = b""
            for _ in range(10):
                os.write(fd, b"?")
                said += read_for(fd, 0.3, until=lambda d: d.endswith(APP_OK))
                if said.endswith(APP_OK):
                    break
            os.close(fd)
        finally:
            sim.finish()
        # Before the answers may come what is left of the report the
        # application made when it started, while the uploader still held the port.
        rest = said.replace(APP_OK, b"")
        if not said.endswith(APP_OK) or not APP_OK.endswith(rest):
            raise Failure("%s: after the upload the port shows %r, expected %r" % (tag, said, APP_OK))
        print("%s: runs after END_PROGRAMMING" % tag)

    # No application yet: the window closes and the bootloader stays.  (Two
    # seconds are several windows for picSim unthrottled.)
    sim = PicSim(args, fw)
    try:
        time.sleep(2)
        rc, output = uploader(args, sim.port, "-q")
    finally:
        sim.finish()
    if rc != 1:
        raise Failure("a blank chip after its window: exit %d\n%s" % (rc, output))
    print("no application: the bootloader still answers after its window")

    # From here on the chip holds the application from the start.
    said = app_output(args, dump, "--seconds", "0.9")
    if said:
        raise Failure("nobody polling, the first 0.9 s after power-on: %r, expected nothing" % said)
    said = app_output(args, dump, reports=1)
    if said != APP_OK:
        raise Failure("nobody polling, after the window: %r, expected %r" % (said, APP_OK))
    print("nobody polling: the application starts after the window (silent for 0.9 s, then running)")

    # In real time: unthrottled, a loaded machine could stretch the
    # uploader's pause between greeting and "hi" past the window.
    sim = PicSim(args, dump, fast=False)
    try:
        rc, output = uploader(args, sim.port, "-q")
    finally:
        sim.finish()
    if rc != 1 or "address range: 1F00-1FFF" not in output:
        raise Failure("an uploader polling at power-on: exit %d\n%s" % (rc, output))
    print("an uploader polling at power-on gets the bootloader")

    # The application runs after each window that closes: at about 1.0 s,
    # and 1.0 s after the reset at 2.4 s, which came before the window that
    # the reset at 1.5 s opened could close.
    said = app_output(args, dump, "--reset-at", "1500", "--reset-at", "2400",
                      reports=2)
    if said != APP_OK * 2:
        raise Failure("resets at 1.5 s and 2.4 s: %r, expected %r" % (said, APP_OK * 2))
    # The application runs; the uploader polls; a reset gets it the bootloader.
    sim = PicSim(args, dump, "--reset-at", "3000", fast=False)
    try:
        fd = open_port(sim.port)
        said = read_for(fd, 5, until=lambda d: APP_OK in d)
        os.close(fd)
        rc, output = uploader(args, sim.port, "-q")
    finally:
        sim.finish()
    if said != APP_OK or rc != 1 or "address range: 1F00-1FFF" not in output:
        raise Failure("app said %r before the reset; the query after it: exit %d\n%s" % (said, rc, output))
    print("after a reset: the application again once the window closes; the bootloader for a polling uploader")


# ------------------------------------------------------------------ errors

class Proxy:
    """A pseudo-terminal for the uploader that passes every byte on to the
    chip's port and back, letting `change` alter the bytes the uploader
    sends after its "hi" (counted from 0; None drops the byte)."""

    def __init__(self, chip_port, change):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.name = os.ttyname(self.slave)
        self.chip = open_port(chip_port)
        self.change = change
        self.after_hi = -1
        self.log = b""
        self.done = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        previous = None
        while not self.done:
            ready, _, _ = select.select([self.master, self.chip], [], [], 0.05)
            for fd in ready:
                try:
                    data = os.read(fd, 256)
                except OSError:
                    continue
                if fd == self.chip:
                    os.write(self.master, data)
                    continue
                self.log += data
                out = bytearray()
                for byte in data:
                    if self.after_hi >= 0:
                        byte = self.change(self.after_hi, byte)
                        self.after_hi += 1
                    # Counted from the last "hi": an uploader kept waiting too
                    # long for the identification (a loaded machine) polls again.
                    if previous == ord("h") and byte == ord("i"):
                        self.after_hi = 0
                    previous = byte
                    if byte is not None:
                        out.append(byte)
                os.write(self.chip, bytes(out))

    def close(self):
        self.done = True
        self.thread.join()
        for fd in (self.master, self.slave, self.chip):
            os.close(fd)


def at(index, value):
    return lambda i, byte: value if i == index else byte


# The uploader's first frames for blink: SET_ADDRESS 0 (bytes 0-3), then the
# block for 0x0000 (bytes 4-13).  Each case changes them on the way, or sets
# up the chip, and names the uploader's message.
ERROR_CASES = (
    ("checksum", "blink", [], at(13, 0x00), (),
     "Did not pass checksum test while at address 0000"),
    ("unknown", "blink", [], at(4, 0x07), (),
     "Unknown command given to bootloader while at address 0000"),
    ("own range", "blink", [], lambda i, b: {2: 0x1F, 3: 0xDF}.get(i, b), (),
     "Invalid address 1F00"),
    ("configuration word", "overlap", ["-o"], None, (), "Invalid address 2004"),
    ("verify", "blink", [], None, ("--stuck-cell", "0006"),
     "Did not pass verification test at address 0006"),
    ("verify block 0", "blink", [], None, ("--stuck-cell", "%04X" % (SLOT + 1)),
     "Did not pass verification test at address 0001"),
    ("verify EEPROM", "eeprom", [], None, ("--stuck-cell", "2103"),
     "Did not pass verification test at address 2103"),
)


SET_ADDRESS, WRITE_PROGRAM_BLOCK, WRITE_EEPROM_BLOCK = 2, 4, 5   # command codes


def frame(*data):
    return bytes(data) + bytes([-sum(data) & 0xFF])


def words(*values):
    return [b for v in values for b in (v & 0xFF, v >> 8)]


# Frames the uploader never sends, one at a time, each with the firmware's
# whole answer.
BLOCK = frame(WRITE_PROGRAM_BLOCK, *words(1, 2, 3, 4))
RAW_CASES = (
    ("set address", frame(SET_ADDRESS, 0x40, 0x00), b">"),
    ("garbage between frames", b"\x55\xaa\x13\x00", b"!U\x40\x00>"),
    ("bad checksum", BLOCK[:-1] + b"\x00", b"!C\x40\x00>"),
    ("unaligned", frame(SET_ADDRESS, 0x41, 0x00), b">"),
    ("unaligned block", BLOCK, b"!A\x41\x00>"),
    ("own range", frame(SET_ADDRESS, 0x00, 0x1F), b">"),
    ("own range block", BLOCK, b"!A\x00\x1f>"),
    ("next block there", BLOCK, b"!A\x04\x1f>"),
    ("past the flash", frame(SET_ADDRESS, 0x00, 0x22), b">"),
    ("past the flash block", BLOCK, b"!A\x00\x22>"),
    ("past the EEPROM", frame(SET_ADDRESS, 0x00, 0x01), b">"),
    ("past the EEPROM block", frame(WRITE_EEPROM_BLOCK, *words(1, 2, 3, 4)), b"!A\x00\x01>"),
    ("last EEPROM block", frame(SET_ADDRESS, 0xFC, 0x00), b">"),
    ("last EEPROM block written", frame(WRITE_EEPROM_BLOCK, *words(1, 2, 3, 4)), b">"),
)


def identify(fd, seconds=10.0):
    """Polls like the uploader until one greeting comes in one burst, answers
    "hi" and returns the greeting and the identification."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        os.write(fd, b"\r")
        first = read_for(fd, 0.002, until=lambda d: len(d) > 0)
        if not first:
            continue
        greeting = first + read_for(fd, 0.03)
        if len(greeting) == 6 and greeting.startswith(b"KK"):
            os.write(fd, b"hi")
            return greeting, read_for(fd, 1, until=lambda d: len(d) >= 5)
    raise Failure("no greeting from the firmware")


def cmd_errors(args):
    for name, example, options, change, sim_options, message in ERROR_CASES:
        hexfile = ex.hex_path(args.examples, example, "inhx32")
        sim = PicSim(args, args.fast_firmware, *sim_options)
        proxy = Proxy(sim.port, change or (lambda i, b: b))
        try:
            rc, output = uploader(args, proxy.name, *options, hexfile)
        finally:
            proxy.close()
            sim.finish()
        if rc != 0 or "\nERROR: %s\n" % message not in output:
            raise Failure("%s: uploader exit %d, expected 0 and %r\n%s\nsent: %s"
                          % (name, rc, message, output, proxy.log[:80].hex()))
        print("%-18s exit 0, %s" % (name, message))

    sim = PicSim(args, args.fast_firmware)
    try:
        fd = open_port(sim.port)
        greeting, ident = identify(fd)
        if greeting != b"KK\xd6\x07\x07\x07" or ident != b"\x00\x1f\xff\x1f>":
            raise Failure("greeting %r, identification %r" % (greeting, ident))
        exchange(fd, RAW_CASES)
        os.close(fd)
        # This session broke off; a new uploader's polls get a greeting.
        rc, output = uploader(args, sim.port, "-q")
    finally:
        sim.finish()
    if rc != 1:
        raise Failure("an uploader after a broken-off session: exit %d\n%s" % (rc, output))
    print("%d frames the uploader never sends answered as designed; a new session "
          "after a broken one greeted" % len(RAW_CASES))



def exchange(fd, cases):
    for name, sent, expected in cases:
        os.write(fd, sent)
        got = read_for(fd, 0.5, until=lambda d: len(d) >= len(expected))
        if got != expected:
            raise Failure("%s: sent %s, got %r, expected %r" % (name, sent.hex(), got, expected))


# ------------------------------------------------------------------ receiver

# Sixteen polls in one go: while the greeting goes out the firmware does not
# read, and the third poll that completes overruns the receiver.
POLL_STREAM = b"\r" * 16
# What the firmware's drain waits for before it listens to polls again.
DRAIN_QUIET_S = 0.05
# Well inside the window after reset: once the window runs out, the
# bootloader starts over from reset, which clears an overrun by itself.
SESSION_WAIT_S = 0.5


def overrun_rows(fd):
    """The receiver rows on one chip; the first row that fails, or None."""
    os.write(fd, POLL_STREAM)
    greeting = read_for(fd, 0.1)
    if not greeting.startswith(b"KK"):
        return "polls during the greeting: got %r" % greeting
    time.sleep(DRAIN_QUIET_S)
    try:
        identify(fd, seconds=SESSION_WAIT_S)
    except Failure:
        return "after polls that overran the greeting: no session"
    try:
        exchange(fd, (("set address", frame(SET_ADDRESS, 0x40, 0x00), b">"),
                      # The processor halts for the block's write while 30
                      # bytes keep coming.
                      ("block, then a stream", BLOCK + b"\x55" * 30, b">!U\x44\x00>"),
                      ("next frame heard", frame(SET_ADDRESS, 0x40, 0x00), b">")))
    except Failure as failure:
        return "a block write overrun: %s" % failure
    return None


def cmd_receiver(args):
    workdir = ex.fresh_dir(args.work)
    for firmware, name, passes in ((args.fast_firmware, "the bootloader", True),
                                   (args.no_cren_toggle, "a bootloader that never toggles CREN", False)):
        # In real time, so that the window after reset is a second of the
        # test's time too.
        sim = PicSim(args, firmware, "--stats", fast=False)
        try:
            fd = open_port(sim.port)
            failed = overrun_rows(fd)
            os.close(fd)
        finally:
            stats = sim.finish()
        overruns = int(re.search(r"^rx_overruns: (\d+)$", stats, re.M).group(1))
        if (failed is None) != passes or overruns < 1:
            raise Failure("%s: %s, %d overruns, expected %s"
                          % (name, failed or "every row passed", overruns,
                             "every row to pass" if passes else "a row to fail"))
        print("%s: %d receiver overruns, %s" % (name, overruns, failed or "recovered from each"))

    eeprom = ex.hex_path(args.examples, "eeprom", "inhx32")
    for firmware, sim_options, name, expected in (
            (args.fast_firmware, (), "the bootloader", "\nProgramming complete\n"),
            (args.eedath_compared, (), "a bootloader comparing EEDATH",
             "\nERROR: Did not pass verification test at address 21"),
            (args.eedath_compared, ("--gpsim-defect", "eedath"), "the same with EEDATH kept as gpsim has it",
             "\nProgramming complete\n")):
        _, output, _ = upload_and_dump(args, workdir, "eeprom", eeprom, sim_options=sim_options, firmware=firmware)
        if expected not in output:
            raise Failure("%s, eeprom example: expected %r\n%s" % (name, expected, output))
        print("%s, eeprom example: %s" % (name, expected.strip()))


# ------------------------------------------------------------------ memory

UPLOADS = 20
FLASH_WORDS = 0x2000
# A pause between two uploads, as a person leaves: the opens test is the
# one for uploads back to back.  (One upload in some forty started within
# milliseconds of the one before still finds the bootloader deaf on a
# loaded machine; the cause is not known yet.)
BETWEEN_UPLOADS_S = 0.1


def cmd_memory(args):
    blink = ex.hex_path(args.examples, "blink", "inhx32")
    for sim_options, name, lost_expected in (((), "picSim", False),
                                             (("--gpsim-defect", "flash-rewrite"), "gpsim's own rewrite", True)):
        sim = PicSim(args, args.fast_firmware, "--stats", "--reset-on-open", *sim_options)
        try:
            for i in range(UPLOADS):
                time.sleep(BETWEEN_UPLOADS_S)
                rc, output = uploader(args, sim.port, blink)
                if rc != 1:
                    raise Failure("%s, upload %d: exit %d\n%s" % (name, i + 1, rc, output))
        finally:
            stats = sim.finish()
        figures = dict(re.findall(r"^(\w+): (\S+)$", stats, re.M))
        live, lost = int(figures["instructions_live"]), int(figures["line_symbols_lost"])
        if live != FLASH_WORDS or (lost > 0) != lost_expected:
            raise Failure("%s after %d uploads: %d instruction objects, %d line symbols lost"
                          % (name, UPLOADS, live, lost))
        print("%s after %d uploads of blink: %d instruction objects, %d line symbols lost, heap %s bytes"
              % (name, UPLOADS, live, lost, figures["heap_in_use"]))


QUERIES = 9


def cmd_opens(args):
    """In real time, --reset-on-open on a chip whose application starts:
    queries back to back, each opening the port right after the one before
    closed it, all get the bootloader; then an upload, whose program runs."""
    workdir = ex.fresh_dir(args.work)
    chip = committed_app(args, workdir, args.firmware)
    sim = PicSim(args, chip, "--reset-on-open", "--stats", fast=False)
    try:
        for i in range(QUERIES):
            rc, output = uploader(args, sim.port, "-q")
            if rc != 1 or "address range: 1F00-1FFF" not in output:
                raise Failure("query %d of %d back to back: exit %d\n%s" % (i + 1, QUERIES, rc, output))
        rc, output = uploader(args, sim.port, args.app)
        # Opening the port resets the chip once more: the program runs
        # after the bootloader's window.
        answered = app_started(sim, 5) if rc == 1 else None
    finally:
        stats = sim.finish()
    if rc != 1 or answered is None:
        raise Failure("an upload right after %d queries: exit %d, application %s\n%s"
                      % (QUERIES, rc, "started" if answered else "silent", output))
    pulls = int(re.search(r"^mclr_pulls: (\d+)$", stats, re.M).group(1))
    if pulls != QUERIES + 2:
        raise Failure("%d opens of the port, %d resets" % (QUERIES + 2, pulls))
    print("%d queries back to back, then an upload: each open reset the chip (%d resets), "
          "the program runs" % (QUERIES, pulls))

    # A reset that comes while a block is written (10 s here, so that a
    # reset a second later lands in it on any machine), in code that works
    # in bank 2 and 3: the bootloader starts again in bank 0 and greets.
    sim = PicSim(args, args.firmware, "--write-ms", "10000,4", fast=False)
    try:
        fd = open_port(sim.port)
        identify(fd)
        exchange(fd, (("set address", frame(SET_ADDRESS, 0x40, 0x00), b">"),))
        os.write(fd, BLOCK)
        time.sleep(1)
        sim.proc.send_signal(signal.SIGUSR1)
        identify(fd)
        os.close(fd)
    finally:
        sim.finish()
    print("a reset during a block's write: the bootloader greets again")


# ------------------------------------------------------------------ speeds

def cmd_speeds(args):
    workdir = ex.fresh_dir(args.work)
    blink = ex.hex_path(args.examples, "blink", "inhx32")
    image = ex.gpdasm_reading(blink, "p16f877a")
    for baud, firmware in zip(SPEEDS, args.variants):
        rc, output, chip = upload_and_dump(args, workdir, "b%d" % baud, blink, "-s", str(baud),
                                           firmware=firmware, speed=baud)
        expected = chip_after(firmware_words(args, firmware), image)
        if rc != 1 or chip != expected:
            raise Failure("%d bit/s: uploader exit %d\n%s\n%s"
                          % (baud, rc, output, ex.describe_difference(expected, chip)))
        print("%5d bit/s: blink uploaded" % baud)
    for baud in (9600, 38400):
        sim = PicSim(args, args.fast_firmware)
        try:
            run = subprocess.Popen([args.uploader, "-q", "-s", str(baud), "-p", sim.port],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            time.sleep(2)
            run.send_signal(signal.SIGINT)
            output = run.communicate(timeout=10)[0]
        finally:
            sim.finish()
        if "got it" in output:
            raise Failure("the 19200 bit/s firmware greeted an uploader at %d bit/s\n%s" % (baud, output))
        print("%5d bit/s against the 19200 bit/s firmware: no greeting in 2 s" % baud)


# ------------------------------------------------------------------ trace

POLLS = re.compile(r"^trace +\d+\.\d{3} -> 0D  x(\d+), the last at \d+\.\d{3}$", re.M)
RETRY = "Checksum error on the block at 0000: sending it again (retry 1 of 1).\n"


def cmd_trace(args):
    """One picSim: what a speed mismatch looks like in the trace (polls that
    nothing answers), then the test application uploaded with the checksum
    of its first block damaged on the way, once: the block is sent again
    and the application starts."""
    sim = PicSim(args, args.fast_firmware)
    try:
        # Held at 9600 bit/s, the terminal has that speed from the uploader's
        # first poll on (see upload_and_dump).
        held = open_port(sim.port, 9600)
        try:
            run = subprocess.Popen([args.uploader, "-q", "-s", "9600", "--trace", "-p", sim.port],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            time.sleep(2)
            run.send_signal(signal.SIGINT)
            out, err = run.communicate(timeout=10)
        finally:
            os.close(held)
        polls = POLLS.findall(err)
        if "got it" in out or len(polls) != 1 or int(polls[0]) < 10 or "<-" in err:
            raise Failure("9600 bit/s against 19200, traced: expected only polls, unanswered\n%s%s" % (out, err))
        print("9600 bit/s against the 19200 bit/s firmware: %s polls on one trace line, nothing received"
              % polls[0])

        # Bytes 4-13 after "hi" are the block for 0x0000; 13 is its checksum.
        proxy = Proxy(sim.port, at(13, 0x00))
        try:
            rc, output = uploader(args, proxy.name, "--retries", "1", args.app)
            # The end command may still be in the proxy, and the commit
            # block is written after it.
            time.sleep(COMMIT_WAIT_S)
        finally:
            proxy.close()
        answered = app_started(sim, 5) if rc == 1 else None
    finally:
        sim.finish()
    if rc != 1 or RETRY not in output or answered is None:
        raise Failure("the first block damaged once, --retries 1: exit %d, application %s\n%s"
                      % (rc, "started" if answered else "silent", output))
    print("the first block damaged once, --retries 1: sent again, uploaded, the application started")


# ------------------------------------------------------------------ sessions

def committed_app(args, workdir, firmware):
    """A chip dump holding `firmware` and the test application, committed."""
    rc, output, _ = upload_and_dump(args, workdir, "committed", args.app, firmware=firmware)
    if rc != 1:
        raise Failure("the application does not upload (exit %d)\n%s" % (rc, output))
    return os.path.join(workdir, "committed.dump.hex")


def app_started(sim, seconds, ask=True):
    """Reads the chip's port for `seconds`, asking the application to report
    unless told not to ('?': its first report may have gone to the
    uploader); the time at which it reported, or None."""
    fd = open_port(sim.port)
    start = time.monotonic()
    try:
        while time.monotonic() - start < seconds:
            if ask:
                os.write(fd, b"?")
            if APP_OK in read_for(fd, 0.3, until=lambda d: APP_OK in d):
                return time.monotonic()
    finally:
        os.close(fd)
    return None


# SET_ADDRESS 0, the block for 0x0000 and the block for 0x0004: what the
# uploader sends of the test application before the line is cut.
CUT_AFTER = 4 + 10 + 10
RESET_MS = 2500
WINDOW_S = 1.0


def cmd_cutoff(args):
    """In real time: the chip holds the application; an upload of it stops
    after two blocks (the uploader killed, no end command) and MCLR is
    pulled; after the window and one more second the application has not
    started.  A new upload then goes through without a reset and starts it."""
    workdir = ex.fresh_dir(args.work)
    chip = committed_app(args, workdir, args.firmware)
    sim = PicSim(args, chip, "--reset-at", str(RESET_MS), fast=False)
    started = time.monotonic()
    proxy = Proxy(sim.port, lambda i, byte: byte if i < CUT_AFTER else None)
    try:
        run = subprocess.Popen([args.uploader, "-p", proxy.name, args.app],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        while proxy.after_hi <= CUT_AFTER and run.poll() is None and time.monotonic() - started < 10:
            time.sleep(0.01)
        run.kill()
        output = run.communicate()[0].decode()
        proxy.close()
        if proxy.after_hi <= CUT_AFTER:
            raise Failure("the uploader did not get past the second block\n%s" % output)
        late = started + RESET_MS / 1000.0 + WINDOW_S + 1 - time.monotonic()
        if late < 0.5:
            raise Failure("the cut came %.1f s too late for the reset" % -late)
        if app_started(sim, late) is not None:
            raise Failure("a cut-off session and a reset: the application started")
        rc, output = uploader(args, sim.port, args.app)
        answered = app_started(sim, 5) if rc == 1 else None
    finally:
        sim.finish()
    if rc != 1 or answered is None:
        raise Failure("an upload after the cut-off session: exit %d, application %s\n%s"
                      % (rc, "started" if answered else "silent", output))
    print("cut off after two blocks, then a reset: the application held back; "
          "a new upload without a reset starts it")


def cmd_quiet(args):
    """In real time, the default build: a query whose end command is damaged
    leaves the bootloader in the session ('C'); after the quiet time and the
    window, with nobody polling, the application starts."""
    workdir = ex.fresh_dir(args.work)
    chip = committed_app(args, workdir, args.firmware)
    sim = PicSim(args, chip, fast=False)
    try:
        proxy = Proxy(sim.port, lambda i, byte: 0x00 if i == 1 else byte)
        try:
            rc, output = uploader(args, proxy.name, "-q")
        finally:
            proxy.close()
        ended = time.monotonic()
        # Silent: a byte would be a frame to the bootloader.
        answered = app_started(sim, QUIET_S + WINDOW_S + 10, ask=False)
    finally:
        sim.finish()
    if rc != 1:
        raise Failure("the query: exit %d\n%s" % (rc, output))
    if answered is None:
        raise Failure("the application did not start after the quiet time")
    after = answered - ended
    if after < QUIET_S - 1:
        raise Failure("the application started %.1f s after the damaged end command, "
                      "before the quiet time of %d s" % (after, QUIET_S))
    print("a session left silent: the application started %.1f s after the damaged end "
          "command (quiet time %d s, window %.0f s)" % (after, QUIET_S, WINDOW_S))


def cmd_watchdog(args):
    """examples/fill through the build with the watchdog on (prescaler 1:128
    on the watchdog, as after reset)."""
    workdir = ex.fresh_dir(args.work)
    fill = ex.hex_path(args.examples, "fill", "inhx32")
    firmware = args.watchdog_firmware
    if not firmware_words(args, firmware).get(CONFIG_WORD, 0) & WDTE:
        raise Failure("%s: the watchdog is off in its configuration word" % firmware)
    rc, output, chip = upload_and_dump(args, workdir, "fill", fill, firmware=firmware)
    expected = chip_after(firmware_words(args, firmware), ex.gpdasm_reading(fill, "p16f877a"))
    if rc != 1 or chip != expected:
        raise Failure("fill with the watchdog on: uploader exit %d\n%s\n%s"
                      % (rc, output[-400:], ex.describe_difference(expected, chip)))
    print("examples/fill uploaded with the watchdog on")


# ------------------------------------------------------------------ real time

def cmd_realtime(args):
    """Both uploads run at once, each on its own pseudo-terminal."""
    fill = ex.hex_path(args.examples, "fill", "inhx32")
    workdir = ex.fresh_dir(args.work)
    dump = os.path.join(workdir, "fill.dump.hex")
    sim = PicSim(args, args.firmware, "--stats", "--dump", dump, fast=False)
    peer = subprocess.Popen([args.bootloader_sim, "--once"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    m = re.match(r"bootloaderSim: port (\S+)$", peer.stdout.readline().rstrip("\n"))
    if not m:
        peer.kill()
        sim.stop()
        raise Failure("bootloaderSim did not announce its port")
    results = {}

    def timed(name, port):
        start = time.monotonic()
        rc, output = uploader(args, port, fill, timeout=180)
        results[name] = (rc, output, time.monotonic() - start)

    threads = [threading.Thread(target=timed, args=("picSim", sim.port)),
               threading.Thread(target=timed, args=("bootloaderSim", m.group(1)))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    stats = sim.finish()
    peer.communicate(timeout=30)
    for name, (rc, output, wall) in results.items():
        if rc != 1:
            raise Failure("%s: uploader exit %d\n%s" % (name, rc, output))
    expected = chip_after(firmware_words(args), ex.gpdasm_reading(fill, "p16f877a"))
    chip = ex.read_hex(dump)
    if chip != expected:
        raise Failure("fill: the chip differs from the firmware plus the example\n%s"
                      % ex.describe_difference(expected, chip))
    print("examples/fill, 1984 blocks at 19200 bit/s, both uploads at once; the chip "
          "holds the firmware and the example:")
    print("  firmware on picSim (real time): %.1f s" % results["picSim"][2])
    print("  bootloaderSim (paced):          %.1f s" % results["bootloaderSim"][2])
    figures = dict(re.findall(r"^(\w+): (\S+)$", stats, re.M))
    print("  picSim ran %s cycles, %s a second, and wrote %s flash blocks"
          % (figures.get("cycles"), figures.get("cycles_per_s"), figures.get("flash_block_writes")))


# ------------------------------------------------------------------ chips

# The family, one row a chip: flash words, EEPROM bytes, an older part (one
# word a write, one WRT bit), and whether the row also runs the session
# cases below (one 4K-word part, one older part).
CHIPS = {
    "16F873": (0x1000, 128, True, False), "16F874": (0x1000, 128, True, False),
    "16F876": (0x2000, 256, True, True), "16F877": (0x2000, 256, True, False),
    "16F873A": (0x1000, 128, False, True), "16F874A": (0x1000, 128, False, False),
    "16F876A": (0x2000, 256, False, False), "16F877A": (0x2000, 256, False, False),
}


def write_hex(path, words):
    """An INHX8M file of image address -> word, one record a word (every
    address here lies below byte address 0x10000)."""
    with open(path, "w") as f:
        for a in sorted(words):
            raw = [2, a * 2 >> 8, a * 2 & 0xFF, 0, words[a] & 0xFF, words[a] >> 8]
            f.write(":" + "".join("%02X" % b for b in raw + [-sum(raw) & 0xFF]) + "\n")
        f.write(":00000001FF\n")


def chip_sessions(args, chip, firmware, workdir):
    """blink with an EEPROM image of the chip's size, then the test
    application; each on the chip exactly, the application running.  Raises
    Failure at the first thing that is not so."""
    flash, eeprom_bytes, _, _ = CHIPS[chip]
    boot = "%04X-%04X" % (flash - 0x100, flash - 1)
    slot = flash - 8
    fw = ex.read_hex(firmware)
    program = dict(ex.read_hex(ex.hex_path(args.examples, "blink", "inhx32")))
    # Offset 0 first: the block whose EEPGD a wrong bank sends into flash.
    eeprom = {ex.EEPROM_START + i: (i * 7 + 3) % 0xFF for i in range(eeprom_bytes)}   # never erased
    program.update(eeprom)
    program_hex = os.path.join(workdir, "blink-eeprom.hex")
    write_hex(program_hex, program)
    on_chip = {"sim_options": ("--chip", chip), "firmware": firmware}
    rc, output, chip_words = upload_and_dump(args, workdir, "blink", program_hex, **on_chip)
    if rc != 1 or "address range: %s" % boot not in output:
        raise Failure("%s: blink with %d EEPROM bytes: exit %d\n%s" % (chip, eeprom_bytes, rc, output))
    dump = os.path.join(workdir, "blink.dump.hex")
    check = subprocess.run([args.chip_check, "--range", boot, "--slot", "%04X" % slot, program_hex, dump],
                           capture_output=True, text=True, timeout=60)
    if check.returncode != 0:
        raise Failure("%s: chipCheck: %s" % (chip, check.stdout + check.stderr))
    # chipCheck reads block 0 from the slot: the reset jump and the EEPROM
    # are looked at here.
    landed = {a: chip_words.get(a) for a in list(range(4)) + sorted(eeprom)}
    wanted = {a: fw.get(a, eeprom.get(a)) for a in landed}
    if landed != wanted:
        raise Failure("%s: the EEPROM block at offset 0 did not land in the EEPROM alone\n%s"
                      % (chip, ex.describe_difference(wanted, landed)))
    rc, output, _ = upload_and_dump(args, workdir, "app", args.app, **on_chip)
    said = app_output(args, os.path.join(workdir, "app.dump.hex"), "--chip", chip, reports=1) if rc == 1 else b""
    if said != APP_OK:
        raise Failure("%s: the test application: exit %d, said %r\n%s" % (chip, rc, said, output))
    return os.path.join(workdir, "app.dump.hex")


def chip_cutoff(args, chip, committed, workdir):
    """An upload cut after two blocks leaves the committed application held:
    three simulated seconds after power-on (the window is one) it has not
    started."""
    dump = os.path.join(workdir, "cut.dump.hex")
    sim = PicSim(args, committed, "--chip", chip, "--dump", dump)
    proxy = Proxy(sim.port, lambda i, byte: byte if i < CUT_AFTER else None)
    try:
        run = subprocess.Popen([args.uploader, "-p", proxy.name, args.app],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        started = time.monotonic()
        while proxy.after_hi <= CUT_AFTER and run.poll() is None and time.monotonic() - started < 20:
            time.sleep(0.01)
        run.kill()
        run.communicate()
    finally:
        proxy.close()
        sim.finish()
    if proxy.after_hi <= CUT_AFTER:
        raise Failure("%s: the uploader did not get past the second block" % chip)
    said = app_output(args, dump, "--chip", chip, "--seconds", "3")
    if said:
        raise Failure("%s: after an upload cut after two blocks the chip said %r" % (chip, said))


def cmd_chips(args):
    chip = args.chip
    flash, eeprom_bytes, _, sessions = CHIPS[chip]
    workdir = ex.fresh_dir(args.work)
    start = time.monotonic()
    committed = chip_sessions(args, chip, args.firmware, workdir)
    print("%s: blink and %d EEPROM bytes exact, the application running (%.1f s)"
          % (chip, eeprom_bytes, time.monotonic() - start))
    if not sessions:
        return
    chip_cutoff(args, chip, committed, workdir)
    print("%s: an upload cut after two blocks leaves the application held" % chip)
    if eeprom_bytes == 128:
        rc, output, _ = upload_and_dump(args, workdir, "eeprom", ex.hex_path(args.examples, "eeprom", "inhx32"),
                                        sim_options=("--chip", chip), firmware=args.firmware)
        if rc != 0 or "\nERROR: Invalid address 2180\n" not in output:
            raise Failure("%s: examples/eeprom, 256 bytes: exit %d\n%s" % (chip, rc, output))
        print("%s: EEPROM offset 0x80 refused: Invalid address 2180" % chip)
    if args.planted:
        try:
            chip_sessions(args, chip, args.planted, ex.fresh_dir(os.path.join(args.work, "planted")))
        except Failure as failure:
            print("%s: the planted fault is found: %s" % (chip, str(failure).splitlines()[0]))
        else:
            raise Failure("%s: the firmware testing code in bank 3 passed" % chip)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=("assemble", "upload", "app", "errors", "receiver", "memory", "opens",
                                            "speeds", "realtime", "cutoff", "quiet", "watchdog", "trace", "chips"))
    parser.add_argument("--chip", choices=sorted(CHIPS), help="chips: the chip of this row")
    parser.add_argument("--chip-check", help="chipCheck executable")
    parser.add_argument("--planted", help="chips: a firmware with a fault this row must find")
    parser.add_argument("--examples", help="the examples folder")
    parser.add_argument("--work", help="scratch folder of this test")
    parser.add_argument("--name", choices=sorted(ex.PROCESSOR), help="example to upload")
    parser.add_argument("--source", help="firmware/bootloader.asm")
    parser.add_argument("--committed", help="firmware/, the committed images")
    parser.add_argument("--listing-check", help="firmware/listingCheck.py")
    parser.add_argument("--rules", help="selfWriteRules.asm, the listing check's cases")
    parser.add_argument("--firmware", help="the default build's bootloader.hex")
    parser.add_argument("--fast-firmware", help="the default build with the longest quiet time, "
                        "for picSim unthrottled")
    parser.add_argument("--variants", nargs="*", help="builds for 2400 ... 57600 bit/s")
    parser.add_argument("--app", help="the test application, block 0 running on into 0x0004")
    parser.add_argument("--app-jump", help="the test application, block 0 a pagesel/goto")
    parser.add_argument("--watchdog-firmware", help="the build with the watchdog on")
    parser.add_argument("--no-cren-toggle", help="fixture: the bootloader without its CREN toggle")
    parser.add_argument("--eedath-compared", help="fixture: the bootloader comparing EEDATH")
    parser.add_argument("--uploader", help="programUploader executable")
    parser.add_argument("--picsim", help="picSim executable")
    parser.add_argument("--bootloader-sim", help="bootloaderSim executable")
    args = parser.parse_args()
    commands = {"assemble": cmd_assemble, "upload": cmd_upload, "app": cmd_app,
                "errors": cmd_errors, "receiver": cmd_receiver, "memory": cmd_memory, "opens": cmd_opens,
                "speeds": cmd_speeds,
                "realtime": cmd_realtime, "cutoff": cmd_cutoff, "quiet": cmd_quiet, "watchdog": cmd_watchdog,
                "trace": cmd_trace, "chips": cmd_chips}
    try:
        return commands[args.command](args) or 0
    except (Failure, subprocess.TimeoutExpired) as failure:
        print("FAIL: %s" % failure, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
