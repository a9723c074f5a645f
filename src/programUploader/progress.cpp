#include "progress.h"

#include "terminal.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace {

constexpr int DEFAULT_COLUMNS = 80;
// Typical time the chip takes to write one block after its frame arrived
// (the PIC16F87xA's self-timed erase/write cycle).
constexpr double BLOCK_WRITE_SECONDS = 0.004;
// The summary's lines wrap here; continuation lines line up under the text.
constexpr size_t SUMMARY_WIDTH = 79;
constexpr const char* SUMMARY_INDENT = "         ";  // under the text after "WARNING: "

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    std::string text(static_cast<size_t>(std::max(0, vsnprintf(nullptr, 0, fmt, args))), '\0');
    vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    va_end(args);
    return text;
}

// The plain progress line, as scripts and logs read it; a terminal's line
// keeps its words and adds the figures after them.
constexpr const char* PLAIN_LINE = "  programming address %04X\r";

std::string plainWords(int start)
{
    std::string words = format(PLAIN_LINE, start);
    words.pop_back();
    return words;
}

const char* plural(long n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

// Used words from `from` to the end of its region.
int usedWords(PicProgram& image, int from)
{
    int count = 0;
    for (int a = image.findData(from); a >= 0; a = image.findData(a + 1))
        ++count;
    return count;
}

// "0004-0007, 2007": runs of consecutive addresses, in rising order.
std::string addressRanges(const std::vector<long>& addresses)
{
    std::string text;
    for (size_t i = 0; i < addresses.size();) {
        size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] <= addresses[j] + 1)
            ++j;
        if (!text.empty())
            text += ", ";
        text += format("%04lX", addresses[i]);
        if (addresses[j] != addresses[i])
            text += format("-%04lX", addresses[j]);
        i = j + 1;
    }
    return text;
}

// "WARNING: " and the text, wrapped at word boundaries.
void printWarning(FILE* out, const std::string& text)
{
    std::string line = "WARNING:";
    bool lineHasWord = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        if (lineHasWord && line.size() + 1 + word.size() > SUMMARY_WIDTH) {
            fprintf(out, "%s\n", line.c_str());
            line = SUMMARY_INDENT;
        } else {
            line += ' ';
        }
        line += word;
        lineHasWord = true;
        at = end + 1;
    }
    fprintf(out, "%s\n", line.c_str());
}

} // namespace

Progress::Progress(FILE* out, int totalBlocks)
    : out_(out), terminal_(isTerminal(out)), total_(totalBlocks), begin_(Clock::now())
{
}

int Progress::columns(FILE* out)
{
    const int width = terminalColumns(out);
    return width > 0 ? width : DEFAULT_COLUMNS;
}

std::string Progress::line(int start, int sent, int total, double elapsed, double left, int width)
{
    const std::string words = plainWords(start);
    const int digits = static_cast<int>(std::to_string(total).size());
    const int share = total > 0 ? static_cast<int>(100L * sent / total) : 100;
    // Longest first; the first that fits is drawn.
    const std::string variants[] = {
        words + format("  [%*d/%d blocks  %3d%%  %s elapsed, %s left]", digits, sent, total, share,
                       clockTime(elapsed).c_str(), clockTime(left).c_str()),
        words + format("  [%*d/%d  %3d%%  %s left]", digits, sent, total, share, clockTime(left).c_str()),
        words + format("  [%3d%%]", share),
        words,
    };
    const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;
    for (const std::string& v : variants)
        if (v.size() <= room)
            return v;
    return words.substr(0, room);
}

void Progress::blockSent(int start)
{
    ++sent_;
    lastStart_ = start;
    if (!terminal_) {
        fprintf(out_, PLAIN_LINE, start);
        fflush(nullptr);
        return;
    }
    // Blocks acknowledged so far give this run's rate; the first one has
    // none yet.
    const int done = sent_ - 1;
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin_).count();
    draw(start, sent_, done > 0 ? elapsed / done * (total_ - done) : -1);
}

void Progress::complete()
{
    if (!terminal_ || lastStart_ < 0)
        return;
    draw(lastStart_, sent_, 0);
    breakLine();
}

void Progress::breakLine()
{
    if (!lineOpen_)
        return;
    fputs("\n", out_);
    fflush(nullptr);
    lineOpen_ = false;
    drawn_ = 0;
}

void Progress::draw(int start, int sent, double left)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin_).count();
    const int width = columns(out_);
    std::string text = line(start, sent, total_, elapsed, left, width);
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

