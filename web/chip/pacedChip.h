// The simulated chip of the page: bootloaderSim's state machine with the
// pace of a serial line, as its line driver gives it on a pseudo-terminal.
// Bytes from the uploader arrive one character time apart; each reply goes
// out after the chip's write time, one character time a byte, and is handed
// over whole at the moment its last byte has left.  No I/O and no clock:
// the worker stamps what comes in and asks when the next reply is due.
#ifndef WEB_PACED_CHIP_H
#define WEB_PACED_CHIP_H

#include "bootloaderMachine.h"
#include "chip.h"
#include "chipFamily.h"
#include "faults.h"

#include <cstdint>
#include <deque>
#include <vector>

class PacedChip {
public:
    PacedChip();

    // Plays this chip of the family from now on: its memories, erased, its
    // bootloader's range and write time.  The chip played already keeps its
    // content.
    void play(const ChipModel& model);
    const ChipModel& model() const { return *model_; }

    // The board is reset: a new session at this speed.  erase starts the
    // chip's memory blank.
    void reset(int bitsPerSecond, bool erase);
    // Bytes the uploader wrote, at `now` seconds.
    void feed(const uint8_t* bytes, int count, double now);
    // When the next reply is due (seconds), or a negative value for none.
    double nextDue() const;
    // Takes the next reply.
    std::vector<uint8_t> take();
    // END_PROGRAMMING came: the session is over.
    bool ended() const { return ended_; }

    Chip& chip() { return chip_; }
    const BootloaderSettings& settings() const { return settings_; }

private:
    void schedule(const Reply& reply, double arrival);

    struct Due {
        double at;
        std::vector<uint8_t> bytes;
    };
    const ChipModel* model_;
    Chip chip_;
    BootloaderSettings settings_;
    Faults faults_;  // none
    BootloaderMachine machine_;
    double charTime_ = 0;
    double lastArrival_ = 0;  // the previous incoming byte's arrival
    double lineFree_ = 0;     // the previous outgoing byte has left
    std::deque<Due> due_;
    bool ended_ = false;
};

#endif
