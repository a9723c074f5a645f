#include "gpsimRepairs.h"

#include "chip.h"

#include <gpsim/breakpoints.h>
#include <gpsim/clock_phase.h>
#include <gpsim/gpsim_time.h>
#include <gpsim/ioports.h>
#include <gpsim/p16f87x.h>
#include <gpsim/pic-instructions.h>
#include <gpsim/uart.h>

#include <algorithm>
#include <cinttypes>

namespace {

const char* const NAMES[REPAIR_COUNT] = {
    "tx-pin", "rx-fifo", "tx-stall", "tx-write", "tx-clock", "self-write",
    "eedath", "flash-rewrite", "break-clear", "mclr-usart", "mclr-resume",
};

constexpr int FIFO_DEPTH = 2;  // RCREG's two-character FIFO
constexpr int TX_BIT = 6;      // RC6/TX
// TRMT=1 with TXIF=0 for longer than this many bit times is a stuck
// transmitter, not one waiting for its baud clock.
constexpr double STALL_BITS = 2;
// gpsim's TXREG trigger fires up to two cycles after a write; one more for
// a break booked in the write's own cycle.
constexpr uint64_t TXIF_LATE_CYCLES = 3;

}  // namespace

const char* GpsimRepairs::name(Repair r) { return NAMES[int(r)]; }

bool GpsimRepairs::byName(const std::string& name, Repair& r) {
    for (int i = 0; i < REPAIR_COUNT; ++i)
        if (name == NAMES[i]) return r = Repair(i), true;
    return false;
}

std::string GpsimRepairs::names() {
    std::string all;
    for (int i = 0; i < REPAIR_COUNT; ++i) all += std::string(i ? ", " : "") + NAMES[i];
    return all;
}

void GpsimRepairs::printStats(FILE* out) const {
    for (int i = 0; i < REPAIR_COUNT; ++i) {
        std::string key = std::string("repair_") + NAMES[i];
        for (char& c : key)
            if (c == '-') c = '_';
        if (on_[i])
            fprintf(out, "%s: %" PRIu64 "\n", key.c_str(), counts_[i]);
        else
            fprintf(out, "%s: off\n", key.c_str());
    }
}

// ------------------------------------------------------------------ rx-fifo

class ReceiveFifo::Rcreg : public _RCREG {
public:
    Rcreg(pic_processor& cpu, USART_MODULE& usart, GpsimRepairs& repairs, _RCREG& gpsims)
        : _RCREG(&cpu, "rcreg_fifo", "receive FIFO", &usart), usart_(usart), repairs_(repairs), gpsims_(gpsims) {
        address = gpsims.address;
    }

    // gpsim's receiver calls this at each stop bit, with FERR just set from
    // the stop bit it sampled.
    void push(unsigned byte) override {
        _RCSTA& rcsta = usart_.rcsta;
        bool framingError = rcsta.value.get() & _RCSTA::FERR;
        if (rcsta.value.get() & _RCSTA::OERR) {
            // The receiver stopped at the overrun: nothing more is taken
            // until CREN is cleared.
        } else if (count_ == FIFO_DEPTH) {
            rcsta.value.put(rcsta.value.get() | _RCSTA::OERR);
            ++overruns_;
        } else {
            fifo_[count_++] = {uint8_t(byte), framingError};
            if (framingError) ++framingErrors_;
            repairs_.count(Repair::RxFifo);
            usart_.set_rcif();
        }
        showTop();
    }
    unsigned get() override {
        if (count_ > 0) {
            value.put(fifo_[0].byte);
            fifo_[0] = fifo_[1];
            if (--count_ == 0) usart_.clear_rcif();
        }
        showTop();
        return value.get();
    }
    unsigned get_value() override { return count_ > 0 ? fifo_[0].byte : value.get(); }
    void pop() override { get(); }
    // Read-only: a write changes nothing.
    void put(unsigned) override {}
    void put_value(unsigned) override {}
    void reset(RESET_TYPE) override {
        count_ = 0;
        value.put(0);
    }

    _RCREG& gpsims() { return gpsims_; }
    uint64_t overruns_ = 0;
    uint64_t framingErrors_ = 0;

private:
    // FERR belongs to the character on top of the FIFO.
    void showTop() {
        _RCSTA& rcsta = usart_.rcsta;
        bool ferr = count_ > 0 && fifo_[0].framingError;
        rcsta.value.put(ferr ? rcsta.value.get() | _RCSTA::FERR : rcsta.value.get() & ~unsigned(_RCSTA::FERR));
    }

