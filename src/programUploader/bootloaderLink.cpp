#include "bootloaderLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cctype>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

int errorAddress = 0;
LinkWindows linkWindows;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr Clock::time_point NO_DEADLINE = Clock::time_point::max();

constexpr int FRAME_MAX = 9;               // longest command before its checksum
constexpr int GREETING_BUFFER = 64;        // the greeting read takes up to this
constexpr int FIRST_YEAR = 2003;           // supported revision years
constexpr int LAST_YEAR = 2006;
constexpr int EEPROM_MODE_FROM = 0x2100;      // block starts above 0x20FF are EEPROM blocks
constexpr int EEPROM_BASE = 0x2100;
constexpr int PROGRAM_MASK = 0x3FFF;
constexpr int EEPROM_MASK = 0xFF;

// The greeting may reach the port in pieces: a USB adapter hands bytes over
// when its latency timer (up to 16 ms) expires.
constexpr microseconds MIN_POLL_PACE = milliseconds(1);
constexpr microseconds MIN_QUIET = milliseconds(20);
constexpr microseconds MAX_GREETING_GATHER = milliseconds(200);

// Results of the waits below, besides a byte value 0-255.
constexpr int LINE_TIMEOUT = -1;
constexpr int LINE_HUNGUP = -2;

enum class Wait { Ready, Timeout, HungUp };

// Sets O_NONBLOCK for its lifetime and restores the flags it found.
class NonBlocking {
public:
    explicit NonBlocking(int fd) : fd_(fd), flags_(fcntl(fd, F_GETFL))
    {
        // Inside an outer guard (every read of a response or the greeting)
        // the port is non-blocking already: nothing to change or restore.
        changed_ = flags_ >= 0 && !(flags_ & O_NONBLOCK);
        if (changed_)
            fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
    }
    ~NonBlocking()
    {
        if (changed_)
            fcntl(fd_, F_SETFL, flags_);
    }
    NonBlocking(const NonBlocking&) = delete;
    NonBlocking& operator=(const NonBlocking&) = delete;

private:
    int fd_;
    int flags_;
    bool changed_;
};

Clock::time_point after(int ms)
{
    return Clock::now() + milliseconds(ms);
}

// What is left until the deadline, for ppoll: microsecond resolution, since
// the quiet wait after the greeting and the poll pace are only a few
// character times long and whole milliseconds would stretch them.
timespec pollTimeout(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    if (left < 0)
        left = 0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(left / 1000000000);
    ts.tv_nsec = static_cast<long>(left % 1000000000);
    return ts;
}

// Sleeps in ppoll() until the port can be read (or written) or the deadline
// passes.  A pulled USB adapter shows as POLLHUP/POLLERR, never as "no data".
Wait waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        timespec timeout{};
        if (deadline != NO_DEADLINE)
            timeout = pollTimeout(deadline);
        int n = ppoll(&p, 1, deadline == NO_DEADLINE ? nullptr : &timeout, nullptr);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Wait::HungUp;
        if (n == 0) {
            if (Clock::now() >= deadline)
                return Wait::Timeout;
            continue;
        }
        if (p.revents & events)
            return Wait::Ready;
        return Wait::HungUp;
    }
}

// Reads what has arrived, without waiting: bytes read, 0 when nothing is
// there, LINE_HUNGUP when the line has gone (read gives 0 or EIO).
int readAvailable(int fd, unsigned char* buffer, int size)
{
    NonBlocking nonBlocking(fd);
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n > 0)
            return static_cast<int>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return LINE_HUNGUP;
    }
}

// One byte 0-255, LINE_TIMEOUT or LINE_HUNGUP.
int readByte(int fd, Clock::time_point deadline)
{
    for (;;) {
        Wait w = waitFor(fd, POLLIN, deadline);
        if (w == Wait::Timeout)
            return LINE_TIMEOUT;
        if (w == Wait::HungUp)
            return LINE_HUNGUP;
        unsigned char byte;
        int n = readAvailable(fd, &byte, 1);
        if (n == 1)
            return byte;
        if (n == LINE_HUNGUP)
            return LINE_HUNGUP;
    }
}

