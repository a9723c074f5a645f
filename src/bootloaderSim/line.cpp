#include "line.h"

#include "farEndPort.h"

#include "clock.h"
#include "lineSpeeds.h"
#include "protocol.h"
#include "stopSignals.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The most incoming bytes held back at once.  A real port's driver would
// refuse writes long before this; the bound only keeps a runaway peer from
// eating memory.
constexpr size_t QUEUE_LIMIT = 1 << 20;
// How long to nap while no peer holds the pty open (the master then polls
// ready at once, so poll() cannot be the wait).
constexpr double NO_PEER_NAP = 0.002;

// Waits for the descriptor's events for up to `seconds` (negative: no
// limit).  ppoll rather than poll: at 57600 bit/s a character takes 174 us,
// and poll's whole milliseconds would stretch every paced byte to one.
int pollFor(pollfd& p, double seconds) {
    if (seconds < 0) return ppoll(&p, 1, nullptr, nullptr);
    timespec ts;
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    return ppoll(&p, 1, &ts, nullptr);
}

}  // namespace

void Line::close() { fd_.reset(); }

bool Line::openPty(std::string& slavePath, std::string& err) {
    if (!openRawPty(fd_, slavePath, err)) return false;
    isPty_ = true;
    return true;
}

bool Line::openDevice(const std::string& path, int baud, std::string& err) {
    fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    int fd = fd_.get();
    if (fd < 0) {
        err = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    isPty_ = false;
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        err = path + " is not a terminal";
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | CS8;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    speed_t speed = protocol::speedConstant(baud);
    if (speed == B0) {
        err = "the device cannot run at " + std::to_string(baud) + " bit/s";
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        err = "cannot configure " + path + ": " + strerror(errno);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    deviceBaud_ = baud;
    return true;
}

int Line::lineBaud() const {
    if (!isPty_) return deviceBaud_;
    if (pacing_ > 0) return pacing_;
    termios t;
    if (fd_ && tcgetattr(fd_.get(), &t) == 0) lastBaud_ = protocol::bitsPerSecond(cfgetospeed(&t));
    return lastBaud_;
}

double Line::characterSeconds() const {
    int baud = lineBaud();
    return baud > 0 ? double(protocol::BITS_PER_CHARACTER) / baud : 0;
}

double Line::paced(double character) const {
    // A real device keeps its own pace.
    return !isPty_ || pacing_ == 0 ? 0 : character;
}

void Line::addWireTime(double character, size_t count) {
    if (character > 0)
        wireSeconds_ += character * double(count);
    else if (count > 0)
        wireUnknown_ = true;
}

void Line::pump() {
    if (!fd_) return;
    uint8_t buffer[4096];
    for (;;) {
        ssize_t n = read(fd_.get(), buffer, sizeof buffer);
        if (n > 0) {
            double now = monotonicSeconds();
            double character = characterSeconds();
            for (ssize_t i = 0; i < n && queue_.size() < QUEUE_LIMIT; ++i)
                queue_.push_back({buffer[i], now, character});
            continue;
        }
        // EIO on a pty master: no slave descriptor is open any more.
        if (n < 0 && errno == EIO && isPty_) peerGone_ = true;
        if (n < 0 && errno == EAGAIN) peerGone_ = false;
        return;
    }
}

bool Line::waitUntil(double when) {
    for (;;) {
        if (stopRequested) return false;
        pump();
        double now = monotonicSeconds();
        if (now >= when) return true;
        double left = when - now;
        if (peerGone_ || !fd_) {
            usleep(useconds_t(std::min(left, NO_PEER_NAP) * 1e6));
            continue;
        }
        pollfd p{fd_.get(), POLLIN, 0};
        if (pollFor(p, left) > 0 && (p.revents & POLLHUP) && isPty_) peerGone_ = true;
    }
}

Line::Take Line::take(uint8_t& byte, double& entry, double& arrival, double deadline) {
    for (;;) {
        if (stopRequested) return Take::Stopped;
        pump();
        double now = monotonicSeconds();
        if (!queue_.empty()) {
            const Incoming& next = queue_.front();
            double due = std::max(next.entry, lastArrival_) + paced(next.character);
            if (due <= now) {
                byte = next.byte;
                entry = next.entry;
                arrival = due;
                lastArrival_ = due;
                addWireTime(next.character, 1);
                queue_.pop_front();
                ++bytesIn_;
                return Take::Byte;
            }
            if (deadline >= 0 && deadline < due) {
                if (!waitUntil(deadline)) return Take::Stopped;
                return Take::Timeout;
            }
            if (!waitUntil(due)) return Take::Stopped;
            continue;
        }
        if (peerGone_) return Take::Hangup;
        if (deadline >= 0 && now >= deadline) return Take::Timeout;
        // Nothing queued: sleep until something comes or the deadline.
        pollfd p{fd_.get(), POLLIN, 0};
        // Wake now and then so that a stop request is seen even if the
        // signal fell between the test above and the poll.
        constexpr double STOP_CHECK = 0.2;
        double wait = deadline >= 0 ? std::min(deadline - now, STOP_CHECK) : STOP_CHECK;
        int r = pollFor(p, wait);
        if (r > 0 && (p.revents & POLLHUP) && isPty_) {
            pump();
            if (queue_.empty()) peerGone_ = true;
        }
    }
}

void Line::writeAll(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count && fd_) {
        ssize_t n = write(fd_.get(), bytes + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            // The peer does not read; let the line drain a little.
            pollfd p{fd_.get(), POLLOUT, 0};
            poll(&p, 1, 10);
            if (stopRequested || peerGone_) break;
            pump();
            continue;
        }
        break;  // EIO: nobody holds the slave; the bytes fall off the line
    }
    bytesOut_ += count;
}

double Line::send(const uint8_t* bytes, size_t count, double from) {
    double last = monotonicSeconds();
    // Each byte is scheduled from the previous one's slot, not from when this
    // process woke up, so wake-up delays do not add up along a reply.
    double start = from >= 0 ? from : last;
    for (size_t i = 0; i < count; ++i) {
        double character = characterSeconds();
        double ct = paced(character);
        if (ct > 0) {
            double when = std::max(start, txFree_) + ct;
            waitUntil(when);
            txFree_ = when;
            start = when;
        }
        addWireTime(character, 1);
        writeAll(bytes + i, 1);
        last = monotonicSeconds();
    }
    return last;
}

double Line::sendBurst(const uint8_t* bytes, size_t count) {
    double character = characterSeconds();
    double ct = paced(character);
    if (ct > 0) {
        double when = std::max(monotonicSeconds(), txFree_) + ct * double(count);
        waitUntil(when);
        txFree_ = when;
    }
    addWireTime(character, count);
    writeAll(bytes, count);
    return monotonicSeconds();
}
