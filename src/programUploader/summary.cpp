#include "summary.h"

#include "textFormat.h"

#include <algorithm>

namespace {

// The summary's lines wrap here; continuation lines line up under the text.
constexpr size_t SUMMARY_WIDTH = 79;
constexpr const char* SUMMARY_INDENT = "         ";  // under the text after "WARNING: "

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
        text += formatText("%04lX", addresses[i]);
        if (addresses[j] != addresses[i])
            text += formatText("-%04lX", addresses[j]);
        i = j + 1;
    }
    return text;
}

// "WARNING: " and the text, wrapped at word boundaries.
std::string warning(const std::string& text)
{
    std::string wrapped;
    std::string line = "WARNING:";
    bool lineHasWord = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        if (lineHasWord && line.size() + 1 + word.size() > SUMMARY_WIDTH) {
            wrapped += line + "\n";
            line = SUMMARY_INDENT;
        } else {
            line += ' ';
        }
        line += word;
        lineHasWord = true;
        at = end + 1;
    }
    return wrapped + line + "\n";
}

} // namespace

std::vector<std::string> unwrittenWarnings(PicProgram& image, const UploadPlan& plan, int lower, int upper,
                                           const std::vector<long>& dropped)
{
    std::vector<std::string> warnings;
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
        warnings.push_back(warning(formatText("%ld configuration %s not written (%s): the programming pass did not "
                                              "reach %s. Set %s with a hardware programmer.",
                                              n, plural(n, "word was", "words were"), addressRanges(config).c_str(),
                                              plural(n, "it", "them"), plural(n, "it", "them"))));
    }
    if (!skipped.empty()) {
        const long n = static_cast<long>(skipped.size());
        warnings.push_back(warning(formatText("%ld %s inside the bootloader's range %04X-%04X %s skipped (-o): %s.", n,
                                              plural(n, "word", "words"), lower, upper, plural(n, "was", "were"),
                                              addressRanges(skipped).c_str())));
    }
    // A file may name the same address twice; the chip lacks it once.
    std::vector<long> lost = dropped;
    std::sort(lost.begin(), lost.end());
    lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
    if (!lost.empty()) {
        const long n = static_cast<long>(lost.size());
        warnings.push_back(warning(formatText("%ld %s at addresses the chip does not have %s dropped when the file "
                                              "was read: %s.",
                                              n, plural(n, "word", "words"), plural(n, "was", "were"),
                                              addressRanges(lost).c_str())));
    }
    if (!other.empty()) {
        const long n = static_cast<long>(other.size());
        warnings.push_back(warning(formatText("%ld %s not written: %s.", n, plural(n, "word was", "words were"),
                                              addressRanges(other).c_str())));
    }
    return warnings;
}
