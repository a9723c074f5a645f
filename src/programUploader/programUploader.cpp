// programUploader: writes an Intel HEX program into a PIC through the serial
// bootloader that runs on the chip.
//
// Exit value: 1 after a successful upload or query, 0 after a failed one,
// 255 (-1) when the run cannot start.  Users' scripts test for these;
// --exit-status=conventional gives 0, 1 and 2 instead, for make and set -e.

#include "PicProgram.h"
#include "boardReset.h"
#include "bootloaderLink.h"
#include "droppedWords.h"
#include "endWatch.h"
#include "hexInput.h"
#include "monitor.h"
#include "ownedHandles.h"
#include "portDiagnosis.h"
#include "portList.h"
#include "progress.h"
#include "protocol.h"
#include "serialLine.h"
#include "serialPort.h"
#include "terminalMode.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char* DEFAULT_PORT = "/dev/ttyS0";

// Long options come beside the single-letter ones, which keep their quirks
// (only the second character counts).  They are taken out of the command
// line first, so the letters never see them.
enum class ValueRule {
    None,        // --name
    Required,    // --name=value or --name value
    EqualsOnly,  // --name or --name=value: a following argument is never taken
};
struct LongOptionSpec {
    const char* name;
    ValueRule value;
};
constexpr LongOptionSpec LONG_OPTIONS[] = {
    {"help", ValueRule::None},
    {"version", ValueRule::None},
    {"exit-status", ValueRule::Required},
    {"reset", ValueRule::EqualsOnly},
    {"reset-ms", ValueRule::Required},
    {"list-ports", ValueRule::None},
    {"monitor", ValueRule::EqualsOnly},
    {"monitor-seconds", ValueRule::Required},
};

struct LongOption {
    std::string name;
    std::string value;
    bool hasValue;
};

// Splits argv into the long options and the rest (argv[0] first).  False,
// after a line on standard error, for an unknown long option or one that
// lacks or must not have a value; the others are still taken, so that an
// --exit-status anywhere on the line decides how that failure exits.
bool takeLongOptions(int argc, char** argv, std::vector<LongOption>& found, std::vector<char*>& rest)
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
        found.push_back(option);
    }
    rest.push_back(nullptr);
    return ok;
}

// How the run's outcome becomes the exit value.  The run itself returns the
// classic values (1 success, 0 failure, -1 cannot start) or SHOWN_INFO.
enum class ExitStatus { Classic, Conventional };
constexpr int SHOWN_INFO = 2;      // --help, --version or a port listing: nothing was run, nothing failed
constexpr int NOTHING_LISTED = 3;  // --list-ports found no port: 1 under either style

bool chooseExitStatus(const std::string& name, ExitStatus& style)
{
    if (name == "classic")
        style = ExitStatus::Classic;
    else if (name == "conventional")
        style = ExitStatus::Conventional;
    else
        return false;
    return true;
}

int exitValue(int result, ExitStatus style)
{
    constexpr int CONVENTIONAL_SUCCESS = 0, CONVENTIONAL_FAILED = 1, CONVENTIONAL_CANNOT_START = 2;
    if (result == SHOWN_INFO)
        return 0;
    if (result == NOTHING_LISTED)
        return 1;
    if (style == ExitStatus::Classic)
        return result;
    return result == 1 ? CONVENTIONAL_SUCCESS : result == 0 ? CONVENTIONAL_FAILED : CONVENTIONAL_CANNOT_START;
}


// What the run does with the port's modem lines before the greeting.
struct ResetSettings {
    ResetLines lines = ResetLines::None;
    int assertMs = RESET_DEFAULT_MS;
};

// --reset alone pulses DTR, the line most auto-reset circuits use.  False,
// after a line on standard error, for a value it does not know.
bool takeResetOption(const LongOption& option, ResetSettings& reset)
{
    if (option.name == "reset") {
        if (!option.hasValue) {
            reset.lines = ResetLines::Dtr;
            return true;
        }
        if (parseResetLines(option.value, reset.lines))
            return true;
        fprintf(stderr, "invalid --reset value '%s' (dtr, rts, both or none)\n", option.value.c_str());
        return false;
    }
    if (parseResetMs(option.value, reset.assertMs))
        return true;
    fprintf(stderr, "invalid --reset-ms value '%s' (milliseconds, 1 to %d)\n", option.value.c_str(), RESET_MAX_MS);
    return false;
}

