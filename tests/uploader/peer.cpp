#include "peer.h"

#include "serialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

std::string word(int value)
{
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string greetingBytes(int year, int day, int month)
{
    return "KK" + word(year) + static_cast<char>(day) + static_cast<char>(month);
}

void Bootloader::send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += n;
    }
}

void Bootloader::pause(int ms)
{
    poll(nullptr, 0, ms);
}

bool Bootloader::readUntil(const std::string& end, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (received.size() < end.size() ||
           received.compare(received.size() - end.size(), end.size(), end) != 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            return false;
        char c;
        if (read(fd_, &c, 1) != 1)
            return false;
        received += c;
    }
    return true;
}

bool Bootloader::awaitPoll(int ms) { return readUntil("\r", ms); }
bool Bootloader::awaitHi(int ms) { return readUntil("hi", ms); }

bool Bootloader::nextPoll()
{
    // Let the uploader finish gathering the answer before, then take a poll
    // it sends afterwards.
    pause(80);
    tcflush(fd_, TCIFLUSH);
    return awaitPoll();
}

std::string Bootloader::readFrame(int ms)
{
    size_t start = received.size();
    auto need = [&]() -> size_t {
        if (received.size() == start)
            return 1;
        switch (received[start]) {
        case 1: return 2;
        case 2: return 4;
        default: return 10;
        }
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (received.size() - start < need()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char c;
        if (read(fd_, &c, 1) != 1)
            break;
        received += c;
    }
    return received.substr(start);
}

bool Bootloader::greet(int year, int lower, int upper)
{
    if (!awaitPoll())
        return false;
    send(greetingBytes(year));
    if (!awaitHi())
        return false;
    send(word(lower) + word(upper) + ">");
    return true;
}

void Bootloader::serve(const std::vector<std::string>& replies)
{
    for (size_t i = 0;; ++i) {
        std::string frame = readFrame();
        if (frame.empty() || frame[0] == 1)
            return;
        send(i < replies.size() ? replies[i] : ">");
    }
}

speed_t Bootloader::lineSpeed()
{
    int fd = open(portName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    tcgetattr(fd, &settings);
    close(fd);
    return cfgetospeed(&settings);
}

void Bootloader::drain()
{
    // Takes what the uploader still sends (END_PROGRAMMING) until it closes
    // the port.
    char c;
    pollfd p{fd_, POLLIN, 0};
    while (fd_ >= 0 && poll(&p, 1, 40000) > 0 && read(fd_, &c, 1) == 1)
        received += c;
}

void Bootloader::hangUp()
{
    close(fd_);
    fd_ = -1;
}

namespace {

void writeString(int fd, const std::string& s)
{
    size_t size = s.size();
    if (write(fd, &size, sizeof size) != sizeof size)
        return;
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, s.data() + done, size - done);
        if (n <= 0)
            return;
        done += n;
    }
}

std::string readString(int fd)
{
    size_t size = 0;
    if (read(fd, &size, sizeof size) != sizeof size)
        return {};
    std::string s(size, '\0');
    for (size_t done = 0; done < size;) {
        ssize_t n = read(fd, &s[done], size - done);
        if (n <= 0)
            break;
        done += n;
    }
    return s;
}

} // namespace

PeerProcess::PeerProcess(std::function<void(Bootloader&)> script)
{
    int master;
    char name[256];
    if (openpty(&master, &slave_, name, nullptr, nullptr) != 0)
        abort();
    port_ = name;
    // Raw from the start, so nothing the peer sends before the uploader
    // configures the port is cooked.
    termios raw;
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        abort();
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        close(slave_);
        close(pipeFds[0]);
        Bootloader peer(master, port_);
        script(peer);
        peer.drain();
        writeString(pipeFds[1], peer.received);
        writeString(pipeFds[1], peer.notes);
        _exit(0);
    }
    close(master);
    close(pipeFds[1]);
    logPipe_ = pipeFds[0];
}

PeerLog PeerProcess::finish()
{
    PeerLog log;
    if (slave_ >= 0)
        close(slave_);
    slave_ = -1;
    if (logPipe_ >= 0) {
        log.received = readString(logPipe_);
        log.notes = readString(logPipe_);
        close(logPipe_);
        logPipe_ = -1;
    }
    if (pid_ > 0)
        waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return log;
}

PeerProcess::~PeerProcess()
{
    finish();
}

std::string afterHi(const std::string& wire)
{
    size_t at = 0;
    while (at < wire.size()) {
        if (wire[at] == '\r')
            ++at;
        else if (wire.compare(at, 2, "hi") == 0)
            at += 2;
        else
            break;
    }
    return wire.substr(at);
}

std::vector<std::string> frames(const std::string& bytes)
{
    std::vector<std::string> result;
    for (size_t i = 0; i < bytes.size();) {
        size_t length = bytes[i] == 1 ? 2 : bytes[i] == 2 ? 4 : 10;
        result.push_back(bytes.substr(i, length));
        i += length;
    }
    return result;
}

int count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

LinkRun runLink(std::function<void(Bootloader&)> script, std::function<int(int fd)> uploader,
            speed_t speed)
{
    PeerProcess peer(std::move(script));
    LinkRun run{};
    int fd = openSerialPort(peer.port(), speed);
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    run.result = uploader(fd);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.out = testing::internal::GetCapturedStdout();
    close(fd);
    PeerLog log = peer.finish();
    run.wire = log.received;
    run.notes = log.notes;
    return run;
}
