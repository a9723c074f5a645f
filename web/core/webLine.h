// The serial line of the page: the browser's port (Web Serial) or the
// simulated chip's worker, reached through the page's JavaScript.  Its waits
// give the browser back its thread (Asyncify) until bytes arrive, a deadline
// passes, the port goes away or the user cancels.
#ifndef WEB_LINE_H
#define WEB_LINE_H

#include "serialLine.h"

class WebLine : public SerialLine {
public:
    explicit WebLine(int bitsPerSecond) : bitsPerSecond_(bitsPerSecond) {}

    LineResult waitReadable(Deadline deadline) override;
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override;
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override;
    std::chrono::microseconds characterTime() const override;
    bool setModemLines(bool dtr, bool rts) override;
    LineResult pauseUntil(Deadline deadline) override;
    void interruptNoted() override;

private:
    int bitsPerSecond_;
};

#endif
