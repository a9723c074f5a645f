// Whether a stream is a terminal, and its width, on a POSIX system
// (terminal.h).
#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool isTerminal(FILE* out)
{
    return isatty(fileno(out)) == 1;
}

int terminalColumns(FILE* out)
{
    winsize size{};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
