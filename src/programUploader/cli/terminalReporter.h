// The uploader's reporter on the console: the lines on standard output as
// the plain protocol text (scripts and logs read it), the live progress line
// when standard output is a terminal, diagnostics on standard error.
#ifndef TERMINAL_REPORTER_H
#define TERMINAL_REPORTER_H

#include "progressLine.h"
#include "uploadReporter.h"

#include <optional>
#include <string>

class TerminalReporter : public UploadReporter {
public:
    enum Style {
        Plain,    // the plain lines alone, terminal or not
        Figures,  // on a terminal the progress line also shows its figures
    };
    explicit TerminalReporter(Style style);

    // The driver's reporter: after a failure, a hint on standard error that
    // names the command line's options and this port and speed.
    void showHints(const std::string& portName, int bitsPerSecond);

    void show(const ReportEvent& event) override;
    // A line of another kind (the trace) is about to go to standard error:
    // when both streams are terminals, the live progress line, or a line
    // still open on standard output (the greeting wait's dots), is ended
    // where it stands, so that the two never share a line.
    void interject();

private:
    // Writes a plain line's text to standard output, noting whether it
    // left the line open.
    void plain(const std::string& text);

    bool figures_;
    bool lineOpen_ = false;  // standard output's last plain text did not end its line
    bool hints_ = false;
    HintWords words_;
    std::optional<ProgressLine> progress_;
};

#endif
