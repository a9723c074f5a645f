// The simulator's command line.
#ifndef SIM_OPTIONS_H
#define SIM_OPTIONS_H

#include "bootloaderMachine.h"
#include "faults.h"

#include <string>

struct Options {
    std::string link;    // also make this a symbolic link to the pty's slave
    std::string device;  // use this serial device instead of a pty
    int baud = -1;       // -1: follow the line's speed; 0: no pacing
    // The chip played (--chip) gives the memories, the bootloader's range
    // and the write time that --flash, --eeprom, --range and --write-ms do
    // not give.
    const ChipModel* chip = &defaultChip();
    int flashWords = chip->flashWords;
    int eepromBytes = chip->eepromBytes;
    BootloaderSettings bootloader{*chip};
    std::string memory;
    std::string dump;
    bool once = false;
    bool stats = false;
    bool version = false;  // --version: print it and end
    Faults faults;
};

// False with a one-line reason when the command line is not understood.
bool parseOptions(int argc, char** argv, Options& options, std::string& why);
void printUsage(FILE* out);

#endif
