#include "serialPort.h"

#include "fileAccess.h"
#include "interrupt.h"
#include "defaultPort.h"
#include "protocol.h"

#include <algorithm>
#include <mutex>

// The usage text names it; the run opens it when -p names no other.
const char* const DEFAULT_PORT = "COM1";

namespace {

constexpr DWORD DRAIN_MS = 1000;   // the most the output gets to leave at close
constexpr DWORD DRAIN_POLL_MS = 10;
// A read returns at once with the bytes in the input queue; when there are
// none it ends with the first byte that arrives, or with none after this
// long.  One setting for every read, made once: each SetCommTimeouts is a
// call into the driver.
constexpr COMMTIMEOUTS READ_TIMEOUTS{MAXDWORD, MAXDWORD, 1000, 0, 0};
constexpr int UART_FIFO = 16;      // bytes a 16550-type UART still sends after its driver's queue is empty

// The open ports, for restoreSerialPortsNow on the handler's thread.
std::mutex openPortsLock;
SerialPort* openPorts = nullptr;

// Milliseconds until the deadline, at least 1 and below INFINITE.
DWORD msLeft(Deadline deadline)
{
    if (deadline == NO_DEADLINE)
        return INFINITE - 1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - LineClock::now()).count();
    return DWORD(std::clamp<decltype(left)>(left, 1, INFINITE - 1));
}

}  // namespace

std::wstring devicePath(const std::string& portName)
{
    bool comPort = portName.size() > 3 && (portName.compare(0, 3, "COM") == 0 || portName.compare(0, 3, "com") == 0) &&
                   portName.find_first_not_of("0123456789", 3) == std::string::npos;
    return comPort ? L"\\\\.\\" + wideText(portName) : wideText(portName);
}

SerialPort::SerialPort(const std::string& portName, int bitsPerSecond, PortOpenError* why)
    : bitsPerSecond_(bitsPerSecond)
{
    PortOpenError error;
    HANDLE h = CreateFileW(devicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error.code = GetLastError();
        error.refusal = refusalOfOpenError(error.code);
        if (why)
            *why = error;
        return;
    }
    found_.DCBlength = sizeof found_;
    if (!GetCommState(h, &found_) || !GetCommTimeouts(h, &foundTimeouts_)) {
        error.code = GetLastError();
        error.refusal = PortRefusal::NotSerial;
        CloseHandle(h);
        if (why)
            *why = error;
        return;
    }
    DCB settings = found_;
    settings.BaudRate = DWORD(bitsPerSecond);
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    // The lines stand as Linux leaves them after open().
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    // Another program may have left it set: an error would then stop every
    // read and write until ClearCommError.
    settings.fAbortOnError = FALSE;
    SetCommState(h, &settings);
    COMMTIMEOUTS timeouts = READ_TIMEOUTS;
    SetCommTimeouts(h, &timeouts);

    handle_ = h;
    readDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::lock_guard<std::mutex> lock(openPortsLock);
    next_ = openPorts;
    openPorts = this;
}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::putBack()
{
    SetCommState(handle_, &found_);
    SetCommTimeouts(handle_, &foundTimeouts_);
}

void SerialPort::close()
{
    if (!handle_)
        return;
    {
        std::lock_guard<std::mutex> lock(openPortsLock);
        for (SerialPort** p = &openPorts; *p; p = &(*p)->next_)
            if (*p == this) {
                *p = next_;
                break;
            }
    }
    // The rest is dropped only when it did not leave in time: a purge also
    // drops what an empty queue has handed on (Wine's purge of a pseudo-
    // terminal drops what the far end has not read yet).
    if (!drain())
        PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
    else
        Sleep(DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(characterTime() * UART_FIFO).count() + 1));
    putBack();
    CloseHandle(handle_);
    CloseHandle(readDone_);
    CloseHandle(writeDone_);
    handle_ = readDone_ = writeDone_ = nullptr;
}

bool SerialPort::drain()
{
    // FlushFileBuffers would wait without a bound for a line that never
    // sends (flow control held by a dead peer): poll the queue instead.
    DWORD input = 0, output = 1;
    for (DWORD waited = 0; waited < DRAIN_MS && queued(input, output) && output > 0; waited += DRAIN_POLL_MS)
        Sleep(DRAIN_POLL_MS);
    return output == 0;
}

bool SerialPort::changeSpeed(int bitsPerSecond)
{
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(handle_, &settings))
        return false;
    settings.BaudRate = DWORD(bitsPerSecond);
    if (!SetCommState(handle_, &settings))
        return false;
    bitsPerSecond_ = bitsPerSecond;
    return true;
}

