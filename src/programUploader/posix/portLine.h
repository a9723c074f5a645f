// A POSIX serial port's descriptor as the link's line.
//
// The descriptor stays blocking for its whole life.  Every wait is ppoll(),
// and a read takes only what the driver says has arrived, so no read ever
// blocks and the descriptor's flags are never switched.
#ifndef PORT_LINE_H
#define PORT_LINE_H

#include "serialLine.h"

// A serial port's descriptor, which someone else opened and owns (the
// link's faces on an int descriptor).  SerialPort, the open port that owns
// its descriptor, is this line too.  Its waits and pauses end with
// Interrupted when an ending signal asks the run to end (interrupt.h), and
// its note of the interrupt is the run's (interruptTaken).  Defined in
// portLine.cpp.
class PortLine : public SerialLine {
public:
    explicit PortLine(int fd) : fd_(fd) {}

    LineResult waitReadable(Deadline deadline) override;
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override;
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override;
    std::chrono::microseconds characterTime() const override;
    LineResult pauseUntil(Deadline deadline) override;
    void interruptNoted() override;

protected:
    int fd_;

private:
    LineResult wait(short events, Deadline deadline);
};

#endif
