// bootloaderSim: a PIC with its serial bootloader at the far end of a
// pseudo-terminal (or a real serial line), for trying and testing the
// uploader without a board.
#include "chip.h"
#include "farEndPort.h"
#include "line.h"
#include "lineDriver.h"
#include "options.h"
#include "stats.h"
#include "stopSignals.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr int EXIT_USAGE = 2;

bool openLine(Line& line, const Options& options, std::string& port, std::string& err) {
    if (!options.device.empty()) {
        port = options.device;
        return line.openDevice(options.device, options.baud > 0 ? options.baud : 19200, err);
    }
    line.setPacing(options.baud);
    return line.openPty(port, err);
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
        fprintf(stderr, "bootloaderSim: %s\n", why.c_str());
        printUsage(stderr);
        return EXIT_USAGE;
    }
    if (options.version) {
        printf("bootloaderSim %s\n", PIC_TOOLS_VERSION);
        return 0;
    }
    catchStopSignals();

    Chip chip(options.flashWords, options.eepromBytes);
    if (!options.memory.empty() && !chip.load(options.memory, why)) {
        fprintf(stderr, "bootloaderSim: %s\n", why.c_str());
        return 1;
    }

    Line line;
    std::string port;
    if (!openLine(line, options, port, why)) {
        fprintf(stderr, "bootloaderSim: %s\n", why.c_str());
        return 1;
    }
    PortLink link;
    if (!options.link.empty() && !link.make(options.link, port)) {
        fprintf(stderr, "bootloaderSim: cannot make the link %s\n", options.link.c_str());
        return 1;
    }
    printf("bootloaderSim: port %s\n", port.c_str());
    fflush(stdout);

    Stats stats;
    LineDriver driver(line, chip, options, stats);
    LineDriver::Outcome outcome;
    do {
        outcome = driver.serveSession();
    } while (!options.once && (outcome == LineDriver::Outcome::Completed || outcome == LineDriver::Outcome::PeerGone));
    driver.closeSessionClock();

    int status = 0;
    if (outcome == LineDriver::Outcome::LineClosed) status = 1;
    if (options.once && outcome != LineDriver::Outcome::Completed) status = 1;

    if (!options.dump.empty() && !chip.dump(options.dump, why)) {
        fprintf(stderr, "bootloaderSim: %s\n", why.c_str());
        status = 1;
    }
    if (options.stats) {
        stats.bytesIn = line.bytesIn();
        stats.bytesOut = line.bytesOut();
        stats.wireSeconds = line.wireSeconds();
        stats.print(stdout);
    }
    return status;
}
