// Running the simulator (and the uploader) as real processes for the tests.
#ifndef SIM_TEST_SUPPORT_H
#define SIM_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A child process with its standard output (and error) captured.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool start(const std::vector<std::string>& argv);
    // Reads one line of standard output (without its line feed) within the
    // time limit; false when none came.
    bool readLine(std::string& line, double seconds);
    // Waits for the exit within the time limit (then kills it) and collects
    // the rest of the output.  Answers the exit status, -1 when killed.
    int wait(double seconds);
    void signal(int sig);
    const std::string& output() const { return output_; }  // stdout + stderr after the first line

private:
    void drain(double seconds);
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    std::string output_;
};

// A running bootloaderSim and the port it prints.
struct Sim {
    Process process;
    std::string port;
    bool start(const std::vector<std::string>& args);
    // Stops a simulator that serves sessions until interrupted.
    int stop();
};

// The test's own end of a pty slave: a minimal uploader.  It speaks in
// literal bytes (the poll, "hi", the greeting's 'K') on purpose, as frames.h
// does: it is the peer that checks the simulator's side of the wire.
class Client {
public:
    explicit Client(const std::string& port, int baud = 19200);
    ~Client();
    bool ok() const { return fd_ >= 0; }
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
    int fd_ = -1;
};

std::string tempDir();
bool writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);
double now();

#endif
