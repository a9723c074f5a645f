#include "simTestSupport.h"

#include "frames.h"
#include "lineSpeeds.h"
#include "protocol.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Client::Client(const std::string& port, int baud) {
    fd_.reset(open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!fd_) return;
    termios t;
    tcgetattr(fd_.get(), &t);
    cfmakeraw(&t);
    speed_t s = protocol::speedConstant(baud);
    cfsetispeed(&t, s);
    cfsetospeed(&t, s);
    tcsetattr(fd_.get(), TCSANOW, &t);
}

void Client::close() {
    fd_.reset();
}

void Client::send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) done += size_t(n);
        else if (n < 0 && errno == EAGAIN) usleep(1000);
        else return;
    }
}

void Client::sendFrame(std::vector<uint8_t> command) { send(withChecksum(command)); }

std::vector<uint8_t> Client::read(size_t count, double seconds) {
    std::vector<uint8_t> got;
    double end = now() + seconds;
    while (got.size() < count) {
        double left = end - now();
        if (left <= 0) break;
        pollfd p{fd_.get(), POLLIN, 0};
        if (poll(&p, 1, int(left * 1000) + 1) <= 0) continue;
        uint8_t buffer[256];
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        ssize_t n = ::read(fd_.get(), buffer, want);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        else if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    }
    return got;
}

std::vector<uint8_t> Client::readQuiet(double quiet, double limit) {
    std::vector<uint8_t> got;
    double end = now() + limit;
    while (now() < end) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (poll(&p, 1, int(quiet * 1000)) <= 0) break;
        uint8_t buffer[256];
        ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        else if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    }
    return got;
}

bool Client::greet(double seconds, std::vector<uint8_t>* greeting) {
    double end = now() + seconds;
    while (now() < end) {
        send({0x0D});
        std::vector<uint8_t> got = read(6, 0.05);
        if (got.size() == 6 && got[0] == 'K' && got[1] == 'K') {
            if (greeting) *greeting = got;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> Client::identify(double seconds) {
    if (!greet(seconds)) return {};
    send({'h', 'i'});
    return read(5, seconds);
}