    struct Entry {
        uint8_t byte;
        bool framingError;
    };
    USART_MODULE& usart_;
    GpsimRepairs& repairs_;
    _RCREG& gpsims_;
    Entry fifo_[FIFO_DEPTH] = {};
    int count_ = 0;
};

ReceiveFifo::ReceiveFifo(PicChip& chip, GpsimRepairs& repairs)
    : chip_(chip), register_(new Rcreg(chip.cpu(), chip.usart(), repairs, *chip.usart().rcreg)) {
    chip_.usart().rcreg = register_.get();
    chip_.usart().rcsta.rcreg = register_.get();
    chip_.cpu().registers[register_->address] = register_.get();
}

ReceiveFifo::~ReceiveFifo() {
    _RCREG& gpsims = register_->gpsims();
    chip_.usart().rcreg = &gpsims;
    chip_.usart().rcsta.rcreg = &gpsims;
    chip_.cpu().registers[gpsims.address] = &gpsims;
}

uint64_t ReceiveFifo::overruns() const { return register_->overruns_; }
uint64_t ReceiveFifo::framingErrors() const { return register_->framingErrors_; }

// ------------------------------------------------------------------ tx-pin, tx-stall, tx-write, tx-clock

// Stands in for TXREG in the register file: sees each write and passes it on.
class TransmitRepairs::RegisterTap : public sfr_register {
public:
    RegisterTap(Processor* cpu, Register& inner, TransmitRepairs& owner)
        : sfr_register(cpu, "txreg_tap"), inner_(inner), owner_(owner) {
        address = inner.address;
    }
    void put(unsigned v) override { owner_.putTxreg(inner_, v); }
    void put_value(unsigned v) override { owner_.putTxreg(inner_, v); }
    unsigned get() override { return inner_.get(); }
    unsigned get_value() override { return inner_.get_value(); }
    void reset(RESET_TYPE r) override { inner_.reset(r); }
    Register& inner() { return inner_; }

private:
    Register& inner_;
    TransmitRepairs& owner_;
};

// Direction control of RC6: '0' is an output.
class TransmitRepairs::TxControl : public SignalControl {
public:
    char getState() override { return '0'; }
    void release() override {}
};

TransmitRepairs::TransmitRepairs(PicChip& chip, GpsimRepairs& repairs, uint64_t& wake)
    : chip_(chip), repairs_(repairs), wake_(wake), txControl_(new TxControl) {
    if (!repairs_.on(Repair::TxWrite)) return;
    txregTap_.reset(new RegisterTap(&chip_.cpu(), *chip_.usart().txreg, *this));
    chip_.cpu().registers[txregTap_->address] = txregTap_.get();
}

TransmitRepairs::~TransmitRepairs() {
    // gpsim's own register back in the register file before the tap goes.
    if (txregTap_) chip_.cpu().registers[txregTap_->address] = &txregTap_->inner();
    PinModule& tx = chip_.portC(TX_BIT);
    if (tx.getActiveControl() == txControl_.get()) tx.setControl(nullptr);
}

uint64_t TransmitRepairs::due() const { return txWritePending_ ? txWriteCheck_ : UINT64_MAX; }

void TransmitRepairs::service(uint64_t now) {
    if (txWritePending_ && now >= txWriteCheck_) checkTxWrite();
}

void TransmitRepairs::watch(double bitCycles) {
    USART_MODULE& usart = chip_.usart();
    bool spen = usart.rcsta.bSPEN();
    bool txen = usart.txsta.bTXEN();
    if (repairs_.on(Repair::TxPin)) {
        PinModule& tx = chip_.portC(TX_BIT);
        bool mine = tx.getActiveControl() == txControl_.get();
        if (spen && txen && !mine) {
            tx.setControl(txControl_.get());
            repairs_.count(Repair::TxPin);
        } else if (!(spen && txen) && mine) {
            tx.setControl(nullptr);
        }
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
        else if (double(chip_.cycle() - stuckSince_) > STALL_BITS * bitCycles) {
            // What a TXREG write finding the shift register empty does, so
            // TXIF ends up set as the byte moves on.
            usart.txreg->put(usart.txreg->value.get());
            repairs_.count(Repair::TxStall);
            stuckSince_ = NOT_STUCK;
        }
    }
    if (repairs_.on(Repair::TxClock)) rebookShift(spen && txen);
}

