// The line speeds as a POSIX terminal names them: bit/s against the speed
// constant.  Apart from protocol.h, so that the link itself builds where
// there is no termios.h.
#ifndef LINE_SPEEDS_H
#define LINE_SPEEDS_H

#include <termios.h>

namespace protocol {

struct Speed {
    int bitsPerSecond;
    speed_t constant;
};
// The speeds the uploader offers, slowest first.
constexpr Speed UPLOAD_SPEEDS[] = {
    {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
};
// Every speed the table of a POSIX line knows (for reading a line's speed
// back); 0 and B0 when the other side is not in it.
int bitsPerSecond(speed_t constant);
speed_t speedConstant(int bitsPerSecond);

}  // namespace protocol

#endif