// A whole number of decimal digits alone, at most max.
bool wholeNumber(const std::string& text, long max, long& number)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stol(text);
    return number <= max;
}

// --monitor[=SPEED] and --monitor-seconds N; the latter alone turns the
// monitor on at the upload's speed.  False, after a line on standard error,
// for a speed or a time it does not take.
bool takeMonitorOption(const LongOption& option, MonitorSettings& monitor)
{
    monitor.on = true;
    long number = 0;
    if (option.name == "monitor") {
        if (!option.hasValue)
            return true;
        if (wholeNumber(option.value, 999999999L, number) &&
            protocol::consoleSpeed(static_cast<int>(number))) {
            monitor.bitsPerSecond = static_cast<int>(number);
            return true;
        }
        fprintf(stderr, "invalid --monitor speed '%s' (%s)\n", option.value.c_str(), consoleSpeedList().c_str());
        return false;
    }
    if (wholeNumber(option.value, MONITOR_SECONDS_MAX, number) && number >= 1) {
        monitor.seconds = static_cast<int>(number);
        return true;
    }
    fprintf(stderr, "invalid --monitor-seconds value '%s' (whole seconds, 1 to %d)\n", option.value.c_str(),
            MONITOR_SECONDS_MAX);
    return false;
}

// A second ending signal ends the process at once: the port and the
// terminal go back as they were first.
void restoreAllNow()
{
    restoreSerialPortsNow();
    TerminalMode::restoreNow();
}

// One port a line on standard output; SHOWN_INFO when it listed any.
int listPorts()
{
    std::vector<SerialPortInfo> ports = listSerialPorts();
    for (const SerialPortInfo& port : ports)
        printf("%s\n", describePort(port).c_str());
    if (ports.empty())
        fprintf(stderr, "No serial port was found on this machine.\n");
    return ports.empty() ? NOTHING_LISTED : SHOWN_INFO;
}

// Resets the board through the modem lines, or asks the user to, when a
// person is watching, before the greeting wait starts.
void startBootloader(int fd, const std::string& portName, const ResetSettings& reset)
{
    if (reset.lines != ResetLines::None) {
        if (pulseReset(fd, reset.lines, reset.assertMs))
            return;
        fprintf(stderr, "warning: %s has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.\n",
                portName.c_str());
        return;
    }
    if (isatty(STDERR_FILENO))
        fprintf(stderr, "Reset the board now: its bootloader is awaited for %d seconds.\n",
                LinkWindows().greetingMs / 1000);
}

void usage(const char* programName, const std::string& portName)
{
    printf("\nProgram uploader for use with the V Oruzavuver.\n\n");
    printf("Usage:\n");
    printf("\t%s [-o] [-q] [-p port] [-s speed] filename\n\n", programName);
    printf("-o\tIgnore an overlap between the new program and the bootloader.\n");
    printf("\tThe overlapping addresses cannot be written with a bootloader.\n");
    printf("-q\tQuery the bootloader for it's version and address space. Write\n");
    printf("\tnothing to program ROM.\n");
    printf("-p\tSpecify the serial port to use. The default is %s.\n", portName.c_str());
    printf("-s\tSpecify the speed for the serial port to use. The default\n");
    printf("\tis 19200bps.\n\n");
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
    printf("  --list-ports                list this machine's serial ports and exit\n\n");
}

// The file's words and what sending them will take, shown before the wait
// for the greeting where a person watches: an empty file, or one that will
// take minutes, shows at once.
void showForecast(const std::string& fileName, PicProgram& image, speed_t lineSpeed)
{
    const int bitsPerSecond = protocol::bitsPerSecond(lineSpeed);
    if (isatty(STDERR_FILENO) == 1 && bitsPerSecond > 0)
        fprintf(stderr, "%s\n", uploadForecast(fileName, image, bitsPerSecond).c_str());
}

} // namespace

// Options are recognised by their second character only, so -quiet is -q
// and -oq is -o alone; the last plain argument is the file name.
int readParams(int argc, char** argv, std::string& filename, std::string& port,
               speed_t* speed, char* ignoreOverlap, char* queryOnly)
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
            unsigned rate;
            const protocol::Speed* match = nullptr;
            if (sscanf(arg, "%u", &rate) == 1)
                for (const protocol::Speed& s : protocol::UPLOAD_SPEEDS)
                    if (static_cast<unsigned>(s.bitsPerSecond) == rate)
                        match = &s;
            if (!match) {
                printf("Invalid or unsupported serial data rate specified.\n");
                return -1;
            }
            *speed = match->constant;
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

