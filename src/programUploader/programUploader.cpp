// programUploader: writes an Intel HEX program into a PIC through the serial
// bootloader that runs on the chip.
//
// Exit value: 1 after a successful upload or query, 0 after a failed one,
// 255 (-1) when the run cannot start.  Users' scripts test for these;
// --exit-status=conventional gives 0, 1 and 2 instead, for make and set -e.

#include "PicProgram.h"
#include "explain.h"
#include "hexInput.h"
#include "interrupt.h"
#include "lineSpeeds.h"
#include "monitor.h"
#include "options.h"
#include "ownedHandles.h"
#include "portDiagnosis.h"
#include "portList.h"
#include "runSteps.h"
#include "protocol.h"
#include "restoreOnExit.h"
#include "serialPort.h"
#include "terminal.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Why the port could not be opened, after the line that says it could not.
void reportPortFailure(const std::string& portName, const PortOpenError& error)
{
    printf("Could not open serial port %s\n", portName.c_str());
    explain(stderr, portFailureReason(portName, error, wrapWidth(stderr)));
}

} // namespace


int main(int argc, char** argv)
{
    UploaderOptions options;
    PicProgram image;
    OwnedFile hexFile;
    std::vector<long> droppedWords;
    int exitCode = 0;
    if (!prepareRun(argc, argv, options, image, hexFile, droppedWords, exitCode))
        return exitCode;

    // From here on an interrupt ends the run through its normal way out,
    // which restores the port; a second one restores it and ends at once.
    interruptWaitsOnSignals();
    onSecondInterrupt(restoreAllNow);
    PortOpenError portError;
    SerialPort port(options.portName, protocol::speedConstant(options.lineSpeed), &portError);
    if (!port) {
        reportPortFailure(options.portName, portError);
        return exitValue(CANNOT_START, options.exitStatus);
    }

    const SessionOutcome session = runSession(port, options, image, droppedWords);

    // The program runs once the end command is out: stay and show what it
    // says, after the upload's last line, unless the run was asked to end.
    if (options.monitor.on && session.endCommandSent && !interruptSignal()) {
        fflush(stdout);
        runMonitor(port, options.monitor, STDIN_FILENO, STDOUT_FILENO);
    }

    hexFile.reset();
    port.close();
    return exitValue(session.result, options.exitStatus);
}
