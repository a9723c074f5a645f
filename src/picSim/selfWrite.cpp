#include "selfWrite.h"

#include "PicProgram.h"
#include "chip.h"
#include "gpsimRepairs.h"
#include "protocol.h"

#include <gpsim/eeprom.h>
#include <gpsim/p16f87x.h>
#include <gpsim/pir.h>

namespace {

// Where EECON1 and EECON2 sit in every PIC16F87x's register file (bank 3).
constexpr unsigned EECON1_ADDRESS = 0x18C;
constexpr unsigned EECON2_ADDRESS = 0x18D;

// EECON1 bits.
constexpr unsigned RD = 1 << 0;
constexpr unsigned WR = 1 << 1;
constexpr unsigned WREN = 1 << 2;
constexpr unsigned WRERR = 1 << 3;
constexpr unsigned EEPGD = 1 << 7;

// The two values EECON2 must see, in this order, before WR is set.
constexpr unsigned UNLOCK_FIRST = 0x55;
constexpr unsigned UNLOCK_SECOND = 0xAA;

// EEDATH<5:0> after a data EEPROM read: not defined by the chip, so not 0.
constexpr unsigned EEDATH_AFTER_EEPROM_READ = 0x3F;

constexpr int BLOCK_WORDS = 4;

// The A parts' WRT1:WRT0, configuration word bits 10-9: 11 protects
// nothing, 10 the first 256 words, 01 the first quarter of flash, 00 the
// first half.  The older parts' one WRT bit, bit 9: 0 keeps code from
// writing flash at all.
constexpr int WRT_SHIFT = 9;
constexpr int PROTECTED_256 = 0x100;

int lastProtected(const ChipModel& model, int config) {
    if (!model.blockWrites) return (config >> WRT_SHIFT) & 1 ? -1 : model.flashWords - 1;
    switch ((config >> WRT_SHIFT) & 3) {
    case 3: return -1;
    case 2: return PROTECTED_256 - 1;
    case 1: return model.flashWords / 4 - 1;
    default: return model.flashWords / 2 - 1;
    }
}

uint64_t cyclesFor(PicChip& chip, double ms) { return uint64_t(ms * 1e-3 * chip.cyclesPerSecond() + 0.5); }

class Eecon1 : public sfr_register {
public:
    Eecon1(Processor* cpu, SelfWrite& owner) : sfr_register(cpu, "eecon1_sw"), owner_(owner) {
        address = EECON1_ADDRESS;
    }
    void put(unsigned v) override { owner_.putEecon1(v); }
    void put_value(unsigned v) override { owner_.putEecon1(v); }
    unsigned get() override { return owner_.getEecon1(); }
    unsigned get_value() override { return owner_.getEecon1(); }
    void reset(RESET_TYPE r) override { owner_.onReset(r == POR_RESET); }

private:
    SelfWrite& owner_;
};

class Eecon2 : public sfr_register {
public:
    Eecon2(Processor* cpu, SelfWrite& owner) : sfr_register(cpu, "eecon2_sw"), owner_(owner) {
        address = EECON2_ADDRESS;
    }
    void put(unsigned v) override { owner_.putEecon2(v); }
    void put_value(unsigned v) override { owner_.putEecon2(v); }
    // Not a physical register: reads as 0.
    unsigned get() override { return 0; }
    unsigned get_value() override { return 0; }
    void reset(RESET_TYPE) override {}

private:
    SelfWrite& owner_;
};

}  // namespace

SelfWrite::SelfWrite(PicChip& chip, GpsimRepairs& repairs, double programWriteMs, double eepromWriteMs,
                     const std::set<int>& stuckCells)
    : chip_(chip),
      repairs_(repairs),
      programWriteCycles_(cyclesFor(chip, programWriteMs)),
      eepromWriteCycles_(cyclesFor(chip, eepromWriteMs)),
      stuckCells_(stuckCells) {
    for (int& l : latches_) l = protocol::ERASED_WORD;
    Processor* cpu = &chip.cpu();
    eecon1Register_.reset(new Eecon1(cpu, *this));
    eecon2Register_.reset(new Eecon2(cpu, *this));
    cpu->registers[EECON1_ADDRESS] = eecon1Register_.get();
    cpu->registers[EECON2_ADDRESS] = eecon2Register_.get();
}

SelfWrite::~SelfWrite() {
    // Give the register file gpsim's own registers back before ours go.
    EEPROM_WIDE* ee = &chip_.eeprom();
    chip_.cpu().registers[EECON1_ADDRESS] = ee->get_reg_eecon1();
    chip_.cpu().registers[EECON2_ADDRESS] = ee->get_reg_eecon2();
}

