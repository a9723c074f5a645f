#include "options.h"

#include "explain.h"
#include "protocol.h"
#include "terminal.h"
#include "textFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

constexpr const char* NOTE_INDENT = "  ";  // a note's continuation lines

void usage(const UploaderOptions& options)
{
    printf("\nProgram uploader for use with the V Oruzavuver.\n\n");
    printf("Usage:\n");
    printf("\t%s [-o] [-q] [-p port] [-s speed] filename\n\n", options.programName.c_str());
    printf("-o\tIgnore an overlap between the new program and the bootloader.\n");
    printf("\tThe overlapping addresses cannot be written with a bootloader.\n");
    printf("-q\tQuery the bootloader for it's version and address space. Write\n");
    printf("\tnothing to program ROM.\n");
    printf("-p\tSpecify the serial port to use. The default is %s.\n", options.portName.c_str());
    printf("-s\tSpecify the speed for the serial port to use. The default\n");
    printf("\tis %dbps.\n\n", protocol::DEFAULT_UPLOAD_SPEED);
    printf("\tA filename with the hex file to upload must be specified.\n\n");
}

void longOptionsHelp()
{
    printf("Long options:\n");
    printf("  --help                      print this text and exit\n");
    printf("  --version                   print the version and exit\n");
    printf("  --exit-status=conventional  exit 0 after success, 1 after a failed upload or\n");
    printf("                              query, 2 when the run cannot start (the default,\n");
    printf("                              --exit-status=classic, is 1, 0 and 255)\n");
    printf("  --reset[=dtr|rts|both|none] pulse the adapter's modem line(s) to reset the\n");
    printf("                              board before the wait (--reset alone: dtr)\n");
    printf("  --reset-ms=MS               how long the reset line is asserted (default %d)\n", RESET_DEFAULT_MS);
    printf("  --list-ports                list this machine's serial ports and exit\n");
    printf("  --monitor[=SPEED]           after the end command, stay on the port: what the\n");
    printMonitorHelp();
    printf("  --monitor-seconds=N         end the monitor after N seconds (implies --monitor)\n");
    printf("  --wait=SECONDS              how long the bootloader's greeting is awaited, 1 to\n");
    printf("                              %d (default %d)\n", WAIT_SECONDS_MAX, LinkWindows().greetingMs / 1000);
    printf("  --trace                     every byte sent and received, in hex, on standard\n");
    printf("                              error, up to the end command\n");
    printf("  --retries=N                 after a checksum error report, send the block\n");
    printf("                              again, at most N times a block (0-%d, default 0)\n", RETRIES_MAX);
    printf("  --explain                   notes, reasons, hints and the summary on pipes and\n");
    printf("                              files too; without it they show on a terminal only\n\n");
}

// Long options come beside the single-letter ones, which keep their quirks
// (only the second character counts).  They are taken out of the command
// line first, so the letters never see them.
enum class ValueRule {
    None,        // --name
    Required,    // --name=value or --name value
    EqualsOnly,  // --name or --name=value: a following argument is never taken
};

struct LongOption {
    std::string name;
    std::string value;
    bool hasValue;
};

// What an option does to the settings.  Request::Upload lets the run go
// on; anything else ends the reading of the command line.  A rejection has
// printed its reason on standard error; the usage text follows it.
using Apply = Request (*)(const LongOption&, UploaderOptions&);

Request chooseExitStatus(const LongOption& option, UploaderOptions& options)
{
    if (option.value == "classic")
        options.exitStatus = ExitStatus::Classic;
    else if (option.value == "conventional")
        options.exitStatus = ExitStatus::Conventional;
    else {
        fprintf(stderr, "unknown exit status %s (classic or conventional)\n", option.value.c_str());
        return Request::Rejected;
    }
    return Request::Upload;
}

Request showHelp(const LongOption&, UploaderOptions& options)
{
    usage(options);
    longOptionsHelp();
    return Request::Help;
}

Request showVersion(const LongOption&, UploaderOptions&)
{
    printf("programUploader %s\n", PIC_TOOLS_VERSION);
    return Request::Version;
}

// --reset alone pulses DTR, the line most auto-reset circuits use.
Request chooseResetLines(const LongOption& option, UploaderOptions& options)
{
    if (!option.hasValue) {
        options.reset.lines = ResetLines::Dtr;
        return Request::Upload;
    }
    if (parseResetLines(option.value, options.reset.lines))
        return Request::Upload;
    fprintf(stderr, "invalid --reset value '%s' (dtr, rts, both or none)\n", option.value.c_str());
    return Request::Rejected;
}

Request chooseResetMs(const LongOption& option, UploaderOptions& options)
{
    if (parseResetMs(option.value, options.reset.assertMs))
        return Request::Upload;
    fprintf(stderr, "invalid --reset-ms value '%s' (milliseconds, 1 to %d)\n", option.value.c_str(), RESET_MAX_MS);
    return Request::Rejected;
}

