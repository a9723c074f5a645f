// Where gpsim 0.31 and the PIC16F87xA data sheet disagree, picSim follows
// the data sheet.  Each repair has a name, can be left out for a test with
// --gpsim-defect NAME (the defect then stays, as gpsim has it), and counts
// the times it acted, for --stats.
//
// Every repair is here but self-write, the EECON model of selfWrite.cpp.
#ifndef PICSIM_GPSIM_REPAIRS_H
#define PICSIM_GPSIM_REPAIRS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class USART_MODULE;
class pic_processor;
class PicChip;
class Register;
class SignalControl;

enum class Repair {
    TxPin,         // RC6 made an output while the transmitter is on
    RxFifo,        // the receive FIFO, OERR and FERR as the data sheet has them
    TxStall,       // a transmitter stuck with TRMT=1, TXIF=0 is restarted
    TxWrite,       // a TXREG write that gpsim marks empty at once is kept
    TxClock,       // a bit of the shift register that gpsim dropped is booked again
    SelfWrite,     // EECON1/EECON2 writes follow the data sheet (selfWrite.cpp)
    Eedath,        // a data EEPROM read leaves EEDATH<5:0> set, undefined
    FlashRewrite,  // a rewritten program word frees what the old one held
    BreakClear,    // a break gpsim asked for itself does not stop the clock
    MclrUsart,     // MCLR turns the serial port off and clears SPBRG
    MclrResume,    // the processor leaves reset after an MCLR pulse
};
constexpr int REPAIR_COUNT = int(Repair::MclrResume) + 1;

class GpsimRepairs {
public:
    static const char* name(Repair r);
    // False for a name that is none of the repairs'.
    static bool byName(const std::string& name, Repair& r);
    // Every name, comma-separated, for the usage text.
    static std::string names();

    bool on(Repair r) const { return on_[int(r)]; }
    void keepDefect(Repair r) { on_[int(r)] = false; }
    void count(Repair r, uint64_t n = 1) { counts_[int(r)] += n; }
    uint64_t counted(Repair r) const { return counts_[int(r)]; }

    // One line a repair: "repair_NAME: N", or "off" for a defect kept.
    void printStats(FILE* out) const;

private:
    bool on_[REPAIR_COUNT] = {true, true, true, true, true, true, true, true, true, true, true};
    uint64_t counts_[REPAIR_COUNT] = {};
};

// rx-fifo: gpsim's receive FIFO hands the older of two bytes out twice,
// keeps receiving after an overrun, and keeps one FERR for the last byte
// received.  This RCREG stands in for gpsim's in the register file and in
// its receiver, which still samples RC7: a FIFO of two bytes, each with its
// own framing error shown in FERR while it is on top; a byte completed with
// the FIFO full sets OERR and is lost, and so is every byte after it until
// CREN is cleared.
class ReceiveFifo {
public:
    ReceiveFifo(PicChip& chip, GpsimRepairs& repairs);
    ~ReceiveFifo();
    ReceiveFifo(const ReceiveFifo&) = delete;
    ReceiveFifo& operator=(const ReceiveFifo&) = delete;

    uint64_t overruns() const;
    uint64_t framingErrors() const;

private:
    class Rcreg;
    PicChip& chip_;
    std::unique_ptr<Rcreg> register_;
};

// The transmitter's repairs, which the USART bridge runs beside the line:
// - tx-pin: with TRISC<7:6> set as the data sheet asks, gpsim never shows
//   the transmitter on RC6; RC6 is made an output while SPEN and TXEN are
//   set.
// - tx-stall: gpsim applies a TXIF change a cycle late, so a TXREG write one
//   cycle before the shift register empties goes unseen: the transmitter
//   stops for good with TRMT=1, TXIF=0 and the byte in TXREG.  After two bit
//   times in that state the write is replayed.
// - tx-write: a TXREG write two cycles after one that went straight to the
//   shift register (the first after TXEN is set, typically) is marked empty
//   by gpsim's late TXIF and never sent; it is marked full again.
// - tx-clock: after an SPBRG write gpsim can book a bit of the shift
//   register for a cycle already past and drop it; the bit is booked again.
class TransmitRepairs {
public:
    // wake is lowered when a repair needs the run loop earlier than due().
    TransmitRepairs(PicChip& chip, GpsimRepairs& repairs, uint64_t& wake);
    ~TransmitRepairs();
    TransmitRepairs(const TransmitRepairs&) = delete;
    TransmitRepairs& operator=(const TransmitRepairs&) = delete;

    // A look at the transmitter, often enough for a bit of the line's
    // speed (bitCycles instruction cycles) and of the chip's.
    void watch(double bitCycles);
    uint64_t due() const;
    void service(uint64_t now);

private:
    class RegisterTap;
    class TxControl;
    void putTxreg(Register& txreg, unsigned value);
    void rebookShift(bool enabled);
    void checkTxWrite();

    PicChip& chip_;
    GpsimRepairs& repairs_;
    uint64_t& wake_;
    std::unique_ptr<TxControl> txControl_;
    std::unique_ptr<RegisterTap> txregTap_;
    static constexpr uint64_t NOT_STUCK = UINT64_MAX;
    uint64_t stuckSince_ = NOT_STUCK;
    unsigned shiftBits_ = 0;  // the shift register's bits left when last seen
    uint64_t shiftSeen_ = 0;  // and when that count was first seen
    // A TXREG write that did not go straight to the shift register, to be
    // checked once gpsim has moved TXIF for it.
    bool txWritePending_ = false;
    unsigned txWriteBits_ = 0;  // the shift register's bits left at the write
    uint64_t txWriteCheck_ = 0;
};

// flash-rewrite: gpsim gives each instruction object a "line_XXXX" symbol
// named after its address.  When a word is rewritten, the new object's
// symbol finds the old one's name taken and is deleted, and its destructor
// takes the old symbol's entry out of the table by name: the old symbol is
// then reachable from nowhere, and the old object's destructor cannot find
// it to free it.  Every second rewrite of a word loses a symbol (about
// 0.6 MB an upload of a full flash).  The repair frees the old object, and
// so its symbol, before the new one is made.
class ProgramMemory {
public:
    ProgramMemory(pic_processor& cpu, GpsimRepairs& repairs) : cpu_(cpu), repairs_(repairs) {}
    void write(int address, int word);
    // Symbols that gpsim took out of its table while their instruction
    // still held them: lost, since nothing can free them any more.
    uint64_t symbolsLost() const { return symbolsLost_; }

private:
    pic_processor& cpu_;
    GpsimRepairs& repairs_;
    uint64_t symbolsLost_ = 0;
};

// break-clear: gpsim stops its clock while a break is pending, including
// one it asked for itself (say on a PC out of range); picSim owns the run
// loop and has no use for breaks, so time goes on.
void clearPendingBreak(GpsimRepairs& repairs);

// mclr-usart: gpsim's MCLR reset leaves RCSTA, TXSTA and SPBRG as they were,
// with the USART and its baud rate generator running; the chip's reset
// turns the serial port off and clears SPBRG.  Called before the reset.
void resetUsartForMclr(USART_MODULE& usart, GpsimRepairs& repairs);
// mclr-resume: gpsim's idle phase (MCLR held) names itself as the next
// phase on every cycle, so leaving reset never resumes execution; and its
// MCLR reset leaves STATUS's bank bits as they were.  Execution resumes in
// bank 0.  Called after the reset.
void resumeAfterMclr(pic_processor& cpu, GpsimRepairs& repairs);

#endif
