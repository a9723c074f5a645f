// Why Windows refused a serial port, in the words the Linux build uses for
// the same cause, so a user reads one set of reasons everywhere.
#ifndef PORT_REFUSAL_H
#define PORT_REFUSAL_H

#include <string>
#include <vector>

enum class PortRefusal {
    None,
    Missing,    // no such port (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND)
    InUse,      // another program holds it (ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    NotSerial,  // it opened, but GetCommState refused it: not a serial device
    Other,      // any other error code
};

// The refusal for the error code that CreateFile left.  Windows opens a
// serial port for one program at a time and answers any second one with
// "access denied", so that means in use, never a permission.
PortRefusal refusalOfOpenError(unsigned long win32Error);

// The reason for standard error, ended by a line feed: wrapped between words
// at width as the other notes are, or one line where width is 0.  ports: the
// ports that exist, named for a missing one; win32Error: the code, told for
// Other.
std::string portRefusalText(const std::string& portName, PortRefusal refusal, unsigned long win32Error,
                            const std::vector<std::string>& ports, int width = 0);

// Why the port was refused, as the port's constructor leaves it.
struct PortOpenError {
    PortRefusal refusal = PortRefusal::None;
    unsigned long code = 0;  // the Win32 error code
};

// portRefusalText for the refusal, with this machine's ports named for a
// missing one.
std::string portFailureReason(const std::string& portName, const PortOpenError& error, int width = 0);

#endif
