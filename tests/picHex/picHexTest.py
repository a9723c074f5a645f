#!/usr/bin/env python3
"""picHex from the outside: its output, its files and its exit values.

  python3 picHexTest.py GROUP [GROUP...]

GROUP is one of the TestCase classes below.  The executables come from the
environment: PICHEX, and for the upload and install groups BOOTLOADER_SIM,
PROGRAM_UPLOADER, BUILD_DIR, CMAKE, BINDIR, MANDIR; EXAMPLES is the examples
folder.  Hex files are built here with a small record writer so every test
states the words it starts from.
"""

import os
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

PICHEX = os.environ.get("PICHEX", "picHex")
EXAMPLES = os.environ.get("EXAMPLES", "")
EXAMPLE_FILES = ["blink/blink.inhx32.hex", "blink/blink.inhx8m.hex", "eeprom/eeprom.inhx32.hex",
                 "fill/fill.inhx32.hex", "linked/linked.inhx8m.hex", "overlap/overlap.inhx32.hex"]

EXIT_DONE, EXIT_DIFFERENT, EXIT_ERROR = 0, 1, 2  # 1: differ, does not fit, range holds words
TIMEOUT_S = 30


def record(byte_address, data, rtype=0):
    body = [len(data), byte_address >> 8 & 0xFF, byte_address & 0xFF, rtype] + list(data)
    return ":" + "".join("%02X" % b for b in body) + "%02X" % (-sum(body) & 0xFF)


def hex_text(words):
    """An Intel HEX file holding {image address: word}, one record a word."""
    lines = [record(2 * a, [w & 0xFF, w >> 8]) for a, w in sorted(words.items())]
    return "\n".join(lines + [":00000001FF"]) + "\n"


