#include "pageReporter.h"

#include "textFormat.h"

#include <emscripten.h>

namespace {

const char* kindName(ReportEvent::Kind kind)
{
    using Kind = ReportEvent::Kind;
    switch (kind) {
    case Kind::Waiting: return "waiting";
    case Kind::Identified: return "identified";
    case Kind::Notice: return "notice";
    case Kind::Warning: return "warning";
    case Kind::Error: return "error";
    case Kind::Failure: return "failure";
    case Kind::PassesBegin: return "passesBegin";
    case Kind::Block: return "block";
    case Kind::PassesDone: return "passesDone";
    case Kind::Complete: return "complete";
    case Kind::Summary: return "summary";
    case Kind::Disconnected: return "disconnected";
    case Kind::Hint: return "hint";
    case Kind::Retry: return "retry";
    case Kind::Note: return "note";
    }
    return "other";
}

// A hint names the page's controls (their labels), not the command line's
// options.
const HintWords PAGE_WORDS = {
    "choose a line under Reset through",
    "",
    "the speed chosen under Speed",
    "that the port chosen with Connect… is the board's",
    "Ticking Overlap",
};

}  // namespace

void PageReporter::show(const ReportEvent& event)
{
    std::string figures;
    if (event.kind == ReportEvent::Kind::PassesBegin)
        begin_ = std::chrono::steady_clock::now();
    if (event.kind == ReportEvent::Kind::Block && event.total > 0) {
        // The terminal's figures: blocks sent of the total, the share, the
        // time taken and the time left at the pace so far.
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
        const double left = event.block > 0 ? elapsed / event.block * (event.total - event.block) : -1;
        figures = formatText("%d/%d blocks  %d%%  %s elapsed, %s left", event.block, event.total,
                             event.block * 100 / event.total, clockTime(elapsed).c_str(), clockTime(left).c_str());
    }
    const std::string text = event.kind == ReportEvent::Kind::Hint ? hintText(event.hint, PAGE_WORDS) : event.text;
    pageEvent(kindName(event.kind), text.c_str(), event.address, event.block, event.total, figures.c_str(),
              event.range.lower, event.range.upper);
}
