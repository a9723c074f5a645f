// The simulated PIC's memories and the rules for comparing a chip with a
// program that was uploaded into it.
//
// The chip's memory is a PicProgram whose erased cells are blank: a flash or
// configuration word of 0x3FFF and an EEPROM byte of 0xFF read back as such
// but are stored as the blank value, so a dump holds only programmed words.
#ifndef SIM_CHIP_H
#define SIM_CHIP_H

#include "PicProgram.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

constexpr int ERASED_WORD = 0x3FFF;  // a blank flash or configuration cell reads this
constexpr int ERASED_BYTE = 0xFF;    // a blank EEPROM cell reads this
constexpr int WORD_MASK = 0x3FFF;    // program words are 14 bits
constexpr int BYTE_MASK = 0xFF;
constexpr int BLOCK_WORDS = 4;

class Chip {
public:
    Chip(int flashWords, int eepromBytes);

    int flashSize() const { return flashSize_; }
    int eepromSize() const { return eepromSize_; }

    // Program blocks are addressed by image address (flash or configuration
    // words), EEPROM blocks by EEPROM offset.  False when some cell of the
    // block does not exist on the chip; nothing is written then.
    bool hasProgramBlock(int address) const;
    bool hasEepromBlock(int offset) const;
    void writeProgramWord(int address, int word);
    void writeEepromByte(int offset, int value);
    // What reading the cell gives: the erased value for a blank cell.
    int readProgramWord(int address);
    int readEepromByte(int offset);

    // Loads the chip's content from a hex file; false (with a message in err)
    // when the file cannot be read.
    bool load(const std::string& path, std::string& err);
    // Writes the chip's memory as a hex file; false when that fails.
    bool dump(const std::string& path, std::string& err);

    PicProgram& memory() { return *memory_; }

private:
    int flashSize_;
    int eepromSize_;
    std::unique_ptr<PicProgram> memory_;
};

// A cell's content as a chip holds it: masked to its width, erased values
// blank.  address is an image address.
int chipValue(int address, int value);

// The bootloader's range widened to whole blocks, as the uploader protects it.
struct Range {
    int lower;
    int upper;
    bool contains(int address) const { return lower <= address && address <= upper; }
};
Range widen(Range r);

// The block starts (image addresses) that an upload of program sends when
// the bootloader reports range: the flash walk from 0 and the EEPROM walk
// from 0x2100, each skipping blocks that start inside the widened range.
// Empty when the program overlaps the widened range and the overlap is not
// ignored.
std::set<int> blocksSent(PicProgram& program, Range range, bool ignoreOverlap);
// True when the program holds a used word inside the widened range.
bool overlaps(PicProgram& program, Range range);

// Where a chip differs from what it should hold after uploading program to
// a chip that held before: every cell of a sent block holds the program's
// masked word, every other cell is unchanged.  One line per differing cell,
// "ADDR: chip XXXX, expected YYYY" (a dash for blank), at most `limit` lines.
std::vector<std::string> uploadDifferences(PicProgram& chip, PicProgram& before, PicProgram& program,
                                           Range range, bool ignoreOverlap, size_t limit = 20);

// Where the chip differs from the program outside the widened range,
// leaving out the configuration words the upload does not send.
std::vector<std::string> programDifferences(PicProgram& chip, PicProgram& program, Range range,
                                            bool ignoreOverlap, size_t limit = 20);

#endif
