#include "linkFaces.h"

#include "portLine.h"
#include "protocol.h"
#include "terminalReporter.h"
#include "upload.h"

#include <cstdio>

int errorAddress = 0;

using Outcome = LinkResult::Outcome;

void keepErrorAddress(const LinkResult& r)
{
    if (r.address >= 0)
        errorAddress = r.address;
    else if (r.eepromData)
        errorAddress += protocol::EEPROM_BASE;
}

int statusCode(const LinkResult& r)
{
    switch (r.outcome) {
    case Outcome::Acknowledged: return STATUS_OK;
    case Outcome::Timeout:
    case Outcome::HungUp: return STATUS_TIMEOUT;
    case Outcome::Interrupted: return STATUS_INTERRUPTED;
    case Outcome::ErrorReport: return r.byte == 0 ? STATUS_ERROR_ZERO : -r.byte;
    case Outcome::UnexpectedByte: return r.byte == 0 ? STATUS_UNEXPECTED_ZERO : -(r.byte * 256);
    }
    return STATUS_TIMEOUT;
}

LinkResult fromStatusCode(int status)
{
    LinkResult r;
    r.address = errorAddress;
    if (status >= 0)
        return r;
    const int v = -status;
    if (status == STATUS_TIMEOUT) {
        r.outcome = Outcome::Timeout;
    } else if (status == STATUS_INTERRUPTED) {
        r.outcome = Outcome::Interrupted;
    } else if (status == STATUS_ERROR_ZERO) {
        r.outcome = Outcome::ErrorReport;
    } else if (status == STATUS_UNEXPECTED_ZERO || v > 0xFF) {
        r.outcome = Outcome::UnexpectedByte;
        r.byte = status == STATUS_UNEXPECTED_ZERO ? 0 : v >> 8;
    } else {
        r.outcome = Outcome::ErrorReport;
        r.byte = v;
    }
    return r;
}

void sendCommand(int fd, const unsigned char* command, int count)
{
    PortLine line(fd);
    sendCommand(line, LinkWindows(), command, count);
}

void loadWord(int value, unsigned char* bytes)
{
    protocol::putWord(value, bytes);
}

int readWord(int fd)
{
    PortLine line(fd);
    int word = 0;
    return line.readWord(word, NO_DEADLINE) == LineResult::Ok ? word : -1;
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

int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper, const LinkWindows& windows)
{
    PortLine line(fd);
    BootloaderIdentity identity;
    const LinkResult r = handShake(line, windows, identity);
    year = identity.year;
    month = identity.month;
    day = identity.day;
    lower = identity.lower;
    upper = identity.upper;
    if (!r.ok())
        return 0;
    return year >= protocol::FIRST_YEAR && year <= protocol::LAST_YEAR ? 1 : 2;
}

int getResponse(PicProgram* image, int fd, const LinkWindows& windows)
{
    PortLine line(fd);
    TerminalReporter reporter(TerminalReporter::Plain);
    reporter.useProgram(image);
    const LinkResult r = getResponse(line, windows, reporter);
    keepErrorAddress(r);
    return statusCode(r);
}

void reportError(int status)
{
    TerminalReporter reporter(TerminalReporter::Plain);
    reporter.failed(fromStatusCode(status));
}

int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper, const LinkWindows& windows)
{
    PortLine line(fd);
    TerminalReporter reporter(TerminalReporter::Plain);
    reporter.useProgram(image);
    const LinkResult r = outputProgram(*image, line, windows, address, lower, upper, reporter);
    keepErrorAddress(r);
    return statusCode(r);
}

int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly, const LinkWindows& windows)
{
    PortLine line(fd);
    TerminalReporter reporter(TerminalReporter::Plain);
    LinkResult failure;
    const int result = upload(*image, line, windows, ignoreOverlap != 0, queryOnly != 0, reporter, &failure);
    keepErrorAddress(failure);
    return result;
}
