// The serial link with the bootloader: command frames, the greeting, the
// responses, the programming passes and one whole upload.  Every operation
// takes the port handle, the descriptor of a configured terminal in blocking
// mode, and leaves it blocking.
#ifndef BOOTLOADER_LINK_H
#define BOOTLOADER_LINK_H

#include "PicProgram.h"

// Command codes, each the first byte of a frame.
constexpr unsigned char END_PROGRAMMING = 0x01;      // no payload, not answered
constexpr unsigned char SET_ADDRESS = 0x02;          // one address word
constexpr unsigned char WRITE_PROGRAM_BLOCK = 0x04;  // four 14-bit words
constexpr unsigned char WRITE_EEPROM_BLOCK = 0x05;   // four bytes, each as a word

// Bytes of the greeting and of the responses.
constexpr unsigned char POLL = 0x0D;          // uploader's carriage return
constexpr unsigned char GREETING_ID = 'K';    // first two bytes of the greeting
constexpr int GREETING_LENGTH = 6;            // 'K' 'K' year(lo,hi) day month
constexpr unsigned char READY = '>';          // ends identification and response
constexpr unsigned char ERROR_REPORT = '!';   // error byte, address word
constexpr unsigned char WRITE_TEST = 'w';     // address word, data word

// Error bytes of an error report.
constexpr unsigned char ERROR_CHECKSUM = 'C';
constexpr unsigned char ERROR_VERIFY = 'V';
constexpr unsigned char ERROR_ADDRESS = 'A';
constexpr unsigned char ERROR_COMMAND = 'U';

// Status codes passed back through the link; every negative one is a failure.
// Error reports give the negated error byte, unexpected bytes the negated
// byte times 256.  A zero byte would give 0, which passes as success, so it
// has codes of its own below every other.
constexpr int STATUS_OK = 1;
constexpr int STATUS_TIMEOUT = -2;
constexpr int STATUS_UNEXPECTED_ZERO = -0x10000;  // unexpected byte 0x00
constexpr int STATUS_ERROR_ZERO = -0x10001;       // error report with error byte 0x00

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
extern LinkWindows linkWindows;

// Writes the count command bytes and their checksum, one write call each.
void sendCommand(int fd, const unsigned char* command, int count);
// Stores bits 0-7 of value in bytes[0] and bits 8-15 in bytes[1].
void loadWord(int value, unsigned char* bytes);
// Reads one word, low byte first; -1 when the line hangs up first.
int readWord(int fd);
// Sends the END_PROGRAMMING frame (0x01 0xFF); reads nothing.
void endProgramming(int fd);
// Hex dump on standard output, perLine bytes a line; unused is not read.
void dataDump(const unsigned char* data, int count, int perLine, int unused);
// Greets the bootloader and reads its identification: 0 no greeting,
// 1 identified with a revision year 2003-2006, 2 identified with another year.
int handShake(int fd, int& year, int& month, int& day, int& lower, int& upper);
// Waits for one response and condenses it into a status code.
int getResponse(PicProgram* image, int fd);
// Prints the message of a negative status code; nothing for other values.
void reportError(int status);
// One programming pass from address; 1 when complete, else the failing status.
int outputProgram(PicProgram* image, int fd, int& address, int lower, int upper);
// One whole exchange with the bootloader: 1 success, 0 failure.
int upload(PicProgram* image, int fd, char ignoreOverlap, char queryOnly);

#endif
