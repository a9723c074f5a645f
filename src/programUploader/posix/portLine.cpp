#include "portLine.h"

#include "interrupt.h"
#include "lineSpeeds.h"
#include "protocol.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WRITE_CHUNK = 64;

// What is left until the deadline, for ppoll: microsecond resolution, since
// the quiet wait after the greeting and the poll pace are only a few
// character times long and whole milliseconds would stretch them.
timespec timeLeft(Deadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - LineClock::now()).count();
    left = std::max<decltype(left)>(left, 0);
    return timespec{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
}

}  // namespace

void PortLine::interruptNoted()
{
    interruptTaken();
}

// A pulled USB adapter shows as POLLHUP/POLLERR, never as "no data".
LineResult PortLine::wait(short events, Deadline deadline)
{
    for (;;) {
        if (interruptPending())
            return note(LineResult::Interrupted);
        pollfd p{fd_, events, 0};
        timespec timeout{};
        if (deadline != NO_DEADLINE)
            timeout = timeLeft(deadline);
        int n = ppoll(&p, 1, deadline == NO_DEADLINE ? nullptr : &timeout, interruptWaitMask());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return note(LineResult::HungUp);
        if (n == 0) {
            if (LineClock::now() >= deadline)
                return LineResult::Timeout;
            continue;
        }
        if (p.revents & events)
            return LineResult::Ok;
        return note(LineResult::HungUp);
    }
}

LineResult PortLine::waitReadable(Deadline deadline)
{
    return wait(POLLIN, deadline);
}

LineResult PortLine::readAvailable(uint8_t* buffer, int size, int& got)
{
    got = 0;
    int waiting = 0;
    // Reading no more than has arrived is what keeps a blocking descriptor
    // from blocking, whatever VMIN the device was left with.
    if (ioctl(fd_, FIONREAD, &waiting) != 0)
        waiting = 1;
    if (waiting <= 0) {
        // A hung-up terminal reports readable with nothing to read.
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)))
            return note(LineResult::HungUp);
        return LineResult::Ok;
    }
    for (;;) {
        ssize_t n = read(fd_, buffer, std::min(size, waiting));
        if (n > 0) {
            got = static_cast<int>(n);
            return LineResult::Ok;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return note(LineResult::HungUp);  // 0 or EIO: the device has gone
    }
}

LineResult PortLine::writeAll(const uint8_t* data, int size, Deadline deadline)
{
    while (size > 0) {
        // After POLLOUT a terminal has fewer than 256 bytes queued and
        // room for far more than a chunk, so the write does not block.
        LineResult r = wait(POLLOUT, deadline);
        if (r != LineResult::Ok)
            return r;
        ssize_t n = write(fd_, data, std::min(size, WRITE_CHUNK));
        if (n > 0) {
            data += n;
            size -= static_cast<int>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return note(LineResult::HungUp);
        }
    }
    return LineResult::Ok;
}

void PortLine::discardOutput()
{
    tcflush(fd_, TCOFLUSH);
}

std::chrono::microseconds PortLine::characterTime() const
{
    // A pseudo-terminal reports the speed the port was configured with.
    int bitsPerSecond = 0;
    termios settings;
    if (tcgetattr(fd_, &settings) == 0)
        bitsPerSecond = protocol::bitsPerSecond(cfgetospeed(&settings));
    if (bitsPerSecond <= 0)
        bitsPerSecond = 19200;
    return std::chrono::microseconds(protocol::characterMicros(bitsPerSecond));
}

LineResult PortLine::pauseUntil(Deadline deadline)
{
    for (;;) {
        if (interruptPending())
            return note(LineResult::Interrupted);
        if (LineClock::now() >= deadline)
            return LineResult::Ok;
        timespec timeout = timeLeft(deadline);
        ppoll(nullptr, 0, &timeout, interruptWaitMask());
    }
}
