// The tests' own encoding of the uploader's frames and the bootloader's
// reports.  The bytes are spelled out here on purpose rather than taken
// from the protocol library: the tests check the simulator's reading of the
// wire, and a shared mistake would pass unseen.
#ifndef SIM_TEST_FRAMES_H
#define SIM_TEST_FRAMES_H

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Commands without their checksum.
inline Bytes setAddress(int address) { return {2, uint8_t(address), uint8_t(address >> 8)}; }
inline Bytes programBlock(int a, int b, int c, int d) {
    return {4, uint8_t(a), uint8_t(a >> 8), uint8_t(b), uint8_t(b >> 8),
            uint8_t(c), uint8_t(c >> 8), uint8_t(d), uint8_t(d >> 8)};
}
inline Bytes eepromBlock(int a, int b, int c, int d) {
    return {5, uint8_t(a), 0, uint8_t(b), 0, uint8_t(c), 0, uint8_t(d), 0};
}
// The command followed by the byte that makes the frame sum to 0.
inline Bytes withChecksum(Bytes command) {
    unsigned sum = 0;
    for (uint8_t b : command) sum += b;
    command.push_back(uint8_t(0 - sum));
    return command;
}
// An error report and the '>' that ends its response.
inline Bytes report(char error, int address) { return {'!', uint8_t(error), uint8_t(address), uint8_t(address >> 8), '>'}; }

#endif
