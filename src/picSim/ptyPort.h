// picSim's end of the serial line: a pseudo-terminal master, raw at 19200
// bit/s from the start, whose slave the program under test opens.
#ifndef PICSIM_PTY_PORT_H
#define PICSIM_PTY_PORT_H

#include "ownedHandles.h"

#include <cstddef>
#include <cstdint>
#include <string>

class PtyPort {
public:
    // On failure returns false with a message in err.  watchOpens: count
    // each open of the slave by a program (opens()).  Until the slave is
    // first opened, the master reads as it does while a program holds it, so
    // the port opens and closes the slave once itself: from then on an open
    // shows as the master's EIO turning into EAGAIN or data.  What the chip
    // sends while no program holds the port is then lost, as on a board
    // whose reset comes with the port's open.
    bool open(std::string& slavePath, std::string& err, bool watchOpens = false);
    int fd() const { return fd_.get(); }

    // The speed the program on the slave set, in bit/s; 0 if unknown.
    int baud() const;
    // Reads what has arrived without waiting; answers the count (0: none).
    size_t readSome(uint8_t* bytes, size_t capacity);
    // Without waiting: a byte that finds the line without a reader or full is
    // lost, as on a real line.
    void write(uint8_t byte);
    // No slave descriptor is open (last read or write said so).
    bool peerGone() const { return peerGone_; }
    // Opens seen so far (with watchOpens), each at the read that saw it.
    unsigned opens() const { return opens_; }

private:
    OwnedFd fd_;
    bool peerGone_ = false;
    bool watchOpens_ = false;
    unsigned opens_ = 0;
};

#endif
