#include "options.h"

#include "writeMs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

bool parseLong(const char* text, int base, long min, long max, long& value) {
    if (!text || !*text || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    value = strtol(text, &end, base);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

bool parseRange(const std::string& text, protocol::Range& range) {
    size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    long lo = 0, hi = 0;
    if (dash > 4 || text.size() - dash - 1 > 4) return false;
    if (!parseLong(text.substr(0, dash).c_str(), 16, 0, 0xFFFF, lo)) return false;
    if (!parseLong(text.substr(dash + 1).c_str(), 16, 0, 0xFFFF, hi)) return false;
    range = protocol::Range{int(lo), int(hi)};
    return true;
}

bool parseDate(const std::string& text, Options& o) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return false;
    if (text[4] != '-' || text[7] != '-' || m < 1 || m > 12 || d < 1 || d > 31) return false;
    o.bootloader.year = y;
    o.bootloader.month = m;
    o.bootloader.day = d;
    return true;
}

enum Option {
    LINK = 1000, DEVICE, BAUD, CHIP, FLASH, EEPROM, RANGE, DATE, MEMORY, DUMP, WRITE_MS, ONCE, STATS, FAULT, HELP,
    VERSION
};

const option LONG_OPTIONS[] = {
    {"link", required_argument, nullptr, LINK},     {"device", required_argument, nullptr, DEVICE},
    {"baud", required_argument, nullptr, BAUD},     {"chip", required_argument, nullptr, CHIP},
    {"flash", required_argument, nullptr, FLASH},   {"eeprom", required_argument, nullptr, EEPROM},
    {"range", required_argument, nullptr, RANGE},   {"date", required_argument, nullptr, DATE},
    {"memory", required_argument, nullptr, MEMORY}, {"dump", required_argument, nullptr, DUMP},
    {"write-ms", required_argument, nullptr, WRITE_MS}, {"once", no_argument, nullptr, ONCE},
    {"stats", no_argument, nullptr, STATS},         {"fault", required_argument, nullptr, FAULT},
    {"help", no_argument, nullptr, HELP},           {"version", no_argument, nullptr, VERSION},
    {nullptr, 0, nullptr, 0},
};

// The memories, the bootloader's range and the write times: each as the
// command line gave it, wherever it stood, else the chip's.
void playChip(const Options& given, Options& o) {
    const ChipModel& chip = *o.chip;
    const BootloaderSettings played(chip);
    o.flashWords = given.flashWords >= 0 ? given.flashWords : chip.flashWords;
    o.eepromBytes = given.eepromBytes >= 0 ? given.eepromBytes : chip.eepromBytes;
    o.bootloader.range = given.bootloader.range.lower >= 0 ? given.bootloader.range : played.range;
    const BootloaderSettings& times = given.bootloader.programWriteMs >= 0 ? given.bootloader : played;
    o.bootloader.programWriteMs = times.programWriteMs;
    o.bootloader.eepromWriteMs = times.eepromWriteMs;
}

}  // namespace

