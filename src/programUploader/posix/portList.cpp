// This machine's serial ports as the kernel describes them in sysfs
// (portList.h).
#include "portList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace {

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The first line of a sysfs attribute, without surrounding blanks.
std::string attribute(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    size_t first = line.find_first_not_of(" \t");
    size_t last = line.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : line.substr(first, last - first + 1);
}

std::string realPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    std::string result = resolved ? resolved : "";
    free(resolved);
    return result;
}

// ttyS2 before ttyS10: names compare by their stem, then by their number.
bool byName(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])))
            --digits;
        long number = digits < s.size() ? std::strtol(s.c_str() + digits, nullptr, 10) : -1;
        return std::make_pair(s.substr(0, digits), number);
    };
    return split(a) < split(b);
}

// The USB device above an interface: the first directory upwards that
// carries a vendor id.
void readUsb(const std::string& sysRoot, const std::string& deviceDir, SerialPortInfo& port)
{
    const std::string top = realPath(sysRoot);
    for (std::string dir = realPath(deviceDir); dir.size() > top.size(); dir = dir.substr(0, dir.rfind('/'))) {
        if (!exists(dir + "/idVendor"))
            continue;
        port.usbId = attribute(dir + "/idVendor") + ":" + attribute(dir + "/idProduct");
        port.manufacturer = attribute(dir + "/manufacturer");
        port.product = attribute(dir + "/product");
        port.serial = attribute(dir + "/serial");
        return;
    }
}

} // namespace

std::vector<SerialPortInfo> listSerialPorts(const std::string& sysRoot, const std::string& devRoot)
{
    const std::string byIdDir = devRoot + "/serial/by-id";
    std::vector<std::pair<std::string, std::string>> byId;   // target, link
    for (const std::string& link : entries(byIdDir))
        byId.emplace_back(realPath(byIdDir + "/" + link), byIdDir + "/" + link);

    std::vector<std::string> names = entries(sysRoot + "/class/tty");
    std::sort(names.begin(), names.end(), byName);
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : names) {
        const std::string tty = sysRoot + "/class/tty/" + name;
        // Consoles, virtual terminals and pseudo-terminals have no device.
        if (!exists(tty + "/device"))
            continue;
        // Port type 0 is the 8250 driver's "no UART answered here".
        if (exists(tty + "/type") && attribute(tty + "/type") == "0")
            continue;
        SerialPortInfo port;
        port.device = devRoot + "/" + name;
        if (!exists(port.device))
            continue;
        const std::string target = realPath(port.device);
        for (const auto& link : byId)
            if (link.first == target)
                port.byId = link.second;
        readUsb(sysRoot, tty + "/device", port);
        ports.push_back(port);
    }
    return ports;
}

std::string describePort(const SerialPortInfo& port)
{
    std::string line = port.device;
    auto field = [&line](const std::string& text) {
        if (!text.empty())
            line += "  " + text;
    };
    field(port.byId);
    field(port.usbId);
    std::string maker = port.manufacturer;
    if (!port.product.empty())
        maker += (maker.empty() ? "" : " ") + port.product;
    field(maker);
    if (!port.serial.empty())
        field("serial " + port.serial);
    return line;
}
