// The run's hold on the POSIX port (port.h).
#include "port.h"

#include "portDiagnosis.h"
#include "serialPort.h"

OpenPort openPort(const std::string& portName, int bitsPerSecond, std::string* refusal, int width)
{
    PortOpenError error;
    OpenPort port(new SerialPort(portName, bitsPerSecond, &error));
    if (!*port) {
        port.reset();
        // The holders and the ports are looked up once the port is closed.
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
