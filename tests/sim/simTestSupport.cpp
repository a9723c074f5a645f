#include "simTestSupport.h"

#include "frames.h"
#include "protocol.h"
#include "termiosSpeed.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utility>

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

Process::~Process() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Process::start(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    OwnedFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(writeEnd.get(), 1);
        dup2(writeEnd.get(), 2);
        readEnd.reset();
        writeEnd.reset();
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    out_ = std::move(readEnd);
    return true;
}

void Process::drain(double seconds) {
    double end = now() + seconds;
    while (out_) {
        double left = end - now();
        if (left < 0) left = 0;
        pollfd p{out_.get(), POLLIN, 0};
        if (poll(&p, 1, int(left * 1000)) <= 0) return;
        char buffer[4096];
        ssize_t n = ::read(out_.get(), buffer, sizeof buffer);
        if (n <= 0) {
            out_.reset();
            return;
        }
        pending_.append(buffer, size_t(n));
        if (seconds == 0) return;
        if (left == 0) return;
    }
}

bool Process::readLine(std::string& line, double seconds) {
    double end = now() + seconds;
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        double left = end - now();
        if (left <= 0 || !out_) return false;
        size_t before = pending_.size();
        drain(left < 0.05 ? left : 0.05);
        if (pending_.size() == before && !out_) return false;
    }
}

int Process::wait(double seconds) {
    double end = now() + seconds;
    int status = 0;
    for (;;) {
        drain(0.01);
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (now() > end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            drain(0.1);
            output_ += pending_;
            pending_.clear();
            return -1;
        }
    }
    pid_ = -1;
    while (out_) drain(1);
    output_ += pending_;
    pending_.clear();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Process::signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

bool Sim::start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BOOTLOADER_SIM};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!process.start(argv)) return false;
    std::string line;
    if (!process.readLine(line, 5)) return false;
    const std::string prefix = "bootloaderSim: port ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    port = line.substr(prefix.size());
    return true;
}

int Sim::stop() {
    process.signal(SIGTERM);
    return process.wait(5);
}

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

std::string tempDir() {
    char pattern[] = "/tmp/simtest.XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return bool(f);
}

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
