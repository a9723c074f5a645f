// A POSIX line's speed constants (B9600 ...) against bit/s, for the programs
// that set or read a terminal's speed.  Apart from protocol.h, which counts
// in bit/s, so that the link itself builds where there is no termios.h.
#ifndef LINE_SPEEDS_H
#define LINE_SPEEDS_H

#include <termios.h>

namespace protocol {

// Every speed a POSIX line knows from 50 to 460800 bit/s; 0 and B0 when the
// other side is not in the table.
int bitsPerSecond(speed_t constant);
speed_t speedConstant(int bitsPerSecond);

}  // namespace protocol

#endif
