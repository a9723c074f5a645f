// Running the project's programs as real processes for the tests.
#ifndef TEST_PROCESSES_H
#define TEST_PROCESSES_H

#include "ownedHandles.h"

#include <string>
#include <sys/types.h>
#include <vector>

// Seconds on a monotonic clock.
double now();

// A child process with its standard output and error captured together.
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
    const std::string& output() const { return output_; }  // stdout + stderr after the lines read

private:
    void drain(double seconds);
    pid_t pid_ = -1;
    OwnedFd out_;
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

// The programUploader executable run once: its standard output and error
// apart, and its exit status.
struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};
// With a signal, sends it afterMs after the start; with a terminal, that
// descriptor is the program's standard error.
ProgramRun runProgram(const std::vector<std::string>& args, int signal = 0, int afterMs = 0,
                      int stderrTerminal = -1);

// Runs argv with its standard output and error on a fresh pseudo-terminal
// of `columns` columns (0: one that does not tell), and answers all it wrote
// there, byte for byte; the exit status, -1 when killed after 20 s.
int runOnTerminal(const std::vector<std::string>& argv, unsigned short columns, std::string& out);

#endif
