#include "chip.h"

#include "ownedHandles.h"
#include "protocol.h"

namespace {

bool isEepromAddress(int address) {
    return address >= PicProgram::EEPROM_START && address <= PicProgram::EEPROM_END;
}

}  // namespace

Chip::Chip(int flashWords, int eepromBytes)
    : flashSize_(flashWords), eepromSize_(eepromBytes), memory_(new PicProgram(flashWords, eepromBytes)) {}

bool Chip::hasProgramBlock(int address) const {
    int last = address + protocol::BLOCK_WORDS - 1;
    if (address < 0) return false;
    if (last < flashSize_) return true;
    return address >= PicProgram::CONFIG_START && last <= PicProgram::CONFIG_END;
}

bool Chip::hasEepromBlock(int offset) const { return offset >= 0 && offset + protocol::BLOCK_WORDS <= eepromSize_; }

void Chip::writeProgramWord(int address, int word) { memory_->setData(address, chipValue(address, word)); }

void Chip::writeEepromByte(int offset, int value) {
    int address = PicProgram::EEPROM_START + offset;
    memory_->setData(address, chipValue(address, value));
}

int Chip::readProgramWord(int address) const {
    int v = memory_->getData(address);
    return v == PicProgram::BLANK || v < 0 ? protocol::ERASED_WORD : v;
}

int Chip::readEepromByte(int offset) const {
    int v = memory_->getData(PicProgram::EEPROM_START + offset);
    return v == PicProgram::BLANK || v < 0 ? protocol::ERASED_BYTE : v;
}

bool Chip::load(const std::string& path, std::string& err) {
    OwnedFile f(fopen(path.c_str(), "r"));
    if (!f) {
        err = "cannot open " + path;
        return false;
    }
    PicProgram loaded(flashSize_, eepromSize_);
    if (!loaded.readHex(f.get())) {
        err = "cannot read " + path;
        return false;
    }
    forEachAddress(loaded, [&](int a) { memory_->setData(a, chipValue(a, loaded.getData(a))); });
    return true;
}

bool Chip::dump(const std::string& path, std::string& err) const {
    OwnedFile f(fopen(path.c_str(), "w"));
    if (!f) {
        err = "cannot create " + path;
        return false;
    }
    bool ok = memory_->writeHex(f.get());
    ok = fclose(f.release()) == 0 && ok;
    if (!ok) err = "cannot write " + path;
    return ok;
}

int chipValue(int address, int value) {
    if (value == PicProgram::BLANK || value < 0) return PicProgram::BLANK;
    // A cell keeps as many bits as a block frame carries for it.
    if (isEepromAddress(address)) {
        value &= protocol::EEPROM_MASK;
        return value == protocol::ERASED_BYTE ? PicProgram::BLANK : value;
    }
    value &= protocol::PROGRAM_MASK;
    return value == protocol::ERASED_WORD ? PicProgram::BLANK : value;
}
