#include "lineSpeeds.h"

namespace protocol {

namespace {

constexpr Speed POSIX_SPEEDS[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
};

}  // namespace

int bitsPerSecond(speed_t constant)
{
    for (const Speed& s : POSIX_SPEEDS)
        if (s.constant == constant)
            return s.bitsPerSecond;
    return 0;
}

speed_t speedConstant(int bitsPerSecond)
{
    for (const Speed& s : POSIX_SPEEDS)
        if (s.bitsPerSecond == bitsPerSecond)
            return s.constant;
    return B0;
}

}  // namespace protocol
