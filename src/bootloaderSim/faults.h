// Faults the simulated bootloader shows on demand.
#ifndef SIM_FAULTS_H
#define SIM_FAULTS_H

#include <cstdint>
#include <string>
#include <vector>

// The one question the bootloader's state machine asks about faults.
class FaultSource {
public:
    enum class Fault {
        Checksum,   // at a frame: it arrives corrupted, answered 'C'
        Silent,     // at a frame: no answer
        Hangup,     // at a frame: the line closes
        Verify,     // at an image address: the word is stored with its lowest bit flipped
        Refuse,     // at an image address: 'A' for the block that holds it
        BadReady,   // the identification ends with a wrong byte (asked until it struck once)
        MuteIdent,  // the identification stops after its first word (asked until it struck once)
        WriteTest,  // 'w' reports for every word of every program block
        Trickle,    // the greeting goes out byte by byte rather than in one burst
    };
    virtual ~FaultSource() = default;
    // Whether the fault strikes at `at`: a frame number, counting the
    // answered frames of a session from 1, or an image address; unused by
    // the faults that take neither.
    virtual bool strikes(Fault fault, int at = 0) const = 0;
    // Stray bytes that go before the frame's '>'.
    virtual std::vector<uint8_t> strayBytes(int frame) const = 0;
};

// The faults asked for on the command line.
struct Faults : FaultSource {
    // 0: not asked for.
    std::vector<int> checksumFrames;   // frame arrives corrupted: 'C'
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
    // Polls answered only this long after the start.  The chip is held in
    // reset until then, which is the line's business, not the bootloader's.
    double lateSeconds = 0;

    bool strikes(Fault fault, int at = 0) const override;
    std::vector<uint8_t> strayBytes(int frame) const override;
};

// Adds one --fault SPEC to faults; false (with a reason) when it is malformed.
bool addFault(Faults& faults, const std::string& spec, std::string& why);

#endif
