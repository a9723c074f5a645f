#include "terminalReporter.h"

#include "explain.h"
#include "terminal.h"

#include <cstdio>

namespace {

constexpr const char* HINT_LEAD = "hint: ";
constexpr const char* NOTE_LEAD = "note: ";
constexpr const char* HINT_INDENT = "      ";  // under the text after the lead

} // namespace

TerminalReporter::TerminalReporter(Style style) : figures_(style == Figures && isTerminal(stdout))
{
    wrapSummaryAt(wrapWidth(stdout));
}

void TerminalReporter::showHints(const std::string& portName, int bitsPerSecond)
{
    hints_ = true;
    words_.reset = "use --reset";
    words_.wait = " (--wait=SECONDS waits longer)";
    words_.speed = "-s " + std::to_string(bitsPerSecond);
    words_.port = "that " + portName + " is the board's port (--list-ports)";
    words_.skip = "-o";
}

void TerminalReporter::interject()
{
    if (!isTerminal(stderr))
        return;
    if (progress_) {
        progress_->breakLine();
    } else if (lineOpen_ && isTerminal(stdout)) {
        fputs("\n", stdout);
        fflush(stdout);
    }
    lineOpen_ = false;
}

void TerminalReporter::plain(const std::string& text)
{
    fputs(text.c_str(), stdout);
    if (!text.empty())
        lineOpen_ = text.back() != '\n';
}

void TerminalReporter::show(const ReportEvent& event)
{
    using Kind = ReportEvent::Kind;
    switch (event.kind) {
    case Kind::Waiting:
        // Shown while the greeting loop runs, on a pipe too.
        plain(event.text);
        fflush(nullptr);
        return;
    case Kind::PassesBegin:
        if (figures_)
            progress_.emplace(stdout);
        return;
    case Kind::Block:
        if (progress_) {
            progress_->blockSent(event.text.substr(0, event.text.size() - 1), event.block, event.total);
            return;
        }
        plain(event.text);
        fflush(nullptr);
        return;
    case Kind::PassesDone:
        if (progress_)
            progress_->complete();
        return;
    case Kind::Failure:
        // An error in the middle of a pass starts on a line of its own.
        if (progress_)
            progress_->breakLine();
        break;
    case Kind::Retry:
        // Beside the progress line, not in it.
        if (progress_)
            progress_->breakLine();
        fflush(stdout);
        fputs(event.text.c_str(), stderr);
        return;
    case Kind::Disconnected:
        explain(stderr, event.text);
        return;
    case Kind::Hint:
        if (hints_)
            explain(stderr, wrapWords(HINT_LEAD + hintText(event.hint, words_), wrapWidth(stderr), HINT_INDENT));
        return;
    case Kind::Note:
        explain(stderr, wrapWords(NOTE_LEAD + event.text, wrapWidth(stderr), HINT_INDENT));
        return;
    case Kind::Summary:
        // After "Programming complete", which a script may take as the last line.
        if (explains(stdout))
            plain(event.text);
        return;
    default:
        break;
    }
    plain(event.text);
}