void restoreSerialPortsNow()
{
    std::lock_guard<std::mutex> lock(openPortsLock);
    for (SerialPort* p = openPorts; p; p = p->next_) {
        PurgeComm(p->handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        p->putBack();
    }
}

bool SerialPort::queued(DWORD& input, DWORD& output)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status))
        return false;
    input = status.cbInQue;
    output = status.cbOutQue;
    return true;
}

LineResult SerialPort::read(uint8_t* buffer, DWORD size, Deadline deadline, DWORD& got)
{
    got = 0;
    OVERLAPPED o{};
    o.hEvent = readDone_;
    ResetEvent(readDone_);
    if (ReadFile(handle_, buffer, size, &got, &o))
        return LineResult::Ok;
    if (GetLastError() != ERROR_IO_PENDING)
        return note(LineResult::HungUp);
    // The interrupt event is set only while an interrupt is pending, so it
    // is always waited on: a Ctrl-C ends the wait at once.
    HANDLE waits[] = {readDone_, static_cast<HANDLE>(interruptEvent())};
    DWORD which = WaitForMultipleObjects(2, waits, FALSE, msLeft(deadline));
    if (which != WAIT_OBJECT_0)
        CancelIoEx(handle_, &o);
    // A byte that lands while the read is being cancelled is kept.
    if (!GetOverlappedResult(handle_, &o, &got, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED)
        return note(LineResult::HungUp);
    if (which == WAIT_OBJECT_0 + 1 && got == 0)
        return note(LineResult::Interrupted);
    return LineResult::Ok;
}

LineResult SerialPort::waitReadable(Deadline deadline)
{
    for (;;) {
        if (interruptPending())
            return note(LineResult::Interrupted);
        DWORD input = 0, output = 0;
        // Under Wine a read on a port that has gone keeps answering 0 bytes;
        // only ClearCommError tells.
        if (!queued(input, output))
            return note(LineResult::HungUp);
        if (haveByte_ || input > 0)
            return LineResult::Ok;
        if (LineClock::now() >= deadline)
            return LineResult::Timeout;
        // One byte, as soon as it arrives; the wait, not the read's own
        // time-out, keeps the deadline.
        DWORD got = 0;
        LineResult r = read(&byte_, 1, deadline, got);
        if (got == 1) {
            haveByte_ = true;
            return LineResult::Ok;
        }
        if (r != LineResult::Ok)
            return r;
    }
}

LineResult SerialPort::readAvailable(uint8_t* buffer, int size, int& got)
{
    got = 0;
    if (size <= 0)
        return LineResult::Ok;
    if (haveByte_) {
        buffer[got++] = byte_;
        haveByte_ = false;
    }
    DWORD input = 0, output = 0;
    if (!queued(input, output))
        return got > 0 ? LineResult::Ok : note(LineResult::HungUp);
    DWORD take = std::min<DWORD>(input, DWORD(size - got));
    if (take == 0)
        return LineResult::Ok;
    // Only what has arrived: the read returns at once with it.
    DWORD n = 0;
    LineResult r = read(buffer + got, take, NO_DEADLINE, n);
    got += int(n);
    return got > 0 ? LineResult::Ok : r;
}

LineResult SerialPort::writeAll(const uint8_t* data, int size, Deadline deadline)
{
    while (size > 0) {
        OVERLAPPED o{};
        o.hEvent = writeDone_;
        ResetEvent(writeDone_);
        DWORD written = 0;
        if (!WriteFile(handle_, data, DWORD(size), &written, &o)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return note(LineResult::HungUp);
            if (WaitForSingleObject(writeDone_, msLeft(deadline)) != WAIT_OBJECT_0)
                CancelIoEx(handle_, &o);
            if (!GetOverlappedResult(handle_, &o, &written, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED)
                return note(LineResult::HungUp);
        }
        data += written;
        size -= int(written);
        if (size > 0 && LineClock::now() >= deadline)
            return LineResult::Timeout;
    }
    return LineResult::Ok;
}

void SerialPort::discardOutput()
{
    PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
}

std::chrono::microseconds SerialPort::characterTime() const
{
    return std::chrono::microseconds(protocol::characterMicros(bitsPerSecond_));
}

bool SerialPort::setModemLines(bool dtr, bool rts)
{
    // Fails on a port without modem lines; the caller warns.
    bool dtrSet = EscapeCommFunction(handle_, dtr ? SETDTR : CLRDTR);
    bool rtsSet = EscapeCommFunction(handle_, rts ? SETRTS : CLRRTS);
    return dtrSet && rtsSet;
}

LineResult SerialPort::pauseUntil(Deadline deadline)
{
    for (;;) {
        if (interruptPending())
            return note(LineResult::Interrupted);
        if (LineClock::now() >= deadline)
            return LineResult::Ok;
        WaitForSingleObject(static_cast<HANDLE>(interruptEvent()), msLeft(deadline));
    }
}

void SerialPort::interruptNoted()
{
    interruptTaken();
}
