// Opening and configuring the port, read back from the device itself.
#include "boardReset.h"
#include "linkFaces.h"
#include "hexInput.h"
#include "portDiagnosis.h"
#include "portList.h"
#include "interrupt.h"
#include "restoreOnExit.h"
#include "serialLine.h"
#include "serialPort.h"
#include "tempFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A serial driver with a low-latency mode, standing in for a USB adapter:
// pseudo-terminals have none.
bool fakeSerialDriver = false;
int fakeSerialFlags = ASYNC_SPD_HI;

// Modem lines, which a pseudo-terminal lacks too: both start asserted, as
// opening a port leaves them, and each change is recorded with its time.
struct LineChange {
    int bits;
    std::chrono::steady_clock::time_point at;
};
bool fakeModemLines = false;
std::vector<LineChange> lineChanges;

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
    if (fakeModemLines && request == TIOCMGET) {
        *static_cast<int*>(argument) = TIOCM_CTS | (lineChanges.empty() ? TIOCM_DTR | TIOCM_RTS : lineChanges.back().bits);
        return 0;
    }
    if (fakeModemLines && request == TIOCMSET) {
        lineChanges.push_back({*static_cast<int*>(argument), std::chrono::steady_clock::now()});
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

    SerialPort port(pty.name, 4800);
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
    SerialPort port(pty.name, 19200);
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
    const std::string path = tempDir() + "/file";
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_EQ(write(file, ":00000001FF\n", 12), 12);
    close(file);
    EXPECT_EQ(openSerialPort(path, B19200), -1);
    int check = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(readAll(check, 100), ":00000001FF\n");
    close(check);
    EXPECT_EQ(openSerialPort("/nonexistent/tty", B19200), -1);

    Pty pty;
    {
        int holder = open(pty.name.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        EXPECT_EQ(openSerialPort(pty.name, B19200), -1);
        close(holder);
    }
    {
        SerialPort port(pty.name, 19200);
        ASSERT_TRUE(port);
        int other = open(pty.name.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    }

    std::string link = tempDir() + "/" + std::string(200, 'p');
    ASSERT_EQ(symlink(pty.name.c_str(), link.c_str()), 0);
    SerialPort port(link, 19200);
    EXPECT_TRUE(port);
    unlink(link.c_str());
}

TEST(SerialPort, AsksForLowLatencyAndTakesARefusalSilently)
{
    Pty pty;
    fakeSerialDriver = true;
    SerialPort fake(pty.name, 19200);
    fakeSerialDriver = false;
    ASSERT_TRUE(fake);
    EXPECT_EQ(fakeSerialFlags, ASYNC_SPD_HI | ASYNC_LOW_LATENCY);
    fake.close();

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(requestLowLatency(pty.slave));
    SerialPort port(pty.name, 19200);
    EXPECT_TRUE(port);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(SerialPort, RestoresWhatItFoundAndHoldsThePortExclusively)
{
    Pty pty;
    termios before{};
    tcgetattr(pty.slave, &before);
    cfsetospeed(&before, B2400);
    before.c_lflag |= ICANON | ECHO;
    before.c_cc[VTIME] = 7;
    tcsetattr(pty.slave, TCSANOW, &before);
    tcgetattr(pty.slave, &before);

    fakeSerialDriver = true;
    SerialPort port(pty.name, 57600);
    fakeSerialDriver = false;
    ASSERT_TRUE(port);
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_EQ(fakeSerialFlags, ASYNC_SPD_HI | ASYNC_LOW_LATENCY);

    fakeSerialDriver = true;
    port.close();
    fakeSerialDriver = false;
    termios after{};
    tcgetattr(pty.slave, &after);
    EXPECT_EQ(memcmp(&after, &before, sizeof before), 0);
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(fakeSerialFlags, ASYNC_SPD_HI);
}

TEST(SerialPort, RefusalsSayWhy)
{
    Pty pty;
    const std::string path = tempDir() + "/file";
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    struct Case {
        std::string port;
        PortOpenError error;       // what openSerialPort reports; kind None: made up here
        PortOpenError made;
        std::string reason;
    };
    const Case cases[] = {
        {"/nonexistent/tty", {PortOpenError::Open, ENOENT}, {}, "/nonexistent/tty does not exist"},
        {path, {PortOpenError::NotTerminal, ENOTTY}, {},
         std::string(path) + " is not a serial device (not a terminal); nothing was written to it.\n"},
        {"/dev/null", {}, {PortOpenError::Open, EACCES},
         "Permission denied: /dev/null belongs to group root, and the user must be in it: "
         "sudo usermod -aG root $USER, then log in again.\n"},
        {pty.name, {}, {PortOpenError::Open, EIO}, pty.name + ": Input/output error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        PortOpenError error = c.made;
        if (c.error.kind != PortOpenError::None) {
            EXPECT_EQ(openSerialPort(c.port, B19200, &error), -1);
            EXPECT_EQ(error.kind, c.error.kind);
            EXPECT_EQ(error.error, c.error.error);
        }
        std::string reason = portFailureReason(c.port, error);
        EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason);
        EXPECT_EQ(reason.back(), '\n');
    }
    unlink(path.c_str());
}

// Wrapped between words as the other notes, at the width asked; a path
// wider than a line stays whole.
TEST(SerialPort, RefusalsWrapBetweenWords)
{
    const PortOpenError inUse{PortOpenError::Locked, EBUSY};
    struct Case {
        std::string port;
        int width;
        std::string reason;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", 0,
         "/dev/ttyUSB0 is in use: another process holds it. Close that program (a terminal program, or a modem "
         "manager probing the adapter) and try again.\n"},
        {"/dev/ttyUSB0", 59,
         "/dev/ttyUSB0 is in use: another process holds it. Close\n"
         "  that program (a terminal program, or a modem manager\n"
         "  probing the adapter) and try again.\n"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 40,
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
         "  is in use: another process holds it.\n"
         "  Close that program (a terminal\n"
         "  program, or a modem manager probing\n"
         "  the adapter) and try again.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(portFailureReason(c.port, inUse, c.width), c.reason);
    }
}

// DTR and RTS through the ioctl seam, on the real clock: released,
// asserted for the time asked, released, in that order and with those
// pauses; the line the reset does not name stays asserted.
TEST(BoardReset, PulsesTheNamedLinesOfThePort)
{
    Pty pty;
    SerialPort port(pty.name, 19200);
    ASSERT_TRUE(port);
    struct Case {
        ResetLines lines;
        int released;   // the bits while released; asserted: DTR and RTS
        int assertMs;
    };
    const Case cases[] = {
        {ResetLines::Dtr, TIOCM_RTS, RESET_DEFAULT_MS},
        {ResetLines::Rts, TIOCM_DTR, 20},
        {ResetLines::Both, 0, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assertMs);
        lineChanges.clear();
        fakeModemLines = true;
        EXPECT_EQ(resetBoard(port, c.lines, c.assertMs), ResetOutcome::Done);
        fakeModemLines = false;
        ASSERT_EQ(lineChanges.size(), 3u);
        const int order[] = {c.released, TIOCM_DTR | TIOCM_RTS, c.released};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(lineChanges[i].bits, TIOCM_CTS | order[i]) << i;
        using std::chrono::milliseconds;
        auto released = lineChanges[1].at - lineChanges[0].at;
        auto asserted = lineChanges[2].at - lineChanges[1].at;
        EXPECT_GE(released, milliseconds(RESET_RELEASE_MS));
        EXPECT_LT(released, milliseconds(RESET_RELEASE_MS + 250));   // generous: a loaded machine
        EXPECT_GE(asserted, milliseconds(c.assertMs));
        EXPECT_LT(asserted, milliseconds(c.assertMs + 250));
    }
    // A pseudo-terminal has no modem lines: nothing changes, and the caller
    // hears of it.
    lineChanges.clear();
    EXPECT_FALSE(port.setModemLines(false, false));
    EXPECT_EQ(resetBoard(port, ResetLines::Dtr, 10), ResetOutcome::NoModemLines);
    EXPECT_EQ(resetBoard(port, ResetLines::None, 10), ResetOutcome::Done);
    EXPECT_TRUE(lineChanges.empty());
}

namespace {

void makeFile(const std::string& path, const std::string& text = "")
{
    EXPECT_EQ(system(("mkdir -p " + path.substr(0, path.rfind('/'))).c_str()), 0);
    FILE* f = fopen(path.c_str(), "w");
    fputs(text.c_str(), f);
    fclose(f);
}

} // namespace

// A sysfs and /dev tree of its own: a USB adapter with a by-id name, a CDC
// modem, a real and an absent 8250 UART, and a virtual terminal.
TEST(PortList, ListsRealPortsWithWhatTheKernelKnows)
{
    const std::string root = tempDir();
    const std::string sys = root + "/sys", dev = root + "/dev";
    const std::string usb = sys + "/devices/pci0000:00/usb1/1-2";
    makeFile(usb + "/idVendor", "0403\n");
    makeFile(usb + "/idProduct", "6001\n");
    makeFile(usb + "/manufacturer", "FTDI\n");
    makeFile(usb + "/product", "FT232R USB UART\n");
    makeFile(usb + "/serial", "A50285BI\n");
    makeFile(usb + "/1-2:1.0/ttyUSB0/uevent");
    const std::string acm = sys + "/devices/pci0000:00/usb1/1-3";
    makeFile(acm + "/idVendor", "2341\n");
    makeFile(acm + "/idProduct", "0043\n");
    makeFile(acm + "/1-3:1.0/tty/ttyACM0/uevent");
    makeFile(sys + "/devices/platform/serial8250/uevent");
    makeFile(sys + "/devices/pnp0/00:01/uevent");
    struct Tty {
        std::string name, device, type;
    };
    const Tty ttys[] = {
        {"ttyUSB0", usb + "/1-2:1.0/ttyUSB0", ""},
        {"ttyACM0", acm + "/1-3:1.0", ""},
        {"ttyS0", sys + "/devices/pnp0/00:01", "4"},
        {"ttyS1", sys + "/devices/platform/serial8250", "0"},
        {"ttyS10", sys + "/devices/pnp0/00:01", "4"},
        {"ttyS2", sys + "/devices/pnp0/00:01", "4"},
        {"tty1", "", ""},
    };
    for (const Tty& t : ttys) {
        const std::string dir = sys + "/class/tty/" + t.name;
        makeFile(dir + "/dev", "4:64\n");
        if (!t.device.empty()) {
            EXPECT_EQ(symlink(t.device.c_str(), (dir + "/device").c_str()), 0);
        }
        if (!t.type.empty())
            makeFile(dir + "/type", t.type + "\n");
        makeFile(dev + "/" + t.name);
    }
    makeFile(dev + "/serial/by-id/.keep");
    const std::string byId = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    EXPECT_EQ(symlink("../../ttyUSB0", byId.c_str()), 0);

    std::vector<std::string> lines;
    for (const SerialPortInfo& port : listSerialPorts(sys, dev))
        lines.push_back(describePort(port));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         dev + "/ttyACM0  2341:0043",
                         dev + "/ttyS0",
                         dev + "/ttyS2",
                         dev + "/ttyS10",
                         dev + "/ttyUSB0  " + byId + "  0403:6001  FTDI FT232R USB UART  serial A50285BI",
                     }));
    EXPECT_TRUE(listSerialPorts(root + "/none", dev).empty());
    EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}

