// Runs the chip: the instruction cycles, the timed activities around them
// (the line's bits, EEPROM writes, MCLR pulses, the end of the run) and the
// pace against the wall clock.
//
// Every timed activity keeps its own due cycle here, outside gpsim's
// cycle-break list: gpsim silently drops a break set at or before the
// current cycle, and a trigger object cannot tell which of its breaks fired.
#ifndef PICSIM_RUN_LOOP_H
#define PICSIM_RUN_LOOP_H

#include "options.h"

#include <cstdint>
#include <memory>

class GpsimRepairs;
class PicChip;
class PtyPort;
class SelfWrite;
class UsartBridge;

struct RunFigures {
    uint64_t cycles = 0;
    double wallSeconds = 0;
    uint64_t mclrPulls = 0;  // --reset-at, --reset-on-open and SIGUSR1 alike
};

class RunLoop {
public:
    RunLoop(PicChip& chip, PtyPort& port, SelfWrite* selfWrite, GpsimRepairs& repairs, const Options& options);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    RunFigures run();
    UsartBridge& bridge() { return *bridge_; }

private:
    void pace(uint64_t now);
    void waitForPort(double seconds);

    PicChip& chip_;
    PtyPort& port_;
    SelfWrite* selfWrite_;
    const Options& options_;
    uint64_t wake_ = 0;
    std::unique_ptr<UsartBridge> bridge_;
    double anchorWall_ = 0;
    uint64_t anchorCycle_ = 0;
};

#endif
