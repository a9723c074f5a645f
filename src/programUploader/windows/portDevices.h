// What Windows tells of its serial ports beyond their names: the device
// manager's friendly name and, for a USB adapter, its vendor:product.
#ifndef PORT_DEVICES_H
#define PORT_DEVICES_H

#include "portList.h"

#include <string>
#include <vector>

// One device of the Ports class as SetupAPI describes it.
struct PortDevice {
    std::string portName;      // COM3, from the device's PortName value
    std::string friendlyName;  // "USB Serial Port (COM3)", empty when none
    std::string instanceId;    // USB\VID_0403&PID_6001\A10K1234
};

// The vendor:product of a device instance path, in lower-case hex as Linux
// shows it ("0403:6001"); empty when the path names none.  Drivers that make
// their own bus write "FTDIBUS\VID_0403+PID_6001+A10K1234A\0000".
std::string usbIdOfInstance(const std::string& instanceId);

// Gives each port of the registry's list what its device tells: the friendly
// name in place of the driver's device name, and the USB vendor:product.
void addDeviceDetails(std::vector<SerialPortInfo>& ports, const std::vector<PortDevice>& devices);

#endif
