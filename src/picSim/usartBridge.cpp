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
// TRMT=1 with TXIF=0 for longer than this many bit times is a stuck
// transmitter, not one waiting for its baud clock.
constexpr double STALL_BITS = 2;
// gpsim's TXREG trigger fires up to two cycles after a write; one more for
// a break booked in the write's own cycle.
constexpr uint64_t TXIF_LATE_CYCLES = 3;
// A PC's UART in raw mode reads a character with a framing error as 0.
constexpr uint8_t FRAMING_ERROR_BYTE = 0;

}  // namespace

// Stands in for one of the USART's registers in the register file: the
// bridge sees each write and passes it on.
class UsartBridge::RegisterTap : public sfr_register {
public:
    using OnPut = void (UsartBridge::*)(Register& inner, unsigned value);
    RegisterTap(Processor* cpu, Register& inner, UsartBridge& owner, OnPut onPut)
        : sfr_register(cpu, "usart_tap"), inner_(inner), owner_(owner), onPut_(onPut) {
        address = inner.address;
    }
    void put(unsigned v) override { (owner_.*onPut_)(inner_, v); }
    void put_value(unsigned v) override { (owner_.*onPut_)(inner_, v); }
    unsigned get() override { return inner_.get(); }
    unsigned get_value() override { return inner_.get_value(); }
    void reset(RESET_TYPE r) override { inner_.reset(r); }
    Register& inner() { return inner_; }

private:
    Register& inner_;
    UsartBridge& owner_;
    OnPut onPut_;
};

class UsartBridge::TxSink : public SignalSink {
public:
    explicit TxSink(UsartBridge& owner) : owner_(owner) {}
    // What the wire sees, not what the peripheral offers the pin.
    void setSinkState(char) override { owner_.txPinChanged(owner_.txLine()); }
    void release() override {}

private:
    UsartBridge& owner_;
};

// Direction control of RC6: '0' is an output.
class UsartBridge::TxControl : public SignalControl {
public:
    char getState() override { return '0'; }
    void release() override {}
};

UsartBridge::UsartBridge(PicChip& chip, PtyPort& port, GpsimRepairs& repairs, uint64_t& wake)
    : chip_(chip), port_(port), repairs_(repairs), wake_(wake), txSink_(new TxSink(*this)),
      txControl_(new TxControl) {
    chip_.portC(TX_BIT).addSink(txSink_.get());
    txHigh_ = true;
    driveRx(true);  // an idle line is high (mark)
    USART_MODULE& usart = chip_.cpu().usart;
    if (repairs_.on(Repair::TxWrite)) tap(*usart.txreg, &UsartBridge::putTxreg);
}

void UsartBridge::tap(Register& inner, void (UsartBridge::*onPut)(Register&, unsigned)) {
    taps_.emplace_back(new RegisterTap(&chip_.cpu(), inner, *this, onPut));
    chip_.cpu().registers[inner.address] = taps_.back().get();
}

UsartBridge::~UsartBridge() {
    // gpsim's own registers back in the register file before the taps go.
    for (auto& t : taps_) chip_.cpu().registers[t->address] = &t->inner();
    PinModule& tx = chip_.portC(TX_BIT);
    tx.removeSink(txSink_.get());
    if (tx.getActiveControl() == txControl_.get()) tx.setControl(nullptr);
}

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
        for (size_t i = 0; i < n; ++i) incoming_.push_back({buffer[i], lineBaud_});
        bytesIn_ += n;
    }
}

uint64_t UsartBridge::due() const {
    uint64_t d = nextWatch_;
    if (rxBusy_) d = std::min(d, rxNext_);
    if (txBusy_) d = std::min(d, txNext_);
    if (txWritePending_) d = std::min(d, txWriteCheck_);
    return d;
}

void UsartBridge::service(uint64_t now) {
    if (now >= nextWatch_) watchChip();
    if (txWritePending_ && now >= txWriteCheck_) checkTxWrite();
    serviceRx(now);
    serviceTx(now);
}

