// The monitor on a POSIX system (monitor.h): the chip's bytes to standard
// output and standard input's to the chip, through a raw terminal when the
// terminal is ours, all in one poll loop.
#include "monitor.h"

#include "interrupt.h"
#include "lineSpeeds.h"
#include "protocol.h"
#include "serialPort.h"
#include "terminalMode.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

using std::chrono::steady_clock;

constexpr uint8_t QUIT_KEY = 0x1D;      // Ctrl-], as terminal programs use it
constexpr size_t WAITING_LIMIT = 65536;  // bytes held for a slow reader before the source is left unread
constexpr size_t PORT_CHUNK = 64;        // a terminal that reports room takes this much at once
constexpr size_t OUTPUT_CHUNK = 512;     // a pipe that reports room takes 4096
constexpr size_t INPUT_CHUNK = 256;
// A USB adapter reports the drain once it has the bytes, before they are on
// the wire: the end command's own time on the line and this much more pass
// before the switch.  An end command garbled by an early switch would leave
// the program unstarted, far worse than a few bytes lost to a late one.
constexpr auto ADAPTER_MARGIN = std::chrono::milliseconds(10);
// What is still waiting when the monitor ends is written within this time.
constexpr auto FLUSH_LIMIT = std::chrono::milliseconds(500);

int toMillis(steady_clock::duration d)
{
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(d).count() + 1));
}

// The port's speed for the monitor, switched without closing the port (and
// without dropping what arrived); answers the speed in force.
int monitorSpeed(SerialPort& port, int wanted)
{
    termios settings;
    if (tcgetattr(port.get(), &settings) != 0)
        return wanted;
    const int current = protocol::bitsPerSecond(cfgetospeed(&settings));
    const speed_t constant = protocol::speedConstant(wanted);
    if (constant == B0 || wanted == current)
        return current;
    port.drain();
    if (current > 0) {
        const auto endOnWire = std::chrono::microseconds(protocol::characterMicros(current) *
                                                         protocol::frameLength(protocol::END_PROGRAMMING));
        std::this_thread::sleep_for(endOnWire + ADAPTER_MARGIN);
    }
    cfsetispeed(&settings, constant);
    cfsetospeed(&settings, constant);
    tcsetattr(port.get(), TCSANOW, &settings);
    return wanted;
}

// The mask inside the waits: the ending signals, held back everywhere else,
// come through here.
sigset_t waitMask()
{
    if (const sigset_t* mask = interruptWaitMask())
        return *mask;
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    return mask;
}

// Writes what is waiting, within FLUSH_LIMIT, as the monitor ends; last:
// the last byte written.
void flushWithin(int fd, std::string& waiting, char* last = nullptr)
{
    const auto end = steady_clock::now() + FLUSH_LIMIT;
    while (!waiting.empty()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, toMillis(end - steady_clock::now())) <= 0 || !(p.revents & POLLOUT))
            return;
        ssize_t n = write(fd, waiting.data(), std::min(waiting.size(), OUTPUT_CHUNK));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return;
        if (n > 0) {
            if (last)
                *last = waiting[static_cast<size_t>(n) - 1];
            waiting.erase(0, static_cast<size_t>(n));
        }
    }
}

// SIGPIPE would end the process with the port and the terminal as the
// monitor left them: a closed pipe on standard output is an EPIPE instead.
class PipeSignalIgnored {
public:
    PipeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~PipeSignalIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }

private:
    struct sigaction previous_ {};
};

class Relay {
public:
    Relay(int port, int input, int output, bool readInput, bool quitKey)
        : port_(port), input_(input), output_(output), inputOpen_(readInput), quitKey_(quitKey)
    {
    }

    MonitorEnd run(steady_clock::time_point deadline);
    // Writes what is still waiting (the chip's bytes first) as the monitor ends.
    void finish(MonitorEnd end);
    // Whether the chip's bytes written so far end inside a line.
    bool lineOpen() const { return lastOut_ != '\n'; }

private:
    enum Slot { PORT, OUTPUT, INPUT };
    bool readPort(MonitorEnd& end);
    // Writes at most chunk bytes of pending to fd; a failure other than an
    // interruption ends the relay as failure.  last: the last byte written.
    static bool writeSome(int fd, std::string& pending, size_t chunk, MonitorEnd failure, MonitorEnd& end,
                          char* last = nullptr);
    bool readInput(MonitorEnd& end);

    int port_, input_, output_;
    bool inputOpen_;
    bool quitKey_;
    std::string toOutput_;  // from the chip, waiting for standard output
    std::string toPort_;    // from standard input, waiting for the line
    // The last byte written to standard output; the upload's own ended its line.
    char lastOut_ = '\n';
};

