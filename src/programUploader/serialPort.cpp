#include "serialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

void SerialPort::reset(int fd)
{
    if (fd_ >= 0)
        close(fd_);
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

int openSerialPort(const std::string& portName, speed_t lineSpeed)
{
    // O_NONBLOCK keeps open() from waiting for carrier on a modem line.
    SerialPort port(open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!port)
        return -1;

    // A file that is not a terminal (a hex file named by mistake) must never
    // be written: the greeting polls would overwrite it.
    termios settings;
    if (tcgetattr(port.get(), &settings) != 0)
        return -1;
    // Two uploaders on one line would interleave their frames.
    if (flock(port.get(), LOCK_EX | LOCK_NB) != 0)
        return -1;

    fcntl(port.get(), F_SETFL, 0);

    // Exactly these changes; everything else (VMIN and VTIME included) stays
    // as the device had it.  The link never relies on VMIN/VTIME: it waits
    // with poll() and reads only what has arrived.
    cfsetispeed(&settings, lineSpeed);
    cfsetospeed(&settings, lineSpeed);
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~(INLCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    settings.c_oflag &= ~OPOST;
    tcsetattr(port.get(), TCSANOW, &settings);

    // Every block waits for its acknowledgement, so a USB adapter's 16 ms
    // latency timer would otherwise dominate the upload time.  Plain UARTs
    // and pseudo-terminals refuse; that is fine.
    requestLowLatency(port.get());

    return port.release();
}
