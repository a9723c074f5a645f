#!/usr/bin/env python3
"""Writes the seed corpora of the link's fuzz targets.

corpus-uploader: the bootloader's side of whole sessions as bootloaderSim
plays them (its default greeting, date and range, its write times, and each
of its faults), in fuzz_uploader's input format: one byte of flags, then
chunks of a control byte and up to 16 bytes.

corpus-bootloaderSim (only when the path of a built fuzz_uploader is given):
what the uploader itself wrote in those sessions, traced by fuzz_uploader,
behind fuzz_bootloaderSim's header that sets the same range and faults.

    python3 tests/fuzz/makeSeeds.py [build/fuzz/tests/fuzz/fuzz_uploader]
"""
import os
import subprocess
import sys

QUERY_ONLY, IGNORE_OVERLAP, HANG_UP_AT_END = 1, 2, 4
TRACED = 0x20


def retries(n):
    """The flag bits that give each block n checksum retries."""
    return n << 3
# Delay indices of the target's table: 0, 100 us, 1 ms, 4 ms, 30 ms, 250 ms, 1.5 s, 6 s.
NOW, CHAR, MS1, MS4, MS30, MS250, S1_5, S6 = range(8)


def word(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF])


def greeting(year=2004, day=15, month=6):
    return b"KK" + word(year) + bytes([day, month])


def ident(lower=0x1F00, upper=0x1FFF, ready=b">"):
    return word(lower) + word(upper) + ready


def chunks(data, delay=NOW, reply=True):
    """data as the far end sends it: the first piece delay after the
    uploader's next write (reply) or after the previous piece."""
    out = b""
    for i in range(0, len(data), 16):
        piece = data[i:i + 16]
        first = i == 0
        control = (0x80 if first and reply else 0) | ((delay if first else NOW) << 4) | (len(piece) - 1)
        out += bytes([control]) + piece
    return out


def trickle(data, delay=CHAR):
    return b"".join(bytes([(delay << 4)]) + data[i:i + 1] for i in range(len(data)))


# The frames that the fixed image takes with the range 1F00-1FFF, and the
# write time bootloaderSim spends on each: SET 0000, block 0000, block 0004,
# SET 0010, block 0010, SET 1EFC, block 1EFC, SET 00 (EEPROM), block 2100,
# block 2104.
FRAMES = ["set", "prog", "prog", "set", "prog", "set", "prog", "set", "eeprom", "eeprom"]
BLOCK_STARTS = {1: 0x0000, 2: 0x0004, 4: 0x0010, 6: 0x1EFC, 8: 0x00, 9: 0x04}


def responses(special=None, write_test=None, resent=None):
    """The bootloader's answers to the image's frames; special adds a
    report to frame n's answer, and after each frame n in resent the
    SET_ADDRESS and block that a retry sends again are answered, the block
    with resent[n] before its '>'."""
    out = b""
    for n, kind in enumerate(FRAMES):
        delay = {"set": NOW, "prog": MS4, "eeprom": MS30}[kind]
        body = b""
        if write_test and kind == "prog":
            for a in range(BLOCK_STARTS[n], BLOCK_STARTS[n] + 4):
                body += b"w" + word(a) + word(write_test.get(a, 0x3FFF))
        if special and n in special:
            body += special[n]
        out += chunks(body + b">", delay)
        if resent and n in resent:
            out += chunks(b">") + chunks(resent[n] + b">", MS4)
    return out


def opening(**kw):
    return chunks(greeting(**{k: v for k, v in kw.items() if k in ("year", "day", "month")})) + \
        chunks(ident(**{k: v for k, v in kw.items() if k in ("lower", "upper", "ready")}))


def report(error, address):
    return b"!" + error + word(address)


IMAGE_WORDS = {0x0000: 0x2805, 0x0001: 0x0000, 0x0002: 0x3FFF, 0x0003: 0x1283, 0x0005: 0x1234,
               0x0010: 0x3FFE, 0x1EFC: 0x0008}

