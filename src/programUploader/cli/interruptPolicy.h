// What an interrupt does to a run, as the run sees it on every system.  A
// first one (Ctrl-C; on a POSIX system also SIGTERM and SIGHUP) only asks
// the run to end: the port's waits answer Interrupted, and the run ends
// through its normal way out, which sends the end command and puts the port
// back.  A second one puts every open port and terminal back at once and
// ends the process.  Each back end keeps the details (posix/interrupt.h,
// windows/interrupt.h).
#ifndef INTERRUPT_POLICY_H
#define INTERRUPT_POLICY_H

// From now on interrupts work as above.
void interruptsEndTheRun();
// An interrupt asked the run to end at some time, noted or not.
bool interruptRequested();

#endif
