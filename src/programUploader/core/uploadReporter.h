// Everything a person reads about an upload passes through one reporter: the
// link itself prints nothing.  The link calls the reporter's event methods
// below; each of them formats its line here, once, and hands the finished
// text with its fields to show().  A reporter (the terminal's, the web
// page's) implements show() alone, so every front end shows the same words.
// The one exception is the hint after a failure, which names the front
// end's own settings: it carries its facts, and each reporter words it.
#ifndef UPLOAD_REPORTER_H
#define UPLOAD_REPORTER_H

#include "PicProgram.h"
#include "hint.h"
#include "linkResult.h"
#include "passWalk.h"
#include "protocol.h"
#include "textFormat.h"

#include <string>
#include <vector>

// One finished line (or piece of a line) for the user.  The text carries its
// own line breaks exactly as a console prints them; a reporter that lays its
// lines out otherwise may use the fields instead.
struct ReportEvent {
    enum class Kind {
        Waiting,       // the greeting wait begins: "\nWaiting ... . . ." (no line end)
        Identified,    // " got it." and the revision date and address range lines
        Notice,        // a write test whose data match the program
        Warning,       // a condition the run survives
        Error,         // a failure line that leaves the run going (a write test that differs)
        Failure,       // the ERROR line that ends the run
        PassesBegin,   // the programming passes start; no text, total is set
        Block,         // a block frame was sent: the plain progress line, "\r" at its end
        PassesDone,    // every block was acknowledged; no text
        Complete,      // "\nProgramming complete\n"
        Summary,       // one WARNING of the closing summary, wrapped, for what was not written
        Disconnected,  // the line hung up: a diagnostic for standard error
        Hint,          // after a failure, what the user can do: no text, the facts in hint
        Retry,         // a block goes out again after a checksum report: for standard error
        Note,          // before the passes, for a person: the program was built for a larger chip
    };
    Kind kind;
    std::string text;
    int address = -1;  // the image address the line is about; -1 for none
    int block = 0;     // Block: this block's number, 1 to total; Retry: this try's number
    int total = 0;     // Block, PassesBegin: the blocks both passes send; Retry: the tries allowed
    Hint hint{};       // Hint: each reporter words it with its own settings (hintText)
    // Identified: the bootloader's range as it gave it; lower > upper otherwise.
    protocol::Range range{1, 0};
};

// Identification as the bootloader gave it (before the range is aligned).
struct BootloaderIdentity {
    int year = 0, month = 0, day = 0;
    int lower = 0, upper = 0;
};

class UploadReporter {
public:
    virtual ~UploadReporter() = default;

    // The one thing a reporter does: show a finished line.
    virtual void show(const ReportEvent& event) = 0;

    // The events, called by the link and the driver in the order of a run.
    void waiting();
    void noGreeting();
    void interruptedBeforeGreeting();
    void identified(const BootloaderIdentity& identity);
    void badRevision();
    // The range's lower (or upper) end moved to the block boundary `to`.
    void rangeWidened(bool lowerEnd, int to);
    void overlap(bool ignored);
    // Before the passes: a Note for each region in which the program holds
    // words beyond the chip whose top the bootloader's range ends at.
    void beyondTheChip(const PicProgram& image, int upper);
    // The passes start: the image and the aligned range give the total.
    void passesBegin(const PicProgram& image, int lower, int upper);
    void blockSent(int address);
    // The block at address goes out again (try `attempt` of `allowed`) after
    // a checksum report.
    void retrying(int address, int attempt, int allowed);
    // A write-test report; the notice or the mismatch is decided against
    // the program being sent (a blank word without one).
    void writeTest(int address, int data);
    // The response or the pass failed as result tells; ends the run.
    void failed(const LinkResult& result);
    void disconnected();
    // After a failure's lines: what the user can do about it.
    void hint(const Hint& hint);
    void passesDone();
    void complete();
    // After a complete upload: one Summary line for each kind of word that
    // the file held and the chip did not get.  dropped: addresses the hex
    // reader dropped.
    void summary(const std::vector<long>& dropped);

    // The program write tests are checked against, outside an upload.
    void useProgram(const PicProgram* image) { image_ = image; }

    int summaryWidth() const { return summaryWidth_; }

protected:
    // The summary's lines wrap at this width (79 unless a reporter knows
    // better).
    void wrapSummaryAt(int width) { summaryWidth_ = width; }

private:
    void say(ReportEvent::Kind kind, std::string text, int address = -1);

    const PicProgram* image_ = nullptr;
    UploadPlan plan_;
    int lower_ = 0;
    int upper_ = -1;
    int sent_ = 0;
    bool passesDone_ = false;
    int summaryWidth_ = DEFAULT_WRAP_WIDTH;
};

#endif
