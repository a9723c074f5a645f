#include "serialPort.h"

#include "ownedHandles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace {

// The port as openSerialPort found it.  A run holds one port; tests open a
// few at once.  The descriptor is published last, so that a signal handler
// reading a slot sees either nothing or a whole record.
struct SavedPort {
    std::atomic<int> fd{-1};
    termios settings{};
    bool serialChanged = false;   // the low-latency flag was set by us
    serial_struct serial{};
};
constexpr int SAVED_PORTS = 8;
SavedPort savedPorts[SAVED_PORTS];

// How long the output may take to leave the line before the settings go
// back: an END frame still in a USB adapter would be garbled by a restored
// speed.  A line that does not drain in this time is stuck and is flushed.
constexpr auto DRAIN_LIMIT = std::chrono::seconds(1);
constexpr long DRAIN_POLL_NS = 2000000;

SavedPort* slotOf(int fd)
{
    for (SavedPort& slot : savedPorts)
        if (slot.fd.load() == fd)
            return &slot;
    return nullptr;
}

// Async-signal-safe: system calls only.
void putBack(const SavedPort& slot, int fd)
{
    tcsetattr(fd, TCSANOW, &slot.settings);
    if (slot.serialChanged) {
        serial_struct serial = slot.serial;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    ioctl(fd, TIOCNXCL);
}

// Waits until the driver's output queue is empty and the last character has
// left, at most DRAIN_LIMIT; tcdrain alone could wait without end on a line
// that does not move.
void drainOutput(int fd)
{
    const auto end = std::chrono::steady_clock::now() + DRAIN_LIMIT;
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0)
            return;
        if (queued <= 0)
            break;
        if (std::chrono::steady_clock::now() >= end) {
            tcflush(fd, TCOFLUSH);
            return;
        }
        timespec pause{0, DRAIN_POLL_NS};
        nanosleep(&pause, nullptr);
    }
    tcdrain(fd);
}

} // namespace

void SerialPort::reset(int fd)
{
    if (fd_ >= 0) {
        restoreSerialPort(fd_);
        close(fd_);
    }
    fd_ = fd;
}

int SerialPort::release()
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool requestLowLatency(int fd)
{
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void restoreSerialPort(int fd)
{
    SavedPort* slot = fd >= 0 ? slotOf(fd) : nullptr;
    if (!slot)
        return;
    drainOutput(fd);
    putBack(*slot, fd);
    slot->fd.store(-1);
}

void restoreSerialPortsNow()
{
    for (SavedPort& slot : savedPorts) {
        int fd = slot.fd.load();
        if (fd < 0)
            continue;
        tcflush(fd, TCOFLUSH);
        putBack(slot, fd);
    }
}

int openSerialPort(const std::string& portName, speed_t lineSpeed, PortOpenError* why)
{
    PortOpenError ignored;
    PortOpenError& error = why ? *why : ignored;
    error = PortOpenError{};

    // O_NONBLOCK keeps open() from waiting for carrier on a modem line.
    int fd = open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = {PortOpenError::Open, errno};
        return -1;
    }
    OwnedFd port(fd);
    // A slot left by a descriptor that was closed without a restore would
    // otherwise be put back on this one.
    if (SavedPort* stale = slotOf(fd))
        stale->fd.store(-1);

    // A file that is not a terminal (a hex file named by mistake) must never
    // be written: the greeting polls would overwrite it.
    termios found;
    if (tcgetattr(fd, &found) != 0) {
        error = {errno == ENOTTY ? PortOpenError::NotTerminal : PortOpenError::Open, errno};
        return -1;
    }
    // Two uploaders on one line would interleave their frames.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = {PortOpenError::Locked, errno};
        return -1;
    }
    // Programs that do not take the flock (terminal emulators, a modem
    // manager probing a new adapter) still see EBUSY while the run holds it.
    ioctl(fd, TIOCEXCL);

    SavedPort* slot = slotOf(-1);
    if (slot) {
        slot->settings = found;
        slot->serialChanged = false;
        if (ioctl(fd, TIOCGSERIAL, &slot->serial) == 0 && !(slot->serial.flags & ASYNC_LOW_LATENCY))
            slot->serialChanged = true;
        slot->fd.store(fd);
    }

    fcntl(fd, F_SETFL, 0);

    // Exactly these changes; everything else (VMIN and VTIME included) stays
    // as the device had it.  The link never relies on VMIN/VTIME: it waits
    // with poll() and reads only what has arrived.
    termios settings = found;
    cfsetispeed(&settings, lineSpeed);
    cfsetospeed(&settings, lineSpeed);
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~(INLCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    settings.c_oflag &= ~OPOST;
    tcsetattr(fd, TCSANOW, &settings);

    // Every block waits for its acknowledgement, so a USB adapter's 16 ms
    // latency timer would otherwise dominate the upload time.  Plain UARTs
    // and pseudo-terminals refuse; that is fine.
    if (slot && slot->serialChanged)
        slot->serialChanged = requestLowLatency(fd);

    return port.release();
}
