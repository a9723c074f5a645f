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

bool blank(int value) { return value < 0 || value == PicProgram::BLANK; }

// The parts of a chip built from gpsim's class Chip, or false.
template <class Chip>
bool partsOf(Processor* p, GpsimParts& parts) {
    Chip* chip = dynamic_cast<Chip*>(p);
    if (!chip) return false;
    parts = {chip, &chip->usart, chip->m_portc, chip->get_eeprom(), chip->get_pir2()};
    return true;
}

}  // namespace

PicChip::PicChip(const ChipModel& model, double clockHz, GpsimRepairs& repairs)
    : model_(model), repairs_(repairs), cyclesPerSecond_(clockHz / CYCLES_PER_INSTRUCTION) {
    for (int& id : ids_) id = PicProgram::BLANK;
    initialize_gpsim_core();
    initialization_is_complete();
    Processor* p = CSimulationContext::GetContext()->add_processor(model.processor, "picSim");
    // The A parts derive from the older ones of their pin count.
    if (!partsOf<P16F873>(p, parts_) && !partsOf<P16F876>(p, parts_) && !partsOf<P16F874>(p, parts_)) return;
    if (!parts_.usart || !parts_.portC || !parts_.eeprom) {
        parts_ = GpsimParts();
        return;
    }
    parts_.cpu->set_frequency(clockHz);
    programMemory_.reset(new ProgramMemory(*parts_.cpu, repairs_));
}

PicChip::~PicChip() = default;

uint64_t PicChip::cycle() const { return get_cycles().get(); }

void PicChip::stepProcessor() {
    parts_.cpu->step_cycle();
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

bool PicChip::load(PicProgram& image, int& missing) {
    // The image's flash reaches 0x1FFF, its EEPROM 0x21FF: what lies past
    // this chip's memories would be lost without a word.
    for (int a = model_.flashWords; a < PicProgram::CONFIG_START; ++a)
        if (!blank(image.getData(a))) return missing = a, false;
    for (int i = model_.eepromBytes; i <= protocol::ERASED_BYTE; ++i)
        if (!blank(image.getData(PicProgram::EEPROM_START + i))) return missing = PicProgram::EEPROM_START + i, false;
    Processor* p = parts_.cpu;
    for (int a = 0; a < model_.flashWords; ++a)
        p->init_program_memory(unsigned(a), unsigned(programValue(image.getData(a))));
    for (int i = 0; i < 7; ++i) ids_[i] = image.getData(PicProgram::CONFIG_START + i);
    parts_.cpu->set_config_word(CONFIG_ADDRESS, unsigned(programValue(image.getData(CONFIG_ADDRESS))));
    for (int i = 0; i < model_.eepromBytes; ++i) {
        int v = image.getData(PicProgram::EEPROM_START + i);
        setEepromByte(i, blank(v) ? protocol::ERASED_BYTE : v & protocol::ERASED_BYTE);
    }
    return true;
}

void PicChip::save(PicProgram& image) {
    for (int a = 0; a < model_.flashWords; ++a) image.setData(a, imageWord(flashWord(a)));
    for (int i = 0; i < 7; ++i) image.setData(PicProgram::CONFIG_START + i, ids_[i]);
    image.setData(CONFIG_ADDRESS, imageWord(configWord()));
    for (int i = 0; i < model_.eepromBytes; ++i) {
        int v = eepromByte(i);
        image.setData(PicProgram::EEPROM_START + i, v == protocol::ERASED_BYTE ? PicProgram::BLANK : v);
    }
}

void PicChip::powerOn() { parts_.cpu->reset(POR_RESET); }

void PicChip::pullMclr() {
    haltUntil_ = 0;
    pendingWrites_.clear();
    resetUsartForMclr(*parts_.usart, repairs_);
    parts_.cpu->reset(MCLR_RESET);
    parts_.cpu->reset(EXIT_RESET);
    resumeAfterMclr(*parts_.cpu, repairs_);
}

int PicChip::flashWord(int address) {
    return int(parts_.cpu->get_program_memory_at_address(unsigned(address)) & protocol::ERASED_WORD);
}

// Offsets wrap at the chip's EEPROM size (gpsim gives the 16F874A 256 bytes,
// its data sheet 128), and never index past gpsim's array.
int PicChip::eepromByte(int offset) {
    return int(parts_.eeprom->rom[offset % model_.eepromBytes]->get_value() & protocol::ERASED_BYTE);
}

void PicChip::setEepromByte(int offset, int value) {
    parts_.eeprom->rom[offset % model_.eepromBytes]->put_value(unsigned(value));
}

int PicChip::configWord() { return int(parts_.cpu->get_config_word(CONFIG_ADDRESS) & protocol::ERASED_WORD); }

uint64_t PicChip::instructionsLive() {
    uint64_t live = 0;
    for (unsigned i = 0; i < parts_.cpu->program_memory_size(); ++i) {
        instruction* in = parts_.cpu->program_memory[i];
        if (in && in->isa() != instruction::INVALID_INSTRUCTION) ++live;
    }
    return live;
}

uint64_t PicChip::lineSymbolsLost() const { return programMemory_->symbolsLost(); }

PinModule& PicChip::portC(int bit) { return (*parts_.portC)[unsigned(bit)]; }
