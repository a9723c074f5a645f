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
    // On failure returns false with a message in err.
    bool open(std::string& slavePath, std::string& err);
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

private:
    OwnedFd fd_;
    bool peerGone_ = false;
};

#endif
