// --list-ports on Windows: what SetupAPI tells of a port, as the line shows
// it.  Wine has no USB adapters, so the devices are handed over here.
#include "portDevices.h"

#include <gtest/gtest.h>

TEST(PortListWindows, UsbIdOfTheInstancePath)
{
    const std::pair<std::string, std::string> cases[] = {
        {"USB\\VID_0403&PID_6001\\A10K1234", "0403:6001"},
        {"FTDIBUS\\VID_0403+PID_6015+DN05ABCDA\\0000", "0403:6015"},
        {"USB\\VID_067B&PID_2303&MI_00\\6&1B2C3D4E&0&0000", "067b:2303"},
        {"usb\\vid_1a86&pid_7523\\5&2f0e7e3&0&2", "1a86:7523"},
        {"ACPI\\PNP0501\\1", ""},          // a built-in UART
        {"USB\\VID_0403\\A10K1234", ""},   // no product
        {"USB\\VID_04G3&PID_6001\\1", ""}, // not hex
        {"USB\\VID_04", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(usbIdOfInstance(c.first), c.second) << c.first;
}

TEST(PortListWindows, LinesWithWhatTheDevicesTell)
{
    std::vector<SerialPortInfo> ports(3);
    ports[0].device = "COM1";
    ports[0].product = "\\Device\\Serial0";
    ports[1].device = "COM3";
    ports[1].product = "\\Device\\VCP0";
    ports[2].device = "COM12";
    ports[2].product = "\\Device\\Serial2";
    addDeviceDetails(ports, {{"COM3", "USB Serial Port (COM3)", "FTDIBUS\\VID_0403+PID_6001+A10K1234A\\0000"},
                             {"COM1", "Communications Port (COM1)", "ACPI\\PNP0501\\1"},
                             {"COM12", "", "USB\\VID_10C4&PID_EA60\\0001"},
                             {"COM9", "Gone (COM9)", "USB\\VID_1234&PID_5678\\1"}});
    EXPECT_EQ(describePort(ports[0]), "COM1  Communications Port (COM1)");
    EXPECT_EQ(describePort(ports[1]), "COM3  0403:6001  USB Serial Port (COM3)");
    // No friendly name: the driver's device stays.
    EXPECT_EQ(describePort(ports[2]), "COM12  10c4:ea60  \\Device\\Serial2");
}