Request listPorts(const LongOption&, UploaderOptions&)
{
    return Request::ListPorts;
}

// A whole number of decimal digits alone, at most max.
bool wholeNumber(const std::string& text, long max, long& number)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stol(text);
    return number <= max;
}

// Speeds for a refusal: "300, 600, ... 115200".
template <size_t N>
std::string speedList(const int (&speeds)[N])
{
    std::vector<std::string> names;
    for (int s : speeds)
        names.push_back(std::to_string(s));
    return commaList(names);
}

// --monitor alone keeps the upload's speed.
Request chooseMonitor(const LongOption& option, UploaderOptions& options)
{
    options.monitor.on = true;
    long rate = 0;
    if (!option.hasValue)
        return Request::Upload;
    if (wholeNumber(option.value, protocol::CONSOLE_SPEEDS[std::size(protocol::CONSOLE_SPEEDS) - 1], rate) &&
        protocol::isConsoleSpeed(static_cast<int>(rate))) {
        options.monitor.bitsPerSecond = static_cast<int>(rate);
        return Request::Upload;
    }
    fprintf(stderr, "invalid --monitor speed '%s' (%s)\n", option.value.c_str(),
            speedList(protocol::CONSOLE_SPEEDS).c_str());
    return Request::Rejected;
}

// Whole seconds from 1 to max into seconds, as --wait and --monitor-seconds
// take them; a refusal names the option.
Request chooseSeconds(const LongOption& option, int max, int& seconds)
{
    long number = 0;
    if (wholeNumber(option.value, max, number) && number >= 1) {
        seconds = static_cast<int>(number);
        return Request::Upload;
    }
    fprintf(stderr, "invalid --%s value '%s' (whole seconds, 1 to %d)\n", option.name.c_str(), option.value.c_str(),
            max);
    return Request::Rejected;
}

// --monitor-seconds alone turns the monitor on at the upload's speed.
Request chooseMonitorSeconds(const LongOption& option, UploaderOptions& options)
{
    options.monitor.on = true;
    return chooseSeconds(option, MONITOR_SECONDS_MAX, options.monitor.seconds);
}

Request chooseWait(const LongOption& option, UploaderOptions& options)
{
    int seconds = 0;
    const Request request = chooseSeconds(option, WAIT_SECONDS_MAX, seconds);
    if (request == Request::Upload)
        options.windows.greetingMs = seconds * 1000;
    return request;
}

// Taken first, so that even the notes on the command line follow it.
Request chooseExplain(const LongOption&, UploaderOptions&)
{
    explainEverywhere(true);
    return Request::Upload;
}

Request chooseTrace(const LongOption&, UploaderOptions& options)
{
    options.trace = true;
    return Request::Upload;
}

Request chooseRetries(const LongOption& option, UploaderOptions& options)
{
    long retries = 0;
    if (wholeNumber(option.value, RETRIES_MAX, retries)) {
        options.windows.checksumRetries = static_cast<int>(retries);
        return Request::Upload;
    }
    fprintf(stderr, "invalid --retries value '%s' (a whole number, 0 to %d)\n", option.value.c_str(), RETRIES_MAX);
    return Request::Rejected;
}

struct LongOptionSpec {
    const char* name;
    ValueRule value;
    // Taken before anything else on the line is judged, so that it decides
    // how every rejection exits.
    bool first;
    Apply apply;
};
constexpr LongOptionSpec LONG_OPTIONS[] = {
    {"help", ValueRule::None, false, showHelp},
    {"version", ValueRule::None, false, showVersion},
    {"exit-status", ValueRule::Required, true, chooseExitStatus},
    {"reset", ValueRule::EqualsOnly, false, chooseResetLines},
    {"reset-ms", ValueRule::Required, false, chooseResetMs},
    {"list-ports", ValueRule::None, false, listPorts},
    {"monitor", ValueRule::EqualsOnly, false, chooseMonitor},
    {"monitor-seconds", ValueRule::Required, false, chooseMonitorSeconds},
    {"wait", ValueRule::Required, false, chooseWait},
    {"trace", ValueRule::None, false, chooseTrace},
    {"retries", ValueRule::Required, false, chooseRetries},
    {"explain", ValueRule::None, true, chooseExplain},
};

struct FoundOption {
    const LongOptionSpec* spec;
    LongOption option;
};