SEEDS = {
    "upload": bytes([0]) + opening() + responses(),
    "query": bytes([QUERY_ONLY]) + opening(),
    "bad-date": bytes([0]) + opening(year=2007),
    "checksum": bytes([0]) + opening() + responses({1: report(b"C", 0x0000)}),
    "checksum-retried": bytes([retries(1) | TRACED]) + opening() +
                        responses({1: report(b"C", 0x0000)}, resent={1: b""}),
    "checksum-retries-spent": bytes([retries(1)]) + opening() +
                              responses({1: report(b"C", 0x0000)}, resent={1: report(b"C", 0x0000)}),
    "verify": bytes([0]) + opening() + responses({2: report(b"V", 0x0005)}),
    "refuse-eeprom": bytes([0]) + opening() + responses({9: report(b"A", 0x0004)}),
    "unknown-command": bytes([0]) + opening() + responses({3: report(b"U", 0x0008)}),
    "write-test": bytes([0]) + opening() + responses(write_test=IMAGE_WORDS),
    "write-test-mismatch": bytes([0]) + opening() + responses(write_test={0x0005: 0x1235}),
    "garbage": bytes([0]) + opening() + responses({4: b"x"}),
    "bad-ready": bytes([0]) + chunks(greeting()) + chunks(ident(ready=b"<")) +
                 chunks(greeting(), MS30) + chunks(ident()) + responses(),
    "mute-ident": bytes([0]) + chunks(greeting()) + chunks(word(0x1F00)) +
                  chunks(greeting(), MS30) + chunks(ident()) + responses(),
    "trickle": bytes([0]) + bytes([0x80]) + b"K" + trickle(greeting()[1:]) + chunks(ident()) + responses(),
    "late": bytes([0]) + chunks(greeting(), MS250) + chunks(ident()) + responses(),
    "silent": bytes([0]) + opening() + chunks(b">") + chunks(b">", MS4),
    "slow-answer": bytes([0]) + opening() + chunks(b">") + chunks(b">", S6),
    "overlap": bytes([0]) + opening(lower=0x0000, upper=0x00FF),
    "overlap-ignored": bytes([IGNORE_OVERLAP]) + opening(lower=0x0002, upper=0x0011) +
                       b"".join(chunks(b">", MS4) for _ in range(6)),
    "unaligned-range": bytes([0]) + opening(lower=0x1F01, upper=0x1F00) + responses(),
    "hang-up": bytes([HANG_UP_AT_END]) + opening() + chunks(b">") + chunks(b">", MS4),
    "greeted-at-window-end": bytes([0]) + b"".join(chunks(b"\0", d, reply=False) for d in (MS250, MS250, MS30, MS30)) +
                             chunks(greeting(), MS30, reply=False) + chunks(ident(), MS4) + responses(),
    "noise": bytes([0]) + chunks(b"\x00\xff\x0d>KK", NOW, reply=False) + opening() + responses(),
}


def uploader_wrote(fuzz_uploader, seed):
    """The bytes the uploader wrote when fuzz_uploader ran the seed."""
    trace = subprocess.run([fuzz_uploader, seed], env=dict(os.environ, FUZZ_UPLOADER_TRACE="1"),
                           stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, check=True).stderr.decode()
    wrote = bytearray()
    for line in trace.splitlines():
        if line.startswith("result"):
            if wrote:  # libFuzzer may run an input twice
                break
            continue
        if line.startswith("< "):
            wrote.append(int(line.split()[1], 16))
    return bytes(wrote)


def sim_header(range_index=0, chip=0, flags=0, checksum_frames=0, silent_from=0, hangup_at=0,
               verify_at=0xFFFF, refuse_at=0xFFFF, stray_frame=0, stray=0):
    """fuzz_bootloaderSim's header: range, chip, fault flags (1 write test,
    2 trickle, 4 bad ready, 8 mute identification), checksum frames (bit n:
    frame n + 1), silent from, hang-up at, verify and refuse addresses
    (0xFFFF: none), the frame and byte of a stray byte."""
    return bytes([range_index, chip, flags, checksum_frames, silent_from, hangup_at]) + \
        word(verify_at) + word(refuse_at) + bytes([stray_frame, stray])


SIM_SEEDS = {
    "upload": ("upload", sim_header()),
    "query": ("query", sim_header()),
    "write-test": ("write-test", sim_header(flags=1)),
    "trickle": ("trickle", sim_header(flags=2)),
    "bad-ready": ("bad-ready", sim_header(flags=4)),
    "mute-ident": ("mute-ident", sim_header(flags=8)),
    "checksum": ("checksum", sim_header(checksum_frames=2)),
    "verify": ("verify", sim_header(verify_at=0x0005)),
    "refuse-eeprom": ("refuse-eeprom", sim_header(refuse_at=0x2105)),
    "garbage": ("garbage", sim_header(stray_frame=5, stray=ord("x"))),
    "silent": ("silent", sim_header(silent_from=2)),
    "hang-up": ("hang-up", sim_header(hangup_at=2)),
    "overlap-ignored": ("overlap-ignored", sim_header(range_index=1)),
    "small-chip": ("upload", sim_header(chip=2)),
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "corpus-uploader")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name + ".bin"), "wb") as f:
            f.write(data)
    if len(sys.argv) > 1:
        sim_out = os.path.join(here, "corpus-bootloaderSim")
        os.makedirs(sim_out, exist_ok=True)
        for name, (session, header) in SIM_SEEDS.items():
            wrote = uploader_wrote(sys.argv[1], os.path.join(out, session + ".bin"))
            if name == "upload":
                wrote += wrote  # a second uploader on the same chip
            with open(os.path.join(sim_out, name + ".bin"), "wb") as f:
                f.write(header + wrote)