MonitorEnd Relay::run(steady_clock::time_point deadline)
{
    const sigset_t mask = waitMask();
    for (;;) {
        if (interruptSignal())
            return MonitorEnd::Signal;
        pollfd fds[3];
        // The port is always watched: a hang-up shows even with no events asked.
        fds[PORT] = {port_,
                     static_cast<short>((toOutput_.size() < WAITING_LIMIT ? POLLIN : 0) |
                                        (toPort_.empty() ? 0 : POLLOUT)),
                     0};
        fds[OUTPUT] = {toOutput_.empty() ? -1 : output_, POLLOUT, 0};
        fds[INPUT] = {inputOpen_ && toPort_.size() < WAITING_LIMIT ? input_ : -1, POLLIN, 0};
        timespec timeout{};
        const bool timed = deadline != steady_clock::time_point::max();
        if (timed) {
            const auto left = std::max(deadline - steady_clock::now(), steady_clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout = timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        const int ready = ppoll(fds, 3, timed ? &timeout : nullptr, &mask);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return MonitorEnd::HungUp;
        if (timed && steady_clock::now() >= deadline)
            return MonitorEnd::TimeUp;

        MonitorEnd end = MonitorEnd::HungUp;
        if (fds[PORT].revents & POLLIN) {
            if (!readPort(end))
                return end;
        } else if (fds[PORT].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return MonitorEnd::HungUp;
        }
        if ((fds[PORT].revents & POLLOUT) && !writeSome(port_, toPort_, PORT_CHUNK, MonitorEnd::HungUp, end))
            return end;
        if (fds[OUTPUT].revents &&
            !writeSome(output_, toOutput_, OUTPUT_CHUNK, MonitorEnd::OutputClosed, end, &lastOut_))
            return end;
        if (fds[INPUT].revents && !readInput(end))
            return end;
    }
}

bool Relay::readPort(MonitorEnd& end)
{
    // No more than has arrived, so that the read never waits.
    int waiting = 0;
    if (ioctl(port_, FIONREAD, &waiting) != 0 || waiting <= 0)
        waiting = 1;
    char buffer[4096];
    ssize_t n = read(port_, buffer, std::min<size_t>(sizeof buffer, static_cast<size_t>(waiting)));
    if (n > 0) {
        toOutput_.append(buffer, static_cast<size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    end = MonitorEnd::HungUp;  // 0 or EIO: the device has gone
    return false;
}

bool Relay::writeSome(int fd, std::string& pending, size_t chunk, MonitorEnd failure, MonitorEnd& end,
                      char* last)
{
    ssize_t n = write(fd, pending.data(), std::min(pending.size(), chunk));
    if (n > 0) {
        if (last)
            *last = pending[static_cast<size_t>(n) - 1];
        pending.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        end = failure;
        return false;
    }
    return true;
}

bool Relay::readInput(MonitorEnd& end)
{
    char buffer[INPUT_CHUNK];
    ssize_t n = read(input_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0) {
        // The end of the input ends only the input: the chip's output goes
        // on until the time is up or a signal comes.
        inputOpen_ = false;
        return true;
    }
    const char* quit = quitKey_ ? std::find(buffer, buffer + n, static_cast<char>(QUIT_KEY)) : buffer + n;
    toPort_.append(buffer, static_cast<size_t>(quit - buffer));
    if (quit == buffer + n)
        return true;
    end = MonitorEnd::Quit;
    return false;
}

void Relay::finish(MonitorEnd end)
{
    if (end != MonitorEnd::OutputClosed)
        flushWithin(output_, toOutput_, &lastOut_);
    if (end != MonitorEnd::HungUp)
        flushWithin(port_, toPort_);
}

} // namespace

void printMonitorHelp()
{
    printf("                              chip sends goes to standard output, standard input\n");
    printf("                              to the chip; at the upload's speed or at SPEED\n");
    printf("                              (300 to 115200).  On a terminal Enter sends CR,\n");
    printf("                              Ctrl-C goes to the chip and Ctrl-] quits; else a\n");
    printf("                              signal ends it\n");
}

MonitorEnd runMonitor(SerialPort& port, const MonitorSettings& settings)
{
    const int input = STDIN_FILENO;
    const int output = STDOUT_FILENO;
    const int bitsPerSecond = monitorSpeed(port, settings.bitsPerSecond);
    PipeSignalIgnored pipeSignal;
    TerminalMode terminal(input);
    // A terminal that is not ours (a background job) is not read: reading it
    // would stop the process.
    const bool readInput = terminal.raw() || isatty(input) != 1;
    const char* quit = terminal.raw() ? "Ctrl-] quits" : "Ctrl-C quits";
    if (settings.seconds > 0)
        fprintf(stderr, "Monitor at %d bit/s for %d s; %s.\n", bitsPerSecond, settings.seconds, quit);
    else
        fprintf(stderr, "Monitor at %d bit/s; %s.\n", bitsPerSecond, quit);
    fflush(stderr);

    const auto deadline = settings.seconds > 0 ? steady_clock::now() + std::chrono::seconds(settings.seconds)
                                               : steady_clock::time_point::max();
    Relay relay(port.get(), input, output, readInput, terminal.raw());
    const MonitorEnd end = relay.run(deadline);
    // From here a second signal ends the process at once, the terminal and
    // the port put back by the restore registry.
    if (end == MonitorEnd::Signal)
        interruptTaken();
    relay.finish(end);
    // On a terminal the shell's prompt starts on a line of its own, not
    // after the chip's last words; a pipe gets the chip's bytes unchanged.
    if (relay.lineOpen() && end != MonitorEnd::OutputClosed && isatty(output) == 1) {
        ssize_t n = write(output, "\n", 1);
        (void)n;
    }
    if (end == MonitorEnd::HungUp)
        fprintf(stderr, "The serial port was disconnected.\n");
    return end;
}