class Work(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="picHexTest.")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def file(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def image(self, name, words):
        return self.file(name, hex_text(words))

    def run_hex(self, *args, stdin=None):
        return subprocess.run([PICHEX] + list(args), input=stdin, capture_output=True, text=True,
                              timeout=TIMEOUT_S)

    def read(self, path):
        with open(path) as f:
            return f.read()


class RoundTrip(Work):
    def test_known_image_gives_the_canonical_text(self):
        src = self.image("a.hex", {0: 0x2805, 1: 0x3FFF, 2: 0x0183, 0x2007: 0x3F72,
                                   0x2100: 0x0012, 0x2101: 0x0034})
        out = os.path.join(self.dir, "out.hex")
        records = [":060000000528FF3F83010B", ":02400E00723FFF", ":024200001200AA", ":02420200340086",
                   ":00000001FF"]
        # Plain Intel HEX by default; --comments adds the uploader's writer's section lines.
        for extra, lines in [((), records),
                             (("--comments",), ["; Flash ROM data"] + records[:1] + ["; Config data"] +
                              records[1:2] + ["; EEPROM data"] + records[2:4] + ["; terminator"] + records[4:])]:
            with self.subTest(extra=extra):
                r = self.run_hex("normalize", src, "-o", out, *extra)
                self.assertEqual((r.returncode, r.stdout, r.stderr), (EXIT_DONE, "", ""))
                self.assertEqual(self.read(out), "\n".join(lines) + "\n")

    def test_other_tools_read_what_normalize_and_merge_write(self):
        if shutil.which("objcopy") is None:
            self.skipTest("objcopy (binutils) not installed")
        src = os.path.join(EXAMPLES, "eeprom/eeprom.inhx32.hex")
        out = os.path.join(self.dir, "out.hex")
        for args in [("normalize", src), ("merge", src, src)]:
            with self.subTest(args=args):
                self.assertEqual(self.run_hex(*args, "-o", out).returncode, EXIT_DONE)
                r = subprocess.run(["objcopy", "-I", "ihex", "-O", "binary", out, out + ".bin"],
                                   capture_output=True, text=True, timeout=TIMEOUT_S)
                self.assertEqual((r.returncode, r.stderr), (0, ""))

    def test_examples_survive_normalize_and_normalize_is_idempotent(self):
        for name in EXAMPLE_FILES:
            with self.subTest(name=name):
                src = os.path.join(EXAMPLES, name)
                once = os.path.join(self.dir, "once.hex")
                twice = os.path.join(self.dir, "twice.hex")
                self.assertEqual(self.run_hex("normalize", src, "-o", once).returncode, EXIT_DONE)
                self.assertEqual(self.run_hex("normalize", once, "-o", twice).returncode, EXIT_DONE)
                self.assertEqual(self.read(once), self.read(twice))
                d = self.run_hex("diff", src, once)
                self.assertEqual((d.returncode, d.stdout), (EXIT_DONE, ""))
                self.assertEqual(self.run_hex("compare", src, once).returncode, EXIT_DONE)

    def test_standard_streams_and_writing_over_the_input(self):
        src = os.path.join(EXAMPLES, "eeprom/eeprom.inhx32.hex")
        out = os.path.join(self.dir, "out.hex")
        self.assertEqual(self.run_hex("normalize", src, "-o", out).returncode, EXIT_DONE)
        piped = self.run_hex("normalize", "-", "-o", "-", stdin=self.read(src))
        self.assertEqual((piped.returncode, piped.stdout), (EXIT_DONE, self.read(out)))
        copy = self.file("copy.hex", self.read(src))
        self.assertEqual(self.run_hex("normalize", copy, "-o", copy).returncode, EXIT_DONE)
        self.assertEqual(self.read(copy), self.read(out))

    def test_words_above_16_bits_cannot_appear_and_blank_ffff_is_left_out(self):
        # FFFF is the blank value: a file that writes it explicitly holds nothing there.
        src = self.image("a.hex", {0: 0xFFFF, 1: 0x0001})
        r = self.run_hex("normalize", src, "-o", "-")
        self.assertIn(":020002000100FB\n", r.stdout)
        self.assertNotIn(":02000000", r.stdout)


class Merge(Work):
    def test_first_image_wins_both_ways(self):
        a = self.image("a.hex", {0: 0x1111})
        b = self.image("b.hex", {0: 0x2222, 1: 0x3333})
        ab = self.run_hex("merge", a, b, "-o", "-")
        ba = self.run_hex("merge", b, a, "-o", "-")
        self.assertEqual(ab.returncode, EXIT_DONE)
        self.assertEqual(ba.returncode, EXIT_DONE)
        self.assertIn("%s\n" % record(0, [0x11, 0x11, 0x33, 0x33]), ab.stdout)
        self.assertIn("%s\n" % record(0, [0x22, 0x22, 0x33, 0x33]), ba.stdout)
        self.assertEqual(ab.stderr, "picHex: %s and %s differ at 0000-0000 (1 word); kept %s's\n" % (a, b, a))

    def test_conflicts_named_as_runs_per_region(self):
        a = self.image("a.hex", {0x1FFE: 1, 0x1FFF: 2, 0x2000: 3, 0x2001: 4, 0x2005: 5, 0x2100: 6, 0x2101: 7})
        b = self.image("b.hex", {0x1FFE: 9, 0x1FFF: 9, 0x2000: 9, 0x2001: 9, 0x2005: 5, 0x2100: 9, 0x2101: 9,
                                 0x2102: 9})
        r = self.run_hex("merge", a, b, "-o", "-")
        self.assertEqual(r.returncode, EXIT_DONE)
        self.assertEqual(r.stderr.splitlines(),
                         ["picHex: %s and %s differ at %s; kept %s's" % (a, b, where, a)
                          for where in ("1FFE-1FFF (2 words)", "2000-2001 (2 words)", "2100-2101 (2 bytes)")])

    def test_regions_merge_alike(self):
        a = self.image("a.hex", {0x2007: 0x3F72, 0x2100: 0x0012})
        b = self.image("b.hex", {0x2007: 0x1234, 0x2000: 0x0005, 0x2100: 0x0099, 0x21FF: 0x0034})
        merged = os.path.join(self.dir, "m.hex")
        self.assertEqual(self.run_hex("merge", a, b, "-o", merged).returncode, EXIT_DONE)
        expected = self.image("e.hex", {0x2007: 0x3F72, 0x2000: 0x0005, 0x2100: 0x0012, 0x21FF: 0x0034})
        d = self.run_hex("diff", merged, expected)
        self.assertEqual((d.returncode, d.stdout), (EXIT_DONE, ""))


class Compare(Work):
    def test_equals_is_asymmetric_and_compare_says_which_way_fails(self):
        p = self.image("p.hex", {1: 0x0005})
        q = self.image("q.hex", {0: 0x2222, 1: 0x0005})
        pq = self.run_hex("compare", p, q)
        qp = self.run_hex("compare", q, p)
        line = "%s holds words that %s lacks or holds differently\n" % (q, p)
        self.assertEqual((pq.returncode, pq.stdout, pq.stderr), (EXIT_DIFFERENT, line, ""))
        self.assertEqual((qp.returncode, qp.stdout, qp.stderr), (EXIT_DIFFERENT, line, ""))

    def test_both_ways_failing_and_the_same_words(self):
        a = self.image("a.hex", {0: 0x1111})
        b = self.image("b.hex", {0: 0x2222})
        r = self.run_hex("compare", a, b)
        self.assertEqual((r.returncode, r.stdout),
                         (EXIT_DIFFERENT,
                          "%s and %s each hold words that the other lacks or holds differently\n" % (a, b)))
        same = self.file("same.hex", "; comment\n" + self.read(a).lower().replace("\n", "\r\n"))
        r = self.run_hex("compare", a, same)
        self.assertEqual((r.returncode, r.stdout), (EXIT_DONE, "%s and %s hold the same words\n" % (a, same)))

    def test_a_difference_in_the_last_config_and_eeprom_word_counts(self):
        base = {0: 0x2805, 0x2007: 0x3F72, 0x21FF: 0x0012}
        a = self.image("a.hex", base)
        for address in (0x2007, 0x21FF):
            with self.subTest(address="%04X" % address):
                other = dict(base)
                other[address] = 0x0001
                b = self.image("b.hex", other)
                self.assertEqual(self.run_hex("compare", a, b).returncode, EXIT_DIFFERENT)


class Diff(Work):
    def test_lines_in_both_directions(self):
        a = self.image("a.hex", {0: 0x1111, 2: 0x0003, 0x2007: 0x3F72, 0x2100: 0x0012})
        b = self.image("b.hex", {0: 0x2222, 1: 0x3333, 2: 0x0003, 0x21FF: 0x0034})
        r = self.run_hex("diff", a, b)
        self.assertEqual(r.returncode, EXIT_DIFFERENT)
        self.assertEqual(r.stdout.splitlines(),
                         ["0000 1111 2222", "0001 ---- 3333", "2007 3F72 ----", "2100 0012 ----",
                          "21FF ---- 0034"])
        r = self.run_hex("diff", b, a)
        self.assertEqual(r.stdout.splitlines(),
                         ["0000 2222 1111", "0001 3333 ----", "2007 ---- 3F72", "2100 ---- 0012",
                          "21FF 0034 ----"])

    def test_same_words_give_nothing(self):
        a = self.image("a.hex", {5: 0x0102})
        r = self.run_hex("diff", a, a)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (EXIT_DONE, "", ""))


