#include "farEndPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

namespace {

// Where path is a symbolic link, the path it holds.
bool readLink(const std::string& path, std::string& target) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n < 0 || size_t(n) >= sizeof buffer) return false;
    target.assign(buffer, size_t(n));
    return true;
}

}  // namespace

bool PortLink::make(const std::string& path, const std::string& target, std::string& why) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            why = path + " is a directory, not a link; nothing was changed";
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            why = path + " exists and is not a link; nothing was changed";
            return false;
        }
        if (unlink(path.c_str()) != 0) {
            why = "cannot replace the link " + path + ": " + strerror(errno);
            return false;
        }
    }
    // symlink never follows or replaces what is there: a file that appeared
    // since the test above is refused too.
    if (symlink(target.c_str(), path.c_str()) != 0) {
        why = "cannot make the link " + path + ": " + strerror(errno);
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

PortLink::~PortLink() {
    std::string now;
    if (!path_.empty() && readLink(path_, now) && now == target_) unlink(path_.c_str());
}
