#include "memoryPicture.h"

#include "json.h"
#include "passWalk.h"
#include "protocol.h"

#include <cstdio>

namespace {

// One letter a block; the page styles each letter and shows its name.
struct BlockClass {
    char letter;
    const char* name;
};
constexpr BlockClass SENT{'p', "program: sent"};
constexpr BlockClass BLANK{'.', "blank"};
constexpr BlockClass BOOTLOADER{'b', "the bootloader's range"};
constexpr BlockClass SKIPPED{'o', "in the bootloader's range: refused, or skipped with overlap"};
constexpr BlockClass UNSENT{'n', "not reached by the programming pass"};
constexpr BlockClass ALL[] = {SENT, BLANK, BOOTLOADER, SKIPPED, UNSENT};

char classOf(PicProgram& image, const UploadPlan& plan, const protocol::Range& range, int start)
{
    const bool used = image.isUsed(start, start + protocol::BLOCK_WORDS - 1);
    const bool protectedBlock = range.contains(start);
    if (used && protectedBlock)
        return SKIPPED.letter;
    if (protectedBlock)
        return BOOTLOADER.letter;
    if (!used)
        return BLANK.letter;
    return plan.sends(start) ? SENT.letter : UNSENT.letter;
}

std::string region(PicProgram& image, const UploadPlan& plan, const protocol::Range& range, const char* name,
                   int first, int end)
{
    std::string letters;
    for (int start = first; start < end; start += protocol::BLOCK_WORDS)
        letters += classOf(image, plan, range, start);
    char label[64];
    snprintf(label, sizeof label, "%s %04X-%04X", name, first, end - 1);
    return json::Object().str("label", label).str("blocks", letters).done();
}

}  // namespace

const ChipModel& pictureChip(const std::string& simulated, int lower, int upper)
{
    if (const ChipModel* named = findChip(simulated))
        return *named;
    const ChipModel* fit = nullptr;
    for (const ChipModel& model : chipModels())
        if (lower <= upper && upper < model.flashWords && (!fit || model.flashWords < fit->flashWords))
            fit = &model;
    return fit ? *fit : defaultChip();
}

std::string memoryPicture(PicProgram& image, int lower, int upper, const ChipModel& chip)
{
    const protocol::Range range{lower, upper};
    // With the range not known yet the plan protects nothing.
    const UploadPlan plan = planUpload(image, lower, upper);
    std::string classes;
    for (const BlockClass& c : ALL)
        classes += (classes.empty() ? "[" : ",") +
                   json::Object().str("letter", std::string(1, c.letter)).str("name", c.name).done();
    classes += "]";
    const std::string regions = "[" +
        region(image, plan, range, "flash", PicProgram::FLASH_START, PicProgram::FLASH_START + chip.flashWords) +
        "," + region(image, plan, range, "configuration", PicProgram::CONFIG_START, PicProgram::CONFIG_END + 1) +
        "," + region(image, plan, range, "EEPROM", PicProgram::EEPROM_START,
                     PicProgram::EEPROM_START + chip.eepromBytes) + "]";
    return json::Object().raw("classes", classes).raw("regions", regions).done();
}
