// The uploader as the page calls it: the same image, hex reader, forecast,
// walk and link as the command line, with the page's line underneath.  Each
// call answers JSON that the page draws; nothing here is the page's own.
#include "PicProgram.h"
#include "boardReset.h"
#include "chipFamily.h"
#include "forecast.h"
#include "json.h"
#include "memoryPicture.h"
#include "pageReporter.h"
#include "passWalk.h"
#include "protocol.h"
#include "readSentence.h"
#include "textFormat.h"
#include "upload.h"
#include "webLine.h"

#include <emscripten.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct LoadedFile {
    std::string name;
    std::unique_ptr<PicProgram> image{new PicProgram};
    std::vector<long> dropped;
    double blockWriteMs = ChipModel::WRITE_CYCLE_MS;  // the chip it was read for; a port's is not known
};
LoadedFile file;

// What a call answers lives here until the next call.
std::string answer;
const char* give(std::string text)
{
    answer = std::move(text);
    return answer.c_str();
}

std::string speeds()
{
    std::string list;
    for (int bitsPerSecond : protocol::UPLOAD_SPEEDS)
        list += (list.empty() ? "[" : ",") + std::to_string(bitsPerSecond);
    return list + "]";
}

std::string consoleSpeeds()
{
    std::string list;
    for (int bps : protocol::CONSOLE_SPEEDS)  // the command line's --monitor offers the same
        list += (list.empty() ? "[" : ",") + std::to_string(bps);
    return list + "]";
}

std::string chipNames()
{
    std::string list;
    for (const ChipModel& model : chipModels())
        list += (list.empty() ? "[" : ",") + json::quote(model.name);
    return list + "]";
}

}  // namespace

