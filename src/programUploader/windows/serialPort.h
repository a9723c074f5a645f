// The open serial port on Windows, the back end's port (port.h): one object that owns the port's handle,
// the settings (DCB) and time-outs it found and its modem lines, and is the
// line the link talks through.  It puts the port back as it found it on
// every way out; a second Ctrl-C or a closed console (interrupt.h)
// puts every open port back through restoreSerialPortsNow.
//
// Reads are overlapped: a wait posts a one-byte read that returns as soon as
// a byte arrives, and waits on it and on the interrupt event; a read takes
// only the bytes ClearCommError counts in the input queue.  A failure of
// ClearCommError, ReadFile or WriteFile means the port has gone (HungUp): a
// pulled USB adapter fails them all.
#ifndef SERIAL_PORT_H
#define SERIAL_PORT_H

#include "portRefusal.h"
#include "serialLine.h"

#include <string>
#include <windows.h>
// windows.h makes ReportEvent a macro (the event log's call); the link has a
// type of that name.
#undef ReportEvent

// "COM12" becomes "\\.\COM12", which CreateFile needs from COM10 on and
// takes below it; any other name is used as it stands.
std::wstring devicePath(const std::string& portName);

class SerialPort : public SerialLine {
public:
    // Opens the port at bitsPerSecond, 8N1, binary, no flow control, DTR and
    // RTS on (as Linux leaves them).  An empty port, with the reason in *why
    // when given, when Windows refuses it or it is not a serial device.
    SerialPort(const std::string& portName, int bitsPerSecond, PortOpenError* why = nullptr);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    // Lets what was written leave (at most a second, then the rest is
    // dropped), puts the settings back and closes; nothing when empty.
    void close();
    // Lets what was written leave, within a second; false when some is
    // still queued then (or the port has gone).
    bool drain();
    // Sets another speed on the open port; what has arrived stays in the
    // input queue.  False when the driver refuses the speed.
    bool changeSpeed(int bitsPerSecond);
    int bitsPerSecond() const { return bitsPerSecond_; }

    LineResult waitReadable(Deadline deadline) override;
    LineResult readAvailable(uint8_t* buffer, int size, int& got) override;
    LineResult writeAll(const uint8_t* data, int size, Deadline deadline) override;
    void discardOutput() override;
    std::chrono::microseconds characterTime() const override;
    bool setModemLines(bool dtr, bool rts) override;
    LineResult pauseUntil(Deadline deadline) override;
    void interruptNoted() override;

private:
    friend void restoreSerialPortsNow();
    void putBack();
    // The bytes in the input and output queues; false when the port has gone.
    bool queued(DWORD& input, DWORD& output);
    // Runs an overlapped read of size bytes (at most) and waits for it until
    // the deadline or an interrupt; got: the bytes read.
    LineResult read(uint8_t* buffer, DWORD size, Deadline deadline, DWORD& got);

    HANDLE handle_ = nullptr;
    HANDLE readDone_ = nullptr;   // the overlapped read's event
    HANDLE writeDone_ = nullptr;  // the overlapped write's event
    int bitsPerSecond_;
    DCB found_{};                 // the settings the port had
    COMMTIMEOUTS foundTimeouts_{};
    bool haveByte_ = false;       // a byte the wait's read took
    uint8_t byte_ = 0;
    SerialPort* next_ = nullptr;  // the open ports, for restoreSerialPortsNow
};

// Puts every open port back at once, without waiting for its output: for a
// second Ctrl-C or a closed console, on the handler's thread.
void restoreSerialPortsNow();

#endif
