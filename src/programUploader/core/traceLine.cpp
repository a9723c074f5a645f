#include "traceLine.h"

#include "protocol.h"
#include "textFormat.h"

namespace {

// The end command as it goes out: after it the trace is silent.
bool isEndCommand(const std::vector<uint8_t>& bytes)
{
    const uint8_t end[] = {protocol::END_PROGRAMMING};
    return bytes.size() == 2 && bytes[0] == end[0] && bytes[1] == protocol::checksum(end, 1);
}

} // namespace

TraceLine::TraceLine(SerialLine& line, TraceSink sink) : line_(line), sink_(std::move(sink)), start_(line.now()) {}

TraceLine::~TraceLine()
{
    flush();
}

void TraceLine::flush()
{
    if (!sink_)
        return;
    closeGroup();
    if (held_.count > 0)
        tell(held_);
    held_ = Group();
}

LineResult TraceLine::waitReadable(Deadline deadline)
{
    // A frame is what is written between two waits.
    if (tracing() && group_.direction == Direction::Sent)
        closeGroup();
    return watched(note(line_.waitReadable(deadline)));
}

LineResult TraceLine::readAvailable(uint8_t* buffer, int size, int& got)
{
    const LineResult result = note(line_.readAvailable(buffer, size, got));
    if (tracing() && got > 0)
        add(Direction::Received, buffer, got);
    return watched(result);
}

LineResult TraceLine::writeAll(const uint8_t* data, int size, Deadline deadline)
{
    const LineResult result = note(line_.writeAll(data, size, deadline));
    if (!tracing())
        return result;
    // A new deadline is a new frame, though no wait came between them (a
    // frame cut short, then the end command).
    if (group_.direction == Direction::Sent && deadline != writeDeadline_)
        closeGroup();
    writeDeadline_ = deadline;
    // What could not be written is not told as sent.
    if (result == LineResult::Ok)
        add(Direction::Sent, data, size);
    if (isEndCommand(group_.bytes)) {
        closeGroup();
        flush();
        ended_ = true;
    }
    return watched(result);
}

bool TraceLine::setModemLines(bool dtr, bool rts)
{
    const bool set = line_.setModemLines(dtr, rts);
    if (tracing() && set) {
        closeGroup();
        remark(formatText("DTR %s, RTS %s", dtr ? "on" : "off", rts ? "on" : "off"));
    }
    return set;
}

LineResult TraceLine::pauseUntil(Deadline deadline)
{
    if (tracing() && group_.direction == Direction::Sent)
        closeGroup();
    return watched(note(line_.pauseUntil(deadline)));
}

// A hang-up is told once, where it was first seen.
LineResult TraceLine::watched(LineResult result)
{
    if (tracing() && result == LineResult::HungUp && !hangUpTold_) {
        hangUpTold_ = true;
        closeGroup();
        remark("the line hung up");
    }
    return result;
}

void TraceLine::add(Direction direction, const uint8_t* data, int size)
{
    if (group_.direction != direction) {
        closeGroup();
        group_.direction = direction;
        group_.at = line_.now();
    }
    group_.bytes.insert(group_.bytes.end(), data, data + size);
}

// The frame or reply in hand is finished: it repeats the held line, or the
// held line is told and this one is held in its place.
void TraceLine::closeGroup()
{
    if (group_.bytes.empty()) {
        group_ = Group();
        return;
    }
    if (held_.count > 0 && held_.direction == group_.direction && held_.bytes == group_.bytes) {
        ++held_.count;
        held_.lastAt = group_.at;
    } else {
        if (held_.count > 0)
            tell(held_);
        held_ = group_;
        held_.count = 1;
        held_.lastAt = group_.at;
    }
    if (isEndCommand(held_.bytes) && held_.count == 1) {
        tell(held_, "end command: the trace ends here");
        held_ = Group();
    }
    group_ = Group();
}

void TraceLine::tell(const Group& group, const char* note)
{
    std::string text = stamp(group.at) + (group.direction == Direction::Sent ? "->" : "<-");
    for (uint8_t byte : group.bytes)
        text += formatText(" %02X", byte);
    if (group.count > 1)
        text += formatText("  x%d, the last at %.3f", group.count,
                           std::chrono::duration<double>(group.lastAt - start_).count());
    if (note)
        text += std::string("  ") + note;
    sink_(text + "\n");
}

void TraceLine::remark(const std::string& text)
{
    // What was held back went by before this.
    if (held_.count > 0)
        tell(held_);
    held_ = Group();
    sink_(stamp(line_.now()) + "-- " + text + "\n");
}

std::string TraceLine::stamp(Deadline at) const
{
    return formatText("trace %9.3f ", std::chrono::duration<double>(at - start_).count());
}
