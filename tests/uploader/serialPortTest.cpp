// Opening and configuring the port, read back from the device itself.
#include "bootloaderLink.h"
#include "serialPort.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A serial driver with a low-latency mode, standing in for a USB adapter:
// pseudo-terminals have none.
bool fakeSerialDriver = false;
int fakeSerialFlags = ASYNC_SPD_HI;

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty()
    {
        char buffer[256];
        openpty(&master, &slave, buffer, nullptr, nullptr);
        name = buffer;
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
};

std::string readAll(int fd, size_t n)
{
    std::string bytes(n, '\0');
    size_t done = 0;
    while (done < n) {
        ssize_t got = read(fd, &bytes[done], n - done);
        if (got <= 0)
            break;
        done += got;
    }
    return bytes.substr(0, done);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (fakeSerialDriver && request == TIOCGSERIAL) {
        static_cast<serial_struct*>(argument)->flags = fakeSerialFlags;
        return 0;
    }
    if (fakeSerialDriver && request == TIOCSSERIAL) {
        fakeSerialFlags = static_cast<serial_struct*>(argument)->flags;
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, ...);
    static Ioctl real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}

TEST(SerialPort, SettingsReadBackFromTheDevice)
{
    Pty pty;
    termios before;
    tcgetattr(pty.slave, &before);
    before.c_iflag |= ISTRIP | IGNCR | IXON | ICRNL;
    before.c_lflag |= ECHOK | ICANON | ISIG;
    before.c_oflag |= OPOST;
    before.c_cflag |= CSTOPB | PARENB | HUPCL;
    before.c_cc[VMIN] = 3;
    before.c_cc[VTIME] = 7;
    tcsetattr(pty.slave, TCSANOW, &before);

    SerialPort port(openSerialPort(pty.name, B4800));
    ASSERT_TRUE(port);
    termios after;
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(cfgetispeed(&after), B4800);
    EXPECT_EQ(cfgetospeed(&after), B4800);
    EXPECT_EQ(after.c_cflag & (CSIZE | CREAD | CLOCAL), static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(after.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY | INLCR | ICRNL), 0u);
    EXPECT_EQ(after.c_lflag & (ISIG | ICANON | ECHO | ECHOE), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    // What the setup does not name stays as the device had it.
    EXPECT_EQ(after.c_iflag & (ISTRIP | IGNCR), static_cast<tcflag_t>(ISTRIP | IGNCR));
    EXPECT_TRUE(after.c_lflag & ECHOK);
    EXPECT_TRUE(after.c_cflag & HUPCL);
    EXPECT_EQ(after.c_cc[VMIN], 3);
    EXPECT_EQ(after.c_cc[VTIME], 7);
    EXPECT_EQ(fcntl(port.get(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(SerialPort, BytesPassUnchangedBothWays)
{
    Pty pty;
    SerialPort port(openSerialPort(pty.name, B19200));
    ASSERT_TRUE(port);
    ASSERT_EQ(write(pty.master, "\x0D\x0A\x11\x13\x03\x0D", 6), 6);
    EXPECT_EQ(readWord(port.get()), 0x0A0D);
    EXPECT_EQ(readWord(port.get()), 0x1311);
    EXPECT_EQ(readWord(port.get()), 0x0D03);
    const unsigned char command[] = {0x0D, 0x11, 0x13};
    sendCommand(port.get(), command, 3);
    EXPECT_EQ(readAll(pty.master, 4), std::string("\x0D\x11\x13\xCF"));
}

TEST(SerialPort, RefusesFilesLockedPortsAndTakesLongNames)
{
    char path[] = "/tmp/uploaderPortXXXXXX";
    int file = mkstemp(path);
    ASSERT_EQ(write(file, ":00000001FF\n", 12), 12);
    close(file);
    EXPECT_EQ(openSerialPort(path, B19200), -1);
    int check = open(path, O_RDONLY);
    EXPECT_EQ(readAll(check, 100), ":00000001FF\n");
    close(check);
    unlink(path);
    EXPECT_EQ(openSerialPort("/nonexistent/tty", B19200), -1);

    Pty pty;
    {
        int holder = open(pty.name.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        EXPECT_EQ(openSerialPort(pty.name, B19200), -1);
        close(holder);
    }
    {
        SerialPort port(openSerialPort(pty.name, B19200));
        ASSERT_TRUE(port);
        int other = open(pty.name.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    }

    std::string link = "/tmp/" + std::string(200, 'p') + std::to_string(getpid());
    ASSERT_EQ(symlink(pty.name.c_str(), link.c_str()), 0);
    SerialPort port(openSerialPort(link, B19200));
    EXPECT_TRUE(port);
    unlink(link.c_str());
}

TEST(SerialPort, AsksForLowLatencyAndTakesARefusalSilently)
{
    Pty pty;
    fakeSerialDriver = true;
    SerialPort fake(openSerialPort(pty.name, B19200));
    fakeSerialDriver = false;
    ASSERT_TRUE(fake);
    EXPECT_EQ(fakeSerialFlags, ASYNC_SPD_HI | ASYNC_LOW_LATENCY);
    fake.reset();

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(requestLowLatency(pty.slave));
    SerialPort port(openSerialPort(pty.name, B19200));
    EXPECT_TRUE(port);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
