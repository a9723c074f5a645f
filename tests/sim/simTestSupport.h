// The simulator's tests: a minimal uploader of their own on its port, and
// the shared processes and files.
#ifndef SIM_TEST_SUPPORT_H
#define SIM_TEST_SUPPORT_H

#include "hexFiles.h"
#include "ownedHandles.h"
#include "processes.h"

#include <cstdint>
#include <string>
#include <vector>

// The test's own end of a pty slave: a minimal uploader.  It speaks in
// literal bytes (the poll, "hi", the greeting's 'K') on purpose, as frames.h
// does: it is the peer that checks the simulator's side of the wire.
class Client {
public:
    explicit Client(const std::string& port, int baud = 19200);
    bool ok() const { return bool(fd_); }
    void send(const std::vector<uint8_t>& bytes);
    void sendFrame(std::vector<uint8_t> command);  // appends the checksum
    // Reads exactly count bytes within the time limit (fewer on time-out).
    std::vector<uint8_t> read(size_t count, double seconds);
    // Everything that arrives until the line is quiet for `quiet` seconds.
    std::vector<uint8_t> readQuiet(double quiet, double limit = 5);
    // Polls until the greeting comes; false after the time limit.
    bool greet(double seconds, std::vector<uint8_t>* greeting = nullptr);
    // Greets, says "hi" and reads the identification; answers its 5 bytes.
    std::vector<uint8_t> identify(double seconds = 5);
    void close();

private:
    OwnedFd fd_;
};

#endif
