#include "runLoop.h"

#include "chip.h"
#include "ptyPort.h"
#include "resetSignal.h"
#include "selfWrite.h"
#include "stopSignals.h"
#include "usartBridge.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <vector>


namespace {

// The pty is read and the pace checked once per slice of simulated time:
// short enough that a byte waits little before it starts on RC7.
constexpr double SLICE_SECONDS = 0.0005;
// Behind the wall clock by more than this (a loaded machine), the pace
// starts afresh instead of racing to catch up.
constexpr double MAX_LAG_SECONDS = 0.05;
constexpr uint64_t NEVER = UINT64_MAX;

double monotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

timespec toTimespec(double seconds) {
    timespec ts;
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long((seconds - double(ts.tv_sec)) * 1e9);
    return ts;
}

uint64_t toCycle(double seconds, double cyclesPerSecond) { return uint64_t(seconds * cyclesPerSecond + 0.5); }

}  // namespace

RunLoop::RunLoop(PicChip& chip, PtyPort& port, SelfWrite* selfWrite, GpsimRepairs& repairs, const Options& options)
    : chip_(chip), port_(port), selfWrite_(selfWrite), options_(options),
      bridge_(new UsartBridge(chip, port, repairs, wake_)) {}

RunLoop::~RunLoop() = default;

void RunLoop::waitForPort(double seconds) {
    timespec ts = toTimespec(seconds);
    if (!port_.peerGone()) {
        // Wakes early when the peer writes, so its bytes are taken promptly.
        pollfd p{port_.fd(), POLLIN, 0};
        if (ppoll(&p, 1, &ts, nullptr) <= 0 || !(p.revents & POLLHUP)) return;
    }
    // Without a peer the master polls ready at once: sleep instead.
    nanosleep(&ts, nullptr);
}

void RunLoop::pace(uint64_t now) {
    if (options_.fast) return;
    double target = anchorWall_ + double(now - anchorCycle_) / chip_.cyclesPerSecond();
    double wall = monotonicSeconds();
    if (target > wall)
        waitForPort(target - wall);
    else if (wall - target > MAX_LAG_SECONDS) {
        anchorWall_ = wall;
        anchorCycle_ = now;
    }
}

RunFigures RunLoop::run() {
    const double cps = chip_.cyclesPerSecond();
    const uint64_t slice = std::max<uint64_t>(1, toCycle(SLICE_SECONDS, cps));
    const uint64_t end = options_.seconds >= 0 ? chip_.cycle() + toCycle(options_.seconds, cps) : NEVER;
    std::vector<uint64_t> resets;
    for (double ms : options_.resetAtMs) resets.push_back(chip_.cycle() + toCycle(ms * 1e-3, cps));
    std::sort(resets.begin(), resets.end());
    size_t nextReset = 0;

    RunFigures figures;
    const uint64_t firstCycle = chip_.cycle();
    const double start = monotonicSeconds();
    anchorWall_ = start;
    anchorCycle_ = firstCycle;
    uint64_t nextSlice = firstCycle;
    while (!stopRequested) {
        uint64_t now = chip_.cycle();
        if (now >= end) break;
        while (nextReset < resets.size() && now >= resets[nextReset]) {
            chip_.pullMclr();
            ++figures.mclrPulls;
            ++nextReset;
        }
        if (now >= nextSlice) {
            pace(now);
            // A program opened the port (--reset-on-open): the bytes in the
            // pty by the time the open is seen include every byte the
            // program before it wrote, so its reset comes after those.
            // The opener's first bytes may come before the reset and be lost
            // to it, as on a board.
            unsigned opens = port_.newOpens();
            bridge_->takeFromPort();
            for (; opens > 0; --opens) bridge_->resetAfterTaken();
            nextSlice = now + slice;
            if (resetRequested) {  // SIGUSR1: at once, as a button
                resetRequested = 0;
                chip_.pullMclr();
                ++figures.mclrPulls;
            }
        }
        if (selfWrite_) selfWrite_->service(now);
        bridge_->service(now);
        for (unsigned n = bridge_->resetsReached(); n > 0; --n) {
            chip_.pullMclr();
            ++figures.mclrPulls;
        }

        wake_ = std::min({nextSlice, end, bridge_->due()});
        if (nextReset < resets.size()) wake_ = std::min(wake_, resets[nextReset]);
        if (selfWrite_) wake_ = std::min(wake_, selfWrite_->due());
        if (wake_ <= now) wake_ = now + 1;
        while (chip_.cycle() < wake_) chip_.step();
    }
    figures.cycles = chip_.cycle() - firstCycle;
    figures.wallSeconds = monotonicSeconds() - start;
    return figures;
}
