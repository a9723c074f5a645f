// What one run of the simulator measured, printed by --stats at exit.
#ifndef SIM_STATS_H
#define SIM_STATS_H

#include <cstdint>
#include <cstdio>
#include <vector>

struct Stats {
    uint64_t frames = 0;
    uint64_t blocks = 0;
    uint64_t errors = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    double sessionSeconds = -1;
    double writeSeconds = 0;
    double greetingToH = -1;      // seconds
    double greetingToFrame = -1;  // seconds
    std::vector<double> turnarounds;  // seconds, one per frame after a '>'

    // lineBaud 0: the wire time is not known.
    void print(FILE* out, int lineBaud) const;
};

#endif
