// The simulated PIC's memories.
//
// The chip's memory is a PicProgram whose erased cells are blank: a flash or
// configuration word of 0x3FFF and an EEPROM byte of 0xFF read back as such
// but are stored as the blank value, so a dump holds only programmed words.
#ifndef SIM_CHIP_H
#define SIM_CHIP_H

#include "PicProgram.h"

#include <memory>
#include <string>

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
    int readProgramWord(int address) const;
    int readEepromByte(int offset) const;

    // Loads the chip's content from a hex file; false (with a message in err)
    // when the file cannot be read.
    bool load(const std::string& path, std::string& err);
    // Writes the chip's memory as a hex file; false when that fails.
    bool dump(const std::string& path, std::string& err) const;

    PicProgram& memory() { return *memory_; }
    const PicProgram& memory() const { return *memory_; }

private:
    int flashSize_;
    int eepromSize_;
    std::unique_ptr<PicProgram> memory_;
};

// A cell's content as a chip holds it: masked to its width, erased values
// blank.  address is an image address.
int chipValue(int address, int value);

// Every address a chip of the program's sizes has, in image order.
template <typename F>
void forEachAddress(const PicProgram& p, F f) {
    for (int a = 0; a < p.getFlashSize(); ++a) f(a);
    for (int a = PicProgram::CONFIG_START; a <= PicProgram::CONFIG_END; ++a) f(a);
    for (int a = PicProgram::EEPROM_START; a < PicProgram::EEPROM_START + p.getEepromSize(); ++a) f(a);
}

#endif
