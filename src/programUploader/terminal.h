// Whether a stream is a terminal a person watches, and how wide it is.
#ifndef TERMINAL_H
#define TERMINAL_H

#include <cstdio>

// True when out is a terminal (on Windows a console: a file or NUL is not).
bool isTerminal(FILE* out);
// The terminal's width in columns; 0 when it does not tell.
int terminalColumns(FILE* out);

#endif
