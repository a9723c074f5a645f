// Faults the simulated bootloader shows on demand.
#ifndef SIM_FAULTS_H
#define SIM_FAULTS_H

#include <string>
#include <vector>

struct Faults {
    // Frame numbers count every answered frame of a session from 1;
    // addresses are image addresses.  0 or -1: not asked for.
    std::vector<int> checksumFrames;  // frame arrives corrupted: 'C'
    std::vector<int> verifyAddresses;  // 'V' for the block holding the address
    std::vector<int> refuseAddresses;  // 'A' for the block holding the address
    int silentFrom = 0;                // no answer from this frame on
    struct Garbage {
        int frame;
        int byte;
    };
    std::vector<Garbage> garbage;  // a stray byte before the frame's '>'
    bool badReady = false;         // the first identification ends with a wrong byte
    bool writeTest = false;        // 'w' reports for every word of every program block
    int hangupAt = 0;              // the line closes at this frame
    bool muteIdent = false;        // silent once in the middle of the identification
    bool trickle = false;          // the greeting goes out byte by byte
    double lateSeconds = 0;        // polls answered only this long after the start
};

// Adds one --fault SPEC to faults; false (with a reason) when it is malformed.
bool addFault(Faults& faults, const std::string& spec, std::string& why);

#endif
