// The simulator's line in-process, on a real pseudo-terminal: what its
// bytes took on the wire when the peer changes the speed in mid-session.
#include "line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace {

void setSpeed(int fd, speed_t speed) {
    termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
}

// The peer writes `in` bytes that the line takes, then the line answers
// with `out` bytes, one by one and in a burst.
void exchange(Line& line, int peer, int in, int out) {
    const uint8_t bytes[8] = {};
    ASSERT_EQ(write(peer, bytes, size_t(in)), in);
    for (int i = 0; i < in; ++i) {
        uint8_t byte = 0;
        double entry = 0, arrival = 0;
        ASSERT_EQ(line.take(byte, entry, arrival, -1), Line::Take::Byte);
    }
    line.send(bytes, size_t(out - 1));
    line.sendBurst(bytes, 1);
    // The pty hands the bytes over in its own time: read until all are there.
    int got = 0;
    for (int tries = 0; got < out && tries < 100; ++tries) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        uint8_t echoed[8];
        ssize_t n = read(peer, echoed, size_t(out - got));
        if (n > 0) got += int(n);
    }
    ASSERT_EQ(got, out);
}

TEST(SimLineWire, EachByteAtTheSpeedInForceWhenItCrossed) {
    Line line;
    std::string slave, err;
    ASSERT_TRUE(line.openPty(slave, err)) << err;
    int peer = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);

    setSpeed(peer, B57600);
    exchange(line, peer, 8, 3);
    setSpeed(peer, B9600);
    exchange(line, peer, 4, 2);
    setSpeed(peer, B19200);  // as an uploader puts the port back when it leaves
    close(peer);

    EXPECT_EQ(line.bytesIn(), 12u);
    EXPECT_EQ(line.bytesOut(), 5u);
    EXPECT_NEAR(line.wireSeconds(), 11 * 10.0 / 57600 + 6 * 10.0 / 9600, 1e-12);
}

}  // namespace
