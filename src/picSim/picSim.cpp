// picSim: a PIC16F87x chip (--chip, the PIC16F877A by default) run
// instruction by instruction by gpsim's simulation core, its USART wired to a pseudo-terminal at pin level, so that a program
// on the pty talks to real firmware.
#include "PicProgram.h"
#include "chip.h"
#include "dumpPath.h"
#include "farEndPort.h"
#include "gpsimRepairs.h"
#include "options.h"
#include "ownedHandles.h"
#include "ptyPort.h"
#include "resetSignal.h"
#include "runLoop.h"
#include "selfWrite.h"
#include "stopSignals.h"
#include "usartBridge.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>

namespace {

constexpr int EXIT_USAGE = 2;

bool readImage(const std::string& path, PicProgram& image, std::string& why) {
    OwnedFile f(fopen(path.c_str(), "r"));
    if (!f) return why = "cannot open " + path + ": " + strerror(errno), false;
    if (!image.readHex(f.get())) return why = "cannot read " + path, false;
    return true;
}

bool writeImage(const std::string& path, const PicProgram& image, std::string& why) {
    OwnedFile f(fopen(path.c_str(), "w"));
    if (!f) return why = "cannot create " + path + ": " + strerror(errno), false;
    errno = 0;
    bool ok = image.writeHex(f.get());
    ok = fclose(f.release()) == 0 && ok;
    if (!ok) why = "cannot write " + path + (errno ? std::string(": ") + strerror(errno) : "");
    return ok;
}

// gpsim talks on stdout and stderr (and std::cout) whenever it likes; a
// caller that never drains those pipes must not stall the chip.  picSim's
// own lines go to duplicates of the two descriptors, gpsim's to /dev/null.
// Sanitizer builds keep descriptor 2, where their reports go.
struct Console {
    FILE* out = stdout;
    FILE* err = stderr;
    OwnedFile ownOut;
    OwnedFile ownErr;

    void silenceGpsim() {
        fflush(stdout);
        fflush(stderr);
        OwnedFd devNull(open("/dev/null", O_WRONLY));
        if (!devNull) return;
        ownOut.reset(fdopen(dup(1), "w"));
        if (ownOut) {
            out = ownOut.get();
            dup2(devNull.get(), 1);
        }
#if !defined(__SANITIZE_ADDRESS__)
        ownErr.reset(fdopen(dup(2), "w"));
        if (ownErr) {
            err = ownErr.get();
            dup2(devNull.get(), 2);
        }
#endif
    }
};

struct StatsSources {
    const RunFigures& figures;
    const UsartBridge& bridge;
    const SelfWrite* selfWrite;
    const ReceiveFifo* receiver;
    PicChip& chip;
    const GpsimRepairs& repairs;
};

void printStats(FILE* out, const StatsSources& s) {
    const RunFigures& f = s.figures;
    const UsartBridge& bridge = s.bridge;
    const SelfWrite* selfWrite = s.selfWrite;
    fprintf(out, "cycles: %" PRIu64 "\n", f.cycles);
    fprintf(out, "wall_s: %.6f\n", f.wallSeconds);
    fprintf(out, "cycles_per_s: %.0f\n", f.wallSeconds > 0 ? double(f.cycles) / f.wallSeconds : 0.0);
    fprintf(out, "bytes_in: %" PRIu64 "\n", bridge.bytesIn());
    fprintf(out, "bytes_out: %" PRIu64 "\n", bridge.bytesOut());
    fprintf(out, "flash_block_writes: %" PRIu64 "\n", selfWrite ? selfWrite->flashBlocksWritten() : 0);
    fprintf(out, "eeprom_writes: %" PRIu64 "\n", selfWrite ? selfWrite->eepromBytesWritten() : 0);
    fprintf(out, "mclr_pulls: %" PRIu64 "\n", f.mclrPulls);
    fprintf(out, "rx_overruns: %" PRIu64 "\n", s.receiver ? s.receiver->overruns() : 0);
    fprintf(out, "rx_framing_errors: %" PRIu64 "\n", s.receiver ? s.receiver->framingErrors() : 0);
    fprintf(out, "instructions_live: %" PRIu64 "\n", s.chip.instructionsLive());
    fprintf(out, "line_symbols_lost: %" PRIu64 "\n", s.chip.lineSymbolsLost());
    fprintf(out, "heap_in_use: %zu\n", mallinfo2().uordblks);
    s.repairs.printStats(out);
    fflush(out);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string why;
    if (!parseOptions(argc, argv, options, why)) {
        if (why.empty()) {
            printUsage(stdout);
            return 0;
        }
        fprintf(stderr, "picSim: %s\n", why.c_str());
        printUsage(stderr);
        return EXIT_USAGE;
    }
    if (options.version) {
        printf("picSim %s\n", PIC_TOOLS_VERSION);
        return 0;
    }

    // The firmware's words lie over the rest of the chip's content.
    PicProgram memory;
    PicProgram firmware;
    if ((!options.memory.empty() && !readImage(options.memory, memory, why)) ||
        !readImage(options.firmware, firmware, why) || (!options.dump.empty() && !checkDumpPath(options.dump, why))) {
        fprintf(stderr, "picSim: %s\n", why.c_str());
        return 1;
    }
    std::unique_ptr<PicProgram> content(firmware.merge(&memory));

    Console console;
    console.silenceGpsim();
    catchStopSignals();
    catchResetSignal();

    GpsimRepairs& repairs = options.repairs;
    PicChip chip(*options.chip, options.clockHz, repairs);
    if (!chip.ok()) {
        fprintf(console.err, "picSim: gpsim cannot build a PIC%s\n", options.chip->name);
        return 1;
    }
    int missing = 0;
    if (!chip.load(*content, missing)) {
        fprintf(console.err, "picSim: the PIC%s has no %04X, which the firmware or --memory fills\n",
                options.chip->name, missing);
        return 1;
    }
    std::set<int> stuck(options.stuckCells.begin(), options.stuckCells.end());
    std::unique_ptr<SelfWrite> selfWrite;
    if (repairs.on(Repair::SelfWrite))
        selfWrite.reset(new SelfWrite(chip, repairs, options.programWriteMs, options.eepromWriteMs, stuck));
    std::unique_ptr<ReceiveFifo> receiver;
    if (repairs.on(Repair::RxFifo)) receiver.reset(new ReceiveFifo(chip, repairs));
    chip.powerOn();

    PtyPort port;
    std::string portName;
    if (!port.open(portName, why, options.resetOnOpen)) {
        fprintf(console.err, "picSim: %s\n", why.c_str());
        return 1;
    }
    PortLink link;
    if (!options.link.empty() && !link.make(options.link, portName, why)) {
        fprintf(console.err, "picSim: %s\n", why.c_str());
        return 1;
    }
    fprintf(console.out, "picSim: port %s\n", portName.c_str());
    fflush(console.out);

    RunLoop loop(chip, port, selfWrite.get(), repairs, options);
    RunFigures figures = loop.run();

    int status = 0;
    if (!options.dump.empty()) {
        PicProgram dumped;
        chip.save(dumped);
        if (!writeImage(options.dump, dumped, why)) {
            fprintf(console.err, "picSim: %s\n", why.c_str());
            status = 1;
        }
    }
    if (options.stats) printStats(console.out, {figures, loop.bridge(), selfWrite.get(), receiver.get(), chip, repairs});
    return status;
}