// The whole run; its result is the classic exit value or SHOWN_INFO.
int runUploader(int argc, char** argv, ExitStatus& exitStatus)
{
    std::string fileName;
    std::string portName = DEFAULT_PORT;
    speed_t lineSpeed = B19200;
    char ignoreOverlap = 0;
    char queryOnly = 0;
    const char* programName = argc > 0 ? argv[0] : "programUploader";

    std::vector<LongOption> longOptions;
    std::vector<char*> args;
    const bool longOptionsTaken = argc >= 2 && takeLongOptions(argc, argv, longOptions, args);
    for (const LongOption& option : longOptions) {
        if (option.name == "exit-status" && !chooseExitStatus(option.value, exitStatus)) {
            fprintf(stderr, "unknown exit status %s (classic or conventional)\n", option.value.c_str());
            usage(programName, portName);
            return -1;
        }
    }
    if (!longOptionsTaken ||
        readParams(static_cast<int>(args.size()) - 1, args.data(), fileName, portName, &lineSpeed,
                   &ignoreOverlap, &queryOnly) == -1) {
        usage(programName, portName);
        return -1;
    }
    ResetSettings reset;
    MonitorSettings monitor;
    for (const LongOption& option : longOptions) {
        if (option.name == "help") {
            usage(programName, portName);
            longOptionsHelp();
            return SHOWN_INFO;
        }
        if (option.name == "version") {
            printf("programUploader %s\n", PIC_TOOLS_VERSION);
            return SHOWN_INFO;
        }
        if ((option.name == "reset" || option.name == "reset-ms") && !takeResetOption(option, reset)) {
            usage(programName, portName);
            return -1;
        }
        if (option.name == "list-ports")
            return listPorts();
        if ((option.name == "monitor" || option.name == "monitor-seconds") && !takeMonitorOption(option, monitor)) {
            usage(programName, portName);
            return -1;
        }
    }

    PicProgram image;
    OwnedFile hexFile;
    std::vector<long> droppedWords;
    if (!queryOnly) {
        if (fileName.empty()) {
            printf("A filename must be specified.\n");
            return -1;
        }
        std::string why;
        hexFile = openHexFile(fileName, why);
        if (!hexFile) {
            printf("Could not open file %s\n", fileName.c_str());
            fflush(stdout);
            fputs(why.c_str(), stderr);
            return -1;
        }
        if (!readHexNotingDropped(image, hexFile.get(), droppedWords)) {
            printf("Error reading from file %s\n", fileName.c_str());
            return -1;
        }
    }

    // From here on an interrupt ends the run through its normal way out,
    // which restores the port; a second one restores it and ends at once.
    interruptWaitsOnSignals();
    onSecondInterrupt(restoreAllNow);
    PortOpenError portError;
    SerialPort port(openSerialPort(portName, lineSpeed, &portError));
    if (!port) {
        printf("Could not open serial port %s\n", portName.c_str());
        fflush(stdout);
        fputs(portFailureReason(portName, portError).c_str(), stderr);
        return -1;
    }
    // What will be sent first, so that the line that asks for the board's
    // reset is the last before the wait.
    if (!queryOnly)
        showForecast(fileName, image, lineSpeed);
    startBootloader(port.get(), portName, reset);

    UploadReport report(std::move(droppedWords));
    PortLine portLine(port.get());
    EndWatch line(portLine);
    int result = upload(&image, line, LinkWindows(), ignoreOverlap, queryOnly, &report);

    // The program runs once the end command is out: stay and show what it
    // says, unless the run was asked to end.
    if (monitor.on && line.endCommandSent() && !interruptSignal()) {
        fflush(stdout);
        if (runMonitor(port.get(), monitor, STDIN_FILENO, STDOUT_FILENO) == MonitorEnd::Signal)
            interruptTaken();
    }

    hexFile.reset();
    port.reset();
    return result;
}

int main(int argc, char** argv)
{
    ExitStatus exitStatus = ExitStatus::Classic;
    const int result = runUploader(argc, argv, exitStatus);
    return exitValue(result, exitStatus);
}
