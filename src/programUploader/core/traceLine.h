// The session's bytes as they cross the line, for a person who wants to see
// what was said (--trace): sent and received, in hex, each line stamped with
// the time since the trace began, a frame or a reply a line.  The trace ends
// with the end command; what the program says after it is not the protocol's.
#ifndef TRACE_LINE_H
#define TRACE_LINE_H

#include "serialLine.h"

#include <functional>
#include <string>
#include <vector>

// Takes each finished line of the trace, its line end included.
using TraceSink = std::function<void(const std::string& line)>;

// Passes everything through to the line beneath and tells the sink what
// went by.  Bytes written in one go, with one deadline and no wait between
// them, are one frame (the link writes a frame byte by byte with one
// deadline); bytes read with no write between them are one reply.  A line
// that repeats (the polls before the greeting) is told once, with its count.
class TraceLine : public SerialLine {
public:
    // An empty sink traces nothing.
    TraceLine(SerialLine& line, TraceSink sink);
    ~TraceLine() override;
    TraceLine(const TraceLine&) = delete;
    TraceLine& operator=(const TraceLine&) = delete;

    // Tells what is still held back (a run of polls, the last reply).
    void flush();

    Deadline now() const override { return line_.now(); }
    LineResult waitReadable(Deadline deadline) override;
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override;
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override { line_.discardOutput(); }
    std::chrono::microseconds characterTime() const override { return line_.characterTime(); }
    bool setModemLines(bool dtr, bool rts) override;
    LineResult pauseUntil(Deadline deadline) override;
    void interruptNoted() override { line_.interruptNoted(); }

private:
    enum class Direction { None, Sent, Received };
    struct Group {
        Direction direction = Direction::None;
        std::vector<uint8_t> bytes;
        Deadline at;      // when its first byte went by
        Deadline lastAt;  // a repeated line: when the last repeat went by
        int count = 0;    // a repeated line: how often it went by
    };

    bool tracing() const { return sink_ && !ended_; }
    LineResult watched(LineResult result);
    void add(Direction direction, const uint8_t* data, int size);
    void closeGroup();
    void tell(const Group& group, const char* note = nullptr);
    void remark(const std::string& text);
    std::string stamp(Deadline at) const;

    SerialLine& line_;
    TraceSink sink_;
    Deadline start_;
    bool ended_ = false;
    bool hangUpTold_ = false;
    Group group_;              // the frame or reply in hand
    Deadline writeDeadline_;   // the deadline the frame in hand is written by
    Group held_;               // the last finished line, held while it repeats
};

#endif
