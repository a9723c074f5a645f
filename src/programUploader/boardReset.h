// Resetting the board through the port's modem lines, so that its
// bootloader starts without a hand on the button.
#ifndef BOARD_RESET_H
#define BOARD_RESET_H

#include <string>

enum class ResetLines { None, Dtr, Rts, Both };

constexpr int RESET_RELEASE_MS = 50;    // released first: open() raised both lines
constexpr int RESET_DEFAULT_MS = 100;   // then asserted this long
constexpr int RESET_MAX_MS = 10000;

// "dtr", "rts", "both" or "none"; false for anything else.
bool parseResetLines(const std::string& text, ResetLines& lines);
// A whole number of milliseconds, 1 to RESET_MAX_MS.
bool parseResetMs(const std::string& text, int& ms);

// Releases the lines for RESET_RELEASE_MS, asserts them for assertMs and
// releases them again.  A capacitor-coupled reset circuit needs the edge
// that the first release makes possible.  False, with nothing changed, when
// the port has no modem lines (a pseudo-terminal has none).
bool pulseReset(int fd, ResetLines lines, int assertMs);

#endif
