// What picHex shows of program images: their used words, a picture of the
// flash, and the addresses where two images differ.  Everything here works on
// images already read; reading and writing files is the driver's.
#ifndef PICHEX_HEX_TOOLS_H
#define PICHEX_HEX_TOOLS_H

#include "PicProgram.h"
#include "protocol.h"

#include <cstdio>
#include <vector>

namespace hexTools {

constexpr int MAP_LINE_BLOCKS = 64;  // blocks a line of the flash map

constexpr char MAP_BLANK = '.';         // no word of the block is used
constexpr char MAP_USED = '#';          // some word of the block is used
constexpr char MAP_RANGE_BLANK = '-';   // in the bootloader's range, blank
constexpr char MAP_RANGE_USED = '!';    // in the bootloader's range, yet used

// Consecutive used image addresses within one region.
struct Run {
    int first;
    int last;
};

// Each region's used addresses in ascending order: flash, configuration,
// EEPROM.  A run never crosses from one region into the next.
std::vector<Run> usedRuns(const PicProgram& image);

// The lowest used address that a chip of flashWords words and eepromWords
// EEPROM locations has no cell for; -1 when every used word has one.
int firstOutside(const PicProgram& image, int flashWords, int eepromWords);

// Word counts per region, the runs, and whether the image fits the chip;
// wordsLost: the file held words the image had no place for.
void printInfo(FILE* out, const PicProgram& image, int flashWords, int eepromWords, bool wordsLost);

// The flash as one character a block, 64 blocks a line, then the
// configuration words and the EEPROM.  range, a bootloader's own code, may be
// null; it is marked in the whole blocks the uploader keeps clear for it.
void printMap(FILE* out, const PicProgram& image, const protocol::Range* range);

// Every address whose word differs between a and b, blank against used
// included, in ascending order.
std::vector<int> differingAddresses(const PicProgram& a, const PicProgram& b);

// One line per differing address: the address, a's word, b's word.
void printDiff(FILE* out, const PicProgram& a, const PicProgram& b, const std::vector<int>& addresses);

}  // namespace hexTools

#endif