void SelfWrite::putEecon1(unsigned value) {
    bool armed = sequence_ == Sequence::Armed;
    sequence_ = Sequence::Idle;
    // WR and RD can be set by code, never cleared; a write in progress keeps
    // its memory selection.
    unsigned keep = eecon1_ & (WR | RD);
    eecon1_ = (value & (EEPGD | WRERR | WREN)) | keep;
    if ((value & RD) && !(eecon1_ & WR)) read();
    if ((value & WR) && !(keep & WR) && armed && (eecon1_ & WREN)) startWrite();
}

void SelfWrite::putEecon2(unsigned value) {
    if (value == UNLOCK_FIRST)
        sequence_ = Sequence::Had55;
    else if (value == UNLOCK_SECOND && sequence_ == Sequence::Had55)
        sequence_ = Sequence::Armed;
    else
        sequence_ = Sequence::Idle;
}

void SelfWrite::read() {
    EEPROM_WIDE* ee = &chip_.eeprom();
    int low = int(ee->get_reg_eeadr()->value.get());
    if (eecon1_ & EEPGD) {
        int address = ((int(ee->get_reg_eeadrh()->value.get()) << 8) | low) & programMask();
        int word = chip_.flashWord(address);
        ee->get_reg_eedata()->value.put(unsigned(word & 0xFF));
        ee->get_reg_eedatah()->value.put(unsigned(word >> 8));
    } else {
        ee->get_reg_eedata()->value.put(unsigned(chip_.eepromByte(low)));
        // The data sheet leaves EEDATH undefined after a data EEPROM read;
        // firmware that compares it must see it fail.
        if (repairs_.on(Repair::Eedath)) {
            ee->get_reg_eedatah()->value.put(EEDATH_AFTER_EEPROM_READ);
            repairs_.count(Repair::Eedath);
        }
    }
}

bool SelfWrite::writeProtected(int address) { return address <= lastProtected(chip_.model(), chip_.configWord()); }

// EEADRH:EEADR reaches the chip's flash only: 12 bits on the 4K-word chips,
// 13 on the 8K-word ones; the configuration word lies beyond either.
int SelfWrite::programMask() const { return chip_.model().flashWords - 1; }

void SelfWrite::startWrite() {
    repairs_.count(Repair::SelfWrite);
    EEPROM_WIDE* ee = &chip_.eeprom();
    int low = int(ee->get_reg_eeadr()->value.get());
    if (!(eecon1_ & EEPGD)) {
        // A 128-byte EEPROM takes EEADR<6:0>.
        eepromAddress_ = low & (chip_.model().eepromBytes - 1);
        eepromData_ = int(ee->get_reg_eedata()->value.get() & 0xFF);
        eecon1_ |= WR;
        eepromDue_ = chip_.cycle() + eepromWriteCycles_;
        return;
    }
    int address = ((int(ee->get_reg_eeadrh()->value.get()) << 8) | low) & programMask();
    int word = int(((ee->get_reg_eedatah()->value.get() & 0x3F) << 8) | (ee->get_reg_eedata()->value.get() & 0xFF));
    if (!chip_.model().blockWrites) {
        // The older parts erase and write the one word, the processor held
        // for the write time.
        if (!writeProtected(address)) writeProgramWord(address, word);
        ++flashWrites_;
        chip_.halt(programWriteCycles_);
        return;
    }
    latches_[address & (BLOCK_WORDS - 1)] = word;
    if ((address & (BLOCK_WORDS - 1)) != BLOCK_WORDS - 1) return;
    int start = address & ~(BLOCK_WORDS - 1);
    if (!writeProtected(start))
        for (int i = 0; i < BLOCK_WORDS; ++i) writeProgramWord(start + i, latches_[i]);
    for (int& l : latches_) l = protocol::ERASED_WORD;
    ++flashWrites_;
    chip_.halt(programWriteCycles_);
}

void SelfWrite::writeProgramWord(int address, int word) {
    if (stuckCells_.count(address)) return;
    chip_.queueFlashWrite(address, word);
}

void SelfWrite::service(uint64_t now) {
    if (now < eepromDue_) return;
    eepromDue_ = NEVER;
    if (!stuckCells_.count(PicProgram::EEPROM_START + eepromAddress_)) chip_.setEepromByte(eepromAddress_, eepromData_);
    ++eepromBytes_;
    eecon1_ &= ~WR;
    if (PIR* pir2 = chip_.pir2()) pir2->set_eeif();
}

void SelfWrite::onReset(bool powerOn) {
    // A reset during a data EEPROM write aborts it and says so in WRERR.
    bool aborted = eepromDue_ != NEVER;
    eepromDue_ = NEVER;
    eecon1_ = powerOn ? 0 : (eecon1_ & WRERR) | (aborted ? WRERR : 0);
    sequence_ = Sequence::Idle;
    for (int& l : latches_) l = protocol::ERASED_WORD;
}
