// Owners for the two kinds of handle the tools open: a stdio stream and a
// file descriptor.  Each closes what it holds when it goes out of scope, on
// every path.
#ifndef OWNED_HANDLES_H
#define OWNED_HANDLES_H

#include <cstdio>
#include <memory>
#include <unistd.h>

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f)
            fclose(f);
    }
};
// A FILE* that is closed with fclose.
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// A file descriptor that is closed with close.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

#endif
