// The link's faces on an int descriptor build a PortLine; Windows has no
// such descriptor (its port is SerialPort, serialPortWindows.h), so there a
// PortLine is a line that has gone: the Windows programs never make one.
#include "serialLine.h"

#include "protocol.h"

LineResult PortLine::waitReadable(Deadline)
{
    return note(LineResult::HungUp);
}

LineResult PortLine::readAvailable(uint8_t*, int, int& got)
{
    got = 0;
    return note(LineResult::HungUp);
}

LineResult PortLine::writeAll(const uint8_t*, int, Deadline)
{
    return note(LineResult::HungUp);
}

void PortLine::discardOutput() {}

std::chrono::microseconds PortLine::characterTime() const
{
    return std::chrono::microseconds(protocol::characterMicros(19200));
}

LineResult PortLine::pauseUntil(Deadline)
{
    return note(LineResult::HungUp);
}

void PortLine::interruptNoted() {}
