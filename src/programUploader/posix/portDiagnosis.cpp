#include "portDiagnosis.h"

#include "portList.h"
#include "textFormat.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* CONTINUATION = "  ";  // a reason's continuation lines

std::string groupOf(const std::string& portName)
{
    struct stat st;
    if (stat(portName.c_str(), &st) != 0)
        return "";
    if (group* g = getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace

std::vector<std::string> portHolders(const std::string& portName)
{
    std::vector<std::string> holders;
    struct stat port;
    if (stat(portName.c_str(), &port) != 0 || !S_ISCHR(port.st_mode))
        return holders;
    DIR* proc = opendir("/proc");
    if (!proc)
        return holders;
    const std::string self = std::to_string(getpid());
    while (dirent* p = readdir(proc)) {
        std::string pid = p->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds)
            continue;
        bool holds = false;
        while (dirent* f = readdir(fds)) {
            struct stat st;
            if (f->d_name[0] != '.' && stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 &&
                S_ISCHR(st.st_mode) && st.st_rdev == port.st_rdev)
                holds = true;
        }
        closedir(fds);
        if (holds) {
            std::ifstream comm("/proc/" + pid + "/comm");
            std::string name;
            std::getline(comm, name);
            holders.push_back(name + " (PID " + pid + ")");
        }
    }
    closedir(proc);
    return holders;
}

namespace {

// The reason as one line.
std::string reasonLine(const std::string& portName, const PortOpenError& error)
{
    if (error.kind == PortOpenError::NotTerminal)
        return portName + " is not a serial device (not a terminal); nothing was written to it.\n";

    const bool inUse = error.kind == PortOpenError::Locked || error.error == EBUSY;
    if (inUse) {
        std::vector<std::string> holders = portHolders(portName);
        if (holders.empty())
            return portName + " is in use: another process holds it. Close that program "
                              "(a terminal program, or a modem manager probing the adapter) and try again.\n";
        return portName + " is in use: another process holds it: " + commaList(holders) +
               ". Close that program and try again.\n";
    }

    switch (error.error) {
    case ENOENT: {
        std::vector<std::string> devices;
        for (const SerialPortInfo& port : listSerialPorts())
            devices.push_back(port.device);
        if (devices.empty())
            return portName + " does not exist, and no serial port was found on this machine.\n";
        return portName + " does not exist. Serial ports on this machine: " + commaList(devices) +
               " (--list-ports tells more).\n";
    }
    case EACCES:
    case EPERM: {
        std::string group = groupOf(portName);
        if (group.empty())
            return portName + ": permission denied.\n";
        return "Permission denied: " + portName + " belongs to group " + group +
               ", and the user must be in it: sudo usermod -aG " + group + " $USER, then log in again.\n";
    }
    default:
        return portName + ": " + strerror(error.error) + "\n";
    }
}

} // namespace

std::string portFailureReason(const std::string& portName, const PortOpenError& error, int width)
{
    const std::string line = reasonLine(portName, error);
    return width > 0 ? wrapWords(line.substr(0, line.size() - 1), width, CONTINUATION) : line;
}
