// The open serial line under the bootloader link: waits, reads and writes by
// a deadline on a descriptor that the driver opened and still owns.
//
// The descriptor stays blocking for its whole life.  Every wait is ppoll(),
// and a read takes only what the driver says has arrived, so no read ever
// blocks and the descriptor's flags are never switched.
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

// The line as the link sees it.  PortLine below is the real one; a test or
// a fuzzer may put a line of its own underneath, with a clock of its own.
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
    // Sets the modem lines (true: asserted), for resetting the board.  False,
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

// The serial port's descriptor, which the driver opened and still owns.
class PortLine : public SerialLine {
public:
    explicit PortLine(int fd) : fd_(fd) {}

    LineResult waitReadable(Deadline deadline) override;
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override;
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override;
    std::chrono::microseconds characterTime() const override;
    void interruptNoted() override;

private:
    LineResult wait(short events, Deadline deadline);

    int fd_;
};

// From now on SIGINT, SIGTERM and SIGHUP only set a flag, and are held back
// everywhere but inside the line's waits, which then end with Interrupted at
// once.  Nothing is printed from the handler.
void interruptWaitsOnSignals();
// The signal that asked the run to end, or 0.
int interruptSignal();
// Once the run has taken note of the interrupt: the waits no longer end at
// once for it, so that the END frame can still go out and the port be
// restored, and the ending signals are let through everywhere, so that a
// second one acts at once wherever the run is.
void interruptTaken();
// What a second ending signal does before the process ends by that signal
// (without returning to the run).  It runs in the signal handler, so it
// must be async-signal-safe.
void onSecondInterrupt(void (*action)());

#endif
