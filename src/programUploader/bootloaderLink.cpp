#include "bootloaderLink.h"

#include "passWalk.h"
#include "progress.h"
#include "protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

using namespace protocol;

int errorAddress = 0;

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int GREETING_BUFFER = 64;  // the greeting read takes up to this

// The greeting may reach the port in pieces: a USB adapter hands bytes over
// when its latency timer (up to 16 ms) expires.
constexpr microseconds MIN_POLL_PACE = milliseconds(1);
constexpr microseconds MIN_QUIET = milliseconds(20);
constexpr microseconds MAX_GREETING_GATHER = milliseconds(200);

// Gathers one answer to the polls: everything that arrives until the line
// has been quiet for `quiet`, at most MAX_GREETING_GATHER in all.  count is
// the number of bytes (the first GREETING_BUFFER kept).
LineResult gatherGreeting(SerialLine& line, uint8_t* buffer, microseconds quiet, int& count)
{
    const Deadline end = line.after(MAX_GREETING_GATHER);
    count = 0;
    for (;;) {
        uint8_t overflow[GREETING_BUFFER];
        uint8_t* into = count < GREETING_BUFFER ? buffer + count : overflow;
        int room = count < GREETING_BUFFER ? GREETING_BUFFER - count : GREETING_BUFFER;
        int got = 0;
        LineResult r = line.readAvailable(into, room, got);
        if (r != LineResult::Ok)
            return r;
        count += got;
        r = line.waitReadable(std::min(line.after(quiet), end));
        if (r == LineResult::Timeout)
            return LineResult::Ok;
        if (r != LineResult::Ok)
            return r;
    }
}

// Where the greeting starts in an answer, or -1.  A stray byte of line
// noise shortly before the greeting (a board coming out of reset) is
// gathered into the same answer; a bootloader that greets only once would
// be lost if that refused it.  Bytes after a greeting still refuse it.
int greetingAt(const uint8_t* bytes, int count)
{
    if (count < GREETING_LENGTH || count > GREETING_BUFFER)
        return -1;
    const int at = count - GREETING_LENGTH;
    return bytes[at] == GREETING_MARK && bytes[at + 1] == GREETING_MARK ? at : -1;
}

} // namespace

void sendCommand(SerialLine& line, const LinkWindows& windows, const unsigned char* command, int count)
{
    // One write call a byte; a byte that cannot go out within the response
    // window shows as the response's time-out.
    const Deadline deadline = line.after(milliseconds(windows.responseMs));
    for (int i = 0; i < count; ++i)
        line.writeAll(&command[i], 1, deadline);
    const uint8_t sum = checksum(command, count);
    line.writeAll(&sum, 1, deadline);
}

void sendCommand(int fd, const unsigned char* command, int count)
{
    PortLine line(fd);
    sendCommand(line, LinkWindows(), command, count);
}

void loadWord(int value, unsigned char* bytes)
{
    putWord(value, bytes);
}

int readWord(int fd)
{
    PortLine line(fd);
    int word = 0;
    return line.readWord(word, NO_DEADLINE) == LineResult::Ok ? word : -1;
}

void endProgramming(SerialLine& line, const LinkWindows& windows)
{
    // The frame goes out even after an interrupt: it is what tells the
    // bootloader that the session is over.
    line.interruptNoted();
    const unsigned char frame[] = {END_PROGRAMMING};
    sendCommand(line, windows, frame, 1);
}

