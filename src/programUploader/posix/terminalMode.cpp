#include "terminalMode.h"

#include <unistd.h>

bool ownsTerminal(int fd)
{
    return isatty(fd) == 1 && tcgetpgrp(fd) == getpgrp();
}

TerminalMode::TerminalMode(int fd) : RestoreOnExit(putBackNow), fd_(fd)
{
    termios settings;
    if (!ownsTerminal(fd) || tcgetattr(fd, &settings) != 0)
        return;
    found_ = settings;
    join();
    // Input only: line editing, echo, the signal keys, XON/XOFF and the
    // CR-to-NL translation go; one byte is enough for a read.  The output
    // flags stay, so "\n" from the chip still returns the carriage.
    settings.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    settings.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    raw_ = tcsetattr(fd, TCSANOW, &settings) == 0;
    if (!raw_)
        leave();
}

TerminalMode::~TerminalMode()
{
    if (!raw_)
        return;
    tcsetattr(fd_, TCSANOW, &found_);
    leave();
}

void TerminalMode::putBackNow(RestoreOnExit& self)
{
    TerminalMode& terminal = static_cast<TerminalMode&>(self);
    tcsetattr(terminal.fd_, TCSANOW, &terminal.found_);
}
