#include "serialPort.h"

#include "defaultPort.h"
#include "lineSpeeds.h"
#include "ownedHandles.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

// The usage text names it; the run opens it when -p names no other.
const char* const DEFAULT_PORT = "/dev/ttyS0";

namespace {

// How long the output may take to leave the line before the settings go
// back: an END frame still in a USB adapter would be garbled by a restored
// speed.  A line that does not drain in this time is stuck and is flushed.
constexpr auto DRAIN_LIMIT = std::chrono::seconds(1);
constexpr long DRAIN_POLL_NS = 2000000;

// Opens the device, refuses what is no terminal and takes the locks; the
// settings it found go to found.  The descriptor or -1 with error set.
int openLocked(const std::string& portName, termios& found, PortOpenError& error)
{
    error = PortOpenError{};
    // O_NONBLOCK keeps open() from waiting for carrier on a modem line.
    int fd = open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = {PortOpenError::Open, errno};
        return -1;
    }
    OwnedFd port(fd);
    // A file that is not a terminal (a hex file named by mistake) must never
    // be written: the greeting polls would overwrite it.
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
    return port.release();
}

// True, with the driver's flags in serial, when the driver has a low-latency
// mode that is off.
bool lowLatencyOff(int fd, serial_struct& serial)
{
    return ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY);
}

// Blocking from here on, and exactly these changes; everything else (VMIN
// and VTIME included) stays as the device had it.  The link never relies on
// VMIN/VTIME: it waits with poll() and reads only what has arrived.
void configure(int fd, const termios& found, speed_t lineSpeed)
{
    fcntl(fd, F_SETFL, 0);
    termios settings = found;
    cfsetispeed(&settings, lineSpeed);
    cfsetospeed(&settings, lineSpeed);
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~(INLCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    settings.c_oflag &= ~OPOST;
    tcsetattr(fd, TCSANOW, &settings);
}

} // namespace

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

bool requestLowLatency(int fd)
{
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

int openSerialPort(const std::string& portName, speed_t lineSpeed, PortOpenError* why)
{
    PortOpenError ignored;
    termios found;
    int fd = openLocked(portName, found, why ? *why : ignored);
    if (fd < 0)
        return -1;
    serial_struct serial{};
    const bool slow = lowLatencyOff(fd, serial);
    configure(fd, found, lineSpeed);
    if (slow)
        requestLowLatency(fd);
    return fd;
}

SerialPort::SerialPort(const std::string& portName, int bitsPerSecond, PortOpenError* why)
    : PortLine(-1), RestoreOnExit(putBackNow)
{
    PortOpenError ignored;
    fd_ = openLocked(portName, found_, why ? *why : ignored);
    if (fd_ < 0)
        return;
    serialChanged_ = lowLatencyOff(fd_, serial_);
    // Joined before anything changes, so that a second signal from here on
    // finds what to put back.
    join();
    configure(fd_, found_, protocol::speedConstant(bitsPerSecond));
    // Every block waits for its acknowledgement, so a USB adapter's 16 ms
    // latency timer would otherwise dominate the upload time.  Plain UARTs
    // and pseudo-terminals refuse; that is fine.
    // The flag only ever goes from set to clear while joined: putting back
    // the driver's flags as found is harmless either way.
    if (serialChanged_)
        serialChanged_ = requestLowLatency(fd_);
}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    drainOutput(fd_);
    putBack();
    // Left only now: a second signal during the drain still puts it back.
    leave();
    ::close(fd_);
    fd_ = -1;
}

// Async-signal-safe: system calls only.
void SerialPort::putBack()
{
    tcsetattr(fd_, TCSANOW, &found_);
    if (serialChanged_) {
        serial_struct serial = serial_;
        ioctl(fd_, TIOCSSERIAL, &serial);
    }
    ioctl(fd_, TIOCNXCL);
}

void SerialPort::putBackNow(RestoreOnExit& self)
{
    SerialPort& port = static_cast<SerialPort&>(self);
    tcflush(port.fd_, TCOFLUSH);
    port.putBack();
}

bool SerialPort::setModemLines(bool dtr, bool rts)
{
    int bits = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCMGET, &bits) != 0)
        return false;
    bits = (bits & ~(TIOCM_DTR | TIOCM_RTS)) | (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    return ioctl(fd_, TIOCMSET, &bits) == 0;
}
