#!/usr/bin/env python3
"""Checks gpasm's listing of the bootloader for the self-write rules that no
simulator enforces (the hex cannot show them: a bsf 0x0C,1 there is PIR1 or
EECON1 by bank, so the check reads the source names in the listing):

  - every "bsf EECON1, WR" comes straight after "movlw 0x55", "movwf EECON2",
    "movlw 0xAA", "movwf EECON2" and is followed by two "nop";
  - every "bsf EECON1, RD" is followed by as many "nop" as the symbol
    READ_NOPS of the listing promises.

With --layout, the listing is the bootloader's, and its layout for the
chip it was assembled for is checked too (a build for the wrong flash size,
or the older parts' _WRT_OFF, assembles cleanly and fails only on a chip):

  - BOOT_START, BOOT_END and SLOT are the top 256 words, the top word and
    the block 8 words below the top of FLASH_WORDS; COMMIT is the block
    before SLOT;
  - every word lies in BOOT_START-BOOT_END but the reset jump at 0-2;
  - the commit block holds four "goto 0x0000", the slot nothing;
  - the configuration word lets code write flash: WRT set on the older
    parts (NON_A), WRT1:WRT0 both set (no protection) on the A parts.

usage: listingCheck.py [--layout] FILE.lst    exit 0 when the rules hold, 1 otherwise
"""

import re
import sys

INSTRUCTION = re.compile(r"^([0-9A-F]{4})   [0-9A-F]{4}(?: [0-9A-F]{4})*\s+\d+\s+(.*)$")
WORD = re.compile(r"^([0-9A-F]{4})   ([0-9A-F]{4})\s")
CONFIG_ADDRESS = 0x2007
HOLD = 0x2800                   # goto 0x0000
RESET_JUMP_WORDS = 3            # pagesel and goto at 0x0000
WRT_NON_A, WRT_A = 0x0200, 0x0600   # the configuration word's WRT bits
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


def symbol(listing, name):
    m = re.search(r"^%s\s+([0-9A-F]{8})\s*$" % name, listing, re.M)
    return int(m.group(1), 16) if m else None


def promised_read_nops(listing):
    return symbol(listing, "READ_NOPS")


def words(listing):
    """Every word the listing assembles, address to value."""
    found = {}
    for line in listing.splitlines():
        m = WORD.match(line)
        if m:
            found[int(m.group(1), 16)] = int(m.group(2), 16)
    return found


def layout_problems(listing):
    names = ("FLASH_WORDS", "BOOT_START", "BOOT_END", "SLOT", "COMMIT", "NON_A")
    value = {name: symbol(listing, name) for name in names}
    missing = [name for name in names if value[name] is None]
    if missing:
        return ["no symbol %s: not a listing of the bootloader" % ", ".join(missing)]
    flash, start, end, slot, commit = (value[n] for n in names[:5])
    found = []
    for name, want in (("BOOT_START", flash - 0x100), ("BOOT_END", flash - 1),
                       ("SLOT", flash - 8), ("COMMIT", flash - 12)):
        if value[name] != want:
            found.append("%s is %04X, expected %04X for %d words of flash" % (name, value[name], want, flash))
    code = words(listing)
    config = code.pop(CONFIG_ADDRESS, None)
    outside = [a for a in sorted(code) if not (start <= a <= end or a < RESET_JUMP_WORDS)]
    if outside:
        found.append("words outside %04X-%04X and the reset jump: %s"
                     % (start, end, " ".join("%04X" % a for a in outside[:8])))
    for a in range(commit, commit + 4):
        if code.get(a) != HOLD:
            found.append("%04X: the commit block must hold goto 0x0000 there" % a)
    for a in range(slot, slot + 4):
        if a in code:
            found.append("%04X: a word in the slot, which the application's block 0 fills" % a)
    wrt = WRT_NON_A if value["NON_A"] else WRT_A
    if config is None:
        found.append("no configuration word")
    elif config & wrt != wrt:
        found.append("configuration word %04X: code cannot write flash (WRT bits %04X must be set%s)"
                     % (config, wrt, ": the older parts take _WRT_ON" if value["NON_A"] else ""))
    return found


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
    args = sys.argv[1:]
    layout = args[:1] == ["--layout"]
    if layout:
        args = args[1:]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(args[0]) as f:
        listing = f.read()
    found = problems(listing) + (layout_problems(listing) if layout else [])
    for problem in found:
        print("%s: %s" % (args[0], problem), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
