#include "ptyPort.h"

#include "farEndPort.h"

#include "lineSpeeds.h"
#include "protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
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
    // Only now: picSim's own open above is not a program's.  Closes are
    // watched too, so that two opens never lie next to each other in the
    // queue, where the kernel would merge them into one event.
    opensWatch_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!opensWatch_ || inotify_add_watch(opensWatch_.get(), slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        return err = "cannot watch " + slavePath + " for opens: " + strerror(errno), false;
    return true;
}

unsigned PtyPort::newOpens() {
    if (!opensWatch_) return 0;
    unsigned opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(opensWatch_.get(), buffer, sizeof buffer);
        if (n <= 0) return opens;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) ++opens;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

int PtyPort::baud() const {
    termios t;
    if (tcgetattr(fd_.get(), &t) != 0) return 0;
    return protocol::bitsPerSecond(cfgetospeed(&t));
}

size_t PtyPort::readSome(uint8_t* bytes, size_t capacity) {
    ssize_t n = ::read(fd_.get(), bytes, capacity);
    // EIO on a master: no slave descriptor is open (yet, or any more).
    if (n > 0 || (n < 0 && errno == EAGAIN)) peerGone_ = false;
    if (n < 0 && errno == EIO) peerGone_ = true;
    return n > 0 ? size_t(n) : 0;
}

void PtyPort::write(uint8_t byte) {
    // Otherwise the pty would keep the byte for the next program to open it.
    if (watchOpens_ && peerGone_) return;
    ssize_t n = ::write(fd_.get(), &byte, 1);
    if (n < 0 && errno == EIO) peerGone_ = true;
}
