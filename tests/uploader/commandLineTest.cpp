// The programUploader executable: command line, start-up failures, exit values.
#include "PicProgram.h"
#include "peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

const std::string PROGRAM = getenv("PROGRAM_UPLOADER") ? getenv("PROGRAM_UPLOADER") : "";

std::string usage(const std::string& port)
{
    return "\nProgram uploader for use with the V Oruzavuver.\n\nUsage:\n\t" + PROGRAM +
           " [-o] [-q] [-p port] [-s speed] filename\n\n"
           "-o\tIgnore an overlap between the new program and the bootloader.\n"
           "\tThe overlapping addresses cannot be written with a bootloader.\n"
           "-q\tQuery the bootloader for it's version and address space. Write\n"
           "\tnothing to program ROM.\n"
           "-p\tSpecify the serial port to use. The default is " + port + ".\n"
           "-s\tSpecify the speed for the serial port to use. The default\n"
           "\tis 19200bps.\n\n"
           "\tA filename with the hex file to upload must be specified.\n\n";
}

// Lines for a person as one line each: continuation lines joined on.
std::string unwrapped(std::string text)
{
    for (size_t at; (at = text.find("\n  ")) != std::string::npos;)
        text.replace(at, 3, " ");
    return text;
}

std::string readFile(const std::string& path)
{
    std::string text;
    if (FILE* file = fopen(path.c_str(), "r")) {
        for (int c; (c = fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        fclose(file);
    }
    return text;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/uploaderCliXXXXXX";
        dir = mkdtemp(pattern);
        PicProgram image;
        image.setData(0x10, 0x1234);
        good = save("good.hex", image);
        image.setData(0x1F10, 1);
        overlap = save("overlap.hex", image);
        bad = dir + "/bad.hex";
        FILE* file = fopen(bad.c_str(), "w");
        fputs(":0200000012349A\n:00000001FF\n", file);   // wrong checksum
        fclose(file);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0); }

    std::string save(const std::string& name, PicProgram& image)
    {
        std::string path = dir + "/" + name;
        FILE* file = fopen(path.c_str(), "w");
        image.writeHex(file);
        fclose(file);
        return path;
    }

    std::string dir, good, overlap, bad;
};

} // namespace

TEST_F(CommandLine, RunsThatCannotStart)
{
    const std::string rate = "Invalid or unsupported serial data rate specified.\n";
    const std::string noFile = "A filename must be specified.\n";
    const std::string longName = dir + "/" + std::string(240, 'n') + ".hex";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{}, usage("/dev/ttyS0")},
        {{"-x", "file.hex"}, usage("/dev/ttyS0")},
        {{"-S", "9600", "file.hex"}, usage("/dev/ttyS0")},
        {{"-"}, usage("/dev/ttyS0")},
        {{"-s", "115200", "file.hex"}, rate + usage("/dev/ttyS0")},
        {{"-s", "fast", "file.hex"}, rate + usage("/dev/ttyS0")},
        {{"-p", "/dev/ttyUSB0", "-z"}, usage("/dev/ttyUSB0")},
        {{"-p", "-s", "4800", "-z"}, usage("/dev/ttyS0")},
        {{"-o"}, noFile},
        {{""}, noFile},
        {{"missing.hex"}, "Could not open file missing.hex\n"},
        {{longName}, "Could not open file " + longName + "\n"},
        {{"-p", good, bad}, "Error reading from file " + bad + "\n"},
        {{"-p", "/nonexistent/tty", good}, "Could not open serial port /nonexistent/tty\n"},
        {{"-p", good, good}, "Could not open serial port " + good + "\n"},
    };
    const std::string goodBefore = readFile(good);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ProgramRun run = runProgram(c.args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err.rfind("PicProgram::readHex - ", 0) == 0, c.args.size() == 3 && c.args[2] == bad);
    }
    EXPECT_EQ(readFile(good), goodBefore);
}

