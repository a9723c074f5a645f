#!/usr/bin/env python3
"""picHex.exe under Wine writes the bytes that the Linux picHex writes.

  PICHEX_EXE=picHex.exe PICHEX_LINUX=picHex WINE_RUN="bash wine.sh run STATE" \
  EXAMPLES=examples python3 picHexBytesTest.py

Standard output and every file are compared byte for byte, so a "\\r\\n" or
a read that stops at a byte 0x1A shows.
"""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

PICHEX_EXE = os.environ["PICHEX_EXE"]
PICHEX_LINUX = os.environ["PICHEX_LINUX"]
WINE_RUN = shlex.split(os.environ["WINE_RUN"])
EXAMPLES = os.environ["EXAMPLES"]
TIMEOUT_S = 60

END = b":00000001FF\n"


class Bytes(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="picHexBytes.")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def both(self, *args, outputs=()):
        """Runs args on Linux and under Wine; each side's exit value, standard
        output and the bytes of the named output files."""
        results = []
        for side, command in (("linux", [PICHEX_LINUX]), ("wine", WINE_RUN + [PICHEX_EXE])):
            r = subprocess.run(command + list(args), capture_output=True, timeout=TIMEOUT_S)
            files = []
            for name in outputs:
                with open(name, "rb") as f:
                    files.append(f.read())
                os.rename(name, name + "." + side)
            results.append((r.returncode, r.stdout, files))
        return results

    def example(self, name):
        return os.path.join(EXAMPLES, name)

    def test_output_and_files_match_linux(self):
        out = os.path.join(self.dir, "out.hex")
        blink = self.example("blink/blink.inhx32.hex")
        eeprom = self.example("eeprom/eeprom.inhx32.hex")
        for args, outputs in [(("normalize", blink, "-o", "-"), ()),
                              (("normalize", self.example("linked/linked.inhx8m.hex"), "-o", out), (out,)),
                              (("merge", blink, eeprom, "-o", out), (out,)),
                              (("map", self.example("fill/fill.inhx32.hex")), ()),
                              (("info", eeprom), ()),
                              (("diff", blink, eeprom), ())]:
            with self.subTest(args=args[0]):
                linux, wine = self.both(*args, outputs=outputs)
                self.assertNotIn(b"\r", wine[1])
                self.assertEqual(wine, linux)

    def test_a_byte_0x1a_between_records_ends_nothing(self):
        path = os.path.join(self.dir, "sub.hex")
        with open(path, "wb") as f:
            f.write(b":020000000528D1\n\x1a:02000200FF3FBE\n" + END)
        linux, wine = self.both("info", path)
        self.assertIn(b"2 words used", linux[1])
        self.assertEqual(wine, linux)

    def test_names_outside_the_code_page(self):
        source = os.path.join(self.dir, "blïnk €.hex")
        shutil.copy(self.example("blink/blink.inhx32.hex"), source)
        out = os.path.join(self.dir, "ausgäbe ✓.hex")
        linux, wine = self.both("normalize", source, "-o", out, outputs=(out,))
        self.assertEqual(wine, linux)


if __name__ == "__main__":
    unittest.main(verbosity=2)
