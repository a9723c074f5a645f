#include "runSteps.h"

#include "bootloaderLink.h"
#include "endWatch.h"
#include "explain.h"
#include "forecast.h"
#include "hexInput.h"
#include "portList.h"
#include "terminal.h"
#include "textFormat.h"
#include "tracedReporter.h"
#include "upload.h"

#include <cstdio>

bool prepareRun(int argc, char** argv, UploaderOptions& options, PicProgram& image, OwnedFile& hexFile,
                std::vector<long>& droppedWords, int& exitCode)
{
    switch (readOptions(argc, argv, options)) {
    case Request::Upload:
        break;
    case Request::Help:
    case Request::Version:
        exitCode = 0;
        return false;
    case Request::ListPorts:
        exitCode = listPorts() ? 0 : 1;
        return false;
    case Request::Rejected:
        exitCode = exitValue(CANNOT_START, options.exitStatus);
        return false;
    }
    if (!options.queryOnly && !loadProgram(options.fileName, image, hexFile, droppedWords)) {
        exitCode = exitValue(CANNOT_START, options.exitStatus);
        return false;
    }
    return true;
}

bool listPorts()
{
    std::vector<SerialPortInfo> ports = listSerialPorts();
    for (const SerialPortInfo& port : ports)
        printf("%s\n", describePort(port).c_str());
    if (ports.empty())
        fprintf(stderr, "No serial port was found on this machine.\n");
    return !ports.empty();
}

bool loadProgram(const std::string& fileName, PicProgram& image, OwnedFile& hexFile, std::vector<long>& droppedWords)
{
    if (fileName.empty()) {
        printf("A filename must be specified.\n");
        return false;
    }
    std::string why;
    hexFile = openHexFile(fileName, why);
    if (!hexFile) {
        printf("Could not open file %s\n", fileName.c_str());
        explain(stderr, why);
        return false;
    }
    if (!readHexNotingDropped(image, hexFile.get(), droppedWords)) {
        printf("Error reading from file %s\n", fileName.c_str());
        return false;
    }
    return true;
}

namespace {

constexpr const char* CONTINUATION = "  ";  // the forecast's and the prompt's continuation lines

} // namespace

void showForecast(const UploaderOptions& options, const PicProgram& image)
{
    explain(stderr, wrapWords(uploadForecast(options.fileName, image, options.lineSpeed) + " on " + options.portName,
                              wrapWidth(stderr), CONTINUATION));
}

void startBootloader(SerialLine& port, const UploaderOptions& options)
{
    const ResetSettings& reset = options.reset;
    if (reset.lines != ResetLines::None) {
        if (resetBoard(port, reset.lines, reset.assertMs) != ResetOutcome::NoModemLines)
            return;
        fprintf(stderr, "warning: %s has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.\n",
                options.portName.c_str());
        return;
    }
    if (!explains(stderr))
        return;
    const std::string where =
        options.queryOnly ? formatText(" on %s at %d bit/s", options.portName.c_str(), options.lineSpeed) : "";
    const int seconds = options.windows.greetingMs / 1000;
    explain(stderr, wrapWords(formatText("Reset the board now: its bootloader is awaited%s for %d %s.", where.c_str(),
                                         seconds, plural(seconds, "second", "seconds")),
                              wrapWidth(stderr), CONTINUATION));
}

TraceSink traceSink(bool on, TerminalReporter& terminal)
{
    if (!on)
        return TraceSink();
    return [&terminal](const std::string& line) {
        terminal.interject();
        fflush(stdout);
        fputs(line.c_str(), stderr);
    };
}

SessionOutcome runSession(SerialLine& port, const UploaderOptions& options, const PicProgram& image,
                          const std::vector<long>& droppedWords)
{
    // The trace's clock starts with the open port; it ends itself with the
    // end command, before any monitor.
    TerminalReporter terminal(TerminalReporter::Figures);
    TraceLine trace(port, traceSink(options.trace, terminal));
    // What will be sent first, so that the line that asks for the board's
    // reset is the last before the wait.
    if (!options.queryOnly)
        showForecast(options, image);
    startBootloader(trace, options);

    EndWatch line(trace);
    TracedReporter reporter(terminal, trace);
    terminal.showHints(options.portName, options.lineSpeed);
    SessionOutcome outcome;
    outcome.result = upload(image, line, options.windows, options.ignoreOverlap, options.queryOnly, reporter);
    if (outcome.result == 1)
        reporter.summary(droppedWords);
    outcome.endCommandSent = line.endCommandSent();
    return outcome;
}