void UsartBridge::watchChip() {
    USART_MODULE& usart = chip_.cpu().usart;
    bool spen = usart.rcsta.bSPEN();
    bool txen = usart.txsta.bTXEN();
    if (repairs_.on(Repair::TxPin)) {
        PinModule& tx = chip_.portC(TX_BIT);
        bool mine = tx.getActiveControl() == txControl_.get();
        if (spen && txen && !mine) {
            tx.setControl(txControl_.get());
            repairs_.count(Repair::TxPin);
        } else if (!(spen && txen) && mine)
            tx.setControl(nullptr);
    }
    if (repairs_.on(Repair::TxStall)) {
        // A byte in TXREG with the shift register empty waits at most one
        // baud clock period before it starts; longer, the transmitter is
        // stuck.
        bool stuck = spen && txen && usart.txsta.bTRMT() && !usart.bIsTXempty();
        if (!stuck)
            stuckSince_ = NOT_STUCK;
        else if (stuckSince_ == NOT_STUCK)
            stuckSince_ = chip_.cycle();
        else if (double(chip_.cycle() - stuckSince_) > STALL_BITS * bitCycles(lineBaud_)) {
            // What a TXREG write finding the shift register empty does, so
            // TXIF ends up set as the byte moves on.
            usart.txreg->put(usart.txreg->value.get());
            repairs_.count(Repair::TxStall);
            stuckSince_ = NOT_STUCK;
        }
    }
    if (repairs_.on(Repair::TxClock)) rebookShift(spen && txen);
    int baud = incoming_.empty() ? lineBaud_ : incoming_.front().baud;
    // Often enough for a bit of the line's speed and of the chip's.
    double period = std::min(bitCycles(baud), double(usart.spbrg.get_cycles_per_tick()));
    nextWatch_ = chip_.cycle() + std::max<uint64_t>(1, uint64_t(period / WATCH_PER_BIT));
}

// gpsim moves TXREG's flag a cycle or two after the write that changed it,
// one trigger for both ways: a byte written two cycles after one that went
// straight into the empty shift register (as after setting TXEN) is marked
// empty by the first write's late TXIF, and the shift register, finding
// TXIF set when it is done, never takes it.  Once gpsim's late changes are
// over, a byte that waits in TXREG is marked full again, or, when the shift
// register has already gone idle without it, written again.
void UsartBridge::putTxreg(Register& txreg, unsigned value) {
    USART_MODULE& usart = chip_.cpu().usart;
    bool straightOn = usart.txsta.bTRMT() && usart.txsta.bTXEN();
    txreg.put(value);
    txWritePending_ = !straightOn && usart.rcsta.bSPEN() && usart.txsta.bTXEN();
    txWriteBits_ = usart.txsta.bit_count;
    txWriteCheck_ = chip_.cycle() + TXIF_LATE_CYCLES;
    if (txWritePending_) wake_ = std::min(wake_, txWriteCheck_);
}

// gpsim books each bit of the shift register one baud clock period after
// the baud rate generator's last edge as it has it; after an SPBRG write (a
// bootloader handing the USART over clears SPBRG, the application sets it)
// gpsim holds that edge back for a while, the booking falls on a cycle
// already past, and gpsim drops it: the shift register stops for good with
// TRMT=0 and TXIF=0.  A shift register with bits left and no booking gets
// its next bit one period after the last one seen.
void UsartBridge::rebookShift(bool enabled) {
    _TXSTA& txsta = chip_.cpu().usart.txsta;
    uint64_t now = chip_.cycle();
    if (!enabled || txsta.bit_count == 0) {
        shiftBits_ = 0;
        return;
    }
    if (txsta.bit_count != shiftBits_) {
        shiftBits_ = txsta.bit_count;
        shiftSeen_ = now;
    }
    for (Cycle_Counter_breakpoint_list* b = get_cycles().active.next; b; b = b->next)
        if (b->f == &txsta) return;
    uint64_t next = std::max(now + 1, shiftSeen_ + chip_.cpu().usart.spbrg.get_cycles_per_tick());
    get_cycles().set_break(next, static_cast<TriggerObject*>(&txsta));
    repairs_.count(Repair::TxClock);
}

void UsartBridge::checkTxWrite() {
    txWritePending_ = false;
    USART_MODULE& usart = chip_.cpu().usart;
    if (!usart.rcsta.bSPEN() || !usart.txsta.bTXEN() || !usart.bIsTXempty()) return;
    // A shift register reloaded since the write took the byte.
    if (usart.txsta.bit_count > txWriteBits_) return;
    if (!usart.txsta.bTRMT())
        usart.full();
    else
        usart.txreg->put(usart.txreg->value.get());
    repairs_.count(Repair::TxWrite);
}

void UsartBridge::serviceRx(uint64_t now) {
    if (!rxBusy_) {
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
