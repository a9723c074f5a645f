#include "uploadOracle.h"

#include "chip.h"

#include <cstdio>

namespace {

// The oracle's own block size and alignment (see the header).
constexpr int WORDS_PER_BLOCK = 4;
int firstOfBlock(int address) { return address - address % WORDS_PER_BLOCK; }

std::string describe(int value) {
    if (value == PicProgram::BLANK) return "-";
    char text[16];
    snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

void addDifference(std::vector<std::string>& out, int address, int have, int want) {
    char text[64];
    snprintf(text, sizeof text, "%04X: chip %s, expected %s", address, describe(have).c_str(),
             describe(want).c_str());
    out.push_back(text);
}

}  // namespace

protocol::Range protectedRange(protocol::Range r) {
    return protocol::Range{firstOfBlock(r.lower), firstOfBlock(r.upper) + WORDS_PER_BLOCK - 1};
}

bool overlaps(const PicProgram& program, protocol::Range range) {
    protocol::Range w = protectedRange(range);
    return program.isUsed(w.lower, w.upper);
}

std::set<int> blocksSent(const PicProgram& program, protocol::Range range, bool ignoreOverlap) {
    std::set<int> sent;
    protocol::Range w = protectedRange(range);
    if (overlaps(program, range) && !ignoreOverlap) return sent;
    for (int start : {PicProgram::FLASH_START, PicProgram::EEPROM_START}) {
        int cursor = program.findData(start);
        while (cursor >= 0) {
            cursor = firstOfBlock(cursor);
            if (w.contains(cursor)) {
                cursor = program.findData(w.upper + 1);
                continue;
            }
            sent.insert(cursor);
            cursor = program.findData(cursor + WORDS_PER_BLOCK);
        }
    }
    return sent;
}

std::vector<std::string> uploadDifferences(const PicProgram& chip, const PicProgram& before, const PicProgram& program,
                                           protocol::Range range, bool ignoreOverlap) {
    std::vector<std::string> out;
    std::set<int> sent = blocksSent(program, range, ignoreOverlap);
    forEachAddress(chip, [&](int a) {
        int want = sent.count(firstOfBlock(a)) ? chipValue(a, program.getData(a)) : chipValue(a, before.getData(a));
        int have = chipValue(a, chip.getData(a));
        if (have != want) addDifference(out, a, have, want);
    });
    return out;
}

std::vector<WordDifference> programWordDifferences(const PicProgram& chip, const PicProgram& program,
                                                   protocol::Range range, bool ignoreOverlap) {
    std::vector<WordDifference> out;
    protocol::Range w = protectedRange(range);
    std::set<int> sent = blocksSent(program, range, ignoreOverlap);
    forEachAddress(chip, [&](int a) {
        if (w.contains(a)) return;
        bool config = a >= PicProgram::CONFIG_START && a <= PicProgram::CONFIG_END;
        if (config && !sent.count(firstOfBlock(a))) return;
        int want = chipValue(a, program.getData(a));
        int have = chipValue(a, chip.getData(a));
        if (have != want) out.push_back({a, have, want});
    });
    return out;
}

std::vector<std::string> programDifferences(const PicProgram& chip, const PicProgram& program, protocol::Range range,
                                            bool ignoreOverlap) {
    std::vector<std::string> out;
    for (const WordDifference& d : programWordDifferences(chip, program, range, ignoreOverlap))
        addDifference(out, d.address, d.chip, d.expected);
    return out;
}

void takeBlockZeroFromSlot(PicProgram& chip, int slot) {
    for (int i = 0; i < WORDS_PER_BLOCK; ++i) chip.setData(PicProgram::FLASH_START + i, chip.getData(slot + i));
}