// Splits argv into the long options and the rest (argv[0] first).  False,
// after a line on standard error, for an unknown long option or one that
// lacks or must not have a value; the others are still taken, so that an
// --exit-status anywhere on the line decides how that failure exits.
bool takeLongOptions(int argc, char** argv, std::vector<FoundOption>& found, std::vector<char*>& rest)
{
    bool ok = true;
    rest.assign(argv, argv + (argc > 0 ? 1 : 0));
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() <= 2 || arg.compare(0, 2, "--") != 0) {
            rest.push_back(argv[i]);
            continue;
        }
        size_t equals = arg.find('=');
        LongOption option{arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2), "",
                          equals != std::string::npos};
        if (option.hasValue)
            option.value = arg.substr(equals + 1);
        const LongOptionSpec* spec = nullptr;
        for (const LongOptionSpec& s : LONG_OPTIONS)
            if (option.name == s.name)
                spec = &s;
        if (!spec) {
            fprintf(stderr, "unknown option --%s\n", option.name.c_str());
            ok = false;
            continue;
        }
        if (spec->value == ValueRule::None && option.hasValue) {
            fprintf(stderr, "option --%s takes no value\n", option.name.c_str());
            ok = false;
            continue;
        }
        if (spec->value == ValueRule::Required && !option.hasValue) {
            if (i + 1 >= argc) {
                fprintf(stderr, "option --%s needs a value\n", option.name.c_str());
                ok = false;
                continue;
            }
            option.value = argv[++i];
            option.hasValue = true;
        }
        found.push_back({spec, option});
    }
    rest.push_back(nullptr);
    return ok;
}

// The options of one turn (those taken first, or the others) in command
// line order, up to the first that ends the reading.
Request applyLongOptions(const std::vector<FoundOption>& found, bool first, UploaderOptions& options)
{
    for (const FoundOption& f : found) {
        if (f.spec->first != first)
            continue;
        Request request = f.spec->apply(f.option, options);
        if (request != Request::Upload)
            return request;
    }
    return Request::Upload;
}

// The upload speed an argument of -s names, as the parser reads it
// ("%u": leading spaces and a '+' allowed, anything after the digits
// ignored); 0 when it names none.
int uploadSpeedOf(const char* arg)
{
    unsigned rate;
    if (sscanf(arg, "%u", &rate) == 1)
        for (int bitsPerSecond : protocol::UPLOAD_SPEEDS)
            if (static_cast<unsigned>(bitsPerSecond) == rate)
                return bitsPerSecond;
    return 0;
}

bool isValueLetter(char letter)
{
    return letter == 's' || letter == 'p';
}
bool isOptionLetter(char letter)
{
    return isValueLetter(letter) || letter == 'o' || letter == 'q';
}

// The one line for an option letter the parser does not know.
std::string unknownOptionNote(const std::string& arg)
{
    if (arg == "-")
        return "-: a lone - is not an option";
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
    if (lower != arg[1] && isOptionLetter(lower))
        return arg + ": unknown option; the options are lower case (-" + lower + ")";
    if (arg[1] == 'h' || arg[1] == '?')
        return arg + ": unknown option; --help shows the options";
    return arg + ": unknown option";
}

// -oq, -quiet: the letters after the -o or -q.  A q lost that way, with
// no -q elsewhere, means an upload where a query was wanted.
std::string extraLettersNote(const std::string& arg, bool query)
{
    const std::string rest = arg.substr(2);
    const std::string note = arg + ": " + rest + " ignored";
    if (!query && rest.find('q') != std::string::npos)
        return note + "; the chip will be written";
    return note + "; read as -" + arg[1];
}

// " (write -s 57600)" for a value glued to its -s or -p; "" where what
// follows the letter does not look like that option's value.
std::string writeApart(const std::string& arg)
{
    if (arg.size() <= 2 || (arg[1] == 's' && !std::isdigit(static_cast<unsigned char>(arg[2]))))
        return "";
    return " (write " + arg.substr(0, 2) + " " + arg.substr(2) + ")";
}

// A -s or -p that no value answered: at the end of the line, or before
// the next -s or -p (replacedBy).
std::string unansweredNote(const std::string& arg, const char* replacedBy, const std::string& port, int speed)
{
    const std::string what = arg[1] == 'p' ? "the port stays " + port : "the speed stays " + std::to_string(speed) + " bit/s";
    const std::string glued = arg.size() > 2 ? arg.substr(2) : "";
    std::string note = arg + ": ";
    if (!glued.empty())
        note += glued + " ignored and ";
    if (replacedBy)
        note += std::string(replacedBy) + " comes before any value; this " + arg.substr(0, 2) + " changes nothing";
    else
        note += "no value follows; " + what;
    return note + writeApart(arg);
}

} // namespace

