// The link's operations on the serial port's bare descriptor, as callers
// that hold nothing else use them: status codes as ints, the address of the
// bootloader's last error report in errorAddress, and the lines for the user
// printed on standard output by the plain terminal reporter.
#ifndef LINK_FACES_H
#define LINK_FACES_H

#include "PicProgram.h"
#include "bootloaderLink.h"
#include "linkResult.h"

// Status codes; every negative one is a failure.  Error reports give the
// negated error byte, unexpected bytes the negated byte times 256.  A zero
// byte would give 0, which passes as success, so it has codes of its own
// below every other.
constexpr int STATUS_OK = 1;
constexpr int STATUS_TIMEOUT = -2;
constexpr int STATUS_UNEXPECTED_ZERO = -0x10000;  // unexpected byte 0x00
constexpr int STATUS_ERROR_ZERO = -0x10001;       // error report with error byte 0x00
constexpr int STATUS_INTERRUPTED = -0x10002;      // a signal asked the run to end

// Address of the bootloader's last error report (image address after a
// failed EEPROM block).
extern int errorAddress;

// The status code of a result, and back (the address taken from
// errorAddress).
int statusCode(const LinkResult& result);
LinkResult fromStatusCode(int status);
// errorAddress as an exchange that ended in result leaves it: the address of
// its last error report, or else, after an EEPROM block's data frame, the
// old value moved by the EEPROM's start, as a report's address would be.
void keepErrorAddress(const LinkResult& result);

void sendCommand(int fd, const unsigned char* command, int count);
// Stores bits 0-7 of value in bytes[0] and bits 8-15 in bytes[1].
void loadWord(int value, unsigned char* bytes);
// Reads one word, low byte first; -1 when the line hangs up first.
int readWord(int fd);
void endProgramming(int fd);
// Hex dump on standard output, perLine bytes a line; unused is not read.
void dataDump(const unsigned char* data, int count, int perLine, int unused);
// 0 no greeting, 1 identified with a revision year 2003-2006, 2 identified
// with another year.
int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper,
              const LinkWindows& windows = LinkWindows());
// image: what write-test reports are checked against.
int getResponse(PicProgram* image, int fd, const LinkWindows& windows = LinkWindows());
// Prints the message of a negative status code; nothing for other values.
void reportError(int status);
// 1 when complete, else the failing status.
int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper,
                  const LinkWindows& windows = LinkWindows());
// 1 success, 0 failure.
int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly,
           const LinkWindows& windows = LinkWindows());

#endif
