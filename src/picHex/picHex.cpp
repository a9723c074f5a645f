// picHex: the program image's operations on Intel HEX files, from the shell.
//
// Exit value: 0 done, 1 the images differ (diff, compare), 2 an error (bad
// command line, a file that cannot be read or written).

#include "PicProgram.h"
#include "hexTools.h"
#include "ownedHandles.h"
#include "protocol.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_DIFFERENT = 1;
constexpr int EXIT_ERROR = 2;

constexpr const char* STANDARD_STREAM = "-";  // a file name meaning stdin or stdout

void printUsage(FILE* out) {
    fputs("usage: picHex COMMAND ARGUMENTS\n"
          "Shows, compares and combines PIC program images in Intel HEX files.\n"
          "  picHex info FILE [--flash N] [--eeprom N]\n"
          "                 words used per region, the runs of used addresses, and\n"
          "                 whether they fit a chip of N flash words (default 8192)\n"
          "                 and N EEPROM bytes (default 256)\n"
          "  picHex map FILE [--range LO-HI]\n"
          "                 the flash, one character per block of 4 words, then the\n"
          "                 configuration words and the EEPROM; --range marks a\n"
          "                 bootloader's range (hex image addresses)\n"
          "  picHex normalize FILE -o OUT\n"
          "                 write FILE's words back in the canonical form\n"
          "  picHex merge A B -o OUT\n"
          "                 A's words, and B's where A is blank\n"
          "  picHex diff A B\n"
          "                 every address where A and B hold different words\n"
          "                 (---- for blank); exit 1 when there is one\n"
          "  picHex compare A B\n"
          "                 exit 0 when A and B hold the same words, else 1\n"
          "  picHex --help, picHex --version\n"
          "A file name - reads standard input; -o - writes standard output.\n"
          "Exit status: 0 done, 1 the images differ, 2 an error.\n",
          out);
}

enum class Command { Info, Map, Normalize, Merge, Diff, Compare };

struct CommandInfo {
    const char* name;
    Command command;
    size_t files;     // input files it takes
    bool output;      // needs -o OUT
    bool chipSizes;   // takes --flash and --eeprom
    bool range;       // takes --range
};

constexpr CommandInfo COMMANDS[] = {
    {"info", Command::Info, 1, false, true, false},
    {"map", Command::Map, 1, false, false, true},
    {"normalize", Command::Normalize, 1, true, false, false},
    {"merge", Command::Merge, 2, true, false, false},
    {"diff", Command::Diff, 2, false, false, false},
    {"compare", Command::Compare, 2, false, false, false},
};

struct CommandLine {
    const CommandInfo* command = nullptr;
    std::vector<std::string> files;
    std::string output;
    int flashWords = PicProgram::FLASH_CAPACITY;
    int eepromWords = PicProgram::EEPROM_CAPACITY;
    bool hasRange = false;
    protocol::Range range{};
};

enum class Parse { Run, Help, Version, Refused };

bool parseNumber(const std::string& text, long min, long max, int& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    long n = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < min || n > max) return false;
    value = int(n);
    return true;
}

bool parseHexAddress(const std::string& text, int& value) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    value = int(strtol(text.c_str(), nullptr, 16));
    return true;
}

bool parseRange(const std::string& text, protocol::Range& range) {
    size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    return parseHexAddress(text.substr(0, dash), range.lower) &&
           parseHexAddress(text.substr(dash + 1), range.upper) && range.lower <= range.upper;
}

// Fills cl from the arguments; on a refusal, a one-line reason in why (empty
// when the usage text says it all).
Parse parseCommandLine(int argc, char** argv, CommandLine& cl, std::string& why) {
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return Parse::Help;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--version") == 0) return Parse::Version;
    if (argc < 2) return Parse::Refused;
    for (const CommandInfo& c : COMMANDS)
        if (strcmp(argv[1], c.name) == 0) cl.command = &c;
    if (!cl.command) return why = std::string("unknown command ") + argv[1], Parse::Refused;
    const CommandInfo& c = *cl.command;

    bool hasOutput = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool takesValue = arg == "-o" || arg == "--flash" || arg == "--eeprom" || arg == "--range";
        if (takesValue) {
            if (i + 1 >= argc) return why = arg + " needs a value", Parse::Refused;
            value = argv[++i];
        }
        if (arg == "-o" && c.output) {
            cl.output = value;
            hasOutput = true;
        } else if (arg == "--flash" && c.chipSizes) {
            if (!parseNumber(value, 0, PicProgram::FLASH_CAPACITY, cl.flashWords))
                return why = "--flash takes 0 to 8192 words", Parse::Refused;
        } else if (arg == "--eeprom" && c.chipSizes) {
            if (!parseNumber(value, 0, PicProgram::EEPROM_CAPACITY, cl.eepromWords))
                return why = "--eeprom takes 0 to 256 bytes", Parse::Refused;
        } else if (arg == "--range" && c.range) {
            if (!parseRange(value, cl.range)) return why = "bad --range " + value + " (hex LO-HI)", Parse::Refused;
            cl.hasRange = true;
        } else if (takesValue || (arg.size() > 1 && arg[0] == '-')) {
            return why = std::string(c.name) + " takes no option " + arg, Parse::Refused;
        } else {
            cl.files.push_back(arg);
        }
    }
    if (cl.files.size() != c.files)
        return why = std::string(c.name) + (c.files == 1 ? " takes one file" : " takes two files"), Parse::Refused;
    if (c.output && !hasOutput) return why = std::string(c.name) + " needs -o OUT", Parse::Refused;
    return Parse::Run;
}

