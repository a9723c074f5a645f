#include "chip.h"

#include "PicProgram.h"
#include "protocol.h"

#include <gpsim/breakpoints.h>
#include <gpsim/clock_phase.h>
#include <gpsim/gpsim_time.h>
#include <gpsim/interface.h>
#include <gpsim/p16f87x.h>
#include <gpsim/sim_context.h>
#include <gpsim/uart.h>

namespace {

constexpr int CYCLES_PER_INSTRUCTION = 4;  // Q1-Q4: one instruction cycle is four clocks

int programValue(int value) {
    return value < 0 || value == PicProgram::BLANK ? protocol::ERASED_WORD : value & protocol::ERASED_WORD;
}

int imageWord(int word) { return word == protocol::ERASED_WORD ? PicProgram::BLANK : word; }

}  // namespace

PicChip::PicChip(double clockHz) : cyclesPerSecond_(clockHz / CYCLES_PER_INSTRUCTION) {
    for (int& id : ids_) id = PicProgram::BLANK;
    initialize_gpsim_core();
    initialization_is_complete();
    Processor* p = CSimulationContext::GetContext()->add_processor("p16f877a", "picSim");
    cpu_ = dynamic_cast<P16F877A*>(p);
    if (!cpu_) return;
    cpu_->set_frequency(clockHz);
}

uint64_t PicChip::cycle() const { return get_cycles().get(); }

void PicChip::stepProcessor() {
    cpu_->step_cycle();
    // gpsim stops its clock while a break is pending (a halt it asked for
    // itself, say on a PC out of range); picSim owns the run loop and has no
    // use for breaks, so time goes on.
    if (get_bp().global_break) get_bp().clear_global();
}

void PicChip::stepSlow() {
    for (const PendingWrite& w : pendingWrites_) {
        cpu_->pma->put_opcode(unsigned(w.address), unsigned(w.word));
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
    // gpsim's MCLR reset leaves RCSTA, TXSTA and SPBRG as they were, with the
    // USART running; the chip's reset turns the serial port off and clears
    // SPBRG.  Writing them as code would lets gpsim stop the USART its own way.
    USART_MODULE& usart = cpu_->usart;
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
    cpu_->reset(MCLR_RESET);
    cpu_->reset(EXIT_RESET);
    // gpsim's idle phase (MCLR held) names itself as the next phase on every
    // cycle, so leaving reset never resumes execution: resume it here.
    cpu_->mCurrentPhase = cpu_->mExecute1Cycle;
}

int PicChip::flashWord(int address) {
    return int(cpu_->get_program_memory_at_address(unsigned(address)) & protocol::ERASED_WORD);
}

int PicChip::eepromByte(int offset) { return int(cpu_->get_eeprom()->rom[offset]->get_value() & protocol::ERASED_BYTE); }

void PicChip::setEepromByte(int offset, int value) { cpu_->get_eeprom()->rom[offset]->put_value(unsigned(value)); }

int PicChip::configWord() { return int(cpu_->get_config_word(CONFIG_ADDRESS) & protocol::ERASED_WORD); }

PinModule& PicChip::portC(int bit) { return (*cpu_->m_portc)[unsigned(bit)]; }