extern "C" {

// The facts the page's controls offer.
EMSCRIPTEN_KEEPALIVE const char* coreFacts()
{
    return give(json::Object()
                    .raw("speeds", speeds())
                    .raw("consoleSpeeds", consoleSpeeds())
                    .num("defaultSpeed", protocol::DEFAULT_UPLOAD_SPEED)
                    .raw("resetLines", "[\"none\",\"dtr\",\"rts\",\"both\"]")
                    .str("defaultResetLines", "dtr")
                    .num("resetDefaultMs", RESET_DEFAULT_MS)
                    .num("resetMaxMs", RESET_MAX_MS)
                    .str("consoleNeedsBoard",
                         "The console needs a real board: the simulated chip plays the bootloader, and runs no "
                         "program after it.")
                    .raw("chips", chipNames())
                    .str("defaultChip", defaultChip().name)
                    .raw("lineResults", json::Object()
                                            .num("ok", int(LineResult::Ok))
                                            .num("timeout", int(LineResult::Timeout))
                                            .num("hungUp", int(LineResult::HungUp))
                                            .num("interrupted", int(LineResult::Interrupted))
                                            .done())
                    .done());
}

// Reads a hex file's text as the command line reads the file: ok, one
// sentence on what the reader found for someone new to hex files, and the
// reader's messages below it as the command line prints them.  For the
// simulated chip (its name in chip) the image has that chip's memories, so
// the reader drops and reports the words it lacks; for a port ("") it has
// the command line's.
EMSCRIPTEN_KEEPALIVE const char* coreReadHex(const char* name, const char* text, int length, const char* chip)
{
    LoadedFile loaded;
    loaded.name = name;
    if (const ChipModel* model = findChip(chip)) {
        loaded.image.reset(new PicProgram(model->flashWords, model->eepromBytes));
        loaded.blockWriteMs = model->blockWriteMs();
    }
    std::vector<PicProgram::ReadIssue> issues;
    bool ok = false;
    if (FILE* in = fmemopen(const_cast<char*>(text), static_cast<size_t>(length), "r")) {
        ok = loaded.image->readHex(
            in, PicProgram::IssueReport([&](const PicProgram::ReadIssue& issue) { issues.push_back(issue); }),
            [&](long address) { loaded.dropped.push_back(address); });
        fclose(in);
    }
    // The reader's own messages, as the detail below the sentence: a file
    // for a larger chip drops a word a line, and the first few stand for them.
    constexpr size_t SHOWN_MESSAGES = 4;
    std::string messages;
    for (size_t i = 0; i < issues.size() && i < SHOWN_MESSAGES; ++i)
        messages += issues[i].message;
    if (issues.size() > SHOWN_MESSAGES)
        messages += formatText("(and %d more messages like these)\n", int(issues.size() - SHOWN_MESSAGES));
    if (ok)
        file = std::move(loaded);
    return give(json::Object()
                    .flag("ok", ok)
                    .str("sentence", readSentence(name, issues))
                    .str("messages", messages)
                    .done());
}

// The line the command line shows before the greeting wait.
EMSCRIPTEN_KEEPALIVE const char* coreForecast(int bitsPerSecond)
{
    return give(uploadForecast(file.name, *file.image, bitsPerSecond, file.blockWriteMs));
}

// What the line allows for the loaded file against a bootloader with this
// range: every byte of the upload on the wire at the speed, plus the chip's
// write time for each block.  The benchmark compares a run with it.
EMSCRIPTEN_KEEPALIVE double coreLineSeconds(int bitsPerSecond, int lower, int upper, double programBlockMs,
                                            double eepromByteMs)
{
    const UploadPlan plan = planUpload(*file.image, lower, upper);
    int eepromBlocks = 0;
    for (int start = PicProgram::EEPROM_START; start <= PicProgram::EEPROM_END; start += protocol::BLOCK_WORDS)
        eepromBlocks += plan.sends(start);
    const double wire = double(plan.lineBytes()) * protocol::BITS_PER_CHARACTER / bitsPerSecond;
    const double writes = (plan.blocks - eepromBlocks) * programBlockMs / 1000 +
                          eepromBlocks * protocol::BLOCK_WORDS * eepromByteMs / 1000;
    return wire + writes;
}

// The loaded file's memory; lower > upper while the bootloader's range is
// not known.  chip names the simulated chip, "" for a port (pictureChip).
EMSCRIPTEN_KEEPALIVE const char* corePicture(int lower, int upper, const char* chip)
{
    return give(memoryPicture(*file.image, lower, upper, pictureChip(chip, lower, upper)));
}

// Any image given as hex text (the chip's content), in the same picture.
EMSCRIPTEN_KEEPALIVE const char* corePictureOf(const char* text, int length, int lower, int upper, const char* chip)
{
    PicProgram image;
    if (FILE* in = fmemopen(const_cast<char*>(text), static_cast<size_t>(length), "r")) {
        image.readHex(in, [](const char*) {});
        fclose(in);
    }
    return give(memoryPicture(image, lower, upper, pictureChip(chip, lower, upper)));
}

// One run as `programUploader [-o] [-q] [--reset=LINES --reset-ms=MS]`
// makes it, on the page's line: 1 success, 0 failure.  What the user reads
// goes to the page as events.  resetLines is "none" for the simulated chip,
// which the page resets itself.
EMSCRIPTEN_KEEPALIVE int coreUpload(int bitsPerSecond, int ignoreOverlap, int queryOnly, const char* resetLines,
                                    int resetMs, int simulated)
{
    WebLine line(bitsPerSecond);
    ResetLines lines = ResetLines::None;
    parseResetLines(resetLines, lines);
    int assertMs = RESET_DEFAULT_MS;
    parseResetMs(std::to_string(resetMs), assertMs);
    // The board's bootloader runs only for a while after a reset.
    if (lines != ResetLines::None) {
        if (resetBoard(line, lines, assertMs) == ResetOutcome::NoModemLines)
            pageEvent("prompt", "The port has no modem lines (DTR, RTS) to reset the board with; reset it by hand now.",
                      -1, 0, 0, "", 1, 0);
    } else if (!simulated) {
        pageEvent("prompt",
                  formatText("Reset the board now: its bootloader is awaited for %d seconds.",
                             LinkWindows().greetingMs / 1000).c_str(), -1, 0, 0, "", 1, 0);
    }
    PicProgram blank;
    PicProgram& image = queryOnly ? blank : *file.image;
    PageReporter reporter;
    const int result = upload(image, line, LinkWindows(), ignoreOverlap != 0, queryOnly != 0, reporter);
    if (result == 1)
        reporter.summary(file.dropped);
    return result;
}

}  // extern "C"
