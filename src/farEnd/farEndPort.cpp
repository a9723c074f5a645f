#include "farEndPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

bool openRawPty(OwnedFd& master, std::string& slavePath, std::string& err) {
    master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    const int fd = master.get();
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        err = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
        master.reset();
        return false;
    }
    const char* name = ptsname(fd);
    if (!name) {
        err = "cannot name the pseudo-terminal's slave";
        return false;
    }
    slavePath = name;
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        err = std::string("cannot read the pseudo-terminal's settings: ") + strerror(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        err = std::string("cannot make the pseudo-terminal raw: ") + strerror(errno);
        return false;
    }
    return true;
}

bool PortLink::make(const std::string& path, const std::string& target) {
    unlink(path.c_str());
    if (symlink(target.c_str(), path.c_str()) != 0) return false;
    path_ = path;
    return true;
}

PortLink::~PortLink() {
    if (!path_.empty()) unlink(path_.c_str());
}
