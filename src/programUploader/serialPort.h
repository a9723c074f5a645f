// Opening and configuring the serial device that leads to the bootloader.
#ifndef SERIAL_PORT_H
#define SERIAL_PORT_H

#include <string>
#include <termios.h>

// Opens the device raw at lineSpeed (8N1, receiver on, modem lines and flow
// control off, no translation in either direction), holds an exclusive
// flock on it and leaves it blocking.  Answers the descriptor, or -1 when the
// device cannot be opened, is not a terminal or is locked by another
// process; prints nothing.  The caller closes the descriptor.
int openSerialPort(const std::string& portName, speed_t lineSpeed);

// Asks the driver to hand received bytes over at once instead of waiting for
// its latency timer.  Answers false when the driver has no such mode.
bool requestLowLatency(int fd);

// Owns a descriptor and closes it when it goes out of scope.
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