TEST(HexInput, FifoWithoutAWriterIsRefusedInTime)
{
    const std::string dir = tempDir();
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string why;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(openHexFile(fifo, why, 200));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(why, fifo + " is a named pipe that no program wrote to within 0.2 seconds.\n");

    // A writer that holds the pipe open but has written nothing yet is
    // waited for as long as it takes.
    int writer = open(fifo.c_str(), O_RDWR);
    OwnedFile file = openHexFile(fifo, why, 200);
    ASSERT_TRUE(file);
    ASSERT_EQ(write(writer, ":00000001FF\n", 12), 12);
    close(writer);
    char line[32] = {};
    EXPECT_TRUE(fgets(line, sizeof line, file.get()));
    EXPECT_STREQ(line, ":00000001FF\n");
    unlink(fifo.c_str());
    rmdir(dir.c_str());
}

// The second of two ending signals (a second SIGINT, or another of them)
// restores every open port from the handler, however many there are, and
// ends the process by that signal, wherever the run was.  A port closed
// before, and a bare descriptor from openSerialPort, are left alone.
TEST(Interrupt, SecondSignalRestoresEveryPortAndEndsAtOnce)
{
    constexpr int PORTS = 9;
    std::vector<std::unique_ptr<Pty>> ptys;
    std::vector<termios> before(PORTS + 1);
    for (int i = 0; i <= PORTS; ++i) {
        ptys.push_back(std::make_unique<Pty>());
        tcgetattr(ptys[i]->slave, &before[i]);
    }
    Pty& closed = *ptys[PORTS];
    Pty bare;
    for (int second : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(second);
        pid_t child = fork();
        if (child == 0) {
            interruptWaitsOnSignals();
            onSecondInterrupt(restoreAllNow);
            {
                SerialPort gone(closed.name, 9600);
            }
            termios changed = before[PORTS];
            cfsetospeed(&changed, B1200);
            tcsetattr(closed.slave, TCSANOW, &changed);
            openSerialPort(bare.name, B4800);   // nothing restores a bare descriptor
            std::vector<std::unique_ptr<SerialPort>> ports;
            for (int i = 0; i < PORTS; ++i)
                ports.push_back(std::make_unique<SerialPort>(ptys[i]->name, B57600));
            SerialPort& line = *ports[PORTS / 2];
            kill(getpid(), SIGINT);
            int byte = 0;
            if (line.pauseUntil(line.after(std::chrono::seconds(10))) != LineResult::Interrupted)
                _exit(2);
            if (line.readByte(byte, NO_DEADLINE) != LineResult::Interrupted || interruptSignal() != SIGINT)
                _exit(3);
            kill(getpid(), second);   // held back until the run takes note
            interruptTaken();
            _exit(4);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), second);
        for (int i = 0; i < PORTS; ++i) {
            SCOPED_TRACE(i);
            termios after{};
            tcgetattr(ptys[i]->slave, &after);
            EXPECT_EQ(memcmp(&after, &before[i], sizeof after), 0);
            int exclusive = 1;
            ASSERT_EQ(ioctl(ptys[i]->slave, TIOCGEXCL, &exclusive), 0);
            EXPECT_EQ(exclusive, 0);
        }
        termios after{};
        tcgetattr(closed.slave, &after);
        EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B1200));
        tcgetattr(bare.slave, &after);
        EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B4800));
    }
}