KNOWN = {0x0000: 0x2805, 0x0105: 0x0001, 0x1F00: 0x3FFE, 0x2007: 0x3F72, 0x2100: 0x0012, 0x21FF: 0x0034}


def flash_lines(marks, range_blocks=()):
    """The 32 flash lines; marks holds the used block starts."""
    lines = []
    for line in range(0, 0x2000, 0x100):
        chars = ""
        for block in range(line, line + 0x100, 4):
            used = block in marks
            if block in range_blocks:
                chars += "!" if used else "-"
            else:
                chars += "#" if used else "."
        lines.append("%04X %s" % (line, chars))
    return lines


class Map(Work):
    def test_known_image_line_for_line(self):
        src = self.image("k.hex", KNOWN)
        r = self.run_hex("map", src)
        self.assertEqual((r.returncode, r.stderr), (EXIT_DONE, ""))
        expected = (["flash, one character per 4 words: # used, . blank"]
                    + flash_lines({0x0000, 0x0104, 0x1F00})
                    + ["config, one character per word:", "2000 .......# 2007=3F72",
                       "eeprom, one character per 4 bytes:", "2100 #" + "." * 62 + "#"])
        self.assertEqual(r.stdout.splitlines(), expected)
        self.assertEqual(expected[1], "0000 #" + "." * 63)
        self.assertEqual(expected[2], "0100 .#" + "." * 62)

    def test_bootloader_range_widened_to_blocks_and_used_words_in_it_stand_out(self):
        src = self.image("k.hex", KNOWN)
        r = self.run_hex("map", src, "--range", "1F02-1FFD")
        self.assertEqual(r.returncode, EXIT_DIFFERENT)  # the range holds a word
        lines = r.stdout.splitlines()
        self.assertEqual(lines[0], "flash, one character per 4 words: # used, . blank, "
                                   "- bootloader range, ! used inside it")
        self.assertEqual(lines[1:33], flash_lines({0x0000, 0x0104, 0x1F00}, set(range(0x1F00, 0x2000, 4))))
        self.assertEqual(lines[32], "1F00 !" + "-" * 63)
        self.assertEqual(lines[33], "bootloader range 1F02-1FFD (whole blocks 1F00-1FFF): "
                                    "1 word used, the first at 1F00")
        r = self.run_hex("map", src, "--range", "1000-10FF")
        self.assertEqual(r.returncode, EXIT_DONE)
        free = r.stdout.splitlines()
        self.assertEqual(free[17], "1000 " + "-" * 64)
        self.assertEqual(free[33], "bootloader range 1000-10FF: free")

    def test_range_over_the_configuration_words(self):
        src = self.image("k.hex", KNOWN)
        lines = self.run_hex("map", src, "--range", "1FF0-2003").stdout.splitlines()
        self.assertEqual(lines[32], "1F00 #" + "." * 59 + "----")
        self.assertEqual(lines[35], "2000 ----...# 2007=3F72")


