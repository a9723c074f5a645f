#include "gpsimRepairs.h"

#include <gpsim/breakpoints.h>
#include <gpsim/clock_phase.h>
#include <gpsim/gpsim_time.h>
#include <gpsim/p16f87x.h>
#include <gpsim/pic-instructions.h>
#include <gpsim/uart.h>

#include <cinttypes>

namespace {

const char* const NAMES[REPAIR_COUNT] = {
    "tx-pin", "rx-fifo", "tx-stall", "tx-write", "tx-clock", "self-write",
    "eedath", "flash-rewrite", "break-clear", "mclr-usart", "mclr-resume",
};

constexpr int FIFO_DEPTH = 2;  // RCREG's two-character FIFO

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
    Rcreg(P16F877A& cpu, GpsimRepairs& repairs, _RCREG& gpsims)
        : _RCREG(&cpu, "rcreg", "receive FIFO", &cpu.usart), cpu_(cpu), repairs_(repairs), gpsims_(gpsims) {
        address = gpsims.address;
    }

    // gpsim's receiver calls this at each stop bit, with FERR just set from
    // the stop bit it sampled.
    void push(unsigned byte) override {
        _RCSTA& rcsta = cpu_.usart.rcsta;
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
            cpu_.usart.set_rcif();
        }
        showTop();
    }
    unsigned get() override {
        if (count_ > 0) {
            value.put(fifo_[0].byte);
            fifo_[0] = fifo_[1];
            if (--count_ == 0) cpu_.usart.clear_rcif();
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
        _RCSTA& rcsta = cpu_.usart.rcsta;
        bool ferr = count_ > 0 && fifo_[0].framingError;
        rcsta.value.put(ferr ? rcsta.value.get() | _RCSTA::FERR : rcsta.value.get() & ~unsigned(_RCSTA::FERR));
    }

    struct Entry {
        uint8_t byte;
        bool framingError;
    };
    P16F877A& cpu_;
    GpsimRepairs& repairs_;
    _RCREG& gpsims_;
    Entry fifo_[FIFO_DEPTH] = {};
    int count_ = 0;
};

ReceiveFifo::ReceiveFifo(P16F877A& cpu, GpsimRepairs& repairs)
    : cpu_(cpu), register_(new Rcreg(cpu, repairs, *cpu.usart.rcreg)) {
    cpu_.usart.rcreg = register_.get();
    cpu_.usart.rcsta.rcreg = register_.get();
    cpu_.registers[register_->address] = register_.get();
}

ReceiveFifo::~ReceiveFifo() {
    _RCREG& gpsims = register_->gpsims();
    cpu_.usart.rcreg = &gpsims;
    cpu_.usart.rcsta.rcreg = &gpsims;
    cpu_.registers[gpsims.address] = &gpsims;
}

uint64_t ReceiveFifo::overruns() const { return register_->overruns_; }
uint64_t ReceiveFifo::framingErrors() const { return register_->framingErrors_; }

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

void resetUsartForMclr(P16F877A& cpu, GpsimRepairs& repairs) {
    if (!repairs.on(Repair::MclrUsart)) return;
    // Writing them as code would lets gpsim stop the USART its own way.
    USART_MODULE& usart = cpu.usart;
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

void resumeAfterMclr(P16F877A& cpu, GpsimRepairs& repairs) {
    if (!repairs.on(Repair::MclrResume)) return;
    cpu.mCurrentPhase = cpu.mExecute1Cycle;
    repairs.count(Repair::MclrResume);
}