void printUsage(FILE* out) {
    fprintf(out,
          "usage: bootloaderSim [options]\n"
          "Plays a PIC16F87x and its serial bootloader on a pseudo-terminal; prints\n"
          "\"bootloaderSim: port /dev/pts/N\" first.\n"
          "  --link PATH        also make PATH a symbolic link to the port; only an old\n"
          "                     link there is replaced, and it goes at exit\n"
          "  --device TTY       use this serial device instead of a pseudo-terminal\n"
          "  --baud N           pace the line at N bit/s; 0: no pacing\n"
          "                     (default: the speed the uploader set on the line)\n"
          "  --chip NAME        the chip played, with or without PIC, in any case:\n"
          "                     %s\n"
          "                     (default %s); it gives the defaults of --flash,\n"
          "                     --eeprom, --range and --write-ms\n"
          "  --flash N          flash words (default the chip's: 4096 or 8192)\n"
          "  --eeprom N         EEPROM bytes (default the chip's: 128 or 256)\n"
          "  --range LO-HI      the bootloader's own code, hex (default the chip's top\n"
          "                     256 words: 0F00-0FFF or 1F00-1FFF)\n"
          "  --date YYYY-MM-DD  revision date (default 2004-06-15)\n"
          "  --memory FILE.hex  the chip's content at start (default blank)\n"
          "  --dump FILE.hex    write the chip's content at exit\n"
          "  --write-ms F,E     ms to write a program block, an EEPROM byte (default the\n"
          "                     data sheets' 4 ms cycle: once a block on the A parts,\n"
          "                     4,4; once a word on the others, 16,4)\n"
          "  --once             end after one session: exit 0 if it ended with\n"
          "                     END_PROGRAMMING, 1 otherwise\n"
          "  --stats            print the run's figures at exit\n"
          "  --fault SPEC       repeatable: checksum@N verify@ADDR refuse@ADDR silent@N\n"
          "                     garbage@N:HH badready writetest hangup@N mute-ident\n"
          "                     trickle late@S (N frames from 1, ADDR hex image address)\n"
          "  --help, --version  print this text or the version and end\n",
          chipNameList().c_str(), defaultChip().name);
}

bool parseOptions(int argc, char** argv, Options& o, std::string& why) {
    optind = 1;
    opterr = 0;
    long n = 0;
    // What the command line gives itself; -1 where it leaves it to the chip.
    Options given;
    given.flashWords = given.eepromBytes = given.bootloader.range.lower = -1;
    given.bootloader.programWriteMs = -1;
    for (;;) {
        int c = getopt_long(argc, argv, "", LONG_OPTIONS, nullptr);
        if (c == -1) break;
        std::string arg = optarg ? optarg : "";
        switch (c) {
        case LINK: o.link = arg; break;
        case DEVICE: o.device = arg; break;
        case BAUD:
            if (!parseLong(optarg, 10, 0, 4000000, n)) return why = "bad --baud " + arg, false;
            o.baud = int(n);
            break;
        case CHIP:
            o.chip = findChip(arg);
            if (!o.chip) return why = "unknown --chip " + arg + " (one of " + chipNameList() + ")", false;
            break;
        case FLASH:
            if (!parseLong(optarg, 10, 1, 8192, n)) return why = "--flash takes 1 to 8192 words", false;
            given.flashWords = int(n);
            break;
        case EEPROM:
            if (!parseLong(optarg, 10, 0, 256, n)) return why = "--eeprom takes 0 to 256 bytes", false;
            given.eepromBytes = int(n);
            break;
        case RANGE:
            if (!parseRange(arg, given.bootloader.range)) return why = "bad --range " + arg + " (hex LO-HI)", false;
            if (given.bootloader.range.lower > given.bootloader.range.upper)
                return why = "bad --range " + arg + ": LO is above HI", false;
            break;
        case DATE:
            if (!parseDate(arg, o)) return why = "bad --date " + arg + " (YYYY-MM-DD)", false;
            break;
        case MEMORY: o.memory = arg; break;
        case DUMP: o.dump = arg; break;
        case WRITE_MS:
            if (!parseWriteMs(arg, given.bootloader.programWriteMs, given.bootloader.eepromWriteMs)) return why = "bad --write-ms " + arg + " (F,E in ms)", false;
            break;
        case ONCE: o.once = true; break;
        case STATS: o.stats = true; break;
        case FAULT:
            if (!addFault(o.faults, arg, why)) return false;
            break;
        case HELP: return why.clear(), false;
        case VERSION: o.version = true; return true;
        default:
            why = std::string("unknown option ") + (optind > 0 && optind <= argc ? argv[optind - 1] : "");
            return false;
        }
    }
    if (optind < argc) return why = std::string("unexpected argument ") + argv[optind], false;
    if (o.link.size() && o.device.size()) return why = "--link goes with the pseudo-terminal, not --device", false;
    playChip(given, o);
    return true;
}