class Info(Work):
    def test_known_image(self):
        src = self.image("k.hex", KNOWN)
        r = self.run_hex("info", src)
        self.assertEqual((r.returncode, r.stderr), (EXIT_DONE, ""))
        self.assertEqual(r.stdout.splitlines(),
                         ["flash:  3 words used", "config: 1 word used", "eeprom: 2 bytes used", "runs:",
                          "  0000-0000 (1 word)", "  0105-0105 (1 word)", "  1F00-1F00 (1 word)",
                          "  2007-2007 (1 word)", "  2100-2100 (1 byte)", "  21FF-21FF (1 byte)",
                          "fits 8192 flash words and 256 EEPROM bytes: yes"])

    def test_runs_and_the_first_word_outside_a_smaller_chip(self):
        words = {a: 0x0100 + a for a in range(0x10, 0x18)}
        words.update({0x0105: 1, 0x1F00: 2, 0x2180: 3})
        src = self.image("r.hex", words)
        r = self.run_hex("info", src, "--flash", "4096")
        self.assertIn("  0010-0017 (8 words)\n", r.stdout)
        self.assertTrue(r.stdout.endswith("fits 4096 flash words and 256 EEPROM bytes: no, 1F00 is outside\n"))
        self.assertEqual(r.returncode, EXIT_DIFFERENT)  # does not fit
        r = self.run_hex("info", src, "--eeprom", "128", "--flash", "261")
        self.assertTrue(r.stdout.endswith("no, 0105 is outside\n"), r.stdout)
        r = self.run_hex("info", src, "--eeprom", "128")
        self.assertTrue(r.stdout.endswith("no, 2180 is outside\n"), r.stdout)
        self.assertEqual(r.returncode, EXIT_DIFFERENT)
        r = self.run_hex("info", src, "--eeprom", "129", "--flash", "7937")
        self.assertEqual((r.returncode, r.stdout.splitlines()[-1]),
                         (EXIT_DONE, "fits 7937 flash words and 129 EEPROM bytes: yes"))

    def test_blank_image(self):
        r = self.run_hex("info", "-", stdin=":00000001FF\n")
        self.assertEqual(r.stdout, "flash:  0 words used\nconfig: 0 words used\neeprom: 0 bytes used\n"
                                   "runs: none\nfits 8192 flash words and 256 EEPROM bytes: yes\n")


