#include "resetSignal.h"

volatile sig_atomic_t resetRequested = 0;

namespace {

void onReset(int) { resetRequested = 1; }

}  // namespace

void catchResetSignal() {
    struct sigaction sa {};
    sa.sa_handler = onReset;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, nullptr);
}
