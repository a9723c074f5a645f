// The chip's USART pins, RC6/TX and RC7/RX, wired to the pseudo-terminal.
//
// The host side of the line runs at the speed the program on the pty set:
// each byte read from the pty is driven onto RC7 bit by bit at the speed in
// force when it was read, and RC6 is sampled in the middle of each bit at
// the speed in force when its start bit began.  A speed that does not match
// the firmware's SPBRG gives garbage, as on a real line.
//
// Bytes go onto RC7 as they come from the pty, back to back at the line's
// speed whatever the receiver makes of them, as on a wire: a firmware that
// does not read them in time overruns its receiver.
//
// gpsim's transmitter needs repairs to reach the line (gpsimRepairs.h,
// TransmitRepairs); the bridge runs them beside it.
#ifndef PICSIM_USART_BRIDGE_H
#define PICSIM_USART_BRIDGE_H

#include "gpsimRepairs.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class PicChip;
class PtyPort;

class UsartBridge {
public:
    // wake is lowered whenever a pin change needs the bridge earlier than it
    // said.
    UsartBridge(PicChip& chip, PtyPort& port, GpsimRepairs& repairs, uint64_t& wake);
    ~UsartBridge();
    UsartBridge(const UsartBridge&) = delete;
    UsartBridge& operator=(const UsartBridge&) = delete;

    // Takes what the pty holds, each byte with the line's speed now.
    void takeFromPort();
    // A reset that comes once every byte taken so far has reached RC7, as
    // a program that opens the port finds the line after the bytes that the
    // program before it wrote (resetsReached()).
    void resetAfterTaken() { incoming_.push_back({0, lineBaud_, true}); }
    // The resets that resetAfterTaken() queued and the line has reached
    // since the last call.
    unsigned resetsReached() {
        unsigned n = resetsReached_;
        resetsReached_ = 0;
        return n;
    }
    // The next cycle at which the bridge has something to do.
    uint64_t due() const;
    void service(uint64_t now);

    uint64_t bytesIn() const { return bytesIn_; }
    uint64_t bytesOut() const { return bytesOut_; }

    // From the RC6 sink.
    void txPinChanged(bool high);
    bool txLine();

private:
    struct Incoming {
        uint8_t byte;
        int baud;
        bool reset;  // not a byte: resetAfterTaken()'s place in the line
    };
    class TxSink;

    double bitCycles(int baud) const;
    void driveRx(bool high);
    void serviceRx(uint64_t now);
    void serviceTx(uint64_t now);
    void watchChip();

    PicChip& chip_;
    PtyPort& port_;
    uint64_t& wake_;
    std::unique_ptr<TxSink> txSink_;
    std::unique_ptr<TransmitRepairs> transmitRepairs_;
    int lineBaud_ = 0;  // the pty's speed when it was last read
    uint64_t nextWatch_ = 0;

    // Host to chip, on RC7.
    std::deque<Incoming> incoming_;
    bool rxBusy_ = false;
    double rxStart_ = 0;
    double rxBit_ = 0;
    int rxIndex_ = 0;  // the next edge: 0 start bit, 1-8 data, 9 stop, 10 end
    uint8_t rxByte_ = 0;
    uint64_t rxNext_ = 0;
    unsigned resetsReached_ = 0;

    // Chip to host, from RC6.
    bool txHigh_ = true;
    bool txBusy_ = false;
    double txStart_ = 0;
    double txBit_ = 0;
    int txIndex_ = 0;  // the next sample: 0 start bit, 1-8 data, 9 stop
    unsigned txByte_ = 0;
    uint64_t txNext_ = 0;

    uint64_t bytesIn_ = 0;
    uint64_t bytesOut_ = 0;
};

#endif
