#include "serialLine.h"

#include <thread>

LineResult SerialLine::pauseUntil(Deadline deadline)
{
    std::this_thread::sleep_until(deadline);
    return LineResult::Ok;
}

LineResult SerialLine::note(LineResult result)
{
    if (result == LineResult::HungUp)
        hungUp_ = true;
    if (result == LineResult::Interrupted)
        interrupted_ = true;
    return result;
}

LineResult SerialLine::readByte(int& byte, Deadline deadline)
{
    for (;;) {
        LineResult r = waitReadable(deadline);
        if (r != LineResult::Ok)
            return r;
        uint8_t b;
        int got = 0;
        r = readAvailable(&b, 1, got);
        if (r != LineResult::Ok)
            return r;
        if (got == 1) {
            byte = b;
            return LineResult::Ok;
        }
    }
}

LineResult SerialLine::readWord(int& word, Deadline deadline)
{
    int low = 0, high = 0;
    LineResult r = readByte(low, deadline);
    if (r == LineResult::Ok)
        r = readByte(high, deadline);
    if (r == LineResult::Ok)
        word = low + 256 * high;
    return r;
}