void endProgramming(int fd)
{
    PortLine line(fd);
    endProgramming(line, LinkWindows());
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

int handShake(SerialLine& line, const LinkWindows& windows, int& year, int& month, int& day, int& lower,
              int& upper)
{
    year = 0;
    const Deadline windowEnd = line.after(milliseconds(windows.greetingMs));
    const microseconds charTime = line.characterTime();
    // One poll per character the line can carry, so no backlog of carriage
    // returns forms in front of the "hi" reply.
    const microseconds pace = std::max(MIN_POLL_PACE, charTime);
    const microseconds quiet = std::max(MIN_QUIET, 2 * charTime);
    const milliseconds identification(windows.identificationMs);
    const uint8_t poll = POLL;

    do {
        LineResult r = line.writeAll(&poll, 1, windowEnd);
        if (r == LineResult::Ok)
            r = line.waitReadable(std::min(line.after(pace), windowEnd));
        if (r == LineResult::Timeout)
            continue;
        if (r != LineResult::Ok)
            break;

        uint8_t greeting[GREETING_BUFFER];
        int count = 0;
        if (gatherGreeting(line, greeting, quiet, count) != LineResult::Ok)
            break;
        const int at = greetingAt(greeting, count);
        if (at < 0)
            continue;

        year = greeting[at + 2] + 256 * greeting[at + 3];
        day = greeting[at + 4];
        month = greeting[at + 5];

        // Carriage returns still queued would reach the bootloader before
        // "hi" and could be taken as a new poll.
        line.discardOutput();
        // Once "hi" is out the bootloader is committed to this exchange, so
        // the identification gets its own time even when the greeting came
        // in the window's last moment.
        static const uint8_t reply[] = {REPLY_FIRST, REPLY_SECOND};
        r = line.writeAll(reply, sizeof reply, line.after(identification));
        if (r == LineResult::Ok)
            r = line.readWord(lower, line.after(identification));
        if (r == LineResult::Ok)
            r = line.readWord(upper, line.after(identification));
        int ready = 0;
        if (r == LineResult::Ok)
            r = line.readByte(ready, line.after(identification));
        if (r == LineResult::Ok && ready == READY)
            return (year >= FIRST_YEAR && year <= LAST_YEAR) ? 1 : 2;
        if (r != LineResult::Ok && r != LineResult::Timeout)
            break;
        // A wrong ready byte or a bootloader gone silent drops this
        // identification; the polls go on in what is left of the window.
        year = 0;
    } while (line.now() < windowEnd);

    year = 0;
    return 0;
}

int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper, const LinkWindows& windows)
{
    PortLine line(fd);
    return handShake(line, windows, year, month, day, lower, upper);
}

