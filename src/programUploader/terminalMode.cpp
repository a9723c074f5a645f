#include "terminalMode.h"

#include <atomic>
#include <unistd.h>

namespace {

// The settings the raw terminal had, for the signal handler.  The
// descriptor is published last, so that the handler sees either nothing or
// the whole record.  A process has one standard input, so one record.
termios savedSettings{};
std::atomic<int> rawFd{-1};

}  // namespace

bool ownsTerminal(int fd)
{
    return isatty(fd) == 1 && tcgetpgrp(fd) == getpgrp();
}

TerminalMode::TerminalMode(int fd) : fd_(fd)
{
    termios settings;
    if (!ownsTerminal(fd) || tcgetattr(fd, &settings) != 0)
        return;
    savedSettings = settings;
    rawFd.store(fd);
    // Input only: line editing, echo, the signal keys, XON/XOFF and the
    // CR-to-NL translation go; one byte is enough for a read.  The output
    // flags stay, so "\n" from the chip still returns the carriage.
    settings.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    settings.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        rawFd.store(-1);
        return;
    }
    raw_ = true;
}

TerminalMode::~TerminalMode()
{
    if (!raw_)
        return;
    tcsetattr(fd_, TCSANOW, &savedSettings);
    rawFd.store(-1);
}

void TerminalMode::restoreNow()
{
    const int fd = rawFd.load();
    if (fd >= 0)
        tcsetattr(fd, TCSANOW, &savedSettings);
}
