#include "dumpPath.h"

#include "ownedHandles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool checkDumpPath(const std::string& path, std::string& why) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return why = "cannot write " + path + ": " + strerror(EISDIR), false;
        // O_NONBLOCK: a named pipe without a reader answers at once.
        OwnedFd fd(open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK));
        if (!fd) return why = "cannot write " + path + ": " + strerror(errno), false;
        return true;
    }
    if (errno != ENOENT) return why = "cannot write " + path + ": " + strerror(errno), false;
    OwnedFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666));
    if (!fd) return why = "cannot create " + path + ": " + strerror(errno), false;
    unlink(path.c_str());
    return true;
}
