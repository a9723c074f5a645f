// The user's terminal in raw input mode while the monitor relays keys to the
// chip: every key becomes a byte for the chip (Enter a CR, Ctrl-C 0x03),
// nothing is echoed by the terminal, and output still goes through the
// terminal's own processing, so the chip's "\n" starts a new line.
#ifndef TERMINAL_MODE_H
#define TERMINAL_MODE_H

#include "restoreOnExit.h"

#include <termios.h>

// Its saved settings join the restore registry while the terminal is raw,
// so that a second ending signal puts them back too.
class TerminalMode : private RestoreOnExit {
public:
    // Switches fd's input side to raw when fd is a terminal and this process
    // is its foreground process group (a background job leaves it alone).
    explicit TerminalMode(int fd);
    // Puts the settings it found back.
    ~TerminalMode();
    TerminalMode(const TerminalMode&) = delete;
    TerminalMode& operator=(const TerminalMode&) = delete;

    // True when the terminal is raw: keys may be read without stopping the
    // process, and Ctrl-] is ours to catch.
    bool raw() const { return raw_; }

private:
    static void putBackNow(RestoreOnExit& self);

    int fd_;
    bool raw_ = false;
    termios found_{};  // the settings the terminal had
};

// True when fd is a terminal whose foreground process group is ours.
bool ownsTerminal(int fd);

#endif
