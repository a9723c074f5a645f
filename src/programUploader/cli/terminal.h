// Whether a stream is a terminal a person watches, and how wide it is.
#ifndef TERMINAL_H
#define TERMINAL_H

#include "textFormat.h"

#include <cstdio>

// True when out is a terminal (on Windows a console: a file or NUL is not).
bool isTerminal(FILE* out);
// The terminal's width in columns; 0 when it does not tell.
int terminalColumns(FILE* out);

// Where lines for a person written to out wrap: one short of the terminal's
// width, so that the cursor never wraps by itself; 79 where out is no
// terminal or the terminal does not tell.
inline int wrapWidth(FILE* out)
{
    const int columns = isTerminal(out) ? terminalColumns(out) : 0;
    return columns > 1 ? columns - 1 : DEFAULT_WRAP_WIDTH;
}

#endif
