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
    int flashWords = 8192;
    int eepromBytes = 256;
    BootloaderSettings bootloader;
    std::string memory;
    std::string dump;
    bool once = false;
    bool stats = false;
    Faults faults;
};

// False with a one-line reason when the command line is not understood.
bool parseOptions(int argc, char** argv, Options& options, std::string& why);
void printUsage(FILE* out);

#endif
