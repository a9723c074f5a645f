// Opening and configuring the serial device that leads to the bootloader,
// and the open port as one object: the POSIX back end's port (port.h).
#ifndef SERIAL_PORT_H
#define SERIAL_PORT_H

#include "restoreOnExit.h"
#include "portLine.h"

#include <linux/serial.h>
#include <string>
#include <termios.h>

// Why a port was refused.
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
// flock and the terminal's exclusive mode (TIOCEXCL) on it, asks for low
// latency and leaves it blocking.  Answers the descriptor, or -1 when the
// device cannot be opened, is not a terminal or is locked by another
// process, with the reason in *why when given; prints nothing.  The caller
// owns the descriptor and ends it with close; nothing restores what the
// device had.  SerialPort below is the same port with the restore.
int openSerialPort(const std::string& portName, speed_t lineSpeed, PortOpenError* why = nullptr);

// Waits until what was written has left the line, at most a second; what
// is still there then is dropped (a stuck line).
void drainOutput(int fd);

// Asks the driver to hand received bytes over at once instead of waiting for
// its latency timer.  Answers false when the driver has no such mode.
bool requestLowLatency(int fd);

// The open port: one object that owns the descriptor, the settings and the
// low-latency flag it found, its lock and its modem lines, and is the line
// the link talks through.  It puts the port back as it found it on every
// way out: when closed or destroyed it lets what was written leave the line
// (at most a second, then the rest is dropped), puts back the settings and
// the flag, clears the exclusive mode and closes; a second ending signal
// (restoreAllNow, in its handler) puts them back at once.
//
// Not copyable, not movable: the restore registry holds its address.
class SerialPort : public PortLine, private RestoreOnExit {
public:
    // Opens and configures the port at bitsPerSecond (one of the speeds
    // lineSpeeds.h knows) as openSerialPort does; an empty port, with the
    // reason in *why when given, when that refuses it.
    SerialPort(const std::string& portName, int bitsPerSecond, PortOpenError* why = nullptr);
    ~SerialPort() override;

    explicit operator bool() const { return fd_ >= 0; }
    // The descriptor, for the link's faces on an int; -1 once closed.
    int get() const { return fd_; }
    // Drains within its bound, restores and closes; nothing when empty.
    void close();
    // Lets what was written leave the line, within the same bound (the
    // monitor's speed switch).
    void drain() { drainOutput(fd_); }

    // Asserts (true) or releases DTR and RTS.  False, with nothing changed,
    // when the port has no modem lines (a pseudo-terminal).
    bool setModemLines(bool dtr, bool rts) override;

private:
    static void putBackNow(RestoreOnExit& self);
    void putBack();

    termios found_{};            // the settings the port had
    bool serialChanged_ = false; // the low-latency flag was set by us
    serial_struct serial_{};     // the driver's flags as found
};

#endif
