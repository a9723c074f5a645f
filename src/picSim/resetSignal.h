// A reset from outside the run: SIGUSR1 pulls MCLR, as a reset button does.
#ifndef PICSIM_RESET_SIGNAL_H
#define PICSIM_RESET_SIGNAL_H

#include <csignal>

// Set by the handler; the run loop pulls MCLR and clears it.
extern volatile sig_atomic_t resetRequested;

// SIGUSR1 sets resetRequested.  SA_RESTART: a reset does not end a wait.
void catchResetSignal();

#endif