class ExitCodes(Work):
    def assert_usage_error(self, *args):
        r = self.run_hex(*args)
        self.assertEqual(r.returncode, EXIT_ERROR, args)
        self.assertIn("usage: picHex", r.stderr, args)
        self.assertEqual(r.stdout, "", args)

    def test_command_line_refused(self):
        a = self.image("a.hex", {0: 1})
        for args in [(), ("bogus", a), ("info",), ("info", a, a), ("merge", a), ("merge", a, a),
                     ("normalize", a), ("normalize", a, "-o"), ("diff", a, a, "-o", "x"),
                     ("info", a, "--range", "0-1"), ("map", a, "--flash", "10"),
                     ("info", a, "--flash", "8193"), ("info", a, "--flash", "-1"), ("info", a, "--eeprom", "x"),
                     ("map", a, "--range", "1FFF-1F00"), ("map", a, "--range", "12345-2"),
                     ("map", a, "--range", "1F00"), ("info", a, "-x"), ("info", a, "--")]:
            with self.subTest(args=args):
                self.assert_usage_error(*args)

    def test_help(self):
        for args in [("--help",), ("-h",), ("diff", "--help")]:
            r = self.run_hex(*args)
            self.assertEqual(r.returncode, EXIT_DONE)
            self.assertTrue(r.stdout.startswith("usage: picHex"))
            self.assertEqual(r.stderr, "")

    def test_files_the_reader_refuses(self):
        good = self.image("good.hex", {0: 1})
        bad_sum = self.file("bad.hex", ":020000000528D2\n:00000001FF\n")
        no_end = self.file("noend.hex", ":020000000528D1\n")
        lost_colon = self.file("colon.hex", ":020000000528D1\n02000200452394\n:00000001FF\n")
        for bad in (bad_sum, no_end, lost_colon):
            for args in [("info", bad), ("map", bad), ("normalize", bad, "-o", os.path.join(self.dir, "o")),
                         ("merge", good, bad, "-o", "-"), ("diff", bad, good), ("compare", good, bad)]:
                with self.subTest(args=args):
                    r = self.run_hex(*args)
                    self.assertEqual(r.returncode, EXIT_ERROR)
                    self.assertEqual(r.stdout, "")
                    lines = r.stderr.splitlines()
                    self.assertTrue(lines[0].startswith("PicProgram::readHex - "), r.stderr)
                    self.assertEqual(lines[1:], ["picHex: cannot read %s" % bad])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "o")))

    def test_words_at_addresses_no_chip_has(self):
        # 0x2008 is past the configuration words, 0x2300 past the EEPROM: the
        # reader reports them and reads on, but the image cannot hold them.
        lost = self.image("lost.hex", {0: 0x2805, 0x2008: 0x0001, 0x2300: 0x0005})
        other = self.image("other.hex", {0: 0x2805, 0x2008: 0x0002})
        reader = ["PicProgram::readHex - invalid address 2008", "PicProgram::readHex - invalid address 2300"]
        r = self.run_hex("info", lost)
        self.assertEqual(r.returncode, EXIT_ERROR)
        self.assertEqual(r.stderr.splitlines(), reader + ["picHex: %s holds words that no chip has a place for" % lost])
        self.assertIn("  0000-0000 (1 word)\n", r.stdout)
        self.assertTrue(r.stdout.endswith(": no, the file holds words that no chip has a place for\n"))
        out = os.path.join(self.dir, "out.hex")
        for args in [("normalize", lost, "-o", out), ("merge", other, lost, "-o", out), ("diff", lost, other),
                     ("compare", other, lost), ("map", lost)]:
            with self.subTest(args=args):
                r = self.run_hex(*args)
                self.assertEqual((r.returncode, r.stdout), (EXIT_ERROR, ""))
                self.assertTrue(r.stderr.startswith("PicProgram::readHex - invalid address 2008\n"), r.stderr)
        self.assertFalse(os.path.exists(out))

    def test_missing_file(self):
        missing = os.path.join(self.dir, "missing.hex")
        r = self.run_hex("info", missing)
        self.assertEqual((r.returncode, r.stdout), (EXIT_ERROR, ""))
        self.assertEqual(r.stderr, "picHex: cannot open %s: No such file or directory\n" % missing)

    def test_failed_writes(self):
        src = self.image("a.hex", {0: 1})
        other = self.image("b.hex", {0: 2})
        r = self.run_hex("normalize", src, "-o", "/dev/full")
        self.assertEqual(r.returncode, EXIT_ERROR)
        self.assertEqual(r.stderr, "picHex: cannot write /dev/full: No space left on device\n")
        r = self.run_hex("merge", src, src, "-o", os.path.join(self.dir, "no", "such", "dir.hex"))
        self.assertEqual(r.returncode, EXIT_ERROR)
        self.assertIn("No such file or directory", r.stderr)
        for args in [("normalize", src, "-o", "-"), ("map", src), ("info", src), ("diff", src, other),
                     ("--help",)]:
            with self.subTest(args=args), open("/dev/full", "w") as full:
                r = subprocess.run([PICHEX] + list(args), stdout=full, stderr=subprocess.PIPE, text=True,
                                   timeout=TIMEOUT_S)
                self.assertEqual(r.returncode, EXIT_ERROR)
                self.assertEqual(r.stderr, "picHex: cannot write the standard output: No space left on device\n")


