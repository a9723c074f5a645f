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
    // each open of the slave by another program (newOpens()).  Until the
    // slave is first opened, the master reads as it does while a program
    // holds it, so the port opens and closes the slave once itself, before
    // it starts watching: from then on the master's EIO tells that no
    // program holds the port.  What the chip sends then is lost, as on a
    // board whose reset comes with the port's open.
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
    // With watchOpens: the opens of the slave since the last call, each one
    // counted however quickly it follows the close before it.  The kernel
    // reports them (inotify), so none depends on when picSim looks.
    unsigned newOpens();

private:
    OwnedFd fd_;
    OwnedFd opensWatch_;  // inotify on the slave: its opens and closes
    bool peerGone_ = false;
    bool watchOpens_ = false;
};

#endif