// gpsim moves TXREG's flag a cycle or two after the write that changed it,
// one trigger for both ways: a byte written two cycles after one that went
// straight into the empty shift register (as after setting TXEN) is marked
// empty by the first write's late TXIF, and the shift register, finding
// TXIF set when it is done, never takes it.  Once gpsim's late changes are
// over, a byte that waits in TXREG is marked full again, or, when the shift
// register has already gone idle without it, written again.
void TransmitRepairs::putTxreg(Register& txreg, unsigned value) {
    USART_MODULE& usart = chip_.usart();
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
void TransmitRepairs::rebookShift(bool enabled) {
    _TXSTA& txsta = chip_.usart().txsta;
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
    uint64_t next = std::max(now + 1, shiftSeen_ + chip_.usart().spbrg.get_cycles_per_tick());
    get_cycles().set_break(next, static_cast<TriggerObject*>(&txsta));
    repairs_.count(Repair::TxClock);
}

void TransmitRepairs::checkTxWrite() {
    txWritePending_ = false;
    USART_MODULE& usart = chip_.usart();
    if (!usart.rcsta.bSPEN() || !usart.txsta.bTXEN() || !usart.bIsTXempty()) return;
    // A shift register reloaded since the write took the byte.
    if (usart.txsta.bit_count > txWriteBits_) return;
    if (!usart.txsta.bTRMT())
        usart.full();
    else
        usart.txreg->put(usart.txreg->value.get());
    repairs_.count(Repair::TxWrite);
}

// ------------------------------------------------------------------ flash-rewrite

void ProgramMemory::write(int address, int word) {
    unsigned index = cpu_.map_pm_address2index(unsigned(address));
    if (index >= cpu_.program_memory_size()) return;
    instruction* old = cpu_.program_memory[index];
    if (!repairs_.on(Repair::FlashRewrite) || !old || old->isa() == instruction::INVALID_INSTRUCTION) {
        // gpsim's own way; note the symbol it loses.
        gpsimObject* symbol = old ? old->getLineSymbol() : nullptr;
        std::string name = symbol ? symbol->name() : std::string();
        bool listed = symbol && cpu_.findSymbol(name) == symbol;
        cpu_.pma->put_opcode(unsigned(address), unsigned(word));
        if (listed && !cpu_.findSymbol(name)) ++symbolsLost_;
        return;
    }
    // The old object (and with it its symbol) goes first, so that the new
    // one's symbol finds its name free.  Nothing runs in between: a write
    // waits for the instruction that caused it to finish.
    cpu_.program_memory[index] = nullptr;
    delete old;
    instruction* fresh = cpu_.disasm(unsigned(address), unsigned(word));
    cpu_.program_memory[index] = fresh;
    fresh->setModified(true);
    repairs_.count(Repair::FlashRewrite);
}

// ------------------------------------------------------------------ break-clear, MCLR

void clearPendingBreak(GpsimRepairs& repairs) {
    if (!get_bp().global_break || !repairs.on(Repair::BreakClear)) return;
    get_bp().clear_global();
    repairs.count(Repair::BreakClear);
}

void resetUsartForMclr(USART_MODULE& usart, GpsimRepairs& repairs) {
    if (!repairs.on(Repair::MclrUsart)) return;
    // Writing them as code would lets gpsim stop the USART its own way.
    usart.rcsta.put(0);
    usart.txsta.put(0);
    usart.spbrg.put(0);
    // Nor does the baud rate generator stop: its pending edges would time
    // the USART after reset from before it.  Clear them and let the firmware
    // start it afresh.
    get_cycles().clear_break(static_cast<TriggerObject*>(&usart.spbrg));
    get_cycles().clear_break(static_cast<TriggerObject*>(&usart.txsta));
    get_cycles().clear_break(static_cast<TriggerObject*>(&usart.rcsta));
    usart.spbrg.running = false;
    repairs.count(Repair::MclrUsart);
}

void resumeAfterMclr(pic_processor& cpu, GpsimRepairs& repairs) {
    if (!repairs.on(Repair::MclrResume)) return;
    // Bank 0, as the data sheet gives STATUS after MCLR (IRP, RP1 and RP0
    // cleared): a reset in code that worked in bank 2 or 3, say during a
    // self-write, would otherwise start the firmware in that bank.  put()
    // so that gpsim's register bank follows.
    constexpr unsigned BANK_BITS = 0xE0;  // IRP, RP1, RP0
    cpu.status->put(cpu.status->value.get() & ~BANK_BITS);
    cpu.mCurrentPhase = cpu.mExecute1Cycle;
    repairs.count(Repair::MclrResume);
}