// One word 0-0xFFFF, low byte first, LINE_TIMEOUT or LINE_HUNGUP.
int readWordBefore(int fd, Clock::time_point deadline)
{
    int low = readByte(fd, deadline);
    if (low < 0)
        return low;
    int high = readByte(fd, deadline);
    if (high < 0)
        return high;
    return low + 256 * high;
}

// Writes all bytes, waiting for room while the line drains; false when the
// line hangs up or the deadline passes first.
bool writeAll(int fd, const unsigned char* data, int size, Clock::time_point deadline)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (waitFor(fd, POLLOUT, deadline) != Wait::Ready)
            return false;
    }
    return true;
}

// Time one character (10 bits) takes on the line; a pseudo-terminal reports
// the speed the port was configured with.
microseconds characterTime(int fd)
{
    static constexpr struct { speed_t speed; long bitsPerSecond; } rates[] = {
        {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
    };
    termios settings;
    long bitsPerSecond = 19200;
    if (tcgetattr(fd, &settings) == 0) {
        speed_t speed = cfgetospeed(&settings);
        for (const auto& rate : rates)
            if (rate.speed == speed)
                bitsPerSecond = rate.bitsPerSecond;
    }
    return microseconds(10 * 1000000L / bitsPerSecond);
}

// Gathers one answer to the polls: everything that arrives until the line
// has been quiet for `quiet`, at most MAX_GREETING_GATHER in all.  Answers
// the number of bytes (the first GREETING_BUFFER kept), or LINE_HUNGUP.
int gatherGreeting(int fd, unsigned char* buffer, microseconds quiet)
{
    const Clock::time_point end = Clock::now() + MAX_GREETING_GATHER;
    int total = 0;
    for (;;) {
        unsigned char overflow[GREETING_BUFFER];
        unsigned char* into = total < GREETING_BUFFER ? buffer + total : overflow;
        int room = total < GREETING_BUFFER ? GREETING_BUFFER - total : GREETING_BUFFER;
        int n = readAvailable(fd, into, room);
        if (n == LINE_HUNGUP)
            return LINE_HUNGUP;
        total += n;
        Wait w = waitFor(fd, POLLIN, std::min(Clock::now() + quiet, end));
        if (w == Wait::HungUp)
            return LINE_HUNGUP;
        if (w == Wait::Timeout)
            return total;
    }
}

bool isGreeting(const unsigned char* bytes, int count)
{
    return count == GREETING_LENGTH && bytes[0] == GREETING_ID && bytes[1] == GREETING_ID;
}

} // namespace

void sendCommand(int fd, const unsigned char* command, int count)
{
    unsigned char sum = 0;
    for (int i = 0; i < count; ++i) {
        sum = static_cast<unsigned char>(sum + command[i]);
        [[maybe_unused]] ssize_t n = write(fd, &command[i], 1);
    }
    unsigned char checksum = static_cast<unsigned char>(0 - sum);
    [[maybe_unused]] ssize_t n = write(fd, &checksum, 1);
}

