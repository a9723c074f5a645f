// Resetting the board through the port's modem lines, so that its
// bootloader starts without a hand on the button.  Core code over
// SerialLine: the terminal's port and the web page's both run it.
#ifndef BOARD_RESET_H
#define BOARD_RESET_H

#include "serialLine.h"

#include <string>

enum class ResetLines { None, Dtr, Rts, Both };

constexpr int RESET_RELEASE_MS = 50;    // released first: open() raised both lines
constexpr int RESET_DEFAULT_MS = 100;   // then asserted this long
constexpr int RESET_MAX_MS = 10000;

// "dtr", "rts", "both" or "none"; false for anything else.
bool parseResetLines(const std::string& text, ResetLines& lines);
// A whole number of milliseconds, 1 to RESET_MAX_MS.
bool parseResetMs(const std::string& text, int& ms);

enum class ResetOutcome {
    Done,          // pulsed (or ResetLines::None: nothing to do)
    NoModemLines,  // the port has none (a pseudo-terminal): nothing changed
    Interrupted,   // the run was asked to end during a pause; the lines are released
};

// Releases the named lines for RESET_RELEASE_MS, asserts them for assertMs
// and releases them again, through setModemLines and pauseUntil.  A
// capacitor-coupled reset circuit needs the edge that the first release
// makes possible.  A line the reset does not name stays asserted, as
// opening the port left it.
ResetOutcome resetBoard(SerialLine& line, ResetLines lines, int assertMs);

#endif
