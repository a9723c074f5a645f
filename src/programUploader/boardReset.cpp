#include "boardReset.h"

#include <cerrno>
#include <cstdlib>
#include <sys/ioctl.h>
#include <time.h>

namespace {

// Sleeps ms from now to an absolute time, so an interrupted sleep resumes
// without stretching the pulse.
void sleepFor(int ms)
{
    timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_nsec += (ms % 1000) * 1000000L;
    at.tv_sec += ms / 1000 + at.tv_nsec / 1000000000L;
    at.tv_nsec %= 1000000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

} // namespace

bool parseResetLines(const std::string& text, ResetLines& lines)
{
    static const struct { const char* name; ResetLines lines; } names[] = {
        {"dtr", ResetLines::Dtr}, {"rts", ResetLines::Rts}, {"both", ResetLines::Both}, {"none", ResetLines::None},
    };
    for (const auto& n : names)
        if (text == n.name) {
            lines = n.lines;
            return true;
        }
    return false;
}

bool parseResetMs(const std::string& text, int& ms)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6)
        return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > RESET_MAX_MS)
        return false;
    ms = static_cast<int>(value);
    return true;
}

bool pulseReset(int fd, ResetLines lines, int assertMs)
{
    int bits = 0;
    if (lines == ResetLines::Dtr || lines == ResetLines::Both)
        bits |= TIOCM_DTR;
    if (lines == ResetLines::Rts || lines == ResetLines::Both)
        bits |= TIOCM_RTS;
    if (bits == 0)
        return true;
    if (ioctl(fd, TIOCMBIC, &bits) != 0)
        return false;
    sleepFor(RESET_RELEASE_MS);
    ioctl(fd, TIOCMBIS, &bits);
    sleepFor(assertMs);
    ioctl(fd, TIOCMBIC, &bits);
    return true;
}
