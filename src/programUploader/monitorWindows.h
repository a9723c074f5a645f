// The monitor on Windows: after the end command the port stays open and what
// the chip sends goes to standard output as it arrives, so nothing the new
// program says at start-up is lost.  What is typed does not reach the chip
// in this build (the console would need a reader of its own); the start
// line says so.
#ifndef MONITOR_WINDOWS_H
#define MONITOR_WINDOWS_H

#include "monitor.h"

#include <cstdio>

class SerialPort;

// Runs the monitor on the open port: switches it to the monitor's speed once
// what was written has left (within a bound; the port stays open), prints
// the start line on standard error, and relays the chip's bytes to output
// until Ctrl-C (or Ctrl-Break), --monitor-seconds, a hang-up or an output
// that takes no more.  A hang-up is reported here, on standard error.
MonitorEnd runMonitor(SerialPort& port, const MonitorSettings& settings, FILE* output);

#endif
