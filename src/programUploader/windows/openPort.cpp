// The run's hold on the Win32 port (port.h).
#include "port.h"

#include "portRefusal.h"
#include "serialPort.h"

OpenPort openPort(const std::string& portName, int bitsPerSecond, std::string* refusal, int width)
{
    PortOpenError error;
    OpenPort port(new SerialPort(portName, bitsPerSecond, &error));
    if (!*port) {
        port.reset();
        // The ports are listed once the port is closed.
        if (refusal)
            *refusal = portFailureReason(portName, error, width);
    }
    return port;
}

void ClosePort::operator()(SerialPort* port) const
{
    delete port;
}

SerialLine& lineOf(SerialPort& port)
{
    return port;
}