int getResponse(PicProgram* image, SerialLine& line, const LinkWindows& windows)
{
    int status = STATUS_OK;
    // One window for the whole response: reports do not renew it.
    const Deadline deadline = line.after(milliseconds(windows.responseMs));
    auto failed = [](LineResult r) {
        return r == LineResult::Interrupted ? STATUS_INTERRUPTED : STATUS_TIMEOUT;
    };

    for (;;) {
        int byte = 0;
        LineResult r = line.readByte(byte, deadline);
        if (r != LineResult::Ok)
            return failed(r);

        if (byte == READY)
            return status;

        if (byte == ERROR_REPORT) {
            int error = 0, address = 0;
            r = line.readByte(error, deadline);
            if (r == LineResult::Ok)
                r = line.readWord(address, deadline);
            if (r != LineResult::Ok)
                return failed(r);
            errorAddress = address;
            status = error == 0 ? STATUS_ERROR_ZERO : -error;
        } else if (byte == WRITE_TEST) {
            int address = 0, data = 0;
            r = line.readWord(address, deadline);
            if (r == LineResult::Ok)
                r = line.readWord(data, deadline);
            if (r != LineResult::Ok)
                return failed(r);
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

int getResponse(PicProgram* image, int fd, const LinkWindows& windows)
{
    PortLine line(fd);
    return getResponse(image, line, windows);
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
    case -STATUS_INTERRUPTED:
        printf("Interrupted at address %04X; the chip holds only part of the program.\n", errorAddress);
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

int outputProgram(PicProgram* image, SerialLine& line, const LinkWindows& windows, int& address, int lower,
                  int upper, Progress* progress)
{
    unsigned char command[COMMAND_MAX];

    // The walk moves address from block to block; the counts shown to the
    // user take the same walk.
    PassWalk walk(*image, address, lower, upper);
    while (walk.next()) {
        const bool eepromMode = walk.eeprom();
        if (walk.setAddressFirst()) {
            // SET_ADDRESS: code, target low, target high
            command[0] = SET_ADDRESS;
            loadWord(wireAddress(address), &command[1]);
            sendCommand(line, windows, command, 3);
            int status = getResponse(image, line, windows);
            if (status == STATUS_INTERRUPTED)
                errorAddress = address;
            if (status < 0)
                return status;
        }

        const int start = address;

        // Block: code, then four words low byte first at bytes 1-2, 3-4, 5-6, 7-8
        int mask = eepromMode ? EEPROM_MASK : PROGRAM_MASK;
        command[0] = eepromMode ? WRITE_EEPROM_BLOCK : WRITE_PROGRAM_BLOCK;
        for (int n = 0; n < BLOCK_WORDS; ++n) {
            loadWord(image->getData(address) & mask, &command[1 + 2 * n]);
            ++address;
        }
        sendCommand(line, windows, command, COMMAND_MAX);
        // The progress line goes out while the bootloader writes the block,
        // not between its '>' and the next frame, where a slow terminal or
        // pipe would hold up every block.  What the user sees is the same.
        showBlockSent(progress, start);
        int status = getResponse(image, line, windows);
        if (status == STATUS_INTERRUPTED) {
            errorAddress = start;
            return status;
        }
        if (status < 0) {
            if (eepromMode)
                errorAddress += EEPROM_BASE;
            return status;
        }
    }
    return 1;
}

int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper, const LinkWindows& windows)
{
    PortLine line(fd);
    return outputProgram(image, line, windows, address, lower, upper);
}

namespace {

// A pulled adapter shows as a time-out or a missing greeting in the
// protocol's terms; this line tells the user to look at the cable instead.
void reportHangUp(const SerialLine& line)
{
    if (!line.hungUp())
        return;
    fflush(stdout);
    fprintf(stderr, "The serial port was disconnected.\n");
}

} // namespace

int upload(PicProgram* image, SerialLine& line, const LinkWindows& windows, char ignoreOverlap, char queryOnly,
           UploadReport* report)
{
    int year, month, day, lower, upper;

    printf("\nWaiting for the bootloader's greeting . . .");
    fflush(nullptr);
    int status = handShake(line, windows, year, month, day, lower, upper);
    if (status == 0 && line.interrupted()) {
        printf("\nERROR: Interrupted while waiting for the bootloader's greeting; nothing was written.\n");
        return 0;
    }
    if (status == 0) {
        printf("\nERROR: Could not establish communication with the bootloader.\n");
        reportHangUp(line);
        return 0;
    }
    printf(" got it.\nV Oruzavuver revision date: %04u-%02u-%02u\n",
           static_cast<unsigned>(year), static_cast<unsigned>(month), static_cast<unsigned>(day));
    printf("             address range: %04X-%04X\n", lower, upper);
    if (status == 2) {
        printf("\nERROR: Bad revision date.\n");
        return 0;
    }

    if (blockStart(lower) != lower) {
        printf("WARNING: The bootloader's address space does not start on a block boundry.\n");
        lower = blockStart(lower);
        printf("         Using %04X as the lower address.\n", lower);
    }
    if (blockEnd(upper) != upper) {
        printf("WARNING: The bootloader's address space does not end on a block boundry.\n");
        upper = blockEnd(upper);
        printf("         Using %04X as the upper address.\n", upper);
    }

    if (queryOnly) {
        endProgramming(line, windows);
        return 1;
    }

    if (image->isUsed(lower, upper)) {
        printf(ignoreOverlap ? "WARNING:" : "ERROR:");
        printf(" The program and the bootloader overlap.\n");
        if (!ignoreOverlap) {
            endProgramming(line, windows);
            return 0;
        }
    }

    Progress* progress = report ? report->begin(*image, lower, upper) : nullptr;
    for (int start : {0, EEPROM_BASE}) {
        int cursor = start;
        status = outputProgram(image, line, windows, cursor, lower, upper, progress);
        if (status < 0) {
            if (report)
                report->failed();
            reportError(status);
            reportHangUp(line);
            endProgramming(line, windows);
            return 0;
        }
    }

    endProgramming(line, windows);
    if (report)
        report->passesDone();
    printf("\nProgramming complete\n");
    if (report)
        report->printSummary();
    return 1;
}

int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly, const LinkWindows& windows,
           UploadReport* report)
{
    PortLine line(fd);
    return upload(image, line, windows, ignoreOverlap, queryOnly, report);
}
