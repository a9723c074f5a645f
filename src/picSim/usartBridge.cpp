#include "usartBridge.h"

#include "chip.h"
#include "ptyPort.h"

#include <gpsim/ioports.h>
#include <gpsim/p16f87x.h>
#include <gpsim/stimuli.h>
#include <gpsim/uart.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int TX_BIT = 6;  // RC6/TX
constexpr int RX_BIT = 7;  // RC7/RX
constexpr int DEFAULT_BAUD = 19200;  // when the pty's speed is not a standard one
constexpr int DATA_BITS = 8;
constexpr int STOP_INDEX = DATA_BITS + 1;
// A real port's driver would refuse writes long before this; reading the
// pty pauses there so a runaway peer cannot eat memory.
constexpr size_t INCOMING_LIMIT = 1 << 16;
// How often (in bit times) the bridge looks at the USART's registers.
constexpr double WATCH_PER_BIT = 32;
// A PC's UART in raw mode reads a character with a framing error as 0.
constexpr uint8_t FRAMING_ERROR_BYTE = 0;

}  // namespace

class UsartBridge::TxSink : public SignalSink {
public:
    explicit TxSink(UsartBridge& owner) : owner_(owner) {}
    // What the wire sees, not what the peripheral offers the pin.
    void setSinkState(char) override { owner_.txPinChanged(owner_.txLine()); }
    void release() override {}

private:
    UsartBridge& owner_;
};

UsartBridge::UsartBridge(PicChip& chip, PtyPort& port, GpsimRepairs& repairs, uint64_t& wake)
    : chip_(chip), port_(port), wake_(wake), txSink_(new TxSink(*this)),
      transmitRepairs_(new TransmitRepairs(chip, repairs, wake)) {
    chip_.portC(TX_BIT).addSink(txSink_.get());
    txHigh_ = true;
    driveRx(true);  // an idle line is high (mark)
}

UsartBridge::~UsartBridge() { chip_.portC(TX_BIT).removeSink(txSink_.get()); }

double UsartBridge::bitCycles(int baud) const {
    return chip_.cyclesPerSecond() / double(baud > 0 ? baud : DEFAULT_BAUD);
}

bool UsartBridge::txLine() {
    // An RC6 that does not drive the line leaves it to the far end's
    // pull-up: high, idle.
    IOPIN& pin = chip_.portC(TX_BIT).getPin();
    return pin.get_direction() != IOPIN::DIR_OUTPUT || pin.getDrivingState();
}

// gpsim reports a pin that no stimulus node drives as floating, whatever
// setDrivenState says; a forced state is what reaches the receiver.
void UsartBridge::driveRx(bool high) { chip_.portC(RX_BIT).getPin().forceDrivenState(high ? '1' : '0'); }

void UsartBridge::takeFromPort() {
    // One look at the line's settings per call: a terminal call per bit
    // would cost more than the chip.
    lineBaud_ = port_.baud();
    uint8_t buffer[512];
    while (incoming_.size() < INCOMING_LIMIT) {
        size_t n = port_.readSome(buffer, sizeof buffer);
        if (n == 0) return;
        for (size_t i = 0; i < n; ++i) incoming_.push_back({buffer[i], lineBaud_, false});
        bytesIn_ += n;
    }
}

uint64_t UsartBridge::due() const {
    uint64_t d = nextWatch_;
    if (rxBusy_) d = std::min(d, rxNext_);
    if (txBusy_) d = std::min(d, txNext_);
    return std::min(d, transmitRepairs_->due());
}

void UsartBridge::service(uint64_t now) {
    if (now >= nextWatch_) watchChip();
    transmitRepairs_->service(now);
    serviceRx(now);
    serviceTx(now);
}

void UsartBridge::watchChip() {
    USART_MODULE& usart = chip_.usart();
    transmitRepairs_->watch(bitCycles(lineBaud_));
    int baud = incoming_.empty() ? lineBaud_ : incoming_.front().baud;
    // Often enough for a bit of the line's speed and of the chip's.
    double period = std::min(bitCycles(baud), double(usart.spbrg.get_cycles_per_tick()));
    nextWatch_ = chip_.cycle() + std::max<uint64_t>(1, uint64_t(period / WATCH_PER_BIT));
}

void UsartBridge::serviceRx(uint64_t now) {
    if (!rxBusy_) {
        while (!incoming_.empty() && incoming_.front().reset) {
            incoming_.pop_front();
            ++resetsReached_;
        }
        if (incoming_.empty()) return;
        rxByte_ = incoming_.front().byte;
        rxBit_ = bitCycles(incoming_.front().baud);
        incoming_.pop_front();
        rxBusy_ = true;
        rxStart_ = double(now);
        rxIndex_ = 0;
        rxNext_ = now;
    }
    while (rxBusy_ && now >= rxNext_) {
        if (rxIndex_ == 0)
            driveRx(false);
        else if (rxIndex_ <= DATA_BITS)
            driveRx((rxByte_ >> (rxIndex_ - 1)) & 1);
        else if (rxIndex_ == STOP_INDEX)
            driveRx(true);
        else {
            rxBusy_ = false;
            // Back to back, as a UART sends what waits in its buffer.
            if (!incoming_.empty()) serviceRx(now);
            return;
        }
        ++rxIndex_;
        rxNext_ = uint64_t(std::ceil(rxStart_ + rxIndex_ * rxBit_));
    }
}

void UsartBridge::txPinChanged(bool high) {
    bool fell = txHigh_ && !high;
    txHigh_ = high;
    if (!fell || txBusy_) return;
    txBusy_ = true;
    txStart_ = double(chip_.cycle());
    txBit_ = bitCycles(lineBaud_);
    txIndex_ = 0;
    txByte_ = 0;
    txNext_ = uint64_t(std::ceil(txStart_ + 0.5 * txBit_));
    wake_ = std::min(wake_, txNext_);
}

void UsartBridge::serviceTx(uint64_t now) {
    while (txBusy_ && now >= txNext_) {
        txHigh_ = txLine();
        if (txIndex_ == 0) {
            if (txHigh_) {  // a glitch, not a start bit
                txBusy_ = false;
                return;
            }
        } else if (txIndex_ <= DATA_BITS) {
            txByte_ |= unsigned(txHigh_) << (txIndex_ - 1);
        } else {
            port_.write(txHigh_ ? uint8_t(txByte_) : FRAMING_ERROR_BYTE);
            ++bytesOut_;
            txBusy_ = false;
            // A line still low after the stop bit holds no new start bit
            // until it has gone high and fallen again.
            return;
        }
        ++txIndex_;
        txNext_ = uint64_t(std::ceil(txStart_ + (txIndex_ + 0.5) * txBit_));
    }
}
