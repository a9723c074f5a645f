// The live progress line on a terminal: the plain "  programming address
// XXXX" words, then the blocks sent of the total, the share done, the time
// taken and the time left, redrawn in place and never wider than the
// terminal.
#ifndef PROGRESS_LINE_H
#define PROGRESS_LINE_H

#include <chrono>
#include <cstdio>
#include <string>

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    // out must be a terminal.
    explicit ProgressLine(FILE* out);

    // Block number `sent` of total, plainWords its line without the "\r",
    // has just been sent.
    void blockSent(const std::string& plainWords, int sent, int total);
    // Every block was acknowledged: the line shows the final figures and is
    // ended, so what follows starts on a line of its own.
    void complete();
    // Something is about to be printed in the middle of a pass (an error):
    // the line is ended where it stands.
    void breakLine();

private:
    // The terminal's width in columns, 80 when it does not tell.
    static int columns(FILE* out);
    // The line: the plain words, then as many of the figures as fit in
    // width - 1 columns (a line that fills the last column makes some
    // terminals wrap).
    static std::string line(const std::string& words, int sent, int total, double elapsed, double left, int width);
    void draw(double left);

    FILE* out_;
    std::string words_;
    int sent_ = 0;
    int total_ = 0;
    size_t drawn_ = 0;  // length of the line on the screen, to blank a longer one
    bool lineOpen_ = false;
    Clock::time_point begin_;
};

#endif
