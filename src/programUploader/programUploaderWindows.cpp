// programUploader for Windows: the run of programUploader.cpp, step for
// step, over the Win32 port.  Every message and every byte on the wire is
// the Linux build's; the exit value -1 is an ERRORLEVEL of -1.

#include "PicProgram.h"
#include "explain.h"
#include "fileAccess.h"
#include "hexInput.h"
#include "interruptWindows.h"
#include "monitorWindows.h"
#include "options.h"
#include "ownedHandles.h"
#include "portList.h"
#include "runSteps.h"
#include "portRefusalWindows.h"
#include "serialPortWindows.h"
#include "terminal.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Why the port could not be opened, after the line that says it could not.
void reportPortFailure(const std::string& portName, const PortOpenError& error)
{
    printf("Could not open serial port %s\n", portName.c_str());
    if (!explains(stderr))
        return;
    std::vector<std::string> ports;
    if (error.refusal == PortRefusal::Missing)
        for (const SerialPortInfo& port : listSerialPorts())
            ports.push_back(port.device);
    explain(stderr, portRefusalText(portName, error.refusal, error.code, ports, wrapWidth(stderr)));
}

int runUploader(int argc, char** argv)
{
    binaryStandardStreams();
    UploaderOptions options;
    PicProgram image;
    OwnedFile hexFile;
    std::vector<long> droppedWords;
    int exitCode = 0;
    if (!prepareRun(argc, argv, options, image, hexFile, droppedWords, exitCode))
        return exitCode;

    // From here on Ctrl-C ends the run through its normal way out, which
    // restores the port; a second one restores it and ends at once.
    interruptWaitsOnConsoleEvents();
    onSecondInterrupt(restoreSerialPortsNow);
    PortOpenError portError;
    SerialPort port(options.portName, options.lineSpeed, &portError);
    if (!port) {
        reportPortFailure(options.portName, portError);
        return exitValue(CANNOT_START, options.exitStatus);
    }

    const SessionOutcome session = runSession(port, options, image, droppedWords);

    // The program runs once the end command is out: stay and show what it
    // says, after the upload's last line, unless the run was asked to end.
    if (options.monitor.on && session.endCommandSent && !interruptRequested()) {
        fflush(stdout);
        runMonitor(port, options.monitor, stdout);
    }

    hexFile.reset();
    port.close();
    return exitValue(session.result, options.exitStatus);
}

}  // namespace

PROGRAM_ENTRY(runUploader)
