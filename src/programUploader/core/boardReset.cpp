#include "boardReset.h"

#include <cstdlib>

bool parseResetLines(const std::string& text, ResetLines& lines)
{
    static const struct { const char* name; ResetLines lines; } names[] = {
        {"dtr", ResetLines::Dtr}, {"rts", ResetLines::Rts}, {"both", ResetLines::Both}, {"none", ResetLines::None},
    };
    for (const auto& n : names)
        if (text == n.name) {
            lines = n.lines;
            return true;
        }
    return false;
}

bool parseResetMs(const std::string& text, int& ms)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6)
        return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > RESET_MAX_MS)
        return false;
    ms = static_cast<int>(value);
    return true;
}

ResetOutcome resetBoard(SerialLine& line, ResetLines lines, int assertMs)
{
    if (lines == ResetLines::None)
        return ResetOutcome::Done;
    const bool dtr = lines == ResetLines::Dtr || lines == ResetLines::Both;
    const bool rts = lines == ResetLines::Rts || lines == ResetLines::Both;
    // Released: the named lines off, the others left asserted.
    if (!line.setModemLines(!dtr, !rts))
        return ResetOutcome::NoModemLines;
    // Each pause is taken from the time of the change before it, so that a
    // slow change does not shorten the next.
    if (line.pauseUntil(line.after(std::chrono::milliseconds(RESET_RELEASE_MS))) != LineResult::Ok)
        return ResetOutcome::Interrupted;
    line.setModemLines(true, true);
    const LineResult held = line.pauseUntil(line.after(std::chrono::milliseconds(assertMs)));
    line.setModemLines(!dtr, !rts);
    return held == LineResult::Ok ? ResetOutcome::Done : ResetOutcome::Interrupted;
}
