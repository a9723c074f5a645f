#include "options.h"

#include "PicProgram.h"
#include "writeMs.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>

namespace {

bool parseDouble(const char* text, double min, double max, double& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    value = strtod(text, &end);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

// A flash word or EEPROM byte of the chip, as a hex image address.
bool parseAddress(const std::string& text, const ChipModel& chip, int& address) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0') return false;
    bool flash = v >= 0 && v < chip.flashWords;
    bool eeprom = v >= PicProgram::EEPROM_START && v < PicProgram::EEPROM_START + chip.eepromBytes;
    if (!flash && !eeprom) return false;
    address = int(v);
    return true;
}

enum Option {
    FIRMWARE = 1000, MEMORY, CLOCK, LINK, FAST, SECONDS, DUMP, RESET_AT, STATS, WRITE_MS, STUCK_CELL,
    GPSIM_DEFECT, HELP, RESET_ON_OPEN, VERSION, CHIP
};

const option LONG_OPTIONS[] = {
    {"chip", required_argument, nullptr, CHIP},
    {"firmware", required_argument, nullptr, FIRMWARE},
    {"memory", required_argument, nullptr, MEMORY},
    {"clock", required_argument, nullptr, CLOCK},
    {"link", required_argument, nullptr, LINK},
    {"fast", no_argument, nullptr, FAST},
    {"seconds", required_argument, nullptr, SECONDS},
    {"dump", required_argument, nullptr, DUMP},
    {"reset-at", required_argument, nullptr, RESET_AT},
    {"stats", no_argument, nullptr, STATS},
    {"write-ms", required_argument, nullptr, WRITE_MS},
    {"stuck-cell", required_argument, nullptr, STUCK_CELL},
    {"gpsim-defect", required_argument, nullptr, GPSIM_DEFECT},
    {"help", no_argument, nullptr, HELP},
    {"reset-on-open", no_argument, nullptr, RESET_ON_OPEN},
    {"version", no_argument, nullptr, VERSION},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

void printUsage(FILE* out) {
    fputs("usage: picSim --firmware FILE.hex [options]\n"
          "Runs a PIC16F87x chip instruction by instruction with its USART on a\n"
          "pseudo-terminal; prints \"picSim: port /dev/pts/N\" first.\n"
          "  --firmware FILE.hex  the program to run (required)\n"
          "  --chip NAME          the chip (default 16F877A): 16F873, 16F874, 16F876,\n"
          "                       16F877, or an A part; flash and EEPROM are its own\n"
          "  --memory FILE.hex    more chip content, under the firmware's words\n"
          "  --clock HZ           oscillator frequency (default 20000000)\n"
          "  --link PATH          also make PATH a symbolic link to the port; only an old\n"
          "                       link there is replaced, and it goes at exit\n"
          "  --fast               run unthrottled instead of in real time\n"
          "  --seconds S          stop after S seconds of simulated time\n"
          "  --dump FILE.hex      write flash, configuration words and EEPROM at exit\n"
          "  --reset-at MS        repeatable: pull MCLR at MS simulated milliseconds\n"
          "  --reset-on-open      pull MCLR each time a program opens the port, as a\n"
          "                       board's DTR auto-reset does (SIGUSR1 pulls it too)\n"
          "  --stats              print the run's figures at exit\n"
          "  --write-ms F,E       ms to write a program block (a word on the older parts),\n"
          "                       an EEPROM byte (default 4,4, the typical erase/write cycle)\n"
          "  --stuck-cell ADDR    repeatable: self-writes cannot change this flash word or\n"
          "                       EEPROM byte (hex image address in the chip's memories:\n"
          "                       flash 0000-0FFF or 0000-1FFF, EEPROM 2100-217F or 21FF)\n"
          "  --gpsim-defect NAME  for tests, repeatable: leave one gpsim defect unrepaired\n",
          out);
    // The names wrapped to the usage text's width.
    std::string line = "                      ";
    std::string names = GpsimRepairs::names();
    for (size_t at = 0; at < names.size();) {
        size_t end = names.find(' ', at);
        std::string word = names.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.size() + 1 + word.size() > 79) {
            fprintf(out, "%s\n", line.c_str());
            line = "                      ";
        }
        line += " " + word;
        at = end == std::string::npos ? names.size() : end + 1;
    }
    fprintf(out, "%s\n  --help, --version    print this text or the version and end\n", line.c_str());
}

bool parseOptions(int argc, char** argv, Options& o, std::string& why) {
    optind = 1;
    opterr = 0;
    double d = 0;
    std::vector<std::string> stuck;  // judged once the chip is known
    for (;;) {
        int c = getopt_long(argc, argv, "", LONG_OPTIONS, nullptr);
        if (c == -1) break;
        std::string arg = optarg ? optarg : "";
        switch (c) {
        case FIRMWARE: o.firmware = arg; break;
        case MEMORY: o.memory = arg; break;
        case DUMP: o.dump = arg; break;
        case LINK: o.link = arg; break;
        case FAST: o.fast = true; break;
        case STATS: o.stats = true; break;
        case CLOCK:
            if (!parseDouble(optarg, 1e3, 1e9, d)) return why = "bad --clock " + arg + " (Hz)", false;
            o.clockHz = d;
            break;
        case SECONDS:
            if (!parseDouble(optarg, 0, 1e6, d)) return why = "bad --seconds " + arg, false;
            o.seconds = d;
            break;
        case RESET_AT:
            if (!parseDouble(optarg, 0, 1e9, d)) return why = "bad --reset-at " + arg + " (ms)", false;
            o.resetAtMs.push_back(d);
            break;
        case WRITE_MS:
            if (!parseWriteMs(arg, o.programWriteMs, o.eepromWriteMs)) return why = "bad --write-ms " + arg + " (F,E in ms)", false;
            break;
        case STUCK_CELL: stuck.push_back(arg); break;
        case CHIP:
            o.chip = findChip(arg);
            if (!o.chip) return why = "unknown --chip " + arg + " (" + chipNameList() + ")", false;
            break;
        case GPSIM_DEFECT: {
            Repair r;
            if (!GpsimRepairs::byName(arg, r)) return why = "unknown --gpsim-defect " + arg, false;
            o.repairs.keepDefect(r);
            break;
        }
        case RESET_ON_OPEN: o.resetOnOpen = true; break;
        case HELP: return why.clear(), false;
        case VERSION: o.version = true; return true;
        default:
            why = std::string("unknown option ") + (optind > 0 && optind <= argc ? argv[optind - 1] : "");
            return false;
        }
    }
    if (optind < argc) return why = std::string("unexpected argument ") + argv[optind], false;
    for (const std::string& text : stuck) {
        int address = 0;
        if (!parseAddress(text, *o.chip, address))
            return why = "bad --stuck-cell " + text + " (hex image address of the " + o.chip->name +
                         "'s flash or EEPROM)", false;
        o.stuckCells.push_back(address);
    }
    if (o.firmware.empty()) return why = "--firmware FILE.hex is required", false;
    return true;
}
