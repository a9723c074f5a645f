// What the user sees while an upload runs.  On a pipe or in a file the
// progress lines are the plain "  programming address XXXX\r" that scripts
// and logs read; on a terminal each line also shows the blocks sent of the
// total, the share done, the time taken and the time left, redrawn in place
// and never wider than the terminal.
#ifndef PROGRESS_H
#define PROGRESS_H

#include "PicProgram.h"
#include "passWalk.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // totalBlocks: what the two passes will send (planUpload).  The figures
    // are drawn only when out is a terminal.
    Progress(FILE* out, int totalBlocks);

    // The block at start has just been sent.
    void blockSent(int start);
    // Every block was acknowledged: on a terminal the line shows the final
    // figures and is ended, so what follows starts on a line of its own.
    void complete();
    // Something is about to be printed in the middle of a pass (an error):
    // on a terminal the line is ended where it stands.
    void breakLine();

private:
    // The terminal's width in columns, 80 when it does not tell.
    static int columns(FILE* out);
    // The line for a block: the plain words, then as many of the figures as
    // fit in width - 1 columns (a line that fills the last column makes some
    // terminals wrap).
    static std::string line(int start, int sent, int total, double elapsed, double left, int width);
    void draw(int start, int sent, double left);
    FILE* out_;
    bool terminal_;
    int total_;
    int sent_ = 0;
    int lastStart_ = -1;
    size_t drawn_ = 0;  // length of the line on the screen, to blank a longer one
    bool lineOpen_ = false;
    Clock::time_point begin_;
};

// The progress line of a block sent by a pass: through progress when there
// is one, else the plain line.
void showBlockSent(Progress* progress, int start);

// m:ss, or h:mm:ss from an hour on; "-:--" for a time not known yet.
std::string clockTime(double seconds);

// The words a file gives each region and what sending them will take, for
// the line shown before the wait: "FILE: 38 flash words, ...".
std::string uploadForecast(const std::string& fileName, PicProgram& image, int bitsPerSecond);

// After "Programming complete": one WARNING line (continuation lines
// indented) for each kind of word that the file held and this run did not
// write: configuration words the program pass did not reach, words inside
// the bootloader's range that -o skipped, words at addresses the chip does
// not have (dropped: as the hex reader reported them) and, should the walk
// ever leave any other, those.
void printUnwritten(FILE* out, PicProgram& image, const UploadPlan& plan, int lower, int upper,
                    const std::vector<long>& dropped);

// One upload's account beyond the plain lines: the progress with its exact
// total once the bootloader's range is known, and the summary at the end.
class UploadReport {
public:
    // dropped: addresses of the words the hex reader dropped.
    explicit UploadReport(std::vector<long> dropped = {}) : dropped_(std::move(dropped)) {}

    // The passes are about to start with these (aligned) bounds.
    Progress* begin(PicProgram& image, int lower, int upper);
    Progress* progress() { return progress_ ? &*progress_ : nullptr; }
    // A pass failed; its message follows.
    void failed();
    // Both passes are done; "Programming complete" follows.
    void passesDone();
    // After "Programming complete".
    void printSummary();

private:
    std::vector<long> dropped_;
    std::optional<Progress> progress_;
    UploadPlan plan_;
    PicProgram* image_ = nullptr;
    int lower_ = 0;
    int upper_ = -1;
};

#endif
