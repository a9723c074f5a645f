// The uploader's command line: the classic single-letter options, the long
// options beside them, the usage text and how the run's outcome becomes the
// exit value.
#ifndef UPLOADER_OPTIONS_H
#define UPLOADER_OPTIONS_H

#include "boardReset.h"
#include "bootloaderLink.h"
#include "defaultPort.h"
#include "monitor.h"
#include "protocol.h"

#include <string>
#include <vector>

// --wait: the longest greeting wait, an hour.
constexpr int WAIT_SECONDS_MAX = 3600;

// How the run's outcome becomes the exit value.
enum class ExitStatus { Classic, Conventional };

// What the run does with the port's modem lines before the greeting.
struct ResetSettings {
    ResetLines lines = ResetLines::None;
    int assertMs = RESET_DEFAULT_MS;
};

struct UploaderOptions {
    std::string programName = "programUploader";   // argv[0], for the usage text
    std::string fileName;
    std::string portName = DEFAULT_PORT;
    int lineSpeed = protocol::DEFAULT_UPLOAD_SPEED;  // bit/s, one of protocol::UPLOAD_SPEEDS
    char ignoreOverlap = 0;
    char queryOnly = 0;
    ResetSettings reset;
    MonitorSettings monitor;
    LinkWindows windows;    // --wait sets the greeting window, --retries the checksum retries
    ExitStatus exitStatus = ExitStatus::Classic;
    bool trace = false;    // --trace: the session's bytes on standard error
};

// The most --retries takes.
constexpr int RETRIES_MAX = 100;

// What the command line asks for.
enum class Request {
    Upload,     // an upload, or a query with -q
    Help,       // --help: the usage text and the long options were printed
    Version,    // --version: the version was printed
    ListPorts,  // --list-ports
    Rejected,   // the usage text (and any reason) was printed: the run cannot start
};

// Reads the whole command line into options.  Help, version and rejections
// are printed here, as the command line is understood; an --exit-status
// anywhere on the line decides how even a rejection exits.
Request readOptions(int argc, char** argv, UploaderOptions& options);

// What the single-letter parser below will ignore, or take otherwise than
// its user may mean, one note a line for standard error: letters after an
// option's own (-oq), values glued to -s or -p, a -s or -p that no value
// answers, file names not used; argv as readParams gets it, options holding
// the settings it starts from.  An option letter the parser does not know
// gives its one line alone.  The parser itself stays silent about these.
std::vector<std::string> commandLineNotes(int argc, char** argv, const UploaderOptions& options);

// The single-letter options, recognised by their second character only, so
// -quiet is -q and -oq is -o alone; the last plain argument is the file
// name.  A setting no argument names keeps its value.  -1 for a rejected
// command line (after the rate message, for an unsupported -s value), else 0.
int readParams(int argc, char** argv, std::string& filename, std::string& port,
               int* speed, char* ignoreOverlap, char* queryOnly);

// The run's classic result (1 success, 0 failure, -1 cannot start) as the
// exit value the style asks for: classic 1, 0 and 255, or conventional 0, 1
// and 2.
int exitValue(int result, ExitStatus style);

#endif