enum class Read { Whole, Partial, Refused };

// Refused and Partial come after a message; the reader prints its own
// reasons first.
Read readImage(const std::string& path, PicProgram& image) {
    OwnedFile owned;
    FILE* in = stdin;
    if (path != STANDARD_STREAM) {
        owned.reset(fopen(path.c_str(), "r"));
        if (!owned) {
            fprintf(stderr, "picHex: cannot open %s: %s\n", path.c_str(), strerror(errno));
            return Read::Refused;
        }
        in = owned.get();
    }
    const char* name = owned ? path.c_str() : "the standard input";
    // The reader reports a word at an address no chip has and still reads
    // on; that report is the only sign that the image lacks a word of the file.
    bool reported = false;
    bool read = image.readHex(in, [&reported](const char* message) {
        fputs(message, stderr);
        reported = true;
    });
    if (!read) {
        fprintf(stderr, "picHex: cannot read %s\n", name);
        return Read::Refused;
    }
    if (reported) {
        fprintf(stderr, "picHex: %s holds words that no chip has a place for\n", name);
        return Read::Partial;
    }
    return Read::Whole;
}

bool writeImage(const std::string& path, const PicProgram& image) {
    // A refused standard output is reported once, by the check every run
    // ends with.
    if (path == STANDARD_STREAM) return image.writeHex(stdout);
    OwnedFile out(fopen(path.c_str(), "w"));
    if (!out) {
        fprintf(stderr, "picHex: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    bool written = image.writeHex(out.get());
    // Closing flushes what writeHex left buffered; only then is the file whole.
    bool closed = fclose(out.release()) == 0;
    if (!written || !closed) {
        fprintf(stderr, "picHex: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    return true;
}

int compare(const CommandLine& cl, const PicProgram& a, const PicProgram& b) {
    const char* nameA = cl.files[0].c_str();
    const char* nameB = cl.files[1].c_str();
    bool aInB = a.equals(&b);
    bool bInA = b.equals(&a);
    if (aInB && bInA) {
        printf("%s and %s hold the same words\n", nameA, nameB);
        return EXIT_DONE;
    }
    if (!aInB && !bInA)
        printf("%s and %s each hold words that the other lacks or holds differently\n", nameA, nameB);
    else if (!aInB)
        printf("%s holds words that %s lacks or holds differently\n", nameA, nameB);
    else
        printf("%s holds words that %s lacks or holds differently\n", nameB, nameA);
    return EXIT_DIFFERENT;
}

int run(const CommandLine& cl, const std::vector<std::unique_ptr<PicProgram>>& images, bool wordsLost) {
    const PicProgram& first = *images[0];
    switch (cl.command->command) {
    case Command::Info:
        hexTools::printInfo(stdout, first, cl.flashWords, cl.eepromWords, wordsLost);
        return EXIT_DONE;
    case Command::Map:
        hexTools::printMap(stdout, first, cl.hasRange ? &cl.range : nullptr);
        return EXIT_DONE;
    case Command::Normalize:
        return writeImage(cl.output, first) ? EXIT_DONE : EXIT_ERROR;
    case Command::Merge: {
        std::unique_ptr<PicProgram> merged(first.merge(images[1].get()));
        return writeImage(cl.output, *merged) ? EXIT_DONE : EXIT_ERROR;
    }
    case Command::Diff: {
        std::vector<int> addresses = hexTools::differingAddresses(first, *images[1]);
        hexTools::printDiff(stdout, first, *images[1], addresses);
        return addresses.empty() ? EXIT_DONE : EXIT_DIFFERENT;
    }
    case Command::Compare:
        return compare(cl, first, *images[1]);
    }
    return EXIT_ERROR;
}

// What went to the standard output is only known to have arrived after a
// flush; a full disk or a closed pipe shows there.
bool standardOutputWritten() {
    if (fflush(stdout) == 0 && !ferror(stdout)) return true;
    fprintf(stderr, "picHex: cannot write the standard output: %s\n", strerror(errno));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine cl;
    std::string why;
    switch (parseCommandLine(argc, argv, cl, why)) {
    case Parse::Help:
        printUsage(stdout);
        return standardOutputWritten() ? EXIT_DONE : EXIT_ERROR;
    case Parse::Version:
        printf("picHex %s\n", PIC_TOOLS_VERSION);
        return standardOutputWritten() ? EXIT_DONE : EXIT_ERROR;
    case Parse::Refused:
        if (!why.empty()) fprintf(stderr, "picHex: %s\n", why.c_str());
        printUsage(stderr);
        return EXIT_ERROR;
    case Parse::Run:
        break;
    }

    std::vector<std::unique_ptr<PicProgram>> images;
    bool wordsLost = false;
    for (const std::string& path : cl.files) {
        images.push_back(std::make_unique<PicProgram>());
        Read read = readImage(path, *images.back());
        if (read == Read::Refused) return EXIT_ERROR;
        wordsLost = wordsLost || read == Read::Partial;
    }
    // Without the words the reader dropped, a written image would lose them
    // and a comparison could find two different files alike.  info still
    // shows what it read: that is what one looks at a file with.
    if (wordsLost && cl.command->command != Command::Info) return EXIT_ERROR;

    int result = run(cl, images, wordsLost);
    if (!standardOutputWritten()) return EXIT_ERROR;
    return wordsLost ? EXIT_ERROR : result;
}
