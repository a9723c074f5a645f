#include "ptyPort.h"

#include "protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

bool PtyPort::open(std::string& slavePath, std::string& err) {
    fd_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!fd_ || grantpt(fd_.get()) != 0 || unlockpt(fd_.get()) != 0) {
        err = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
        return false;
    }
    const char* name = ptsname(fd_.get());
    if (!name) {
        err = "cannot name the pseudo-terminal's slave";
        return false;
    }
    slavePath = name;
    // Settings made on the master belong to the slave: raw from the start, so
    // nothing the peer sends before it sets the line up itself is echoed back
    // or translated.
    termios t;
    if (tcgetattr(fd_.get(), &t) != 0) {
        err = std::string("cannot read the pseudo-terminal's settings: ") + strerror(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    if (tcsetattr(fd_.get(), TCSANOW, &t) != 0) {
        err = std::string("cannot make the pseudo-terminal raw: ") + strerror(errno);
        return false;
    }
    return true;
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
