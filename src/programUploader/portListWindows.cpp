#include "portList.h"

#include <algorithm>
#include <windows.h>

namespace {

std::string utf8(const wchar_t* text, DWORD length)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// "COM2" before "COM10".
bool byNumber(const SerialPortInfo& a, const SerialPortInfo& b)
{
    if (a.device.size() != b.device.size())
        return a.device.size() < b.device.size();
    return a.device < b.device;
}

}  // namespace

// Windows keeps the ports its drivers created under one registry key: the
// value's data is the port's name, its name the driver's device.
std::vector<SerialPortInfo> listSerialPorts(const std::string&, const std::string&)
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
        DWORD length = dataSize / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0')
            --length;
        SerialPortInfo port;
        port.device = utf8(data, length);
        port.product = utf8(name, nameLength);
        ports.push_back(port);
    }
    RegCloseKey(key);
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
