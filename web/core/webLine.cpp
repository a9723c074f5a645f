#include "webLine.h"

#include "protocol.h"

// Implemented by webLine.js.  The three that wait are Asyncify imports: the
// C++ stack is put aside while the page's event loop runs, and taken up
// again when the wait ends.
extern "C" {
int webLineWait(double milliseconds);   // a LineResult
int webLineRead(uint8_t* buffer, int size, int* got);
int webLineWrite(const uint8_t* data, int size);
void webLineDiscard();
int webLineSignals(int dtr, int rts);   // 1 when the port took them
int webLinePause(double milliseconds);  // a LineResult
void webLineInterruptNoted();
}

namespace {

// What is left until the deadline, in milliseconds; -1 for none.
double millisecondsLeft(const SerialLine& line, Deadline deadline)
{
    if (deadline == NO_DEADLINE)
        return -1;
    const auto left = std::chrono::duration<double, std::milli>(deadline - line.now()).count();
    return left > 0 ? left : 0;
}

}  // namespace

LineResult WebLine::waitReadable(Deadline deadline)
{
    return note(static_cast<LineResult>(webLineWait(millisecondsLeft(*this, deadline))));
}

LineResult WebLine::readAvailable(uint8_t* buffer, int size, int& got)
{
    got = 0;
    return note(static_cast<LineResult>(webLineRead(buffer, size, &got)));
}

LineResult WebLine::writeAll(const uint8_t* data, int size, Deadline /*deadline*/)
{
    // The page queues the bytes and hands them to the port in order, as an
    // operating system's output buffer does.
    return note(static_cast<LineResult>(webLineWrite(data, size)));
}

void WebLine::discardOutput()
{
    webLineDiscard();
}

std::chrono::microseconds WebLine::characterTime() const
{
    return std::chrono::microseconds(protocol::characterMicros(bitsPerSecond_));
}

bool WebLine::setModemLines(bool dtr, bool rts)
{
    return webLineSignals(dtr, rts) == 1;
}

LineResult WebLine::pauseUntil(Deadline deadline)
{
    return note(static_cast<LineResult>(webLinePause(millisecondsLeft(*this, deadline))));
}

void WebLine::interruptNoted()
{
    webLineInterruptNoted();
}
