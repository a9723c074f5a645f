// The run's interrupt policy on a POSIX system (interruptPolicy.h): what
// SIGINT, SIGTERM and SIGHUP do to a run.
//
// A first ending signal only asks the run to end.  The port's waits see the
// request and answer Interrupted; the run decides what follows (the END
// frame, the restore) and then takes note of it.  A second signal means
// "now": it puts back whatever joined the restore registry and ends the
// process by that signal.
#ifndef INTERRUPT_H
#define INTERRUPT_H

#include "interruptPolicy.h"

#include <signal.h>

// From now on the ending signals only set a flag, and are held back
// everywhere but inside the port's waits (interruptWaitMask), which then
// end with Interrupted at once.  Nothing is printed from the handler.
void interruptWaitsOnSignals();
// The signal that asked the run to end, or 0.
int interruptSignal();
// An ending signal asked the run to end, and the run has not yet taken note:
// a wait or a pause of the port ends at once with Interrupted.
bool interruptPending();
// The signal mask for the port's waits (ppoll): the ending signals let
// through.  Null before interruptWaitsOnSignals, when nothing is held.
const sigset_t* interruptWaitMask();
// Once the run has taken note of the interrupt: the waits no longer end at
// once for it, so that the END frame can still go out and the port be
// restored, and the ending signals are let through everywhere, so that a
// second one acts at once wherever the run is.
void interruptTaken();
// What a second ending signal does before the process ends by that signal
// (without returning to the run).  It runs in the signal handler, so it
// must be async-signal-safe.
void onSecondInterrupt(void (*action)());

// Holds the ending signals back for its lifetime, so that their handler
// never sees a structure it shares with the run half changed.  The process
// is single-threaded: the mask is the calling thread's.
class EndingSignalsHeld {
public:
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

#endif
