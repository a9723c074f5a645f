// benchProgram: writes the programs the benchmark uploads, as Intel HEX.
//
//   benchProgram full FILE.hex    every flash word 0x0100-0x1FFF, the eight
//                                 configuration words, all 256 EEPROM bytes
//                                 (0x0000-0x00FF stays blank for the
//                                 bootloader that sits there)
//   benchProgram sparse FILE.hex  a few short runs of words far apart, and
//                                 two EEPROM runs
//   benchProgram tiny FILE.hex    one block, for timing the greeting
#include "PicProgram.h"
#include "ownedHandles.h"
#include "protocol.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int BOOTLOADER_END = 0x00FF;  // the bootloader's own range ends here
using protocol::PROGRAM_MASK;

// Words that change from one address to the next, so a block sent to the
// wrong place shows in the chip's dump.
int programWord(int address)
{
    return (address * 0x2F1 + 0x155) & PROGRAM_MASK;
}

bool fill(PicProgram& image, int from, int to, int mask)
{
    for (int a = from; a <= to; ++a)
        if (!image.setData(a, programWord(a) & mask))
            return false;
    return true;
}

bool makeFull(PicProgram& image)
{
    return fill(image, BOOTLOADER_END + 1, PicProgram::FLASH_END, PROGRAM_MASK) &&
           fill(image, PicProgram::CONFIG_START, PicProgram::CONFIG_END, PROGRAM_MASK) &&
           fill(image, PicProgram::EEPROM_START, PicProgram::EEPROM_END, 0xFF);
}

bool makeSparse(PicProgram& image)
{
    // Runs that neither start nor end on a block boundary, far apart.
    static const struct { int from, to; } runs[] = {
        {0x0102, 0x010B}, {0x0803, 0x0809}, {0x1000, 0x1007}, {0x17F9, 0x1801}, {0x1FF0, 0x1FF5},
    };
    for (const auto& run : runs)
        if (!fill(image, run.from, run.to, PROGRAM_MASK))
            return false;
    return fill(image, 0x2101, 0x2106, 0xFF) && fill(image, 0x21F0, 0x21F3, 0xFF);
}

bool makeTiny(PicProgram& image)
{
    return fill(image, 0x0100, 0x0103, PROGRAM_MASK);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fputs("usage: benchProgram full|sparse|tiny FILE.hex\n", stderr);
        return 2;
    }
    PicProgram image;
    bool made = false;
    if (!strcmp(argv[1], "full"))
        made = makeFull(image);
    else if (!strcmp(argv[1], "sparse"))
        made = makeSparse(image);
    else if (!strcmp(argv[1], "tiny"))
        made = makeTiny(image);
    else {
        fprintf(stderr, "benchProgram: unknown program %s\n", argv[1]);
        return 2;
    }
    if (!made) {
        fprintf(stderr, "benchProgram: the %s program does not fit the image\n", argv[1]);
        return 1;
    }
    OwnedFile out(fopen(argv[2], "w"));
    if (!out || !image.writeHex(out.get())) {
        fprintf(stderr, "benchProgram: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
