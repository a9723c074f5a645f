#include "ptyPort.h"

#include "farEndPort.h"

#include "lineSpeeds.h"
#include "protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

bool PtyPort::open(std::string& slavePath, std::string& err, bool watchOpens) {
    if (!openRawPty(fd_, slavePath, err)) return false;
    watchOpens_ = watchOpens;
    if (!watchOpens) return true;
    // The slave keeps the settings made on the master after it is closed.
    OwnedFd slave(::open(slavePath.c_str(), O_RDWR | O_NOCTTY));
    if (!slave) return err = "cannot open " + slavePath + ": " + strerror(errno), false;
    slave.reset();
    peerGone_ = true;
    return true;
}

int PtyPort::baud() const {
    termios t;
    if (tcgetattr(fd_.get(), &t) != 0) return 0;
    return protocol::bitsPerSecond(cfgetospeed(&t));
}

size_t PtyPort::readSome(uint8_t* bytes, size_t capacity) {
    ssize_t n = ::read(fd_.get(), bytes, capacity);
    // EIO on a master: no slave descriptor is open (yet, or any more).
    const bool held = n > 0 || (n < 0 && errno == EAGAIN);
    if (held && peerGone_ && watchOpens_) ++opens_;
    if (held) peerGone_ = false;
    if (n < 0 && errno == EIO) peerGone_ = true;
    return n > 0 ? size_t(n) : 0;
}

void PtyPort::write(uint8_t byte) {
    // Otherwise the pty would keep the byte for the next program to open it.
    if (watchOpens_ && peerGone_) return;
    ssize_t n = ::write(fd_.get(), &byte, 1);
    if (n < 0 && errno == EIO) peerGone_ = true;
}