class Simulator:
    """bootloaderSim for one session; its first line names the port."""

    def __init__(self, binary, dump):
        self.proc = subprocess.Popen([binary, "--once", "--baud", "0", "--dump", dump],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline() if ready else ""
        prefix = "bootloaderSim: port "
        if not line.startswith(prefix):
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("bootloaderSim did not name its port: %r" % line)
        self.port = line[len(prefix):].strip()

    def finish(self):
        try:
            return self.proc.wait(timeout=TIMEOUT_S)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            self.proc.stdout.close()
            self.proc.stderr.close()


class UploadedChip(Work):
    def upload(self, program):
        chip = os.path.join(self.dir, "chip.hex")
        sim = Simulator(os.environ["BOOTLOADER_SIM"], chip)
        try:
            up = subprocess.run([os.environ["PROGRAM_UPLOADER"], "-p", sim.port, program],
                                capture_output=True, text=True, timeout=TIMEOUT_S * 2)
        finally:
            status = sim.finish()
        self.assertEqual(up.returncode, 1, up.stdout)
        self.assertEqual(status, 0)
        return chip

    def test_blink_on_the_chip_lacks_only_its_configuration_word(self):
        program = os.path.join(EXAMPLES, "blink/blink.inhx32.hex")
        chip = self.upload(program)
        # The flash pass does not reach 0x2007, so the configuration word
        # stays with the hardware programmer.
        d = self.run_hex("diff", program, chip)
        self.assertEqual((d.returncode, d.stdout, d.stderr), (EXIT_DIFFERENT, "2007 3F71 ----\n", ""))
        c = self.run_hex("compare", chip, program)
        self.assertEqual((c.returncode, c.stdout),
                         (EXIT_DIFFERENT, "%s holds words that %s lacks or holds differently\n" % (program, chip)))

    def test_chip_keeps_14_bit_words_and_eeprom_bytes(self):
        program = self.image("p.hex", {0: 0x2805, 1: 0xC183, 2: 0x3FFF, 0x0005: 0x0008,
                                       0x2100: 0x1234, 0x2101: 0x00AB})
        chip = self.upload(program)
        d = self.run_hex("diff", program, chip)
        self.assertEqual(d.returncode, EXIT_DIFFERENT)
        self.assertEqual(d.stdout.splitlines(), ["0001 C183 0183", "0002 3FFF ----", "2100 1234 0034"])


class Install(unittest.TestCase):
    """cmake --install into a fresh prefix, then the programs from there."""

    def test_every_program_and_page_installed_and_usable(self):
        prefix = tempfile.mkdtemp(prefix="picHexInstall.")
        try:
            r = subprocess.run([os.environ["CMAKE"], "--install", os.environ["BUILD_DIR"], "--prefix", prefix],
                               capture_output=True, text=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            bindir = os.path.join(prefix, os.environ["BINDIR"])
            mandir = os.path.join(prefix, os.environ["MANDIR"], "man1")
            pages = sorted(os.listdir(mandir))
            for program in ("programUploader", "bootloaderSim", "chipCheck", "picHex"):
                self.assertIn(program + ".1.gz", pages)
            # Every page has its program, and every program its page.
            self.assertEqual([p[:-len(".1.gz")] for p in pages], sorted(os.listdir(bindir)))
            for page in pages:
                if shutil.which("man"):
                    m = subprocess.run(["man", "-l", os.path.join(mandir, page)], capture_output=True, text=True,
                                       timeout=TIMEOUT_S, env=dict(os.environ, MANPAGER="cat", MANWIDTH="80"))
                    self.assertEqual((m.returncode, m.stderr), (0, ""), page)
                    self.assertIn("NAME", m.stdout)
            uploader = os.path.join(bindir, "programUploader")
            v = subprocess.run([uploader, "--version"], capture_output=True, text=True, timeout=TIMEOUT_S)
            self.assertEqual((v.returncode, v.stderr), (0, ""))
            self.assertTrue(v.stdout.startswith("programUploader "), v.stdout)
            # One upload from the installed uploader to the installed simulator.
            sim = Simulator(os.path.join(bindir, "bootloaderSim"), os.path.join(prefix, "chip.hex"))
            try:
                up = subprocess.run([uploader, "-p", sim.port, os.path.join(EXAMPLES, "blink/blink.inhx32.hex")],
                                    capture_output=True, text=True, timeout=TIMEOUT_S * 2)
            finally:
                status = sim.finish()
            self.assertEqual((up.returncode, status), (1, 0), up.stdout + up.stderr)
        finally:
            shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    groups = sys.argv[1:]
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(globals()[g]) for g in groups)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