TEST_F(CommandLine, ArgumentsReachTheUpload)
{
    struct Case {
        std::vector<std::string> args;   // "PTY" stands for the peer's port
        speed_t speed;
        int status;
        size_t frames;                   // after "hi", END_PROGRAMMING included
        bool overlapWarning;
        std::vector<std::string> replies;
    };
    const Case cases[] = {
        {{"-s", "9600bps", "-p", "PTY", good}, B9600, 1, 3, false, {}},
        {{"-s", "57600", "-p", "PTY", good}, B57600, 1, 3, false, {}},
        {{"-p", "-s", "4800", "-p", "PTY", "-q"}, B4800, 1, 1, false, {}},
        {{"-p", "-o", "PTY", overlap}, B19200, 1, 3, true, {}},
        {{"-p", "PTY", good, "-s"}, B19200, 1, 3, false, {}},
        {{"-p", "PTY", good, "-p"}, B19200, 1, 3, false, {}},
        {{"-p", "PTY", dir + "/missing.hex", good}, B19200, 1, 3, false, {}},
        {{"-oq", "-p", "PTY", overlap}, B19200, 1, 3, true, {}},
        {{"-quiet", "-p", "PTY"}, B19200, 1, 1, false, {}},
        {{"-q", "missing.hex", "-p", "PTY"}, B19200, 1, 1, false, {}},
        {{"-p", "PTY", overlap}, B19200, 0, 1, false, {}},
        {{"-p", "PTY", good}, B19200, 0, 2, false, {"!V\x10\x00>"s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        // Notes the line speed the uploader set (while it polls: it puts the
        // port's own settings back when it ends), greets, answers the frames.
        PeerProcess peer([&](Bootloader& b) {
            b.awaitPoll();
            b.note(std::to_string(b.lineSpeed()));
            b.greet();
            b.serve(c.replies);
        });
        std::vector<std::string> args = c.args;
        for (std::string& arg : args)
            if (arg == "PTY")
                arg = peer.port();
        ProgramRun run = runProgram(args);
        PeerLog log = peer.finish();
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(log.notes, std::to_string(c.speed));
        EXPECT_EQ(frames(afterHi(log.received)).size(), c.frames);
        EXPECT_EQ(run.out.find("WARNING: The program and the bootloader overlap.\n") != std::string::npos,
                  c.overlapWarning);
        EXPECT_EQ(run.out.find("\nProgramming complete\n") != std::string::npos, c.status == 1 && c.frames > 1);
    }
}

// The one run through the whole 30-second greeting window.
TEST_F(CommandLine, SilentBootloaderEndsAfterTheGreetingWindow)
{
    PeerProcess peer([](Bootloader& b) { b.awaitPoll(); });
    ProgramRun run = runProgram({"-q", "-p", peer.port()});
    PeerLog log = peer.finish();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\nWaiting for the bootloader's greeting . . ."
                       "\nERROR: Could not establish communication with the bootloader.\n");
    EXPECT_EQ(log.received.find_first_not_of('\r'), std::string::npos);
    // Polls are paced to the line: at most one a millisecond at 19200 bit/s.
    EXPECT_GT(log.received.size(), 100u);
    EXPECT_LT(log.received.size(), 31000u);
}

// --wait sets the greeting window, and the hint after the failure names it
// and the options, wrapped to 79 columns on a pipe with --explain.
TEST_F(CommandLine, WaitSetsTheGreetingWindowAndTheHintNamesIt)
{
    PeerProcess peer([](Bootloader& b) { b.awaitPoll(); });
    const auto begin = std::chrono::steady_clock::now();
    ProgramRun run = runProgram({"--explain", "-q", "--wait=1", "-s", "9600", "-p", peer.port()});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    peer.finish();
    EXPECT_EQ(run.status, 0);
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 10);
    // After the reset prompt, which --explain shows too.
    std::string err = run.err.substr(run.err.find("hint: "));
    for (size_t at; (at = err.find("\n      ")) != std::string::npos;)
        err.replace(at, 7, " ");
    EXPECT_EQ(err, "hint: No greeting came within 1 second: reset the board during the wait, or use --reset (--wait="
                   "SECONDS waits longer). Check that -s 9600 is the bootloader's speed and that " +
                       peer.port() + " is the board's port (--list-ports).\n");
    for (size_t at = 0, end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_LE(end - at, 79u) << run.err;
}

namespace {

// The port's settings as a user's `stty -a` would compare them.
std::string settingsOf(const std::string& port)
{
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    int exclusive = -1;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    std::string text = std::to_string(t.c_iflag) + " " + std::to_string(t.c_oflag) + " " +
                       std::to_string(t.c_cflag) + " " + std::to_string(t.c_lflag) + " " +
                       std::to_string(cfgetispeed(&t)) + " " + std::to_string(cfgetospeed(&t)) + " excl " +
                       std::to_string(exclusive) + " cc";
    for (cc_t c : t.c_cc)
        text += " " + std::to_string(c);
    return text;
}

// A terminal left cooked at another speed, as a user's shell leaves one.
void cook(const std::string& port)
{
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    cfsetispeed(&t, B2400);
    cfsetospeed(&t, B2400);
    t.c_iflag |= ICRNL | IXON;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
    t.c_cflag |= PARENB | HUPCL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 9;
    tcsetattr(fd, TCSANOW, &t);
    close(fd);
}

// Holds the port's lock from another process until destroyed.
struct LockHolder {
    pid_t pid = -1;
    explicit LockHolder(const std::string& port)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
            flock(fd, LOCK_EX);
            char c = 1;
            ssize_t n = write(ready[1], &c, 1);
            (void)n;
            pause();
            _exit(0);
        }
        char c;
        ssize_t n = read(ready[0], &c, 1);
        (void)n;
        close(ready[0]);
        close(ready[1]);
    }
    ~LockHolder()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

} // namespace

