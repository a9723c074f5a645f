#include "summary.h"

#include "protocol.h"
#include "textFormat.h"

#include <algorithm>

namespace {

// Continuation lines line up under the text.
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
std::string warning(int width, const std::string& text)
{
    return wrapWords("WARNING: " + text, width, SUMMARY_INDENT);
}

} // namespace

std::vector<std::string> unwrittenWarnings(const PicProgram& image, const UploadPlan& plan, int lower, int upper,
                                           const std::vector<long>& dropped, int width)
{
    std::vector<std::string> warnings;
    std::vector<long> config, skipped, other, wideWords, wideBytes;
    for (int start : {PicProgram::FLASH_START, PicProgram::CONFIG_START, PicProgram::EEPROM_START}) {
        for (int a = image.findData(start); a >= 0; a = image.findData(a + 1)) {
            if (plan.sends(a)) {
                // The chip keeps the low bits of what it is sent.
                const bool eeprom = a >= PicProgram::EEPROM_START;
                if (image.getData(a) & ~(eeprom ? protocol::EEPROM_MASK : protocol::PROGRAM_MASK))
                    (eeprom ? wideBytes : wideWords).push_back(a);
                continue;
            }
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
        warnings.push_back(warning(width, formatText("%ld configuration %s not written (%s): the programming pass did not "
                                              "reach %s. Set %s with a hardware programmer.",
                                              n, plural(n, "word was", "words were"), addressRanges(config).c_str(),
                                              plural(n, "it", "them"), plural(n, "it", "them"))));
    }
    if (!skipped.empty()) {
        const long n = static_cast<long>(skipped.size());
        warnings.push_back(warning(width, formatText("%ld %s inside the bootloader's range %04X-%04X %s skipped (-o): %s.", n,
                                              plural(n, "word", "words"), lower, upper, plural(n, "was", "were"),
                                              addressRanges(skipped).c_str())));
    }
    // A file may name the same address twice; the chip lacks it once.
    std::vector<long> lost = dropped;
    std::sort(lost.begin(), lost.end());
    lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
    if (!lost.empty()) {
        const long n = static_cast<long>(lost.size());
        warnings.push_back(warning(width, formatText("%ld %s at addresses the chip does not have %s dropped when the file "
                                              "was read: %s.",
                                              n, plural(n, "word", "words"), plural(n, "was", "were"),
                                              addressRanges(lost).c_str())));
    }
    if (!wideWords.empty()) {
        const long n = static_cast<long>(wideWords.size());
        warnings.push_back(warning(width, formatText("%ld flash or configuration %s wider than 14 bits (%s): the chip "
                                                     "kept the low 14 bits.",
                                                     n, plural(n, "word was", "words were"),
                                                     addressRanges(wideWords).c_str())));
    }
    if (!wideBytes.empty()) {
        const long n = static_cast<long>(wideBytes.size());
        warnings.push_back(warning(width, formatText("%ld EEPROM %s above 0xFF (%s): the chip kept the low byte.", n,
                                                     plural(n, "value was", "values were"),
                                                     addressRanges(wideBytes).c_str())));
    }
    if (!other.empty()) {
        const long n = static_cast<long>(other.size());
        warnings.push_back(warning(width, formatText("%ld %s not written: %s.", n, plural(n, "word was", "words were"),
                                              addressRanges(other).c_str())));
    }
    return warnings;
}
