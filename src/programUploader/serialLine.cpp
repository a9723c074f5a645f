#include "serialLine.h"

#include "protocol.h"
#include "termiosSpeed.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int WRITE_CHUNK = 64;

volatile sig_atomic_t pendingSignal = 0;
volatile sig_atomic_t signalTaken = 0;
void (*volatile secondInterruptAction)() = nullptr;
bool signalsHeld = false;
sigset_t waitMask;  // the mask inside ppoll: the ending signals let through

// A second signal means "now": the run may be stuck in what the first one
// started (the END frame, the drain before the restore).  The process then
// ends by the signal itself, as the shell expects of Ctrl-C.
void onEndingSignal(int signal)
{
    if (!pendingSignal) {
        pendingSignal = signal;
        return;
    }
    if (secondInterruptAction)
        secondInterruptAction();
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signal);
    _exit(128 + signal);
}

sigset_t endingSignals()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int s : ENDING_SIGNALS)
        sigaddset(&ending, s);
    return ending;
}

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

void interruptWaitsOnSignals()
{
    sigset_t ending = endingSignals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &ending, &previous);
    waitMask = previous;
    for (int s : ENDING_SIGNALS)
        sigdelset(&waitMask, s);

    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    action.sa_mask = ending;
    for (int s : ENDING_SIGNALS)
        sigaction(s, &action, nullptr);
    signalsHeld = true;
}

int interruptSignal()
{
    return pendingSignal;
}

void interruptTaken()
{
    if (!pendingSignal || signalTaken)
        return;
    signalTaken = 1;
    sigset_t ending = endingSignals();
    sigprocmask(SIG_UNBLOCK, &ending, nullptr);
}

void onSecondInterrupt(void (*action)())
{
    secondInterruptAction = action;
}

LineResult SerialLine::pauseUntil(Deadline deadline)
{
    std::this_thread::sleep_until(deadline);
    return LineResult::Ok;
}

void PortLine::interruptNoted()
{
    interruptTaken();
}

LineResult SerialLine::note(LineResult result)
{
    if (result == LineResult::HungUp)
        hungUp_ = true;
    if (result == LineResult::Interrupted)
        interrupted_ = true;
    return result;
}

// A pulled USB adapter shows as POLLHUP/POLLERR, never as "no data".
LineResult PortLine::wait(short events, Deadline deadline)
{
    for (;;) {
        if (pendingSignal && !signalTaken)
            return note(LineResult::Interrupted);
        pollfd p{fd_, events, 0};
        timespec timeout{};
        if (deadline != NO_DEADLINE)
            timeout = timeLeft(deadline);
        int n = ppoll(&p, 1, deadline == NO_DEADLINE ? nullptr : &timeout, signalsHeld ? &waitMask : nullptr);
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

LineResult SerialLine::readByte(int& byte, Deadline deadline)
{
    for (;;) {
        LineResult r = waitReadable(deadline);
        if (r != LineResult::Ok)
            return r;
        uint8_t b;
        int got = 0;
        r = readAvailable(&b, 1, got);
        if (r != LineResult::Ok)
            return r;
        if (got == 1) {
            byte = b;
            return LineResult::Ok;
        }
    }
}

LineResult SerialLine::readWord(int& word, Deadline deadline)
{
    int low = 0, high = 0;
    LineResult r = readByte(low, deadline);
    if (r == LineResult::Ok)
        r = readByte(high, deadline);
    if (r == LineResult::Ok)
        word = low + 256 * high;
    return r;
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
