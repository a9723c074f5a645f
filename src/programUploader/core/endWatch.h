// Whether an upload ended with the end command: only then does the
// bootloader start the program, and only then has the monitor anything to
// show.
#ifndef END_WATCH_H
#define END_WATCH_H

#include "serialLine.h"

#include <cstdint>

// The line under an upload that is to be followed by the monitor: passes
// everything through and notes whether the last frame written was the end
// command, which is how the run knows that the bootloader let the program
// start.  (Once identified, every upload ends with that frame, and a failed
// greeting writes only polls and "hi".)
class EndWatch : public SerialLine {
public:
    explicit EndWatch(SerialLine& line) : line_(line) {}

    bool endCommandSent() const;

    Deadline now() const override { return line_.now(); }
    LineResult waitReadable(Deadline deadline) override { return note(line_.waitReadable(deadline)); }
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override
    {
        return note(line_.readAvailable(buffer, size, got));
    }
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override { line_.discardOutput(); }
    std::chrono::microseconds characterTime() const override { return line_.characterTime(); }
    bool setModemLines(bool dtr, bool rts) override { return line_.setModemLines(dtr, rts); }
    LineResult pauseUntil(Deadline deadline) override { return note(line_.pauseUntil(deadline)); }
    void interruptNoted() override { line_.interruptNoted(); }

private:
    SerialLine& line_;
    uint8_t last_[2] = {0, 0};  // the last two bytes written
};

#endif
