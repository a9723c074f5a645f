#!/usr/bin/env python3
"""Checks the bundled examples against the toolchain that made them.

  rebuild   the sources assemble again to the committed hex files, byte for byte
  reading   gpdasm and this script's own hex reader see the same words in every
            file, and the INHX8M and INHX32 forms of each example hold the same
  upload    each form of one example, uploaded to a fresh simulated chip, leaves
            there what gpdasm reads in the file, as far as the upload sends it;
            both forms leave the same chip
  refuse    the overlap example is refused without -o and nothing is written
  compare   the uploader (under Wine, say) prints what the Linux uploader prints
            for a blink upload, a query, a checksum fault and a hang-up

With --wine-run the uploader is a Windows program run by that command: the
simulator's port is also made at --port-link, which Wine maps to the COM
port --port-name, and -s --speed is given.

The uploader's standard output of every upload, taken on a pipe, must equal
the golden file of its example in --golden byte for byte: scripts read those
lines.  --write-golden writes them instead, after a change that means to
alter them.

The expected chip is worked out from gpdasm's listing of the file, so a fault
shared by our hex reader and our hex writer cannot hide itself.  The chip is
read back from the simulator's dump with the small reader below.
"""

import argparse
import bisect
import difflib
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import time

FORMATS = ("inhx8m", "inhx32")
PROCESSOR = {"blink": "p16f877a", "hello": "p16f877a", "eeprom": "p16f877a", "fill": "p16f877a",
             "overlap": "p16f876a", "linked": "p16f876a"}

FLASH_WORDS = 8192          # PIC16F877A / PIC16F876A
EEPROM_BYTES = 256
CONFIG_START, CONFIG_END = 0x2000, 0x2007
EEPROM_START = 0x2100
BOOT_LOW, BOOT_HIGH = 0x1F00, 0x1FFF   # the simulator's default bootloader range
IMAGE_BLANK = 0xFFFF        # an image location the file does not set
FLASH_ERASED, EEPROM_ERASED = 0x3FFF, 0xFF

OVERLAP_MESSAGE = "The program and the bootloader overlap."
TIMEOUT_S = 60


class Failure(Exception):
    pass


