// chipCheck: does a simulated chip's dump hold exactly the program that was
// uploaded into it?  Erased values count as blank on both sides, the
// program's words are masked as they were sent, and the bootloader's range
// (widened to whole blocks) and the configuration words that the upload
// does not send are left out.  With BEFORE.hex (the chip's content before
// the upload) every cell is checked: sent blocks hold the program, all else
// is unchanged.  With --slot ADDR, the chip's bootloader keeps its own jump
// at 0000 and the program's block 0 is looked for at ADDR.  --chip gives the
// range of a bootloader at the top of that chip's flash.
#include "chipFamily.h"
#include "ownedHandles.h"
#include "uploadOracle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t SHOWN_DIFFERENCES = 20;  // lines of differences printed

bool load(const char* path, PicProgram& into) {
    OwnedFile f(fopen(path, "r"));
    if (!f) {
        fprintf(stderr, "chipCheck: cannot open %s\n", path);
        return false;
    }
    if (!into.readHex(f.get())) {
        fprintf(stderr, "chipCheck: cannot read %s\n", path);
        return false;
    }
    return true;
}

void usage(FILE* out = stderr) {
    fprintf(out,
          "usage: chipCheck [--chip NAME] [--range LO-HI] [--slot ADDR] [-o] PROGRAM.hex CHIP.hex [BEFORE.hex]\n"
          "  --chip NAME    the chip, one of %s\n"
          "                 (default %s): its top 256 words are the bootloader's range\n"
          "  --range LO-HI  the bootloader's range as it reports it (default the chip's)\n"
          "  --slot ADDR    the chip holds the program's block 0 (0000-0003) at ADDR,\n"
          "                 a multiple of 4 in hex, and its bootloader's jump at 0000\n"
          "  -o             the upload ignored an overlap with that range\n"
          "  --help, --version  print this text or the version\n"
          "exit 0 when the chip holds the program, 1 when it differs, 2 on bad use\n",
          chipNameList().c_str(), defaultChip().name);
}

}  // namespace

int main(int argc, char** argv) {
    const ChipModel* model = &defaultChip();
    protocol::Range range{-1, -1};  // until --range gives it
    bool ignoreOverlap = false;
    int slot = -1;
    const char* files[3] = {nullptr, nullptr, nullptr};
    int fileCount = 0;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--range") && i + 1 < argc) {
            unsigned lo = 0, hi = 0;
            char tail = 0;
            if (sscanf(argv[++i], "%x-%x%c", &lo, &hi, &tail) != 2 || lo > 0xFFFF || hi > 0xFFFF) {
                usage();
                return 2;
            }
            range = protocol::Range{int(lo), int(hi)};
        } else if (!strcmp(argv[i], "--chip") && i + 1 < argc) {
            model = findChip(argv[++i]);
            if (!model) {
                fprintf(stderr, "chipCheck: unknown --chip %s (one of %s)\n", argv[i], chipNameList().c_str());
                usage();
                return 2;
            }
        } else if (!strcmp(argv[i], "--slot") && i + 1 < argc) {
            unsigned address = 0;
            char tail = 0;
            // Anything but an address in hex is refused below, with the rest.
            if (sscanf(argv[++i], "%x%c", &address, &tail) != 1 || address > 0xFFFF) address = 1;
            slot = int(address);
        } else if (!strcmp(argv[i], "--help")) {
            usage(stdout);
            return 0;
        } else if (!strcmp(argv[i], "--version")) {
            printf("chipCheck %s\n", PIC_TOOLS_VERSION);
            return 0;
        } else if (!strcmp(argv[i], "-o")) {
            ignoreOverlap = true;
        } else if (argv[i][0] != '-' && fileCount < 3) {
            files[fileCount++] = argv[i];
        } else {
            usage();
            return 2;
        }
    }
    if (fileCount < 2) {
        usage();
        return 2;
    }
    // Known once the whole line is read: --chip may come after --slot.
    if (slot >= 0 && (slot % 4 != 0 || slot + 3 > model->bootEnd())) {
        fprintf(stderr, "chipCheck: --slot takes a flash block's address in hex, such as %04X\n", model->bootEnd() - 7);
        usage();
        return 2;
    }
    if (range.lower < 0) range = protocol::Range{model->bootStart(), model->bootEnd()};
    std::unique_ptr<PicProgram> program(new PicProgram), chip(new PicProgram), before(new PicProgram);
    if (!load(files[0], *program) || !load(files[1], *chip) || (files[2] && !load(files[2], *before))) return 2;
    if (slot >= 0) {
        takeBlockZeroFromSlot(*chip, slot);
        if (files[2]) takeBlockZeroFromSlot(*before, slot);
    }

    std::vector<std::string> differences =
        files[2] ? uploadDifferences(*chip, *before, *program, range, ignoreOverlap)
                 : programDifferences(*chip, *program, range, ignoreOverlap);
    protocol::Range w = protectedRange(range);
    if (differences.empty()) {
        printf("chipCheck: %s holds exactly %s outside %04X-%04X\n", files[1], files[0], w.lower, w.upper);
        return 0;
    }
    printf("chipCheck: %s differs from %s outside %04X-%04X:\n", files[1], files[0], w.lower, w.upper);
    for (size_t i = 0; i < differences.size() && i < SHOWN_DIFFERENCES; ++i) printf("  %s\n", differences[i].c_str());
    if (differences.size() > SHOWN_DIFFERENCES) printf("  ... and %zu more\n", differences.size() - SHOWN_DIFFERENCES);
    return 1;
}
