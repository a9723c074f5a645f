#include "runSteps.h"

#include "bootloaderLink.h"
#include "forecast.h"
#include "hexInput.h"
#include "portList.h"
#include "terminal.h"

#include <cstdio>

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
        fflush(stdout);
        fputs(why.c_str(), stderr);
        return false;
    }
    if (!readHexNotingDropped(image, hexFile.get(), droppedWords)) {
        printf("Error reading from file %s\n", fileName.c_str());
        return false;
    }
    return true;
}

void showForecast(const std::string& fileName, const PicProgram& image, int bitsPerSecond)
{
    if (isTerminal(stderr))
        fprintf(stderr, "%s\n", uploadForecast(fileName, image, bitsPerSecond).c_str());
}

void startBootloader(SerialLine& port, const std::string& portName, const ResetSettings& reset)
{
    if (reset.lines != ResetLines::None) {
        if (resetBoard(port, reset.lines, reset.assertMs) != ResetOutcome::NoModemLines)
            return;
        fprintf(stderr, "warning: %s has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.\n",
                portName.c_str());
        return;
    }
    if (isTerminal(stderr))
        fprintf(stderr, "Reset the board now: its bootloader is awaited for %d seconds.\n",
                LinkWindows().greetingMs / 1000);
}

LinkWindows linkSettings(const UploaderOptions& options)
{
    LinkWindows windows;
    windows.checksumRetries = options.retries;
    return windows;
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
