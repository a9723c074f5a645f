// Steps of a run that both the POSIX and the Windows programUploader take,
// each printing its own failure once.
#ifndef RUN_STEPS_H
#define RUN_STEPS_H

#include "PicProgram.h"
#include "bootloaderLink.h"
#include "options.h"
#include "serialLine.h"
#include "ownedHandles.h"
#include "terminalReporter.h"
#include "traceLine.h"

#include <string>
#include <vector>

// The classic result of a run that cannot start.
constexpr int CANNOT_START = -1;

// The steps before the port: the command line, then the program it names.
// False when the run ends here (help, version, the port list, a refused
// command line, a file that cannot be read), after its messages; exitCode
// then holds the exit value.
bool prepareRun(int argc, char** argv, UploaderOptions& options, PicProgram& image, OwnedFile& hexFile,
                std::vector<long>& droppedWords, int& exitCode);

// One port a line on standard output.  False, after a line on standard
// error, when there is none.
bool listPorts();

// Fills the image from the named file, which stays open in hexFile until
// the run ends; droppedWords gets the addresses of the words the reader
// dropped.  False after the message of the failure.
bool loadProgram(const std::string& fileName, PicProgram& image, OwnedFile& hexFile, std::vector<long>& droppedWords);

// The file's words, what sending them will take and on which port, shown
// before the wait for the greeting where a person watches: an empty file,
// or one that will take minutes, shows at once.
void showForecast(const UploaderOptions& options, const PicProgram& image);

// Resets the board through the modem lines, or asks the user to, when a
// person is watching, before the greeting wait starts.  A query, which
// shows no forecast, names the port and speed there.
// An interrupt during the reset is the greeting wait's to report.
void startBootloader(SerialLine& port, const UploaderOptions& options);

// Where --trace's lines go: standard error, after what standard output holds
// so far and never on the terminal's progress line.  Empty, tracing
// nothing, when on is false.
TraceSink traceSink(bool on, TerminalReporter& terminal);

// How the session went: the upload's or the query's result (1 success, 0
// failure), and whether the end command was the last frame out, after
// which the program runs and a monitor may watch it.
struct SessionOutcome {
    int result = 0;
    bool endCommandSent = false;
};

// The session on the open port, from the forecast to the summary, each line
// through the terminal's reporter, the trace beside them with --trace.
SessionOutcome runSession(SerialLine& port, const UploaderOptions& options, const PicProgram& image,
                          const std::vector<long>& droppedWords);

#endif
