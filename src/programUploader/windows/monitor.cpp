// The monitor on Windows (monitor.h): the chip's bytes to standard output;
// typed input does not reach the chip yet (the console would need a reader
// of its own), and the start line says so.
#include "monitor.h"

#include "protocol.h"
#include "serialPort.h"
#include "terminal.h"
#include "textFormat.h"

#include <chrono>
#include <thread>

namespace {

// A USB adapter reports the drain once it has the bytes, before they are on
// the wire: the end command's own time on the line and this much more pass
// before the switch.  An end command garbled by an early switch would leave
// the program unstarted, far worse than a few bytes lost to a late one.
constexpr auto ADAPTER_MARGIN = std::chrono::milliseconds(10);
constexpr int READ_CHUNK = 4096;

// The port's speed for the monitor, switched without closing the port (and
// without dropping what arrived); answers the speed in force.
int monitorSpeed(SerialPort& port, int wanted)
{
    const int current = port.bitsPerSecond();
    if (wanted == 0 || wanted == current)
        return current;
    port.drain();
    std::this_thread::sleep_for(std::chrono::microseconds(protocol::characterMicros(current) *
                                                          protocol::frameLength(protocol::END_PROGRAMMING)) +
                                ADAPTER_MARGIN);
    return port.changeSpeed(wanted) ? wanted : current;
}

// The start line, for the settings and the speed in force.
std::string monitorStartLine(const MonitorSettings& settings, int bitsPerSecond)
{
    const std::string time = settings.seconds > 0 ? formatText(" for %d s", settings.seconds) : std::string();
    return formatText("Monitor at %d bit/s%s; Ctrl-C quits. What is typed is not sent to the chip in this build.\n",
                      bitsPerSecond, time.c_str());
}

}  // namespace

// The Windows relay has no console reader yet: the help says so where it
// offers the monitor.
void printMonitorHelp()
{
    printf("                              chip sends goes to standard output, at the\n");
    printf("                              upload's speed or at SPEED (300 to 115200); typed\n");
    printf("                              input is not sent to the chip; Ctrl-C ends it\n");
}

MonitorEnd runMonitor(SerialPort& port, const MonitorSettings& settings)
{
    FILE* const output = stdout;
    const int bitsPerSecond = monitorSpeed(port, settings.bitsPerSecond);
    fputs(monitorStartLine(settings, bitsPerSecond).c_str(), stderr);
    fflush(stderr);

    const Deadline deadline = settings.seconds > 0 ? port.after(std::chrono::seconds(settings.seconds)) : NO_DEADLINE;
    MonitorEnd end = MonitorEnd::HungUp;
    bool lineOpen = false;  // the chip's last byte written did not end a line
    for (;;) {
        // The port's wait ends at once on Ctrl-C, and on a port that has gone.
        LineResult r = port.waitReadable(deadline);
        if (r == LineResult::Interrupted) {
            end = MonitorEnd::Signal;
            break;
        }
        if (r == LineResult::Timeout) {
            end = MonitorEnd::TimeUp;
            break;
        }
        uint8_t buffer[READ_CHUNK];
        int got = 0;
        if (r == LineResult::Ok)
            r = port.readAvailable(buffer, READ_CHUNK, got);
        if (got > 0 && (fwrite(buffer, 1, size_t(got), output) != size_t(got) || fflush(output) != 0)) {
            end = MonitorEnd::OutputClosed;
            break;
        }
        if (got > 0)
            lineOpen = buffer[got - 1] != '\n';
        if (r == LineResult::HungUp) {
            end = MonitorEnd::HungUp;
            break;
        }
    }
    // From here a second Ctrl-C ends the process at once, the port put back
    // by the console handler.
    if (end == MonitorEnd::Signal)
        port.interruptNoted();
    // On a console the prompt starts on a line of its own, not after the
    // chip's last words; a pipe or a file gets the chip's bytes unchanged.
    if (lineOpen && end != MonitorEnd::OutputClosed && isTerminal(output)) {
        fputc('\n', output);
        fflush(output);
    }
    if (end == MonitorEnd::HungUp)
        fprintf(stderr, "The serial port was disconnected.\n");
    return end;
}
