// The simulator's end of the serial line: a pseudo-terminal master (or a real
// serial device) with the pace of a real line.
//
// Incoming bytes are read from the descriptor as soon as they are there and
// stamped with that moment (their entry into the line) and the speed then in
// force; they are then handed to the bootloader no faster than the line
// delivers them: one character time after the later of their entry and the
// previous byte's delivery.  Outgoing bytes are written one character time
// apart, each when its stop bit would have left the chip.
//
// The line keeps the wire time of every byte that crossed it, in either
// direction, at the speed in force when that byte crossed: a peer that
// changes the speed in mid-session, or puts it back when it leaves, does not
// change what the earlier bytes took.
#ifndef SIM_LINE_H
#define SIM_LINE_H

#include "ownedHandles.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

class Line {
public:
    Line() = default;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Opens a pseudo-terminal pair and puts the line into raw mode before
    // anything is written.  On failure returns false with a message in err.
    bool openPty(std::string& slavePath, std::string& err);
    // Opens and configures a real serial device (raw 8N1, no flow control)
    // at the given speed; the device paces itself.
    bool openDevice(const std::string& path, int baud, std::string& err);
    void close();
    bool isOpen() const { return bool(fd_); }

    // -1 follows the speed the peer set on the line, 0 turns pacing off,
    // N paces at N bit/s.
    void setPacing(int baud) { pacing_ = baud; }
    // The speed the line runs at, in bit/s (what the peer set on a pty).
    int lineBaud() const;

    enum class Take { Byte, Timeout, Hangup, Stopped };
    // Waits for the next incoming byte until the deadline (monotonic
    // seconds, negative: no deadline).  entry is when the peer wrote it,
    // arrival when the line delivered it.
    Take take(uint8_t& byte, double& entry, double& arrival, double deadline = -1);
    // Passes time, still stamping what comes in.  False when stopped.
    bool waitUntil(double when);

    // Paced byte by byte, the first byte starting at `from` (monotonic
    // seconds; negative: now) or when the previous one has left; returns the
    // time the last byte was written.
    double send(const uint8_t* bytes, size_t count, double from = -1);
    // Takes count character times, then goes out in one write, as a UART's
    // FIFO hands a burst over.
    double sendBurst(const uint8_t* bytes, size_t count);

    // The peer closed its side (pty only): every slave descriptor is closed.
    bool peerGone() const { return peerGone_; }
    // Forget a hangup that ended a session; the next open of the slave
    // starts afresh.
    void clearPeerGone() { peerGone_ = false; }

    uint64_t bytesIn() const { return bytesIn_; }
    uint64_t bytesOut() const { return bytesOut_; }
    // Seconds the bytes in and out took on the wire, each at the speed in
    // force when it crossed; -1 when some byte crossed at a speed the line
    // could not tell.
    double wireSeconds() const { return wireUnknown_ ? -1 : wireSeconds_; }

private:
    struct Incoming {
        uint8_t byte;
        double entry;
        double character;  // seconds a character took at the speed of its entry
    };
    // Seconds one character (start bit, 8 data bits, stop bit) takes at the
    // line's speed now; 0 when the speed is not known.
    double characterSeconds() const;
    // The pause between paced characters: characterSeconds, or 0 when
    // nothing is paced.
    double paced(double character) const;
    void addWireTime(double character, size_t count);
    void pump();
    void writeAll(const uint8_t* bytes, size_t count);

    OwnedFd fd_;
    bool isPty_ = false;
    int deviceBaud_ = 0;
    mutable int lastBaud_ = 0;  // the line's speed when it was last read
    int pacing_ = -1;
    bool peerGone_ = false;
    std::deque<Incoming> queue_;
    double lastArrival_ = 0;
    double txFree_ = 0;
    uint64_t bytesIn_ = 0;
    uint64_t bytesOut_ = 0;
    double wireSeconds_ = 0;
    bool wireUnknown_ = false;
};

#endif