void loadWord(int value, unsigned char* bytes)
{
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

int readWord(int fd)
{
    int word = readWordBefore(fd, NO_DEADLINE);
    return word < 0 ? -1 : word;
}

void endProgramming(int fd)
{
    const unsigned char frame[] = {END_PROGRAMMING};
    sendCommand(fd, frame, 1);
}

void dataDump(const unsigned char* data, int count, int perLine, int /*unused*/)
{
    for (int i = 0; i < count; ++i) {
        if (i != 0 && i % perLine == 0) {
            printf("\n");
            for (int j = 0; j < perLine; ++j)
                printf(" ");
        }
        printf(" %02X", data[i]);
    }
    printf("\n");
}

int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper)
{
    year = 0;
    NonBlocking nonBlocking(fd);
    const Clock::time_point windowEnd = after(linkWindows.greetingMs);
    const microseconds charTime = characterTime(fd);
    // One poll per character the line can carry, so no backlog of carriage
    // returns forms in front of the "hi" reply.
    const microseconds pace = std::max(MIN_POLL_PACE, charTime);
    const microseconds quiet = std::max(MIN_QUIET, 2 * charTime);
    const unsigned char poll = POLL;

    do {
        [[maybe_unused]] ssize_t n = write(fd, &poll, 1);
        Wait w = waitFor(fd, POLLIN, std::min(Clock::now() + pace, windowEnd));
        if (w == Wait::HungUp)
            break;
        if (w == Wait::Timeout)
            continue;

        unsigned char greeting[GREETING_BUFFER];
        int count = gatherGreeting(fd, greeting, quiet);
        if (count == LINE_HUNGUP)
            break;
        if (!isGreeting(greeting, count))
            continue;

        year = greeting[2] + 256 * greeting[3];
        day = greeting[4];
        month = greeting[5];

        // Carriage returns still queued would reach the bootloader before
        // "hi" and could be taken as a new poll.
        tcflush(fd, TCOFLUSH);
        static const unsigned char reply[] = {'h', 'i'};
        if (!writeAll(fd, reply, sizeof reply, windowEnd))
            break;

        int word = readWordBefore(fd, std::min(after(linkWindows.identificationMs), windowEnd));
        if (word == LINE_HUNGUP)
            break;
        if (word >= 0) {
            lower = word;
            word = readWordBefore(fd, std::min(after(linkWindows.identificationMs), windowEnd));
            if (word == LINE_HUNGUP)
                break;
        }
        if (word >= 0) {
            upper = word;
            int ready = readByte(fd, std::min(after(linkWindows.identificationMs), windowEnd));
            if (ready == LINE_HUNGUP)
                break;
            if (ready == READY)
                return (year >= FIRST_YEAR && year <= LAST_YEAR) ? 1 : 2;
        }
        // A wrong ready byte or a bootloader gone silent drops this
        // identification; the polls go on in what is left of the window.
        year = 0;
    } while (Clock::now() < windowEnd);

    year = 0;
    return 0;
}

int getResponse(PicProgram* image, int fd)
{
    int status = STATUS_OK;
    NonBlocking nonBlocking(fd);
    // One window for the whole response: reports do not renew it.
    const Clock::time_point deadline = after(linkWindows.responseMs);

    for (;;) {
        int byte = readByte(fd, deadline);
        if (byte < 0)
            return STATUS_TIMEOUT;

        if (byte == READY)
            return status;

        if (byte == ERROR_REPORT) {
            int error = readByte(fd, deadline);
            if (error < 0)
                return STATUS_TIMEOUT;
            int address = readWordBefore(fd, deadline);
            if (address < 0)
                return STATUS_TIMEOUT;
            errorAddress = address;
            status = error == 0 ? STATUS_ERROR_ZERO : -error;
        } else if (byte == WRITE_TEST) {
            int address = readWordBefore(fd, deadline);
            if (address < 0)
                return STATUS_TIMEOUT;
            int data = readWordBefore(fd, deadline);
            if (data < 0)
                return STATUS_TIMEOUT;
            if ((image->getData(address) & PROGRAM_MASK) == data)
                printf("\n NOTICE: Good write test at address %04X", address);
            else
                printf("\nERROR: Bootloader test failure at address %04X", address);
            printf(", data == %04X\n", data);
        } else {
            status = byte == 0 ? STATUS_UNEXPECTED_ZERO : -(byte * 256);
        }
    }
}

void reportError(int status)
{
    if (status >= 0)
        return;
    int v = -status;
    printf("\nERROR: ");
    switch (v) {
    case ERROR_CHECKSUM:
        printf("Did not pass checksum test while at address %04X\n", errorAddress);
        return;
    case ERROR_VERIFY:
        printf("Did not pass verification test at address %04X\n", errorAddress);
        return;
    case ERROR_ADDRESS:
        printf("Invalid address %04X\n", errorAddress);
        return;
    case ERROR_COMMAND:
        printf("Unknown command given to bootloader while at address %04X\n", errorAddress);
        return;
    case -STATUS_TIMEOUT:
        printf("Timeout while waiting on bootloader response\n");
        return;
    case -STATUS_UNEXPECTED_ZERO:
        printf("Unknown code (0) from bootloader\n");
        return;
    case -STATUS_ERROR_ZERO:
        printf("Unknown error (0) from bootloader while at address %04X\n", errorAddress);
        return;
    }
    // isalnum of the POSIX locale: ASCII letters and digits only.
    auto isAsciiAlnum = [](int c) { return c < 0x80 && std::isalnum(c); };
    if (v > 0xFF) {
        int byte = v >> 8;
        if (isAsciiAlnum(byte))
            printf("Unknown code ('%c') from bootloader\n", byte);
        else
            printf("Unknown code (%X) from bootloader\n", byte);
    } else if (isAsciiAlnum(v)) {
        printf("Unknown error ('%c') from bootloader while at address %04X\n", v, errorAddress);
    } else {
        printf("Unknown error (%X) from bootloader while at address %04X\n", v, errorAddress);
    }
}

