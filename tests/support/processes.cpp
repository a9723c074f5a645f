#include "processes.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
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
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // A test program that dies without its destructors (a crash, a
        // sanitizer's abort) takes the simulators it started with it.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
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

namespace {

std::string slurp(FILE* file)
{
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

} // namespace

ProgramRun runProgram(const std::vector<std::string>& args, int signal, int afterMs, int stderrTerminal)
{
    const char* program = PROGRAM_UPLOADER;
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        dup2(fileno(out), 1);
        dup2(stderrTerminal >= 0 ? stderrTerminal : fileno(err), 2);
        execv(program, argv.data());
        _exit(127);
    }
    if (signal) {
        poll(nullptr, 0, afterMs);
        kill(pid, signal);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

int runOnTerminal(const std::vector<std::string>& argv, unsigned short columns, std::string& out) {
    termios raw{};
    cfmakeraw(&raw);  // the bytes as the program wrote them, no \n to \r\n
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, &raw, &size) != 0) return -2;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, 1);
        dup2(slave, 2);
        close(master);
        close(slave);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(slave);
    const double end = now() + 20;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (now() > end || poll(&p, 1, 100) < 0) break;
        char buffer[4096];
        ssize_t n = p.revents ? read(master, buffer, sizeof buffer) : 0;
        if (n > 0) out.append(buffer, size_t(n));
        if (n < 0) break;  // EIO: the uploader has closed the terminal
    }
    close(master);
    if (now() > end) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
