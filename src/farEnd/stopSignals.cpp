#include "stopSignals.h"

volatile sig_atomic_t stopRequested = 0;

namespace {

void onStop(int) { stopRequested = 1; }

}  // namespace

void catchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}
