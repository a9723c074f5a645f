// picSim's command line.
#ifndef PICSIM_OPTIONS_H
#define PICSIM_OPTIONS_H

#include <cstdio>
#include <string>
#include <vector>

// gpsim defects that picSim works around, each of which a test can switch
// back on to show that its workaround matters.
struct Workarounds {
    bool txPin = true;      // RC6 made an output while the transmitter is on
    bool rxFifo = true;     // a byte enters RC7 only when the receiver is idle and empty
    bool txStall = true;    // a transmitter stuck with TRMT=1, TXIF=0 is restarted
    bool txWrite = true;    // a TXREG write that gpsim marks empty at once is kept for the shift register
    bool txClock = true;    // a bit of the shift register that gpsim dropped is booked again
    bool selfWrite = true;  // EECON1/EECON2 writes follow the data sheet, not gpsim
};

struct Options {
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
    // Typical self-timed erase/write cycle of a PIC16F87xA: 4 ms for a
    // program memory block and for a data EEPROM byte.
    double programWriteMs = 4;
    double eepromWriteMs = 4;
    std::vector<int> stuckCells;  // image addresses whose content self-writes cannot change
    Workarounds workarounds;
    bool version = false;  // --version: print it and end
};

// False with a one-line reason when the command line is not understood; an
// empty reason means --help.
bool parseOptions(int argc, char** argv, Options& options, std::string& why);
void printUsage(FILE* out);

#endif
