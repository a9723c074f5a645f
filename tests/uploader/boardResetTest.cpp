// The reset sequence on a virtual clock: which lines change, in what order,
// after which pauses, and what an interrupt or a port without modem lines
// does to it.
#include "boardReset.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::milliseconds;

// A line with modem lines and a clock that moves only in its pauses.
class ClockLine : public SerialLine {
public:
    struct Change {
        long ms;   // since the start
        bool dtr, rts;
        bool operator==(const Change& o) const { return ms == o.ms && dtr == o.dtr && rts == o.rts; }
    };
    bool hasLines = true;
    int interruptAtPause = -1;   // the pause (0, 1) that a signal cuts short
    std::vector<Change> changes;

    Deadline now() const override { return now_; }
    LineResult waitReadable(Deadline) override { return LineResult::Timeout; }
    LineResult readAvailable(uint8_t*, int, int& got) override { return got = 0, LineResult::Ok; }
    LineResult writeAll(const uint8_t*, int, Deadline) override { return LineResult::Ok; }
    void discardOutput() override {}
    std::chrono::microseconds characterTime() const override { return std::chrono::microseconds(520); }
    bool setModemLines(bool dtr, bool rts) override
    {
        if (!hasLines)
            return false;
        changes.push_back({static_cast<long>((now_ - START) / milliseconds(1)), dtr, rts});
        return true;
    }
    LineResult pauseUntil(Deadline deadline) override
    {
        if (pauses_++ == interruptAtPause)
            return note(LineResult::Interrupted);
        now_ = std::max(now_, deadline);
        return LineResult::Ok;
    }

private:
    static constexpr Deadline START = Deadline(std::chrono::hours(1));
    Deadline now_ = START;
    int pauses_ = 0;
};

} // namespace

TEST(BoardReset, SequenceOnAVirtualClock)
{
    struct Case {
        const char* name;
        ResetLines lines;
        int assertMs;
        bool hasLines;
        int interruptAtPause;
        ResetOutcome outcome;
        std::vector<ClockLine::Change> changes;
    };
    const Case cases[] = {
        {"dtr", ResetLines::Dtr, RESET_DEFAULT_MS, true, -1, ResetOutcome::Done,
         {{0, false, true}, {50, true, true}, {150, false, true}}},
        {"rts", ResetLines::Rts, 20, true, -1, ResetOutcome::Done, {{0, true, false}, {50, true, true}, {70, true, false}}},
        {"both", ResetLines::Both, RESET_MAX_MS, true, -1, ResetOutcome::Done,
         {{0, false, false}, {50, true, true}, {10050, false, false}}},
        {"none", ResetLines::None, 100, true, -1, ResetOutcome::Done, {}},
        {"no modem lines", ResetLines::Dtr, 100, false, -1, ResetOutcome::NoModemLines, {}},
        // Interrupted: the lines end released, and nothing is asserted after.
        {"interrupted released", ResetLines::Dtr, 100, true, 0, ResetOutcome::Interrupted, {{0, false, true}}},
        {"interrupted asserted", ResetLines::Both, 100, true, 1, ResetOutcome::Interrupted,
         {{0, false, false}, {50, true, true}, {50, false, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClockLine line;
        line.hasLines = c.hasLines;
        line.interruptAtPause = c.interruptAtPause;
        EXPECT_EQ(resetBoard(line, c.lines, c.assertMs), c.outcome);
        EXPECT_EQ(line.changes, c.changes);
    }
}

TEST(BoardReset, ParsesTheOptionValues)
{
    ResetLines lines = ResetLines::None;
    int ms = 0;
    EXPECT_TRUE(parseResetLines("rts", lines) && lines == ResetLines::Rts);
    EXPECT_FALSE(parseResetLines("DTR", lines));
    EXPECT_TRUE(parseResetMs("250", ms) && ms == 250);
    for (const char* bad : {"", "0", "-5", "10001", "12ms", "+3"})
        EXPECT_FALSE(parseResetMs(bad, ms)) << bad;
}
