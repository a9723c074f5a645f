// picSim's command line.
#ifndef PICSIM_OPTIONS_H
#define PICSIM_OPTIONS_H

#include "chipFamily.h"
#include "gpsimRepairs.h"

#include <cstdio>
#include <string>
#include <vector>

struct Options {
    const ChipModel* chip = &defaultChip();
    std::string firmware;
    std::string memory;
    std::string dump;
    std::string link;
    double clockHz = 20e6;
    bool fast = false;
    double seconds = -1;            // simulated seconds to run; negative: until stopped
    std::vector<double> resetAtMs;  // MCLR pulses, simulated milliseconds
    bool resetOnOpen = false;       // MCLR pulled each time a program opens the port
    bool stats = false;
    // Typical self-timed erase/write cycle of a PIC16F87x(A): 4 ms for a
    // program memory block (a word on the older parts) and for a data
    // EEPROM byte.
    double programWriteMs = 4;
    double eepromWriteMs = 4;
    std::vector<int> stuckCells;  // image addresses whose content self-writes cannot change
    GpsimRepairs repairs;  // which are on; their counts are the run's
    bool version = false;  // --version: print it and end
};

// False with a one-line reason when the command line is not understood; an
// empty reason means --help.
bool parseOptions(int argc, char** argv, Options& options, std::string& why);
void printUsage(FILE* out);

#endif
