// What one run of the simulator measured, printed by --stats at exit.
#ifndef SIM_STATS_H
#define SIM_STATS_H

#include "bootloaderMachine.h"

#include <cstdint>
#include <cstdio>
#include <vector>

struct Stats {
    uint64_t frames = 0;
    uint64_t blocks = 0;
    uint64_t errors = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    double wireSeconds = -1;  // -1: not known
    double sessionSeconds = -1;
    double writeSeconds = 0;
    double greetingToH = -1;      // seconds
    double greetingToFrame = -1;  // seconds
    std::vector<double> turnarounds;  // seconds, one per frame after a '>'

    void print(FILE* out) const;
};

// Keeps the figures from what the bootloader's state machine does and the
// times the line driver stamps: when the byte being fed was written and
// delivered, when the greeting and each '>' left.
class StatsRecorder : public MachineObserver {
public:
    explicit StatsRecorder(Stats& stats) : stats_(stats) {}

    void startSession();
    void byteDelivered(double entry, double arrival) {
        entry_ = entry;
        arrival_ = arrival;
    }
    void greetingWritten(double when) { greetingWritten_ = when; }
    void readyWritten(double when) { readyWritten_ = when; }

    void replyBegun() override;
    void frameBegun() override;
    void frameTaken() override { ++stats_.frames; }
    void blockWritten(double seconds) override;
    void errorReported() override { ++stats_.errors; }

private:
    Stats& stats_;
    double entry_ = 0;
    double arrival_ = 0;
    double greetingWritten_ = -1;
    double readyWritten_ = -1;
    bool firstFrameSeen_ = false;
};

#endif
