// The serial port as the run sees it.  Each back end has its own SerialPort
// (posix/serialPort.h, windows/serialPort.h), a SerialLine that owns the
// open port and puts it back as it found it on every way out; the run holds
// it through these calls alone, so it never sees a system's type.
#ifndef PORT_H
#define PORT_H

#include "serialLine.h"

#include <memory>
#include <string>

class SerialPort;

// Lets what was written leave, puts the port back and frees it.
struct ClosePort {
    void operator()(SerialPort* port) const;
};
using OpenPort = std::unique_ptr<SerialPort, ClosePort>;

// Opens portName at bitsPerSecond for the upload.  Null when the system
// refuses it; then, when refusal is given, why it did, in words a user can
// act on, for standard error: ended by a line feed, wrapped between words at
// width, or one line where width is 0.  Prints nothing.
OpenPort openPort(const std::string& portName, int bitsPerSecond, std::string* refusal = nullptr, int width = 0);

// The open port as the link's line.
SerialLine& lineOf(SerialPort& port);

#endif
