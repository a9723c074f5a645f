#include "endWatch.h"

#include "protocol.h"

LineResult EndWatch::writeAll(const uint8_t* data, int size, Deadline deadline)
{
    const LineResult result = note(line_.writeAll(data, size, deadline));
    // Only what went out counts: a frame cut short by a hang-up is no end.
    if (result == LineResult::Ok)
        for (int i = 0; i < size; ++i) {
            last_[0] = last_[1];
            last_[1] = data[i];
        }
    return result;
}

bool EndWatch::endCommandSent() const
{
    const uint8_t end[] = {protocol::END_PROGRAMMING};
    return last_[0] == end[0] && last_[1] == protocol::checksum(end, 1);
}
