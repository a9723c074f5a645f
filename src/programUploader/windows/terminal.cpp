// Whether a stream is a console, and its window's width, on Windows
// (terminal.h).
#include "terminal.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE consoleOf(FILE* out)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
}

}  // namespace

// _isatty is true for NUL too; only a console has a console mode.
bool isTerminal(FILE* out)
{
    DWORD mode = 0;
    return GetConsoleMode(consoleOf(out), &mode) != 0;
}

// The window's width, not the screen buffer's, which is often far wider.
int terminalColumns(FILE* out)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(consoleOf(out), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