void showBlockSent(Progress* progress, int start)
{
    if (progress) {
        progress->blockSent(start);
        return;
    }
    printf(PLAIN_LINE, start);
    fflush(nullptr);
}

std::string clockTime(double seconds)
{
    if (seconds < 0 || !std::isfinite(seconds))
        return "-:--";
    long s = std::lround(seconds);
    if (s >= 3600)
        return format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return format("%ld:%02ld", s / 60, s % 60);
}

std::string uploadForecast(const std::string& fileName, PicProgram& image, int bitsPerSecond)
{
    // The bootloader's range is not known before its greeting: the count is
    // for a bootloader that protects nothing.
    const UploadPlan plan = planUpload(image, 1, 0);
    const int flash = usedWords(image, PicProgram::FLASH_START);
    const int config = usedWords(image, PicProgram::CONFIG_START);
    const int eeprom = usedWords(image, PicProgram::EEPROM_START);
    const double seconds = double(plan.lineBytes()) * protocol::BITS_PER_CHARACTER / bitsPerSecond +
                           plan.blocks * BLOCK_WRITE_SECONDS;
    if (plan.blocks == 0)
        return format("%s: %d flash %s, %d configuration %s, %d EEPROM %s; nothing to send", fileName.c_str(), flash,
                      plural(flash, "word", "words"), config, plural(config, "word", "words"), eeprom,
                      plural(eeprom, "byte", "bytes"));
    return format("%s: %d flash %s, %d configuration %s, %d EEPROM %s; %d %s to send, about %s at %d bit/s",
                  fileName.c_str(), flash, plural(flash, "word", "words"), config, plural(config, "word", "words"),
                  eeprom, plural(eeprom, "byte", "bytes"), plan.blocks, plural(plan.blocks, "block", "blocks"),
                  clockTime(std::ceil(seconds)).c_str(), bitsPerSecond);
}

void printUnwritten(FILE* out, PicProgram& image, const UploadPlan& plan, int lower, int upper,
                    const std::vector<long>& dropped)
{
    std::vector<long> config, skipped, other;
    for (int start : {PicProgram::FLASH_START, PicProgram::CONFIG_START, PicProgram::EEPROM_START}) {
        for (int a = image.findData(start); a >= 0; a = image.findData(a + 1)) {
            if (plan.sends(a))
                continue;
            if (lower <= a && a <= upper)
                skipped.push_back(a);
            else if (a >= PicProgram::CONFIG_START && a <= PicProgram::CONFIG_END)
                config.push_back(a);
            else
                other.push_back(a);
        }
    }
    if (!config.empty()) {
        const long n = static_cast<long>(config.size());
        printWarning(out, format("%ld configuration %s not written (%s): the programming pass did not reach %s. "
                                 "Set %s with a hardware programmer.",
                                 n, plural(n, "word was", "words were"), addressRanges(config).c_str(),
                                 plural(n, "it", "them"), plural(n, "it", "them")));
    }
    if (!skipped.empty()) {
        const long n = static_cast<long>(skipped.size());
        printWarning(out, format("%ld %s inside the bootloader's range %04X-%04X %s skipped (-o): %s.", n,
                                 plural(n, "word", "words"), lower, upper, plural(n, "was", "were"),
                                 addressRanges(skipped).c_str()));
    }
    // A file may name the same address twice; the chip lacks it once.
    std::vector<long> lost = dropped;
    std::sort(lost.begin(), lost.end());
    lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
    if (!lost.empty()) {
        const long n = static_cast<long>(lost.size());
        printWarning(out, format("%ld %s at addresses the chip does not have %s dropped when the file was read: %s.",
                                 n, plural(n, "word", "words"), plural(n, "was", "were"),
                                 addressRanges(lost).c_str()));
    }
    if (!other.empty()) {
        const long n = static_cast<long>(other.size());
        printWarning(out, format("%ld %s not written: %s.", n, plural(n, "word was", "words were"),
                                 addressRanges(other).c_str()));
    }
}

Progress* UploadReport::begin(PicProgram& image, int lower, int upper)
{
    image_ = &image;
    lower_ = lower;
    upper_ = upper;
    plan_ = planUpload(image, lower, upper);
    progress_.emplace(stdout, plan_.blocks);
    return &*progress_;
}

void UploadReport::failed()
{
    if (progress_)
        progress_->breakLine();
}

void UploadReport::passesDone()
{
    if (progress_)
        progress_->complete();
}

void UploadReport::printSummary()
{
    if (image_)
        printUnwritten(stdout, *image_, plan_, lower_, upper_, dropped_);
}
