#include "portRefusal.h"

#include "portList.h"
#include "textFormat.h"

#include <windows.h>

namespace {

constexpr const char* CONTINUATION = "  ";  // a reason's continuation lines

// The system's own words for an error code, without the line end it adds.
std::string systemMessage(unsigned long win32Error)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, win32Error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "";
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        message = "Windows error " + std::to_string(win32Error);
    return message;
}

}  // namespace

PortRefusal refusalOfOpenError(unsigned long win32Error)
{
    switch (win32Error) {
    case ERROR_SUCCESS: return PortRefusal::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return PortRefusal::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return PortRefusal::InUse;
    default: return PortRefusal::Other;
    }
}

namespace {

// The reason as one line.
std::string refusalLine(const std::string& portName, PortRefusal refusal, unsigned long win32Error,
                        const std::vector<std::string>& ports)
{
    switch (refusal) {
    case PortRefusal::None: return "";
    case PortRefusal::Missing:
        if (ports.empty())
            return portName + " does not exist, and no serial port was found on this machine.\n";
        return portName + " does not exist. Serial ports on this machine: " + commaList(ports) +
               " (--list-ports tells more).\n";
    case PortRefusal::InUse:
        return portName + " is in use: another process holds it. Close that program "
                          "(a terminal program, or a modem manager probing the adapter) and try again.\n";
    case PortRefusal::NotSerial:
        return portName + " is not a serial device (not a terminal); nothing was written to it.\n";
    case PortRefusal::Other: break;
    }
    return portName + ": " + systemMessage(win32Error) + "\n";
}

}  // namespace

std::string portRefusalText(const std::string& portName, PortRefusal refusal, unsigned long win32Error,
                            const std::vector<std::string>& ports, int width)
{
    const std::string line = refusalLine(portName, refusal, win32Error, ports);
    return width > 0 && !line.empty() ? wrapWords(line.substr(0, line.size() - 1), width, CONTINUATION) : line;
}

std::string portFailureReason(const std::string& portName, const PortOpenError& error, int width)
{
    std::vector<std::string> ports;
    if (error.refusal == PortRefusal::Missing)
        for (const SerialPortInfo& port : listSerialPorts())
            ports.push_back(port.device);
    return portRefusalText(portName, error.refusal, error.code, ports, width);
}
