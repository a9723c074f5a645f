// How a simulator is asked to stop: SIGINT or SIGTERM sets one flag that
// every wait of the run looks at.
#ifndef FAR_END_STOP_SIGNALS_H
#define FAR_END_STOP_SIGNALS_H

#include <csignal>

// Set from the signal handler; every wait ends when it is set.
extern volatile sig_atomic_t stopRequested;

// SIGINT and SIGTERM set stopRequested, without SA_RESTART, so that every
// wait ends at once; a peer that closes the line raises no SIGPIPE.
void catchStopSignals();

#endif
