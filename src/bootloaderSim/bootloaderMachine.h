// The simulated bootloader as a pure state machine: the uploader's bytes go
// in one at a time, the chip's replies come out together with the time the
// chip spends writing before it answers.  It does no I/O and reads no clock:
// a byte's time stamp is handed in, and pacing the replies on a line is the
// caller's business (see LineDriver).
#ifndef SIM_BOOTLOADER_MACHINE_H
#define SIM_BOOTLOADER_MACHINE_H

#include "chip.h"
#include "chipFamily.h"
#include "faults.h"
#include "protocol.h"

#include <cstdint>
#include <vector>

// What the bootloader tells about itself and how long the chip writes.
struct BootloaderSettings {
    BootloaderSettings() : BootloaderSettings(defaultChip()) {}
    // The bootloader at the top of this chip's flash, writing at the chip's
    // typical pace.
    explicit BootloaderSettings(const ChipModel& chip);

    int year = 2004;  // revision date
    int month = 6;
    int day = 15;
    protocol::Range range;  // the bootloader's own code
    double programWriteMs;  // one four-word block
    double eepromWriteMs;   // one byte
};

// Told what the machine does, as it does it; the statistics listen here.
class MachineObserver {
public:
    virtual ~MachineObserver() = default;
    virtual void replyBegun() {}                // the 'h' of "hi" after a greeting
    virtual void frameBegun() {}                // the first byte of a frame
    virtual void frameTaken() {}                // a whole frame other than END_PROGRAMMING
    virtual void blockWritten(double seconds) { (void)seconds; }  // a block went into the chip
    virtual void errorReported() {}             // an error report went into a response
};

// What one byte from the uploader makes the bootloader do.
struct Reply {
    enum class Kind { None, Greeting, Identification, Response };
    enum class End {
        None,
        Completed,   // END_PROGRAMMING came
        LineClosed,  // the hangup fault drops the line
    };
    Kind kind = Kind::None;
    std::vector<uint8_t> bytes;
    bool trickle = false;     // a greeting that goes out byte by byte rather than in one burst
    bool ready = false;       // ends in '>': the uploader may send its next frame
    double writeSeconds = 0;  // a response begins this long after the frame's last byte
    End end = End::None;
};

class BootloaderMachine {
public:
    enum class State { WaitingForPoll, WaitingForHi, Commands, Ended };

    BootloaderMachine(Chip& chip, const BootloaderSettings& settings, const FaultSource& faults,
                      MachineObserver* observer = nullptr);

    // A new uploader: polls are awaited again, frames count from 1 and the
    // current address is 0.  A fault that strikes once per run stays spent.
    void startSession();
    // One byte from the uploader, written at `entry` seconds (any time base,
    // the one greetingSent uses).  After an End, bytes are ignored until the
    // next startSession.
    Reply feed(uint8_t byte, double entry = 0);
    // The greeting's last byte left at `when`.  Until told, the machine takes
    // the poll's entry for it.
    void greetingSent(double when) { greetingSent_ = when; }

    State state() const { return state_; }
    int address() const { return address_; }  // where the next block lands

private:
    void greet(Reply& reply, double entry);
    void identify(Reply& reply);
    void take(uint8_t byte, Reply& reply);
    void answer(Reply& reply);
    void report(Reply& reply, uint8_t error, int address);
    void writeProgramBlock(Reply& reply);
    void writeEepromBlock(Reply& reply);
    bool strikesInBlock(FaultSource::Fault fault, int imageStart) const;
    bool touchesBootloader(int start) const;

    Chip& chip_;
    const BootloaderSettings& settings_;
    const FaultSource& faults_;
    MachineObserver* observer_;
    MachineObserver silent_;  // stands in when nobody listens

    // Per session.
    State state_ = State::WaitingForPoll;
    bool replyHalf_ = false;  // the 'h' of "hi" came
    double greetingSent_ = 0;
    uint8_t frame_[protocol::FRAME_MAX] = {};
    int frameLength_ = 0;  // bytes the frame under way needs
    int frameHave_ = 0;    // bytes of it so far
    int frameNumber_ = 0;
    int address_ = 0;

    // Once per run.
    bool badReadyDone_ = false;
    bool muteDone_ = false;
};

#endif
