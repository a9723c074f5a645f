// This machine's serial ports from the registry, with what SetupAPI tells
// of their devices (portList.h).
#include "portDevices.h"

#include "fileAccess.h"

#include <algorithm>
#include <cctype>
#include <windows.h>
#include <setupapi.h>

namespace {

// The device setup class of serial and parallel ports.
constexpr GUID PORTS_CLASS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr size_t USB_ID_DIGITS = 4;  // hex digits of a vendor or a product number

// A registry string up to its terminating nulls.
std::string registryText(const wchar_t* data, DWORD bytes)
{
    DWORD length = bytes / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0')
        --length;
    return utf8Text(data, length);
}

// "COM2" before "COM10".
bool byNumber(const SerialPortInfo& a, const SerialPortInfo& b)
{
    if (a.device.size() != b.device.size())
        return a.device.size() < b.device.size();
    return a.device < b.device;
}

// The four hex digits after key ("VID_") in text, lower case; empty when none.
std::string hexAfter(const std::string& text, const std::string& key)
{
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    size_t at = upper.find(key);
    if (at == std::string::npos || at + key.size() + USB_ID_DIGITS > upper.size())
        return std::string();
    std::string digits = text.substr(at + key.size(), USB_ID_DIGITS);
    for (char& c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::string();
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return digits;
}

// The ports the registry lists: the value's data is the port's name, its
// name the driver's device.
std::vector<SerialPortInfo> registryPorts()
{
    std::vector<SerialPortInfo> ports;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameLength = 256, dataSize = sizeof data, type = 0;
        LONG r = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        SerialPortInfo port;
        port.device = registryText(data, dataSize);
        port.product = utf8Text(name, nameLength);
        ports.push_back(port);
    }
    RegCloseKey(key);
    return ports;
}

// The present devices of the Ports class, as SetupAPI describes them.
std::vector<PortDevice> portDevices()
{
    std::vector<PortDevice> devices;
    HDEVINFO set = SetupDiGetClassDevsW(&PORTS_CLASS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        PortDevice found;
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            wchar_t name[256];
            DWORD size = sizeof name, type = 0;
            if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ)
                found.portName = registryText(name, size);
            RegCloseKey(key);
        }
        wchar_t text[512];
        DWORD size = 0;
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(text),
                                              sizeof text, &size))
            found.friendlyName = registryText(text, size);
        if (SetupDiGetDeviceInstanceIdW(set, &device, text, 512, &size))
            found.instanceId = registryText(text, size * sizeof(wchar_t));
        if (!found.portName.empty())
            devices.push_back(found);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

}  // namespace

std::string usbIdOfInstance(const std::string& instanceId)
{
    std::string vendor = hexAfter(instanceId, "VID_");
    std::string product = hexAfter(instanceId, "PID_");
    return vendor.empty() || product.empty() ? std::string() : vendor + ":" + product;
}

void addDeviceDetails(std::vector<SerialPortInfo>& ports, const std::vector<PortDevice>& devices)
{
    for (SerialPortInfo& port : ports)
        for (const PortDevice& device : devices) {
            if (device.portName != port.device)
                continue;
            if (!device.friendlyName.empty())
                port.product = device.friendlyName;
            port.usbId = usbIdOfInstance(device.instanceId);
        }
}

// The registry holds every port its drivers made; SetupAPI adds the names a
// person knows them by, where the driver gives them.
std::vector<SerialPortInfo> listSerialPorts(const std::string&, const std::string&)
{
    std::vector<SerialPortInfo> ports = registryPorts();
    addDeviceDetails(ports, portDevices());
    std::sort(ports.begin(), ports.end(), byNumber);
    return ports;
}

std::string describePort(const SerialPortInfo& port)
{
    std::string line = port.device;
    for (const std::string& text : {port.usbId, port.product})
        if (!text.empty())
            line += "  " + text;
    return line;
}
