// Opening the hex file on a POSIX system (hexInput.h): a regular file, or a
// pipe or FIFO once a program writes to it.
#include "hexInput.h"

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace {

constexpr long WRITER_POLL_NS = 20000000;

// A FIFO without a writer would block open() or read() for ever.  Read
// without blocking instead: EAGAIN means a writer has it open, a byte
// means one wrote, 0 means none is there yet.
OwnedFile openPipe(const std::string& name, std::string& why, int writerWaitMs)
{
    OwnedFd fd(open(name.c_str(), O_RDONLY | O_NONBLOCK));
    if (!fd) {
        why = name + ": " + strerror(errno) + "\n";
        return nullptr;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(writerWaitMs);
    unsigned char first;
    ssize_t n;
    for (;;) {
        n = read(fd.get(), &first, 1);
        if (n > 0 || (n < 0 && errno == EAGAIN))
            break;
        if (n < 0 && errno != EINTR) {
            why = name + ": " + strerror(errno) + "\n";
            return nullptr;
        }
        if (std::chrono::steady_clock::now() >= end) {
            char seconds[32];
            snprintf(seconds, sizeof seconds, "%g", writerWaitMs / 1000.0);
            why = name + " is a named pipe that no program wrote to within " + seconds + " seconds.\n";
            return nullptr;
        }
        timespec pause{0, WRITER_POLL_NS};
        nanosleep(&pause, nullptr);
    }
    fcntl(fd.get(), F_SETFL, 0);
    OwnedFile file(fdopen(fd.get(), "r"));
    if (!file) {
        why = name + ": " + strerror(errno) + "\n";
        return nullptr;
    }
    fd.release();
    if (n > 0)
        ungetc(first, file.get());
    return file;
}

} // namespace

OwnedFile openHexFile(const std::string& name, std::string& why, int writerWaitMs)
{
    struct stat st;
    if (stat(name.c_str(), &st) != 0) {
        why = name + ": " + strerror(errno) + "\n";
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        why = name + " is a directory, not a hex file.\n";
        return nullptr;
    }
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        why = name + " is a device, not a hex file.\n";
        return nullptr;
    }
    if (S_ISFIFO(st.st_mode))
        return openPipe(name, why, writerWaitMs);
    OwnedFile file(fopen(name.c_str(), "r"));
    if (!file)
        why = name + ": " + strerror(errno) + "\n";
    return file;
}
