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

bool PtyPort::open(std::string& slavePath, std::string& err) {
    return openRawPty(fd_, slavePath, err);
}

int PtyPort::baud() const {
    termios t;
    if (tcgetattr(fd_.get(), &t) != 0) return 0;
    return protocol::bitsPerSecond(cfgetospeed(&t));
}

size_t PtyPort::readSome(uint8_t* bytes, size_t capacity) {
    ssize_t n = ::read(fd_.get(), bytes, capacity);
    if (n > 0) {
        peerGone_ = false;
        return size_t(n);
    }
    // EIO on a master: no slave descriptor is open (yet, or any more).
    if (n < 0 && errno == EIO) peerGone_ = true;
    if (n < 0 && errno == EAGAIN) peerGone_ = false;
    return 0;
}

void PtyPort::write(uint8_t byte) {
    ssize_t n = ::write(fd_.get(), &byte, 1);
    if (n < 0 && errno == EIO) peerGone_ = true;
}
