// The wire protocol spoken between the uploader and the bootloader on the
// chip: every byte, code, length and rule that both ends must agree on.
//
//   uploader                                bootloader
//   0x0D (poll) ... until greeted  ------>
//                                  <------  'K' 'K' year(lo,hi) day month
//   'h' 'i'                        ------>
//                                  <------  lower(lo,hi) upper(lo,hi) '>'
//   frame: code payload checksum   ------>
//                                  <------  reports ... '>'
//   END_PROGRAMMING                ------>  (not answered)
//
// A frame's bytes, checksum included, add up to 0 modulo 256.  Words travel
// low byte first.  Both ends write in aligned blocks of four words.
#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <cstdint>

namespace protocol {

// Command codes, the first byte of every frame.
constexpr uint8_t END_PROGRAMMING = 0x01;      // no payload, never answered
constexpr uint8_t SET_ADDRESS = 0x02;          // one address word
constexpr uint8_t WRITE_PROGRAM_BLOCK = 0x04;  // four 14-bit words
constexpr uint8_t WRITE_EEPROM_BLOCK = 0x05;   // four bytes, each sent as a word

// Bytes of the greeting and the identification.
constexpr uint8_t POLL = 0x0D;           // the uploader's carriage return
constexpr uint8_t GREETING_MARK = 'K';   // the greeting's first two bytes
constexpr int GREETING_LENGTH = 6;       // 'K' 'K' year(lo,hi) day month
constexpr uint8_t REPLY_FIRST = 'h';     // the uploader's answer "hi"
constexpr uint8_t REPLY_SECOND = 'i';
constexpr uint8_t READY = '>';           // ends the identification and each response

// Reports that may come before a response's '>'.
constexpr uint8_t ERROR_REPORT = '!';    // error byte, address word
constexpr uint8_t WRITE_TEST = 'w';      // address word, data word

// Error bytes of an error report.
constexpr uint8_t ERROR_CHECKSUM = 'C';  // the frame's bytes did not sum to 0
constexpr uint8_t ERROR_VERIFY = 'V';    // a word read back differs from the one sent
constexpr uint8_t ERROR_ADDRESS = 'A';   // the bootloader refuses that address
constexpr uint8_t ERROR_COMMAND = 'U';   // unknown command code

// Revision years the uploader accepts in a greeting.
constexpr int FIRST_YEAR = 2003;
constexpr int LAST_YEAR = 2006;

// Frame sizes, checksum included.
constexpr int FRAME_MAX = 10;            // a block frame: code, four words, checksum
constexpr int COMMAND_MAX = FRAME_MAX - 1;  // the longest command before its checksum

// Bytes of a whole frame that starts with code, checksum included; 0 for a
// code the protocol does not have.
constexpr int frameLength(uint8_t code)
{
    switch (code) {
    case END_PROGRAMMING: return 2;
    case SET_ADDRESS: return 4;
    case WRITE_PROGRAM_BLOCK:
    case WRITE_EEPROM_BLOCK: return FRAME_MAX;
    default: return 0;
    }
}

// The checksum byte that makes count command bytes sum to 0 modulo 256.
inline uint8_t checksum(const uint8_t* bytes, int count)
{
    unsigned sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(0u - sum);
}
// True when a whole frame, checksum included, sums to 0 modulo 256.
inline bool checksumOk(const uint8_t* frame, int length)
{
    unsigned sum = 0;
    for (int i = 0; i < length; ++i)
        sum += frame[i];
    return (sum & 0xFF) == 0;
}

// Words on the wire: bits 0-7, then bits 8-15; higher bits are dropped.
inline void putWord(int value, uint8_t* bytes)
{
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}
inline int getWord(const uint8_t* bytes)
{
    return bytes[0] | (bytes[1] << 8);
}

// What a block frame carries of each location.
constexpr int PROGRAM_MASK = 0x3FFF;  // flash and configuration words are 14 bits
constexpr int EEPROM_MASK = 0xFF;     // EEPROM locations are bytes, sent with a zero high byte
// What an erased location reads back (a write test of it reports this): every
// bit of its width set.
constexpr int ERASED_WORD = PROGRAM_MASK;  // a blank flash or configuration word
constexpr int ERASED_BYTE = EEPROM_MASK;   // a blank EEPROM byte

// Blocks: four words at an address that is a multiple of four.
constexpr int BLOCK_WORDS = 4;
constexpr int blockStart(int address) { return address & ~(BLOCK_WORDS - 1); }
constexpr int blockEnd(int address) { return address | (BLOCK_WORDS - 1); }

// The EEPROM's image addresses start here; on the wire an EEPROM block is
// addressed by its offset from it.  Block starts above 0x20FF are EEPROM.
constexpr int EEPROM_BASE = 0x2100;
constexpr bool isEepromBlock(int start) { return start >= EEPROM_BASE; }
constexpr int wireAddress(int start) { return isEepromBlock(start) ? start - EEPROM_BASE : start; }

// The bootloader's own code, inclusive image addresses.
struct Range {
    int lower;
    int upper;
    constexpr bool contains(int address) const { return lower <= address && address <= upper; }
};
// Widened to the whole blocks that hold its first and last address, as the
// uploader protects it: no block that holds a bootloader word is written.
constexpr Range widen(Range r) { return Range{blockStart(r.lower), blockEnd(r.upper)}; }

// The line speeds the uploader offers, in bit/s, slowest first.
constexpr int UPLOAD_SPEEDS[] = {2400, 4800, 9600, 19200, 38400, 57600};
// The speed the uploader (the command line and the page) takes unless told
// otherwise, in bit/s.
constexpr int DEFAULT_UPLOAD_SPEED = 19200;
// The standard rates a program on the chip may talk at after an upload,
// slowest first, in bit/s: the uploader's monitor and the page's console
// offer these.
constexpr int CONSOLE_SPEEDS[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr bool isConsoleSpeed(int bitsPerSecond)
{
    for (int s : CONSOLE_SPEEDS)
        if (s == bitsPerSecond)
            return true;
    return false;
}
constexpr int BITS_PER_CHARACTER = 10;  // start bit, 8 data bits, stop bit
// One character at the given speed, in microseconds; bitsPerSecond must be
// above 0.
constexpr long characterMicros(int bitsPerSecond) { return BITS_PER_CHARACTER * 1000000L / bitsPerSecond; }

}  // namespace protocol

#endif