def require_gputils(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        raise Failure("gputils not found (%s missing from PATH): these tests need the "
                      "gputils package, e.g. apt-get install gputils"
                      % ", ".join(missing))


def hex_path(examples, name, fmt):
    return os.path.join(examples, name, "%s.%s.hex" % (name, fmt))


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def eeprom_addr(address):
    return address >= EEPROM_START


# ---------------------------------------------------------------- reading files

def read_hex(path):
    """Words of an Intel HEX file by image address (byte address / 2), strictly:
    checksums tested, an end record required, both bytes of every word present."""
    data = {}
    upper = 0
    ended = False
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith(";"):
                continue
            where = "%s:%d" % (path, number)
            if ended:
                raise Failure("%s: record after the end record" % where)
            if not re.fullmatch(r":([0-9A-Fa-f]{2})+", line):
                raise Failure("%s: not a record: %r" % (where, line))
            raw = bytes.fromhex(line[1:])
            count, kind = raw[0], raw[3]
            if len(raw) != count + 5:
                raise Failure("%s: byte count %d, record holds %d" % (where, count, len(raw) - 5))
            if sum(raw) & 0xFF:
                raise Failure("%s: bad checksum" % where)
            offset = raw[1] << 8 | raw[2]
            payload = raw[4:-1]
            if kind == 0x00:
                for i, byte in enumerate(payload):
                    address = upper + offset + i
                    if address in data:
                        raise Failure("%s: byte address %04X given twice" % (where, address))
                    data[address] = byte
            elif kind == 0x01:
                ended = True
            elif kind == 0x04:
                upper = (payload[0] << 8 | payload[1]) << 16
            elif kind == 0x02:
                upper = (payload[0] << 8 | payload[1]) << 4
            elif kind not in (0x03, 0x05):
                raise Failure("%s: unknown record type %02X" % (where, kind))
    if not ended:
        raise Failure("%s: no end record" % path)
    return pair_bytes(data, path)


def pair_bytes(data, source):
    words = {}
    for address in sorted(data):
        if address & 1:
            if address - 1 not in data:
                raise Failure("%s: high byte at %04X without its low byte" % (source, address))
            continue
        if address + 1 not in data:
            raise Failure("%s: low byte at %04X without its high byte" % (source, address))
        words[address >> 1] = data[address] | data[address + 1] << 8
    return words


GPDASM_LINE = re.compile(r"^([0-9a-f]{4,}):\s+([0-9a-f]{2}|[0-9a-f]{4})\s")


def gpdasm_reading(path, processor):
    """The words of a hex file as gpdasm lists them.

    Program and configuration words come one a line: "0005:  1683  bsf ...".
    The data EEPROM comes one byte a line ("2100:  48  db 0x48"), numbered in
    two ways: the bytes at file byte addresses 0x4200-0x42FF carry 0x2100 plus
    their distance from 0x4200, one number per byte; the bytes from 0x4300 on
    carry their word address, both bytes of a word under the same number.  A
    run of lines with one number tells which: one line is a byte of the first
    kind, two lines a word of the second, three lines one of each."""
    run = subprocess.run(["gpdasm", "-p", processor, path], capture_output=True,
                         text=True, timeout=TIMEOUT_S)
    if run.returncode != 0:
        raise Failure("gpdasm failed on %s:\n%s" % (path, run.stderr))
    words = {}
    data = {}
    eeprom_lines = []
    for line in run.stdout.splitlines():
        m = GPDASM_LINE.match(line)
        if not m:
            if line.strip():
                raise Failure("gpdasm line not understood: %r" % line)
            continue
        label, value = int(m.group(1), 16), int(m.group(2), 16)
        if len(m.group(2)) == 4:
            if label in words:
                raise Failure("gpdasm lists %04X twice" % label)
            words[label] = value
        else:
            eeprom_lines.append((label, value))

    i = 0
    while i < len(eeprom_lines):
        label = eeprom_lines[i][0]
        j = i
        while j < len(eeprom_lines) and eeprom_lines[j][0] == label:
            j += 1
        run_bytes = [v for _, v in eeprom_lines[i:j]]
        if len(run_bytes) > 3:
            raise Failure("gpdasm lists EEPROM label %04X %d times" % (label, len(run_bytes)))
        if len(run_bytes) % 2:
            data[0x4200 + label - EEPROM_START] = run_bytes.pop(0)
        if run_bytes:
            data[2 * label], data[2 * label + 1] = run_bytes
        i = j
    for address, word in pair_bytes(data, "gpdasm " + path).items():
        words[address] = word
    if not words:
        raise Failure("gpdasm lists no word in %s" % path)
    return words


# ------------------------------------------------------------ what reaches the chip

def region_end(address):
    if address < FLASH_WORDS:
        return FLASH_WORDS - 1
    if CONFIG_START <= address <= CONFIG_END:
        return CONFIG_END
    if EEPROM_START <= address < EEPROM_START + EEPROM_BYTES:
        return EEPROM_START + EEPROM_BYTES - 1
    return -1


def chip_after_upload(image, ignore_overlap):
    """The chip that an upload of `image` leaves behind, starting blank.

    Both passes walk the image in blocks of four from 0 and from 0x2100, each
    within the region it starts in; a block inside the bootloader's range is
    skipped with a jump to the word after the range, which is how the first
    pass reaches the configuration words.  The chip keeps each sent word
    masked to what the cell holds; an erased value leaves the cell blank."""
    low, high = BOOT_LOW & ~3, BOOT_HIGH | 3
    used = sorted(a for a, v in image.items() if v != IMAGE_BLANK)

    def find(address):
        i = bisect.bisect_left(used, address)
        return used[i] if i < len(used) and used[i] <= region_end(address) else -1

    if any(low <= a <= high for a in used) and not ignore_overlap:
        return {}
    chip = {}
    for start in (0, EEPROM_START):
        cursor = find(start)
        while cursor != -1:
            block = cursor & ~3
            if low <= block <= high:
                cursor = find(high + 1)
                continue
            for address in range(block, block + 4):
                mask, erased = ((0xFF, EEPROM_ERASED) if eeprom_addr(address)
                                else (0x3FFF, FLASH_ERASED))
                value = image.get(address, IMAGE_BLANK) & mask
                if value != erased:
                    chip[address] = value
            cursor = find(block + 4)
    return chip


def describe_difference(expected, actual):
    lines = []
    for address in sorted(set(expected) | set(actual)):
        e, a = expected.get(address), actual.get(address)
        if e != a:
            show = lambda v: "blank" if v is None else "%04X" % v
            lines.append("  %04X: expected %s, chip holds %s" % (address, show(e), show(a)))
    more = "" if len(lines) <= 20 else "\n  ... %d more" % (len(lines) - 20)
    return "\n".join(lines[:20]) + more


# ------------------------------------------------------------------ one upload

class Simulator:
    """A bootloaderSim for one session, its port read from its first line."""

    def __init__(self, binary, dump, link=None, faults=()):
        self.proc = subprocess.Popen(
            [binary, "--once", "--baud", "0", "--flash", str(FLASH_WORDS),
             "--eeprom", str(EEPROM_BYTES), "--range", "%04X-%04X" % (BOOT_LOW, BOOT_HIGH),
             "--dump", dump] + (["--link", link] if link else [])
            + [a for f in faults for a in ("--fault", f)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        first = self.proc.stdout.readline() if ready else ""
        m = re.match(r"bootloaderSim: port (\S+)$", first.rstrip("\n"))
        if not m:
            self.stop()
            raise Failure("simulator did not announce its port (first line %r)" % first)
        self.port = m.group(1)

    def finish(self):
        try:
            out, err = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.stop()
            raise Failure("simulator did not end after the session")
        return self.proc.returncode, out, err

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


def check_golden(args, stdout, golden):
    """The uploader's standard output (bytes) against its golden file, or the
    golden file written anew with --write-golden."""
    if not args.golden:
        return
    path = os.path.join(args.golden, golden)
    if args.write_golden:
        with open(path, "wb") as f:
            f.write(stdout)
        return
    try:
        with open(path, "rb") as f:
            expected = f.read()
    except OSError as error:
        raise Failure("golden file %s: %s" % (path, error.strerror))
    if stdout != expected:
        lines = lambda b: [repr(line)[2:-1] + "\n" for line in b.splitlines(True)]
        diff = difflib.unified_diff(lines(expected), lines(stdout), path, "standard output now")
        raise Failure("standard output differs from %s:\n%s"
                      % (path, "".join(list(diff)[:60]).rstrip("\n")))


def uploader_command(args, sim, wine=True):
    """The uploader's command up to its options, for the simulator's port."""
    if args.wine_run and wine:
        return shlex.split(args.wine_run) + [args.uploader, "-s", str(args.speed), "-p", args.port_name]
    uploader = args.uploader if args.wine_run is None else args.linux_uploader
    return [uploader] + (["-s", str(args.speed)] if args.speed else []) + ["-p", sim.port]


def interrupt(proc, wine):
    """SIGINT to the uploader: under Wine to the Windows process, the child
    of the command that runs it, whose handler then sees a Ctrl-C."""
    pid = proc.pid
    if wine:
        children = subprocess.run(["pgrep", "-P", str(pid)], capture_output=True, text=True).stdout.split()
        if not children:
            raise Failure("no Windows process under %d to interrupt" % pid)
        pid = int(children[0])
    os.kill(pid, signal.SIGINT)


def run_session(args, options, workdir, tag, faults=(), wine=True, interrupt_after=None):
    """One session with a fresh simulator: the uploader's run and the
    simulator's exit value, output and chip.  interrupt_after: seconds after
    which the uploader gets a SIGINT."""
    dump = os.path.join(workdir, tag + ".dump.hex")
    link = args.port_link if args.wine_run and wine else None
    sim = Simulator(args.sim, dump, link, faults)
    try:
        command = uploader_command(args, sim, wine) + options
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except BaseException:
        sim.stop()
        raise
    try:
        if interrupt_after is not None:
            try:
                proc.wait(timeout=interrupt_after)
            except subprocess.TimeoutExpired:
                interrupt(proc, bool(args.wine_run and wine))
        out, err = proc.communicate(timeout=TIMEOUT_S)
    except BaseException as e:
        # Whatever ends the session here, neither program outlives it.
        proc.kill()
        proc.communicate()
        sim.stop()
        if isinstance(e, subprocess.TimeoutExpired):
            raise Failure("%s: uploader still running after %d s" % (tag, TIMEOUT_S))
        raise
    run = subprocess.CompletedProcess(command, proc.returncode, out, err)
    if interrupt_after is not None:
        sim.stop()
        return run, 0, "", {}
    sim_rc, sim_out, sim_err = sim.finish()
    return run, sim_rc, sim_out + sim_err, read_hex(dump) if os.path.exists(dump) else {}


def upload(args, path, workdir, tag, overlap_flag):
    run, sim_rc, sim_said, chip = run_session(args, (["-o"] if overlap_flag else []) + [path], workdir, tag)
    output = (run.stdout + run.stderr).decode("latin-1")
    if sim_rc != 0:
        raise Failure("%s: simulator exit %d (session not ended by the uploader)\n"
                      "uploader said:\n%s\nsimulator said:\n%s"
                      % (tag, sim_rc, output, sim_said))
    return run.returncode, output, chip, run.stdout


def check_upload(args, name, fmt, workdir):
    path = hex_path(args.examples, name, fmt)
    image = gpdasm_reading(path, PROCESSOR[name])
    force = name == "overlap"
    rc, output, chip, stdout = upload(args, path, workdir, "%s.%s" % (name, fmt), force)
    if rc != 1:
        raise Failure("%s %s: uploader exit %d, expected 1\n%s" % (name, fmt, rc, output))
    check_golden(args, stdout, name + ".out")
    if force and "WARNING: " + OVERLAP_MESSAGE not in output:
        raise Failure("%s %s: no overlap warning with -o\n%s" % (name, fmt, output))
    expected = chip_after_upload(image, ignore_overlap=force)
    if chip != expected:
        raise Failure("%s %s: chip differs from gpdasm's reading of the file\n%s"
                      % (name, fmt, describe_difference(expected, chip)))
    return image, chip


# What each example is for, said as facts about the chip after the upload.
def check_example_facts(name, image, chip):
    flash = [a for a in chip if a < CONFIG_START]
    eeprom = [a for a in chip if eeprom_addr(a)]
    facts = []
    if CONFIG_END in image:
        walked = name == "overlap"
        facts.append(("configuration word %s" % ("sent" if walked else "not sent"),
                      (CONFIG_END in chip) == walked))
    facts.append(("nothing in the bootloader's range",
                  not any(BOOT_LOW <= a <= BOOT_HIGH for a in chip)))
    if name == "fill":
        facts.append(("flash used up to 0x1EFF", max(flash) == 0x1EFF and len(flash) >= 0x1EFC))
    if name == "eeprom":
        facts.append(("all 256 EEPROM offsets but the gap and the 0xFF byte",
                      len(eeprom) == EEPROM_BYTES - (0x40 - 0x12) - 1
                      and EEPROM_START + 0x5A not in chip and EEPROM_START + 0xFF in chip))
    if name == "overlap":
        facts.append(("table sent up to 0x1EFF", 0x1EFF in chip and 0x1F00 in image))
        facts.append(("EEPROM sent after the overlap", len(eeprom) == 5))
    if name in ("blink", "hello", "linked"):
        facts.append(("a program at the reset vector, no EEPROM", 0 in chip and not eeprom))
    for what, ok in facts:
        if not ok:
            raise Failure("%s: expected %s" % (name, what))


# ------------------------------------------------------------------ commands

def cmd_rebuild(args):
    require_gputils("gpasm", "gplink")
    out = fresh_dir(args.work)
    run = subprocess.run(["bash", args.build, out], capture_output=True, text=True,
                         timeout=TIMEOUT_S * 2)
    if run.returncode != 0:
        raise Failure("build.sh failed:\n%s%s" % (run.stdout, run.stderr))
    problems = []
    for name in PROCESSOR:
        for fmt in FORMATS:
            committed, rebuilt = hex_path(args.examples, name, fmt), hex_path(out, name, fmt)
            if not os.path.exists(committed):
                problems.append("%s: not committed" % committed)
                continue
            with open(committed, "rb") as a, open(rebuilt, "rb") as b:
                old, new = a.read(), b.read()
            if old != new:
                pairs = zip(old.split(b"\n"), new.split(b"\n"))
                line = next((i for i, (x, y) in enumerate(pairs) if x != y), None)
                where = "at line %d" % (line + 1) if line is not None else "in its length"
                problems.append("%s differs from a fresh assembly %s" % (committed, where))
    if problems:
        raise Failure("\n".join(problems) + "\n(gputils " + gputils_version() +
                      "; run examples/build.sh after changing a source)")
    print("%d hex files reassemble byte for byte with gputils %s"
          % (len(PROCESSOR) * len(FORMATS), gputils_version()))


def cmd_reading(args):
    require_gputils("gpdasm")
    for name, processor in PROCESSOR.items():
        readings = []
        for fmt in FORMATS:
            path = hex_path(args.examples, name, fmt)
            ours, theirs = read_hex(path), gpdasm_reading(path, processor)
            if ours != theirs:
                raise Failure("%s: gpdasm and the test's reader disagree\n%s"
                              % (path, describe_difference(theirs, ours)))
            readings.append(theirs)
        if readings[0] != readings[1]:
            raise Failure("%s: the INHX8M and INHX32 files hold different words" % name)
        print("%-8s %5d words, both forms alike" % (name, len(readings[0])))


def cmd_upload(args):
    require_gputils("gpdasm")
    workdir = fresh_dir(args.work)
    chips = []
    for fmt in args.formats:
        start = time.monotonic()
        image, chip = check_upload(args, args.name, fmt, workdir)
        check_example_facts(args.name, image, chip)
        chips.append(chip)
        print("%s %s: %d words on the chip, as gpdasm reads the file (%.2f s)"
              % (args.name, fmt, len(chip), time.monotonic() - start))
    if len(chips) == 2 and chips[0] != chips[1]:
        raise Failure("%s: INHX8M and INHX32 leave different chips\n%s"
                      % (args.name, describe_difference(chips[0], chips[1])))


def cmd_refuse(args):
    workdir = fresh_dir(args.work)
    for fmt in FORMATS:
        path = hex_path(args.examples, "overlap", fmt)
        rc, output, chip, stdout = upload(args, path, workdir, "refuse." + fmt, False)
        if rc != 0:
            raise Failure("overlap %s without -o: uploader exit %d, expected 0\n%s" % (fmt, rc, output))
        check_golden(args, stdout, "overlap.refused.out")
        if "ERROR: " + OVERLAP_MESSAGE not in output:
            raise Failure("overlap %s without -o: no %r message\n%s"
                          % (fmt, "ERROR: " + OVERLAP_MESSAGE, output))
        if chip:
            raise Failure("overlap %s without -o: the chip was written\n%s"
                          % (fmt, describe_difference({}, chip)))
        print("overlap %s refused, chip untouched" % fmt)


HANG_UP_MESSAGE = b"The serial port was disconnected."


def traced_bytes(stderr):
    """The --trace lines without their times and without the polls, whose
    count depends on when the greeting came."""
    lines = (re.sub(rb"^trace +[0-9.]+ ", b"", line) for line in stderr.split(b"\n") if line.startswith(b"trace"))
    return [line for line in lines if not line.startswith(b"-> 0D")]


def cmd_compare(args):
    workdir = fresh_dir(args.work)
    blink = hex_path(args.examples, "blink", "inhx32")
    # A byte 0x1A after the first record (which ends a file read in text
    # mode on Windows), and a name outside any code page.
    with open(blink, "rb") as f:
        lines = f.read().split(b"\n")
    substitute = os.path.join(workdir, "sub.hex")
    with open(substitute, "wb") as f:
        f.write(b"\n".join(lines[:1] + [b"\x1a" + lines[1]] + lines[2:]))
    named = os.path.join(workdir, "blïnk €.hex")
    shutil.copy(blink, named)
    cases = [("blink", [blink], ()), ("query", ["-q"], ()),
             ("checksum", [blink], ("checksum@3",)), ("hang-up", ["--explain", blink], ("hangup@5",)),
             ("0x1a", [substitute], ()), ("name", [named], ()),
             ("trace", ["--trace", "--retries", "1", blink], ("checksum@3",))]
    for tag, options, faults in cases:
        linux, _, _, linux_chip = run_session(args, options, workdir, tag + ".linux", faults, wine=False)
        other, _, _, chip = run_session(args, options, workdir, tag, faults)
        if chip != linux_chip:
            raise Failure("%s: the chip differs from the Linux uploader's\n%s"
                          % (tag, describe_difference(linux_chip, chip)))
        if (other.returncode, other.stdout) != (linux.returncode, linux.stdout):
            raise Failure("%s: exit %d and standard output\n%r\nwhere Linux gives exit %d and\n%r\n"
                          "standard error: %r"
                          % (tag, other.returncode, other.stdout, linux.returncode, linux.stdout, other.stderr))
        if tag == "trace" and (not traced_bytes(linux.stderr) or traced_bytes(other.stderr) != traced_bytes(linux.stderr)):
            raise Failure("trace: %r\nwhere Linux traces\n%r" % (traced_bytes(other.stderr), traced_bytes(linux.stderr)))
        if tag == "hang-up" and HANG_UP_MESSAGE not in other.stderr:
            raise Failure("hang-up: no %r on standard error: %r" % (HANG_UP_MESSAGE, other.stderr))
        print("%s: exit %d, standard output as on Linux (%d bytes)" % (tag, other.returncode, len(other.stdout)))
    # Ctrl-C in the greeting wait, whose dots count seconds: the last line
    # and the exit value are the Linux uploader's.
    late = ("late@30",)
    linux = run_session(args, [blink], workdir, "ctrl-c.linux", late, wine=False, interrupt_after=3)[0]
    other = run_session(args, [blink], workdir, "ctrl-c", late, interrupt_after=3)[0]
    last = lambda out: out.rstrip(b"\n").split(b"\n")[-1]
    if (other.returncode, last(other.stdout)) != (linux.returncode, last(linux.stdout)):
        raise Failure("ctrl-c: exit %d and last line %r where Linux gives exit %d and %r"
                      % (other.returncode, last(other.stdout), linux.returncode, last(linux.stdout)))
    print("ctrl-c: exit %d, %s" % (other.returncode, last(other.stdout).decode()))


def gputils_version():
    try:
        run = subprocess.run(["gpasm", "-v"], capture_output=True, text=True, timeout=10)
        return (run.stdout + run.stderr).strip() or "unknown"
    except OSError:
        return "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=("rebuild", "reading", "upload", "refuse", "compare"))
    parser.add_argument("--examples", required=True, help="the examples folder")
    parser.add_argument("--work", help="scratch folder of this test")
    parser.add_argument("--build", help="examples/build.sh")
    parser.add_argument("--name", choices=sorted(PROCESSOR), help="example to upload")
    parser.add_argument("--uploader", help="programUploader executable")
    parser.add_argument("--sim", help="bootloaderSim executable")
    parser.add_argument("--formats", nargs="+", choices=FORMATS, default=FORMATS, help="hex formats to upload")
    parser.add_argument("--speed", type=int, help="the uploader's -s")
    parser.add_argument("--wine-run", help="command that runs a Windows program (the uploader is one)")
    parser.add_argument("--port-link", help="with --wine-run: the simulator's --link, mapped to --port-name")
    parser.add_argument("--port-name", help="with --wine-run: the COM port the uploader opens")
    parser.add_argument("--linux-uploader", help="with compare: the Linux programUploader")
    parser.add_argument("--golden", help="folder of the uploader's expected standard output")
    parser.add_argument("--write-golden", action="store_true",
                        help="write the golden files from this run instead of comparing")
    args = parser.parse_args()
    try:
        {"rebuild": cmd_rebuild, "reading": cmd_reading,
         "upload": cmd_upload, "refuse": cmd_refuse, "compare": cmd_compare}[args.command](args)
    except Failure as failure:
        print("FAIL: %s" % failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
