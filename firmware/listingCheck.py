#!/usr/bin/env python3
"""Checks gpasm's listing of the bootloader for the self-write rules that no
simulator enforces (the hex cannot show them: a bsf 0x0C,1 there is PIR1 or
EECON1 by bank, so the check reads the source names in the listing):

  - every "bsf EECON1, WR" comes straight after "movlw 0x55", "movwf EECON2",
    "movlw 0xAA", "movwf EECON2" and is followed by two "nop";
  - every "bsf EECON1, RD" is followed by as many "nop" as the symbol
    READ_NOPS of the listing promises.

usage: listingCheck.py FILE.lst    exit 0 when the rules hold, 1 otherwise
"""

import re
import sys

INSTRUCTION = re.compile(r"^([0-9A-F]{4})   [0-9A-F]{4}(?: [0-9A-F]{4})*\s+\d+\s+(.*)$")
UNLOCK = ("movlw 0x55", "movwf eecon2", "movlw 0xaa", "movwf eecon2")
WRITE_NOPS = 2


def instructions(listing):
    """The listing's instructions in address order, each as (address, text):
    lower case, one space after the mnemonic, no spaces after commas, no
    label, no comment."""
    found = {}
    for line in listing.splitlines():
        m = INSTRUCTION.match(line)
        if not m:
            continue
        text = m.group(2).split(";")[0].strip().lower()
        text = re.sub(r"^[a-z_][a-z0-9_]*:\s*", "", text)
        words = text.split(None, 1)
        if not words:
            continue
        text = words[0] + (" " + re.sub(r"\s*,\s*", ",", words[1]) if len(words) > 1 else "")
        found[int(m.group(1), 16)] = text.replace(",", ", ")
    return [(a, found[a]) for a in sorted(found)]


def promised_read_nops(listing):
    m = re.search(r"^READ_NOPS\s+([0-9A-F]{8})$", listing, re.M)
    return int(m.group(1), 16) if m else None


def problems(listing):
    code = instructions(listing)
    texts = [t for _, t in code]
    read_nops = promised_read_nops(listing)
    found = []
    for i, (address, text) in enumerate(code):
        if text == "bsf eecon1, wr":
            if tuple(texts[max(0, i - len(UNLOCK)):i]) != UNLOCK:
                found.append("%04X: bsf EECON1, WR without 55h, AAh written to EECON2 right before it"
                             % address)
            if texts[i + 1:i + 1 + WRITE_NOPS] != ["nop"] * WRITE_NOPS:
                found.append("%04X: bsf EECON1, WR not followed by %d nop" % (address, WRITE_NOPS))
        if text == "bsf eecon1, rd":
            if read_nops is None:
                found.append("%04X: bsf EECON1, RD, and no READ_NOPS symbol says how many nop follow it"
                             % address)
            elif texts[i + 1:i + 1 + read_nops] != ["nop"] * read_nops:
                found.append("%04X: bsf EECON1, RD not followed by %d nop" % (address, read_nops))
    return found


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1]) as f:
        listing = f.read()
    found = problems(listing)
    for problem in found:
        print("%s: %s" % (sys.argv[1], problem), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
