// The open serial line under the bootloader link: waits, reads and writes by
// a deadline, the modem lines and the pauses between their changes.
//
// Each system's port is a line of this kind (posix/portLine.h,
// windows/serialPort.h); a test, a fuzzer or the web page puts its own here.
#ifndef SERIAL_LINE_H
#define SERIAL_LINE_H

#include <chrono>
#include <cstdint>

using LineClock = std::chrono::steady_clock;
using Deadline = LineClock::time_point;
constexpr Deadline NO_DEADLINE = Deadline::max();

enum class LineResult {
    Ok,
    Timeout,      // the deadline passed first
    HungUp,       // the device went away (a pulled USB adapter, a closed pty)
    Interrupted,  // a signal asked the run to end
};

// The line as the link sees it.  Each back end's SerialPort is the real one; a test, a fuzzer or the web page may put a line of its
// own underneath, with a clock of its own.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    // The line's clock: every deadline of the link is taken from it.
    virtual Deadline now() const { return LineClock::now(); }
    Deadline after(std::chrono::microseconds span) const { return now() + span; }

    // Waits until something can be read.
    virtual LineResult waitReadable(Deadline deadline) = 0;
    // Takes up to size bytes that have already arrived, without waiting;
    // got is 0 when nothing is there.
    virtual LineResult readAvailable(uint8_t* buffer, int size, int& got) = 0;
    // All size bytes, each write waiting for room on the line.
    virtual LineResult writeAll(const uint8_t* data, int size, Deadline deadline) = 0;
    // Drops what was written but has not left yet.
    virtual void discardOutput() = 0;
    // One character of 10 bits at the line's speed.
    virtual std::chrono::microseconds characterTime() const = 0;
    // Sets both modem lines (true: asserted), for resetting the board.  False,
    // with nothing changed, when the port has none (a pseudo-terminal).
    virtual bool setModemLines(bool dtr, bool rts)
    {
        (void)dtr;
        (void)rts;
        return false;
    }
    // Waits until the deadline with nothing to do (the pauses of a board
    // reset); Interrupted when the run is asked to end first.
    virtual LineResult pauseUntil(Deadline deadline);
    // The run has taken note of an interrupt: from now on the waits no
    // longer end at once for it, so that the end command can still go out.
    virtual void interruptNoted() {}

    // One byte 0-255.
    LineResult readByte(int& byte, Deadline deadline);
    // One word 0-0xFFFF, low byte first.
    LineResult readWord(int& word, Deadline deadline);

    // Sticky: a hang-up or an interrupt seen by any wait so far.
    bool hungUp() const { return hungUp_; }
    bool interrupted() const { return interrupted_; }

protected:
    LineResult note(LineResult result);

private:
    bool hungUp_ = false;
    bool interrupted_ = false;
};

#endif
