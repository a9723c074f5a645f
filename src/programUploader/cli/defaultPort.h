// The port a run uses when the command line names none.  Each back end
// defines it beside its SerialPort: "/dev/ttyS0" on a POSIX system, "COM1"
// on Windows.
#ifndef DEFAULT_PORT_H
#define DEFAULT_PORT_H

extern const char* const DEFAULT_PORT;

#endif
