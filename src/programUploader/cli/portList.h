// The serial ports of this machine, for --list-ports and a refusal's words.
// Each back end lists them its own way (posix/portList.cpp: sysfs;
// windows/portList.cpp: the registry and SetupAPI).
#ifndef PORT_LIST_H
#define PORT_LIST_H

#include <string>
#include <vector>

struct SerialPortInfo {
    std::string device;        // /dev/ttyUSB0
    std::string byId;          // its /dev/serial/by-id name, empty when none
    std::string usbId;         // vendor:product in hex, empty when not USB
    std::string manufacturer;  // these three from the USB device, when it says
    std::string product;
    std::string serial;
};

// Every port, in name order (ttyS2 before ttyS10, COM2 before COM10).  On
// a POSIX system: every terminal that has a device behind it and a node
// under devRoot.  A built-in UART counts only when its
// driver found a chip (its port type is not "unknown"): most PCs declare
// four ttyS ports whatever they have.  The roots are parameters so that
// tests can hand over a tree of their own.
std::vector<SerialPortInfo> listSerialPorts(const std::string& sysRoot = "/sys",
                                            const std::string& devRoot = "/dev");

// One line: the device, then what is known of it, two spaces between fields.
std::string describePort(const SerialPortInfo& port);

#endif
