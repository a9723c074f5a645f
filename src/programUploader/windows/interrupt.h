// The run's interrupt policy on Windows (interruptPolicy.h): what Ctrl-C,
// Ctrl-Break and a closed console window do to a run.
//
// Windows calls the console control handler on a thread of its own.  A
// first Ctrl-C or Ctrl-Break only sets an event: the port's waits wait on
// it too and answer Interrupted, and the run ends as on Linux (the ERROR
// line, the END frame, the port put back).  A second one, or a closed
// console (after which Windows ends the process as soon as the handler
// returns), runs the action given to onSecondInterrupt and ends the
// process.
#ifndef INTERRUPT_H
#define INTERRUPT_H

#include "interruptPolicy.h"

// From now on the console's control events ask the run to end.
void interruptWaitsOnConsoleEvents();
// An event asked the run to end, and the run has not yet taken note: a wait
// or a pause of the port ends at once with Interrupted.
bool interruptPending();
// The event object (a HANDLE) that is set while an interrupt is pending,
// for the port's waits.
void* interruptEvent();
// Once the run has taken note of the interrupt: the waits no longer end at
// once for it, so that the END frame can still go out and the port be
// restored; a further event ends the process.
void interruptTaken();
// What a second event, or a closed console, does before the process ends.
// It runs on the handler's thread while the run's thread may be anywhere.
void onSecondInterrupt(void (*action)());
// The handler itself, for tests that deliver an event in-process.
// Answers as the console handler does (nonzero: handled).
int consoleEvent(unsigned long event);
// The exit status of a process that a second event or a closed console
// ended (the status Windows gives a process ended by Ctrl-C).
constexpr unsigned long INTERRUPTED_EXIT = 0xC000013A;

#endif