int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper)
{
    unsigned char command[FRAME_MAX];
    int previousStart = -16;
    bool eepromMode = false;

    address = image->findData(address);
    while (address >= 0) {
        address -= address % 4;
        if (lower <= address && address <= upper) {
            address = image->findData(upper + 1);
            continue;
        }

        int target = address;
        if (address >= EEPROM_MODE_FROM) {
            target = address - EEPROM_BASE;
            eepromMode = true;
        }

        if (address - previousStart > 4) {
            // SET_ADDRESS: code, target low, target high
            command[0] = SET_ADDRESS;
            loadWord(target, &command[1]);
            sendCommand(fd, command, 3);
            int status = getResponse(image, fd);
            if (status < 0)
                return status;
        }

        const int blockStart = address;
        previousStart = address;

        // Block: code, then four words low byte first at bytes 1-2, 3-4, 5-6, 7-8
        int mask = eepromMode ? EEPROM_MASK : PROGRAM_MASK;
        command[0] = eepromMode ? WRITE_EEPROM_BLOCK : WRITE_PROGRAM_BLOCK;
        for (int n = 0; n < 4; ++n) {
            loadWord(image->getData(address) & mask, &command[1 + 2 * n]);
            ++address;
        }
        sendCommand(fd, command, FRAME_MAX);
        // The progress line goes out while the bootloader writes the block,
        // not between its '>' and the next frame, where a slow terminal or
        // pipe would hold up every block.  What the user sees is the same.
        printf("  programming address %04X\r", blockStart);
        fflush(nullptr);
        int status = getResponse(image, fd);
        if (status < 0) {
            if (eepromMode)
                errorAddress += EEPROM_BASE;
            return status;
        }

        address = image->findData(address);
    }
    return 1;
}

int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly)
{
    int year, month, day, lower, upper;

    printf("\nWaiting for the bootloader's greeting . . .");
    fflush(nullptr);
    int status = handShake(fd, year, month, day, lower, upper);
    if (status == 0) {
        printf("\nERROR: Could not establish communication with the bootloader.\n");
        return 0;
    }
    printf(" got it.\nV Oruzavuver revision date: %04u-%02u-%02u\n",
           static_cast<unsigned>(year), static_cast<unsigned>(month), static_cast<unsigned>(day));
    printf("             address range: %04X-%04X\n", lower, upper);
    if (status == 2) {
        printf("\nERROR: Bad revision date.\n");
        return 0;
    }

    if ((lower & 3) != 0) {
        printf("WARNING: The bootloader's address space does not start on a block boundry.\n");
        lower &= ~3;
        printf("         Using %04X as the lower address.\n", lower);
    }
    if ((upper & 3) != 3) {
        printf("WARNING: The bootloader's address space does not end on a block boundry.\n");
        upper |= 3;
        printf("         Using %04X as the upper address.\n", upper);
    }

    if (queryOnly) {
        endProgramming(fd);
        return 1;
    }

    if (image->isUsed(lower, upper)) {
        printf(ignoreOverlap ? "WARNING:" : "ERROR:");
        printf(" The program and the bootloader overlap.\n");
        if (!ignoreOverlap) {
            endProgramming(fd);
            return 0;
        }
    }

    for (int start : {0, EEPROM_BASE}) {
        int cursor = start;
        status = outputProgram(image, fd, cursor, lower, upper);
        if (status < 0) {
            reportError(status);
            endProgramming(fd);
            return 0;
        }
    }

    endProgramming(fd);
    printf("\nProgramming complete\n");
    return 1;
}
