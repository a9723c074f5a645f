#include "chip.h"

#include "PicProgram.h"
#include "gpsimRepairs.h"
#include "protocol.h"

#include <gpsim/gpsim_time.h>
#include <gpsim/interface.h>
#include <gpsim/p16f87x.h>
#include <gpsim/pic-instructions.h>
#include <gpsim/sim_context.h>

namespace {

constexpr int CYCLES_PER_INSTRUCTION = 4;  // Q1-Q4: one instruction cycle is four clocks

int programValue(int value) {
    return value < 0 || value == PicProgram::BLANK ? protocol::ERASED_WORD : value & protocol::ERASED_WORD;
}

int imageWord(int word) { return word == protocol::ERASED_WORD ? PicProgram::BLANK : word; }

}  // namespace

PicChip::PicChip(double clockHz, GpsimRepairs& repairs)
    : repairs_(repairs), cyclesPerSecond_(clockHz / CYCLES_PER_INSTRUCTION) {
    for (int& id : ids_) id = PicProgram::BLANK;
    initialize_gpsim_core();
    initialization_is_complete();
    Processor* p = CSimulationContext::GetContext()->add_processor("p16f877a", "picSim");
    cpu_ = dynamic_cast<P16F877A*>(p);
    if (!cpu_) return;
    cpu_->set_frequency(clockHz);
    programMemory_.reset(new ProgramMemory(*cpu_, repairs_));
}

PicChip::~PicChip() = default;

uint64_t PicChip::cycle() const { return get_cycles().get(); }

void PicChip::stepProcessor() {
    cpu_->step_cycle();
    clearPendingBreak(repairs_);
}

void PicChip::stepSlow() {
    for (const PendingWrite& w : pendingWrites_) {
        programMemory_->write(w.address, w.word);
        ++flashWordsWritten_;
    }
    pendingWrites_.clear();
    if (haltUntil_ > cycle())
        get_cycles().increment();
    else
        stepProcessor();
}

void PicChip::halt(uint64_t cycles) { haltUntil_ = cycle() + cycles; }

void PicChip::load(PicProgram& image) {
    Processor* p = cpu_;
    for (int a = 0; a < FLASH_WORDS; ++a) p->init_program_memory(unsigned(a), unsigned(programValue(image.getData(a))));
    for (int i = 0; i < 7; ++i) ids_[i] = image.getData(PicProgram::CONFIG_START + i);
    cpu_->set_config_word(CONFIG_ADDRESS, unsigned(programValue(image.getData(CONFIG_ADDRESS))));
    for (int i = 0; i < EEPROM_BYTES; ++i) {
        int v = image.getData(PicProgram::EEPROM_START + i);
        setEepromByte(i, v < 0 || v == PicProgram::BLANK ? protocol::ERASED_BYTE : v & protocol::ERASED_BYTE);
    }
}

void PicChip::save(PicProgram& image) {
    for (int a = 0; a < FLASH_WORDS; ++a) image.setData(a, imageWord(flashWord(a)));
    for (int i = 0; i < 7; ++i) image.setData(PicProgram::CONFIG_START + i, ids_[i]);
    image.setData(CONFIG_ADDRESS, imageWord(configWord()));
    for (int i = 0; i < EEPROM_BYTES; ++i) {
        int v = eepromByte(i);
        image.setData(PicProgram::EEPROM_START + i, v == protocol::ERASED_BYTE ? PicProgram::BLANK : v);
    }
}

void PicChip::powerOn() { cpu_->reset(POR_RESET); }

void PicChip::pullMclr() {
    haltUntil_ = 0;
    pendingWrites_.clear();
    resetUsartForMclr(*cpu_, repairs_);
    cpu_->reset(MCLR_RESET);
    cpu_->reset(EXIT_RESET);
    resumeAfterMclr(*cpu_, repairs_);
}

int PicChip::flashWord(int address) {
    return int(cpu_->get_program_memory_at_address(unsigned(address)) & protocol::ERASED_WORD);
}

int PicChip::eepromByte(int offset) { return int(cpu_->get_eeprom()->rom[offset]->get_value() & protocol::ERASED_BYTE); }

void PicChip::setEepromByte(int offset, int value) { cpu_->get_eeprom()->rom[offset]->put_value(unsigned(value)); }

int PicChip::configWord() { return int(cpu_->get_config_word(CONFIG_ADDRESS) & protocol::ERASED_WORD); }

uint64_t PicChip::instructionsLive() {
    uint64_t live = 0;
    for (unsigned i = 0; i < cpu_->program_memory_size(); ++i) {
        instruction* in = cpu_->program_memory[i];
        if (in && in->isa() != instruction::INVALID_INSTRUCTION) ++live;
    }
    return live;
}

uint64_t PicChip::lineSymbolsLost() const { return programMemory_->symbolsLost(); }

PinModule& PicChip::portC(int bit) { return (*cpu_->m_portc)[unsigned(bit)]; }
