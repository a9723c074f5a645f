// What a chip should hold after an upload: the rules chipCheck and the
// tests compare a simulated chip with.
//
// This is an oracle for the uploader, so it keeps its own reading of the
// upload's walk on purpose: how the reported range is widened, where blocks
// start and which blocks the two passes send are worked out here again from
// the rules, not taken from the protocol library the uploader itself uses,
// so that a mistake there cannot hide by agreeing with itself.  Only the
// range's type is shared.
#ifndef SIM_UPLOAD_ORACLE_H
#define SIM_UPLOAD_ORACLE_H

#include "PicProgram.h"
#include "protocol.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

// The bootloader's range as the uploader protects it: from the start of the
// block holding its lower address to the end of the block holding its upper.
protocol::Range protectedRange(protocol::Range reported);

// The block starts (image addresses) that an upload of program sends when
// the bootloader reports range: the flash walk from 0 and the EEPROM walk
// from 0x2100, each skipping blocks that start inside the protected range.
// Empty when the program overlaps the protected range and the overlap is
// not ignored.
std::set<int> blocksSent(const PicProgram& program, protocol::Range range, bool ignoreOverlap);
// True when the program holds a used word inside the protected range.
bool overlaps(const PicProgram& program, protocol::Range range);

// Where a chip differs from what it should hold after uploading program to
// a chip that held before: every cell of a sent block holds the program's
// masked word, every other cell is unchanged.  One line per differing cell,
// "ADDR: chip XXXX, expected YYYY" (a dash for blank).
std::vector<std::string> uploadDifferences(const PicProgram& chip, const PicProgram& before, const PicProgram& program,
                                           protocol::Range range, bool ignoreOverlap);

// Where the chip differs from the program outside the protected range,
// leaving out the configuration words the upload does not send.
std::vector<std::string> programDifferences(const PicProgram& chip, const PicProgram& program, protocol::Range range,
                                            bool ignoreOverlap);
// The same differences as data, in address order: the chip's word and the
// program's, each as the chip stores it (BLANK for blank).
struct WordDifference {
    int address;
    int chip;
    int expected;
};
std::vector<WordDifference> programWordDifferences(const PicProgram& chip, const PicProgram& program,
                                                   protocol::Range range, bool ignoreOverlap);

// A bootloader that keeps its own jump at 0000 stores the program's block 0
// in a slot of its own: the image with the slot's four words moved to
// 0000-0003, where the upload addressed them.
void takeBlockZeroFromSlot(PicProgram& chip, int slot);

#endif