std::vector<std::string> commandLineNotes(int argc, char** argv, const UploaderOptions& options)
{
    // -q counts wherever it stands.
    bool query = options.queryOnly;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg[0] != '-')
            continue;
        if (!isOptionLetter(arg[1]))
            return {unknownOptionNote(arg)};
        query = query || arg[1] == 'q';
    }

    struct Note {
        int at;  // the argument it is about
        std::string text;
    };
    std::vector<Note> notes;
    std::vector<int> files;
    std::string port = options.portName;
    int speed = options.lineSpeed;
    int pending = -1;  // the -s or -p waiting for its value
    bool rateRefused = false;
    for (int i = 1; i < argc && !rateRefused; ++i) {
        const std::string arg = argv[i];
        if (arg[0] == '-') {
            if (isValueLetter(arg[1])) {
                if (pending >= 0)
                    notes.push_back({pending, unansweredNote(argv[pending], argv[i], port, speed)});
                pending = i;
            } else if (arg.size() > 2) {
                notes.push_back({i, extraLettersNote(arg, query)});
            }
            continue;
        }
        if (pending < 0) {
            files.push_back(i);
            continue;
        }
        const std::string option = argv[pending];
        if (option.size() > 2)
            notes.push_back({pending, option + ": " + option.substr(2) + " ignored; the " +
                                          (option[1] == 'p' ? "port" : "speed") + " is the next value, '" + arg + "'" +
                                          writeApart(option)});
        if (option[1] == 'p')
            port = arg;
        else if (!(speed = uploadSpeedOf(argv[i]))) {
            // The parser refuses it in the classic words, and reads no further;
            // a glued value has had its note above.
            rateRefused = true;
            if (option.size() == 2)
                notes.push_back({i, option.substr(0, 2) + " " + arg + ": the speeds that work are " +
                                        speedList(protocol::UPLOAD_SPEEDS) + " bit/s"});
        }
        pending = -1;
    }
    if (!rateRefused) {
        if (pending >= 0)
            notes.push_back({pending, unansweredNote(argv[pending], nullptr, port, speed)});
        for (size_t f = 0; f < files.size(); ++f) {
            const std::string name = argv[files[f]];
            if (query)
                notes.push_back({files[f], name + ": not used; -q only queries the bootloader"});
            else if (f + 1 < files.size())
                notes.push_back({files[f], name + ": not used; the last file name, " + argv[files.back()] +
                                               ", is the one uploaded"});
        }
    }
    std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.at < b.at; });
    std::vector<std::string> texts;
    for (const Note& n : notes)
        texts.push_back(n.text);
    return texts;
}

namespace {

Request rejected(const UploaderOptions& options)
{
    usage(options);
    return Request::Rejected;
}

} // namespace

Request readOptions(int argc, char** argv, UploaderOptions& options)
{
    if (argc > 0)
        options.programName = argv[0];
    std::vector<FoundOption> found;
    std::vector<char*> args;
    const bool longOptionsTaken = argc >= 2 && takeLongOptions(argc, argv, found, args);
    if (applyLongOptions(found, true, options) != Request::Upload)
        return rejected(options);
    if (longOptionsTaken)
        for (const std::string& note : commandLineNotes(static_cast<int>(args.size()) - 1, args.data(), options))
            explain(stderr, wrapWords(note, wrapWidth(stderr), NOTE_INDENT));
    if (!longOptionsTaken ||
        readParams(static_cast<int>(args.size()) - 1, args.data(), options.fileName, options.portName,
                   &options.lineSpeed, &options.ignoreOverlap, &options.queryOnly) == -1)
        return rejected(options);
    Request request = applyLongOptions(found, false, options);
    return request == Request::Rejected ? rejected(options) : request;
}

int readParams(int argc, char** argv, std::string& filename, std::string& port,
               int* speed, char* ignoreOverlap, char* queryOnly)
{
    enum class Pending { None, Port, Speed } pending = Pending::None;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            switch (arg[1]) {
            case 's': pending = Pending::Speed; break;
            case 'p': pending = Pending::Port; break;
            case 'o': *ignoreOverlap = 1; break;
            case 'q': *queryOnly = 1; break;
            default: return -1;
            }
            continue;
        }
        switch (pending) {
        case Pending::Port:
            port = arg;
            break;
        case Pending::Speed: {
            const int match = uploadSpeedOf(arg);
            if (!match) {
                printf("Invalid or unsupported serial data rate specified.\n");
                return -1;
            }
            *speed = match;
            break;
        }
        case Pending::None:
            filename = arg;
            break;
        }
        pending = Pending::None;
    }
    return 0;
}

int exitValue(int result, ExitStatus style)
{
    constexpr int CONVENTIONAL_SUCCESS = 0, CONVENTIONAL_FAILED = 1, CONVENTIONAL_CANNOT_START = 2;
    if (style == ExitStatus::Classic)
        return result;
    return result == 1 ? CONVENTIONAL_SUCCESS : result == 0 ? CONVENTIONAL_FAILED : CONVENTIONAL_CANNOT_START;
}
