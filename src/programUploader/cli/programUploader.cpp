// programUploader: writes an Intel HEX program into a PIC through the serial
// bootloader that runs on the chip.  One run for every system: the back end
// (posix/, windows/) opens the port, starts the interrupt policy and runs
// the monitor behind the headers port.h, interruptPolicy.h and monitor.h.
// Every message and every byte on the wire is the same on each.
//
// Exit value: 1 after a successful upload or query, 0 after a failed one,
// 255 (-1) when the run cannot start (on Windows an ERRORLEVEL of -1).
// Users' scripts test for these; --exit-status=conventional gives 0, 1 and 2
// instead, for make and set -e.

#include "PicProgram.h"
#include "explain.h"
#include "fileAccess.h"
#include "interruptPolicy.h"
#include "monitor.h"
#include "options.h"
#include "ownedHandles.h"
#include "port.h"
#include "runSteps.h"
#include "terminal.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

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

    // From here on an interrupt ends the run through its normal way out,
    // which restores the port; a second one restores it and ends at once.
    interruptsEndTheRun();
    // Why the port was refused is found out only where it will show.
    std::string refusal;
    OpenPort port = openPort(options.portName, options.lineSpeed, explains(stderr) ? &refusal : nullptr,
                             wrapWidth(stderr));
    if (!port) {
        printf("Could not open serial port %s\n", options.portName.c_str());
        explain(stderr, refusal);
        return exitValue(CANNOT_START, options.exitStatus);
    }

    const SessionOutcome session = runSession(lineOf(*port), options, image, droppedWords);

    // The program runs once the end command is out: stay and show what it
    // says, after the upload's last line, unless the run was asked to end.
    if (options.monitor.on && session.endCommandSent && !interruptRequested()) {
        fflush(stdout);
        runMonitor(*port, options.monitor);
    }

    hexFile.reset();
    port.reset();
    return exitValue(session.result, options.exitStatus);
}

}  // namespace

PROGRAM_ENTRY(runUploader)
