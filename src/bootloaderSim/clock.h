// Monotonic wall clock in seconds, the one time base of the simulator.
#ifndef SIM_CLOCK_H
#define SIM_CLOCK_H

#include <ctime>

inline double monotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

#endif
