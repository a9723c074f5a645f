// The chips of the PIC16F87x family that our bootloader and simulators play:
// their memories, how they write their own flash, and where the bootloader
// sits in them.  Every program that takes --chip reads this one table.
#ifndef CHIP_FAMILY_H
#define CHIP_FAMILY_H

#include <string>
#include <vector>

struct ChipModel {
    const char* name;       // as the data sheet writes it, without "PIC": "16F877A"
    const char* processor;  // gpasm's -p and gpsim's processor name: "p16f877a"
    int flashWords;         // 4096 or 8192
    int eepromBytes;        // 128 or 256
    // The A parts erase and write flash in blocks of four words through
    // write latches; the older parts write one word at a time.
    bool blockWrites;

    // The typical self-timed erase/write cycle of the data sheets, for a data
    // EEPROM byte and for a program memory write.
    static constexpr double WRITE_CYCLE_MS = 4;
    // What writing one block of four flash words takes: one cycle on the A
    // parts, one a word on the older parts.
    double blockWriteMs() const { return WRITE_CYCLE_MS * (blockWrites ? 1 : 4); }

    // The bootloader's own code: the top 256 words of flash.
    int bootStart() const { return flashWords - 0x100; }
    int bootEnd() const { return flashWords - 1; }
};

// The eight chips, the 28-pin ones of each size first.
const std::vector<ChipModel>& chipModels();

// The chip the tools play when none is named.
const ChipModel& defaultChip();

// The chip a user named, in any case, with or without the "PIC" prefix
// ("16F873A", "pic16f873a"); nullptr for a name the family lacks.
const ChipModel* findChip(const std::string& name);

// "16F873, 16F874, ... 16F877A": for usage texts and refusals.
std::string chipNameList();

#endif
