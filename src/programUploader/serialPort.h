// Opening and configuring the serial device that leads to the bootloader.
#ifndef SERIAL_PORT_H
#define SERIAL_PORT_H

#include <string>
#include <termios.h>

// Why openSerialPort refused a port.
struct PortOpenError {
    enum Kind {
        None,
        Open,         // open() failed; error holds its errno
        NotTerminal,  // opened, but not a terminal: nothing was written to it
        Locked,       // another process holds the port's lock
    };
    Kind kind = None;
    int error = 0;
};

// Opens the device raw at lineSpeed (8N1, receiver on, modem lines and flow
// control off, no translation in either direction), holds an exclusive
// flock and the terminal's exclusive mode (TIOCEXCL) on it and leaves it
// blocking.  The settings it found are saved first, for restoreSerialPort.
// Answers the descriptor, or -1 when the device cannot be opened, is not a
// terminal or is locked by another process, with the reason in *why when
// given; prints nothing.  The caller ends the descriptor with
// restoreSerialPort and close (SerialPort does both).
int openSerialPort(const std::string& portName, speed_t lineSpeed, PortOpenError* why = nullptr);

// Lets what was written leave the line (at most a second, then the rest is
// dropped), puts back the settings and the low-latency flag that
// openSerialPort found and clears the exclusive mode.  Nothing happens for a
// descriptor that openSerialPort did not configure.
void restoreSerialPort(int fd);

// The same for every open port, without waiting for the output: for a
// signal handler that ends the process.  Async-signal-safe.
void restoreSerialPortsNow();

// Asks the driver to hand received bytes over at once instead of waiting for
// its latency timer.  Answers false when the driver has no such mode.
bool requestLowLatency(int fd);

// Owns a port descriptor: restores the port and closes it when it goes out
// of scope.
class SerialPort {
public:
    explicit SerialPort(int fd = -1) : fd_(fd) {}
    ~SerialPort() { reset(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);
    int release();

private:
    int fd_;
};

#endif
