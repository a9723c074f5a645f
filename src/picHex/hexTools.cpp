#include "hexTools.h"

#include <memory>

namespace hexTools {

namespace {

using protocol::BLOCK_WORDS;
using protocol::Range;

// One region of the image address space and how to search it.
struct Region {
    int start;
    int size;
    int (PicProgram::*findUsed)(int) const;  // positions relative to start
};

std::vector<Region> regions(const PicProgram& image) {
    return {
        {PicProgram::FLASH_START, image.getFlashSize(), &PicProgram::findUsedFlash},
        {PicProgram::CONFIG_START, PicProgram::CONFIG_CAPACITY, &PicProgram::findUsedConfig},
        {PicProgram::EEPROM_START, image.getEepromSize(), &PicProgram::findUsedEeprom},
    };
}

int countUsed(const PicProgram& image, const Region& region) {
    int count = 0;
    for (int p = (image.*region.findUsed)(0); p >= 0; p = (image.*region.findUsed)(p + 1)) ++count;
    return count;
}

const char* plural(int n, const char* one, const char* many) { return n == 1 ? one : many; }

char mapChar(bool used, bool inRange) {
    if (inRange) return used ? MAP_RANGE_USED : MAP_RANGE_BLANK;
    return used ? MAP_USED : MAP_BLANK;
}

bool blockUsed(const PicProgram& image, int start) { return image.isUsed(start, start + BLOCK_WORDS - 1); }

void printBlocks(FILE* out, const PicProgram& image, int start, int end, const Range* range) {
    for (int line = start; line <= end; line += MAP_LINE_BLOCKS * BLOCK_WORDS) {
        fprintf(out, "%04X ", line);
        for (int b = line; b < line + MAP_LINE_BLOCKS * BLOCK_WORDS && b <= end; b += BLOCK_WORDS) {
            bool inRange = range && b <= range->upper && b + BLOCK_WORDS - 1 >= range->lower;
            fputc(mapChar(blockUsed(image, b), inRange), out);
        }
        fputc('\n', out);
    }
}

}  // namespace

std::vector<Run> usedRuns(const PicProgram& image) {
    std::vector<Run> runs;
    for (const Region& region : regions(image)) {
        int p = (image.*region.findUsed)(0);
        while (p >= 0) {
            int last = p;
            int next = (image.*region.findUsed)(last + 1);
            while (next == last + 1) {
                last = next;
                next = (image.*region.findUsed)(last + 1);
            }
            runs.push_back({region.start + p, region.start + last});
            p = next;
        }
    }
    return runs;
}

int firstOutside(const PicProgram& image, int flashWords, int eepromWords) {
    int flash = image.findUsedFlash(flashWords);
    if (flash >= 0) return PicProgram::FLASH_START + flash;
    int eeprom = image.findUsedEeprom(eepromWords);
    if (eeprom >= 0) return PicProgram::EEPROM_START + eeprom;
    return -1;
}

void printInfo(FILE* out, const PicProgram& image, int flashWords, int eepromWords, bool wordsLost) {
    static const char* const NAMES[] = {"flash:  ", "config: ", "eeprom: "};
    std::vector<Region> all = regions(image);
    for (size_t i = 0; i < all.size(); ++i) {
        int n = countUsed(image, all[i]);
        fprintf(out, "%s%d %s used\n", NAMES[i], n, plural(n, "word", "words"));
    }
    std::vector<Run> runs = usedRuns(image);
    fprintf(out, "runs:%s\n", runs.empty() ? " none" : "");
    for (const Run& r : runs) {
        int n = r.last - r.first + 1;
        fprintf(out, "  %04X-%04X (%d %s)\n", r.first, r.last, n, plural(n, "word", "words"));
    }
    int outside = firstOutside(image, flashWords, eepromWords);
    fprintf(out, "fits %d flash words and %d EEPROM bytes: ", flashWords, eepromWords);
    if (wordsLost)
        fprintf(out, "no, the file holds words that no chip has a place for\n");
    else if (outside < 0)
        fprintf(out, "yes\n");
    else
        fprintf(out, "no, %04X is outside\n", outside);
}

void printMap(FILE* out, const PicProgram& image, const Range* range) {
    Range blocks{};
    if (range) blocks = protocol::widen(*range);
    const Range* marked = range ? &blocks : nullptr;

    fprintf(out, "flash, one character per %d words: %c used, %c blank", BLOCK_WORDS, MAP_USED, MAP_BLANK);
    if (range)
        fprintf(out, ", %c bootloader range, %c used inside it", MAP_RANGE_BLANK, MAP_RANGE_USED);
    fputc('\n', out);
    printBlocks(out, image, PicProgram::FLASH_START, image.getFlashSize() - 1, marked);

    if (range) {
        fprintf(out, "bootloader range %04X-%04X", range->lower, range->upper);
        if (blocks.lower != range->lower || blocks.upper != range->upper)
            fprintf(out, " (whole blocks %04X-%04X)", blocks.lower, blocks.upper);
        int used = 0;
        int first = -1;
        for (int a = blocks.lower; a <= blocks.upper; ++a) {
            int w = image.getData(a);
            if (w == PicProgram::BLANK || w < 0) continue;  // -1: no such cell
            if (first < 0) first = a;
            ++used;
        }
        if (used == 0)
            fprintf(out, ": free\n");
        else
            fprintf(out, ": %d %s used, the first at %04X\n", used, plural(used, "word", "words"), first);
    }

    fprintf(out, "config, one character per word:\n%04X ", PicProgram::CONFIG_START);
    for (int a = PicProgram::CONFIG_START; a <= PicProgram::CONFIG_END; ++a) {
        bool used = image.getData(a) != PicProgram::BLANK;
        bool inRange = marked && marked->contains(a);
        fputc(mapChar(used, inRange), out);
    }
    for (int a = PicProgram::CONFIG_START; a <= PicProgram::CONFIG_END; ++a) {
        int w = image.getData(a);
        if (w != PicProgram::BLANK) fprintf(out, " %04X=%04X", a, w & 0xFFFF);
    }
    fputc('\n', out);

    fprintf(out, "eeprom, one character per %d words:\n", BLOCK_WORDS);
    if (image.getEepromSize() > 0)
        printBlocks(out, image, PicProgram::EEPROM_START, PicProgram::EEPROM_START + image.getEepromSize() - 1,
                    nullptr);
}

std::vector<int> differingAddresses(const PicProgram& a, const PicProgram& b) {
    // a's difference holds a's words where the two differ, but not where a is
    // blank; b's difference supplies those.
    std::unique_ptr<PicProgram> onlyA(a.diff(&b));
    std::unique_ptr<PicProgram> onlyB(b.diff(&a));
    std::vector<int> addresses;
    for (const Region& region : regions(*onlyA)) {
        for (int p = 0; p < region.size; ++p) {
            int address = region.start + p;
            if (onlyA->getData(address) != PicProgram::BLANK || onlyB->getData(address) != PicProgram::BLANK)
                addresses.push_back(address);
        }
    }
    return addresses;
}

void printDiff(FILE* out, const PicProgram& a, const PicProgram& b, const std::vector<int>& addresses) {
    auto word = [](const PicProgram& image, int address, char* text) {
        int w = image.getData(address);
        if (w == PicProgram::BLANK || w < 0)
            snprintf(text, 5, "----");
        else
            snprintf(text, 5, "%04X", w & 0xFFFF);
    };
    for (int address : addresses) {
        char wa[5];
        char wb[5];
        word(a, address, wa);
        word(b, address, wb);
        fprintf(out, "%04X %s %s\n", address, wa, wb);
    }
}

}  // namespace hexTools
