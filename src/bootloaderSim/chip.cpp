#include "chip.h"

#include <cstdio>

namespace {

bool isEepromAddress(int address) {
    return address >= PicProgram::EEPROM_START && address <= PicProgram::EEPROM_END;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string describe(int value) {
    if (value == PicProgram::BLANK) return "-";
    char text[16];
    snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

// Every address a chip of the program's sizes has, in image order.
template <typename F>
void forEachAddress(PicProgram& p, F f) {
    for (int a = 0; a < p.getFlashSize(); ++a) f(a);
    for (int a = PicProgram::CONFIG_START; a <= PicProgram::CONFIG_END; ++a) f(a);
    for (int a = PicProgram::EEPROM_START; a < PicProgram::EEPROM_START + p.getEepromSize(); ++a) f(a);
}

int blockStart(int address) { return address - address % BLOCK_WORDS; }

void addDifference(std::vector<std::string>& out, size_t limit, int address, int have, int want) {
    if (out.size() >= limit) return;
    char text[64];
    snprintf(text, sizeof text, "%04X: chip %s, expected %s", address, describe(have).c_str(),
             describe(want).c_str());
    out.push_back(text);
}

}  // namespace

Chip::Chip(int flashWords, int eepromBytes)
    : flashSize_(flashWords), eepromSize_(eepromBytes), memory_(new PicProgram(flashWords, eepromBytes)) {}

bool Chip::hasProgramBlock(int address) const {
    int last = address + BLOCK_WORDS - 1;
    if (address < 0) return false;
    if (last < flashSize_) return true;
    return address >= PicProgram::CONFIG_START && last <= PicProgram::CONFIG_END;
}

bool Chip::hasEepromBlock(int offset) const { return offset >= 0 && offset + BLOCK_WORDS <= eepromSize_; }

void Chip::writeProgramWord(int address, int word) { memory_->setData(address, chipValue(address, word)); }

void Chip::writeEepromByte(int offset, int value) {
    int address = PicProgram::EEPROM_START + offset;
    memory_->setData(address, chipValue(address, value));
}

int Chip::readProgramWord(int address) {
    int v = memory_->getData(address);
    return v == PicProgram::BLANK || v < 0 ? ERASED_WORD : v;
}

int Chip::readEepromByte(int offset) {
    int v = memory_->getData(PicProgram::EEPROM_START + offset);
    return v == PicProgram::BLANK || v < 0 ? ERASED_BYTE : v;
}

bool Chip::load(const std::string& path, std::string& err) {
    File f(fopen(path.c_str(), "r"));
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

bool Chip::dump(const std::string& path, std::string& err) {
    File f(fopen(path.c_str(), "w"));
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
    if (isEepromAddress(address)) {
        value &= BYTE_MASK;
        return value == ERASED_BYTE ? PicProgram::BLANK : value;
    }
    value &= WORD_MASK;
    return value == ERASED_WORD ? PicProgram::BLANK : value;
}

Range widen(Range r) { return Range{r.lower & ~3, r.upper | 3}; }

bool overlaps(PicProgram& program, Range range) {
    Range w = widen(range);
    return program.isUsed(w.lower, w.upper);
}

std::set<int> blocksSent(PicProgram& program, Range range, bool ignoreOverlap) {
    std::set<int> sent;
    Range w = widen(range);
    if (overlaps(program, range) && !ignoreOverlap) return sent;
    for (int start : {PicProgram::FLASH_START, PicProgram::EEPROM_START}) {
        int cursor = program.findData(start);
        while (cursor >= 0) {
            cursor = blockStart(cursor);
            if (w.contains(cursor)) {
                cursor = program.findData(w.upper + 1);
                continue;
            }
            sent.insert(cursor);
            cursor = program.findData(cursor + BLOCK_WORDS);
        }
    }
    return sent;
}

std::vector<std::string> uploadDifferences(PicProgram& chip, PicProgram& before, PicProgram& program,
                                           Range range, bool ignoreOverlap, size_t limit) {
    std::vector<std::string> out;
    std::set<int> sent = blocksSent(program, range, ignoreOverlap);
    forEachAddress(chip, [&](int a) {
        int want = sent.count(blockStart(a)) ? chipValue(a, program.getData(a)) : chipValue(a, before.getData(a));
        int have = chipValue(a, chip.getData(a));
        if (have != want) addDifference(out, limit, a, have, want);
    });
    return out;
}

std::vector<std::string> programDifferences(PicProgram& chip, PicProgram& program, Range range,
                                            bool ignoreOverlap, size_t limit) {
    std::vector<std::string> out;
    Range w = widen(range);
    std::set<int> sent = blocksSent(program, range, ignoreOverlap);
    forEachAddress(chip, [&](int a) {
        if (w.contains(a)) return;
        bool config = a >= PicProgram::CONFIG_START && a <= PicProgram::CONFIG_END;
        if (config && !sent.count(blockStart(a))) return;
        int want = chipValue(a, program.getData(a));
        int have = chipValue(a, chip.getData(a));
        if (have != want) addDifference(out, limit, a, have, want);
    });
    return out;
}
