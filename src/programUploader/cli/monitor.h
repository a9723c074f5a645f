// The monitor: after the end command the port stays open and the line is
// relayed, the chip's bytes to standard output as they arrive and standard
// input's bytes to the chip, so nothing the new program says at start-up is
// lost to the time another terminal program would take to open the port.
#ifndef MONITOR_H
#define MONITOR_H

#include <string>

class SerialPort;

constexpr int MONITOR_SECONDS_MAX = 1000000;  // --monitor-seconds: about eleven days

struct MonitorSettings {
    bool on = false;
    int bitsPerSecond = 0;  // 0: the upload's speed
    int seconds = 0;        // 0: until Ctrl-], a signal or a hang-up
};

// How the monitor ended.
enum class MonitorEnd {
    Quit,          // Ctrl-] on the terminal (POSIX)
    TimeUp,        // --monitor-seconds passed
    Signal,        // an interrupt (interruptPolicy.h)
    HungUp,        // the serial port went away
    OutputClosed,  // standard output no longer takes bytes (a closed pipe)
};

// Runs the monitor on the open port: switches it to the monitor's speed once
// what was written has left (within a bound; the port stays open), prints
// the start line on standard error, and relays until one of the ends above.
// Bytes the chip sent since the end command wait in the port's input queue
// until then and are written first.  A hang-up is reported here, on
// standard error.  Each back end has its own (posix/monitor.cpp,
// windows/monitor.cpp): on a POSIX system standard input goes to the chip,
// through a raw terminal when it is ours; on Windows typed input does not
// reach the chip yet, and the start line says so.
MonitorEnd runMonitor(SerialPort& port, const MonitorSettings& settings);

// The --monitor help's lines after its first, which tell what this
// system's monitor relays and how it ends.
void printMonitorHelp();

#endif