TEST_F(CommandLine, StartFailuresSayWhyOnStandardError)
{
    mkfifo((dir + "/fifo").c_str(), 0600);
    struct Case {
        std::vector<std::string> args;
        std::string out, err;   // err: its beginning
    };
    const std::string missingPort = "/nonexistent/tty";
    const Case cases[] = {
        {{"-p", missingPort, good}, "Could not open serial port " + missingPort + "\n", missingPort + " does not exist"},
        {{"-p", good, good}, "Could not open serial port " + good + "\n",
         good + " is not a serial device (not a terminal); nothing was written to it.\n"},
        {{dir}, "Could not open file " + dir + "\n", dir + " is a directory, not a hex file.\n"},
        {{"/dev/null"}, "Could not open file /dev/null\n", "/dev/null is a device, not a hex file.\n"},
        {{"missing.hex"}, "Could not open file missing.hex\n", "missing.hex: No such file or directory\n"},
        {{"/proc/self/mem"}, "Error reading from file /proc/self/mem\n",
         "PicProgram::readHex - read error: Input/output error\n"},
        {{"--reset=usb", good}, usage("/dev/ttyS0"), "invalid --reset value 'usb' (dtr, rts, both or none)\n"},
        {{"--reset-ms", "0", good}, usage("/dev/ttyS0"), "invalid --reset-ms value '0' (milliseconds, 1 to 10000)\n"},
        {{"--reset-ms=20000", good}, usage("/dev/ttyS0"), "invalid --reset-ms value '20000'"},
        {{"--list-ports=all"}, usage("/dev/ttyS0"), "option --list-ports takes no value\n"},
        {{"--monitor=14400", good}, usage("/dev/ttyS0"),
         "invalid --monitor speed '14400' (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)\n"},
        {{"--monitor=", good}, usage("/dev/ttyS0"), "invalid --monitor speed ''"},
        {{"--monitor=+9600", good}, usage("/dev/ttyS0"), "invalid --monitor speed '+9600'"},
        {{"--monitor-seconds", "0", good}, usage("/dev/ttyS0"),
         "invalid --monitor-seconds value '0' (whole seconds, 1 to 1000000)\n"},
        {{"--monitor-seconds=2s", good}, usage("/dev/ttyS0"), "invalid --monitor-seconds value '2s'"},
        {{"--wait", "0", good}, usage("/dev/ttyS0"), "invalid --wait value '0' (whole seconds, 1 to 3600)\n"},
        {{"--wait=3601", good}, usage("/dev/ttyS0"), "invalid --wait value '3601'"},
        {{"--retries", "101", good}, usage("/dev/ttyS0"), "invalid --retries value '101' (a whole number, 0 to 100)\n"},
        {{"--retries=-1", good}, usage("/dev/ttyS0"), "invalid --retries value '-1'"},
        {{"--trace=on", good}, usage("/dev/ttyS0"), "option --trace takes no value\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--explain");
        ProgramRun run = runProgram(args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, c.out);
        // One reason, wrapped at 79 columns off a terminal: compared unwrapped.
        const std::string err = unwrapped(run.err);
        EXPECT_EQ(err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(count(err, "\n"), 1) << run.err;
    }
    // On a terminal of 60 columns the port's reason wraps between words, one
    // column short; the path, wider than that, stands whole on its line.
    const std::string port = "/nonexistent/serial/by-id/usb-0403_6001-FT232R_USB_UART-if00-port0";
    std::string shown;
    EXPECT_EQ(runOnTerminal({PROGRAM, "-p", port, good}, 60, shown), 255);
    const std::string lead = "Could not open serial port " + port + "\n";
    ASSERT_EQ(shown.substr(0, lead.size()), lead) << shown;
    EXPECT_EQ(shown.substr(lead.size(), port.size() + 17), port + "\n  does not exist") << shown;
    for (size_t at = lead.size() + port.size() + 1, end; (end = shown.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_LE(end - at, 59u) << shown;
}

// A run on each way out leaves the port's settings, and its exclusive mode,
// as it found them.
TEST_F(CommandLine, PortIsLeftAsFound)
{
    const std::string WAITING = "\nWaiting for the bootloader's greeting . . .";
    const std::string INTERRUPTED =
        WAITING + "\nERROR: Interrupted while waiting for the bootloader's greeting; nothing was written.\n";
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        bool locked;
        int signal;
        int status;
        std::string out;   // "" when not checked here
    };
    const Case cases[] = {
        {"success", {}, false, 0, 1, ""},
        {"failed upload", {"!V\x10\x00>"s}, false, 0, 0, ""},
        {"locked by another process", {}, true, 0, 255, ""},
        {"SIGINT in the greeting wait", {}, false, SIGINT, 0, INTERRUPTED},
        {"SIGTERM in the greeting wait", {}, false, SIGTERM, 0, INTERRUPTED},
        {"SIGHUP in the greeting wait", {}, false, SIGHUP, 0, INTERRUPTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeerProcess peer([&](Bootloader& b) {
            if (c.signal) {
                b.awaitPoll();
                return;
            }
            b.greet();
            b.serve(c.replies);
        });
        cook(peer.port());
        const std::string before = settingsOf(peer.port());
        ProgramRun run;
        std::string holder;
        {
            std::unique_ptr<LockHolder> lock(c.locked ? new LockHolder(peer.port()) : nullptr);
            // Late enough for the handlers, which are set just before the port is
            // opened, even under the sanitizers.
            run = runProgram({"--explain", "-p", peer.port(), good}, c.signal, 600);
            if (lock)
                holder = std::to_string(lock->pid);
        }
        EXPECT_EQ(settingsOf(peer.port()), before);
        PeerLog log = peer.finish();
        EXPECT_EQ(run.status, c.status);
        if (!c.out.empty()) {
            EXPECT_EQ(run.out, c.out);
        }
        if (c.signal) {
            EXPECT_EQ(log.received.find_first_not_of('\r'), std::string::npos);
        }
        if (c.locked) {
            // The test itself holds the port open too.  Compared unwrapped.
            const std::string err = unwrapped(run.err);
            EXPECT_EQ(err.rfind(peer.port() + " is in use: another process holds it: ", 0), 0u) << run.err;
            EXPECT_NE(err.find("uploaderTests (PID " + holder + ")"), std::string::npos) << run.err;
            EXPECT_NE(err.find(". Close that program and try again.\n"), std::string::npos) << run.err;
        }
    }
}

TEST_F(CommandLine, ResetPromptWarningAndFifo)
{
    // A query, which shows no forecast, names the port and speed.  (Lines
    // are compared unwrapped.)
    const std::string prompt = "Reset the board now: its bootloader is awaited on PTY at 19200 bit/s for 30 seconds.\r\n";
    struct Case {
        std::vector<std::string> args;   // "PTY" stands for the peer's port
        bool stderrTerminal;
        std::string err;
    };
    const Case cases[] = {
        {{"-q", "-p", "PTY"}, true, prompt},
        {{"-q", "--reset=none", "-p", "PTY"}, true, prompt},
        {{"-q", "--wait", "1", "-p", "PTY"}, true,
         "Reset the board now: its bootloader is awaited on PTY at 19200 bit/s for 1 second.\r\n"},
        {{"-q", "-p", "PTY"}, false, ""},
        {{"-q", "--reset", "-p", "PTY"}, false,
         "warning: PTY has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.\n"},
        {{"--reset-ms", "250", "--reset=both", "-p", "PTY", "FIFO"}, false,
         "warning: PTY has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.\n"},
    };
    const std::string fifo = dir + "/program.fifo";
    mkfifo(fifo.c_str(), 0600);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + (c.stderrTerminal ? " on a terminal" : ""));
        PeerProcess peer([](Bootloader& b) {
            b.greet();
            b.serve();
        });
        std::vector<std::string> args = c.args;
        bool fed = false;
        for (std::string& arg : args) {
            fed = fed || arg == "FIFO";
            arg = arg == "PTY" ? peer.port() : arg == "FIFO" ? fifo : arg;
        }
        // A writer that comes late, as a compiler feeding the pipe would.
        pid_t writer = -1;
        if (fed) {
            writer = fork();
            if (writer == 0) {
                poll(nullptr, 0, 500);
                int fd = open(fifo.c_str(), O_WRONLY);
                std::string text = readFile(good);
                ssize_t n = write(fd, text.data(), text.size());
                _exit(n == static_cast<ssize_t>(text.size()) ? 0 : 1);
            }
        }
        int master = -1, slave = -1;
        if (c.stderrTerminal)
            openpty(&master, &slave, nullptr, nullptr, nullptr);
        ProgramRun run = runProgram(args, 0, 0, slave);
        PeerLog log = peer.finish();
        std::string err = run.err;
        if (c.stderrTerminal) {
            close(slave);
            char buffer[512];
            ssize_t n = read(master, buffer, sizeof buffer);
            err = std::string(buffer, n > 0 ? n : 0);
            close(master);
            for (size_t at; (at = err.find("\r\n  ")) != std::string::npos;)
                err.replace(at, 4, " ");
        }
        if (writer > 0)
            waitpid(writer, nullptr, 0);
        size_t at = c.err.find("PTY");
        EXPECT_EQ(err, at == std::string::npos ? c.err : c.err.substr(0, at) + peer.port() + c.err.substr(at + 3));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(frames(afterHi(log.received)).size(), fed ? 3u : 1u);
    }
}
