// The bootloader's end of a pseudo-terminal, run in a process of its own so
// that the uploader meets a real peer: real hang-ups, real timing.
//
// The peer spells every byte of the protocol out literally instead of taking
// the shared protocol header: it checks the uploader's bytes, so it must not
// share a mistake with the code it checks.
#ifndef UPLOADER_PEER_H
#define UPLOADER_PEER_H

#include "processes.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

std::string word(int value);                   // low byte first
std::string greetingBytes(int year, int day = 15, int month = 6);

// Runs in the peer process on the master side.
class Bootloader {
public:
    Bootloader(int fd, std::string portName) : fd_(fd), portName_(std::move(portName)) {}
    void send(const std::string& bytes);
    void pause(int ms);
    bool awaitPoll(int ms = 10000);                // a carriage return arrives
    bool nextPoll();                               // the uploader polls again after a rejected answer
    bool awaitHi(int ms = 10000);
    std::string readFrame(int ms = 10000);         // one command frame, length by its code
    // Greets, answers "hi" with the range and the ready byte.
    bool greet(int year = 2004, int lower = 0x1F00, int upper = 0x1FFF);
    // Answers frames with replies[i] ('>' past the end) until END_PROGRAMMING.
    void serve(const std::vector<std::string>& replies = {});
    speed_t lineSpeed();                           // as the uploader configured the port
    void note(const std::string& text) { notes += text; }
    void hangUp();
    void drain();

    std::string received;   // every byte the uploader sent
    std::string notes;

private:
    bool readUntil(const std::string& end, int ms);
    int fd_;
    std::string portName_;
};

struct PeerLog {
    std::string received;
    std::string notes;
};

// Forks the peer on a fresh pseudo-terminal.  The test holds the terminal's
// slave side open until finish(), so the peer sees the uploader leave only then.
class PeerProcess {
public:
    explicit PeerProcess(std::function<void(Bootloader&)> script);
    ~PeerProcess();
    const std::string& port() const { return port_; }
    PeerLog finish();

private:
    std::string port_;
    int slave_ = -1;
    int logPipe_ = -1;
    pid_t pid_ = -1;
};

// What the uploader sent after its "hi" (the polls before it left out), and
// the frames in it.
std::string afterHi(const std::string& wire);
std::vector<std::string> frames(const std::string& bytes);
int count(const std::string& text, const std::string& part);


// One exchange over a fresh pseudo-terminal: the port opened with
// openSerialPort, `uploader` run on it with standard output captured.
struct LinkRun {
    int result;
    std::string out;
    std::string wire;    // everything the peer received
    std::string notes;
    double seconds;      // wall time of `uploader`
};
LinkRun runLink(std::function<void(Bootloader&)> script, std::function<int(int fd)> uploader,
            speed_t speed = B19200);

#endif
