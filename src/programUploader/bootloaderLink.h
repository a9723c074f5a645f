// The serial link with the bootloader: command frames, the greeting, the
// responses, the programming passes and one whole upload.
//
// Each operation has two faces: one on the port's descriptor, for callers
// that hold nothing else, and one on a SerialLine with the time limits to
// use, which an upload threads through all its steps (so a hang-up or an
// interrupt seen in one step is known to the next).
#ifndef BOOTLOADER_LINK_H
#define BOOTLOADER_LINK_H

#include "PicProgram.h"
#include "serialLine.h"

class Progress;
class UploadReport;

// Status codes passed back through the link; every negative one is a failure.
// Error reports give the negated error byte, unexpected bytes the negated
// byte times 256.  A zero byte would give 0, which passes as success, so it
// has codes of its own below every other.
constexpr int STATUS_OK = 1;
constexpr int STATUS_TIMEOUT = -2;
constexpr int STATUS_UNEXPECTED_ZERO = -0x10000;  // unexpected byte 0x00
constexpr int STATUS_ERROR_ZERO = -0x10001;       // error report with error byte 0x00
constexpr int STATUS_INTERRUPTED = -0x10002;      // a signal asked the run to end

// Address of the bootloader's last error report (image address after a
// failed EEPROM block).
extern int errorAddress;

// How long the link waits, in milliseconds.  The defaults are the protocol's
// windows; tests shorten them.
struct LinkWindows {
    int greetingMs = 30000;        // the whole greeting loop
    int identificationMs = 1000;   // each address word and the ready byte
    int responseMs = 5000;         // one whole response, reports included
};

// Writes the count command bytes and their checksum, one write call each.
void sendCommand(int fd, const unsigned char* command, int count);
void sendCommand(SerialLine& line, const LinkWindows& windows, const unsigned char* command, int count);
// Stores bits 0-7 of value in bytes[0] and bits 8-15 in bytes[1].
void loadWord(int value, unsigned char* bytes);
// Reads one word, low byte first; -1 when the line hangs up first.
int readWord(int fd);
// Sends the END_PROGRAMMING frame (0x01 0xFF); reads nothing.
void endProgramming(int fd);
void endProgramming(SerialLine& line, const LinkWindows& windows);
// Hex dump on standard output, perLine bytes a line; unused is not read.
void dataDump(const unsigned char* data, int count, int perLine, int unused);
// Greets the bootloader and reads its identification: 0 no greeting,
// 1 identified with a revision year 2003-2006, 2 identified with another year.
int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper,
              const LinkWindows& windows = LinkWindows());
int handShake(SerialLine& line, const LinkWindows& windows, int& year, int& month, int& day, int& lower,
              int& upper);
// Waits for one response and condenses it into a status code.
int getResponse(PicProgram* image, int fd, const LinkWindows& windows = LinkWindows());
int getResponse(PicProgram* image, SerialLine& line, const LinkWindows& windows);
// Prints the message of a negative status code; nothing for other values.
void reportError(int status);
// One programming pass from address; 1 when complete, else the failing status.
// Each block sent is shown through progress, or as the plain line without one.
int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper,
                  const LinkWindows& windows = LinkWindows());
int outputProgram(PicProgram* image, SerialLine& line, const LinkWindows& windows, int& address, int lower,
                  int upper, Progress* progress = nullptr);
// One whole exchange with the bootloader: 1 success, 0 failure.  report, when
// given, draws the progress figures and prints the summary of the words that
// were not written.
int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly,
           const LinkWindows& windows = LinkWindows(), UploadReport* report = nullptr);
int upload(PicProgram* image, SerialLine& line, const LinkWindows& windows, char ignoreOverlap, char queryOnly,
           UploadReport* report = nullptr);

#endif
