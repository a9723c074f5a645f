#include "progressLine.h"

#include "terminal.h"
#include "textFormat.h"

#include <algorithm>

namespace {

constexpr int DEFAULT_COLUMNS = 80;

} // namespace

ProgressLine::ProgressLine(FILE* out) : out_(out), begin_(Clock::now()) {}

int ProgressLine::columns(FILE* out)
{
    const int width = terminalColumns(out);
    return width > 0 ? width : DEFAULT_COLUMNS;
}

std::string ProgressLine::line(const std::string& words, int sent, int total, double elapsed, double left, int width)
{
    const int digits = static_cast<int>(std::to_string(total).size());
    const int share = total > 0 ? static_cast<int>(100L * sent / total) : 100;
    // Longest first; the first that fits is drawn.
    const std::string variants[] = {
        words + formatText("  [%*d/%d blocks  %3d%%  %s elapsed, %s left]", digits, sent, total, share,
                           clockTime(elapsed).c_str(), clockTime(left).c_str()),
        words + formatText("  [%*d/%d  %3d%%  %s left]", digits, sent, total, share, clockTime(left).c_str()),
        words + formatText("  [%3d%%]", share),
        words,
    };
    const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;
    for (const std::string& v : variants)
        if (v.size() <= room)
            return v;
    return words.substr(0, room);
}

void ProgressLine::blockSent(const std::string& plainWords, int sent, int total)
{
    words_ = plainWords;
    sent_ = sent;
    total_ = total;
    // Blocks acknowledged so far give this run's rate; the first one has
    // none yet.
    const int done = sent - 1;
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin_).count();
    draw(done > 0 ? elapsed / done * (total - done) : -1);
}

void ProgressLine::complete()
{
    if (sent_ == 0)
        return;
    draw(0);
    breakLine();
}

void ProgressLine::breakLine()
{
    if (!lineOpen_)
        return;
    fputs("\n", out_);
    fflush(nullptr);
    lineOpen_ = false;
    drawn_ = 0;
}

void ProgressLine::draw(double left)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin_).count();
    const int width = columns(out_);
    std::string text = line(words_, sent_, total_, elapsed, left, width);
    // Blanks what a longer line before left, within the terminal's width.
    const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;
    const size_t shown = text.size();
    if (drawn_ > text.size())
        text.append(std::min(drawn_, room) - std::min(text.size(), room), ' ');
    fprintf(out_, "%s\r", text.c_str());
    fflush(nullptr);
    drawn_ = shown;
    lineOpen_ = true;
}
