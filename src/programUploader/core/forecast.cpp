#include "forecast.h"

#include "passWalk.h"
#include "protocol.h"
#include "textFormat.h"

#include <cmath>

namespace {

// Used words from `from` to the end of its region.
int usedWords(const PicProgram& image, int from)
{
    int count = 0;
    for (int a = image.findData(from); a >= 0; a = image.findData(a + 1))
        ++count;
    return count;
}

} // namespace

std::string uploadForecast(const std::string& fileName, const PicProgram& image, int bitsPerSecond,
                           double blockWriteMs)
{
    // The bootloader's range is not known before its greeting: the count is
    // for a bootloader that protects nothing.
    const UploadPlan plan = planUpload(image, 1, 0);
    const int flash = usedWords(image, PicProgram::FLASH_START);
    const int config = usedWords(image, PicProgram::CONFIG_START);
    const int eeprom = usedWords(image, PicProgram::EEPROM_START);
    const double seconds = double(plan.lineBytes()) * protocol::BITS_PER_CHARACTER / bitsPerSecond +
                           plan.blocks * blockWriteMs / 1000;
    const std::string words =
        formatText("%s: %d flash %s, %d configuration %s, %d EEPROM %s", fileName.c_str(), flash,
                   plural(flash, "word", "words"), config, plural(config, "word", "words"), eeprom,
                   plural(eeprom, "byte", "bytes"));
    if (plan.blocks == 0)
        return words + "; nothing to send";
    return words + formatText("; %d %s to send, about %s at %d bit/s", plan.blocks,
                              plural(plan.blocks, "block", "blocks"), clockTime(std::ceil(seconds)).c_str(),
                              bitsPerSecond);
}
