#include "uploadReporter.h"

#include "chipFamily.h"
#include "protocol.h"
#include "summary.h"
#include "textFormat.h"

#include <cctype>

using Kind = ReportEvent::Kind;

namespace {

// isalnum of the POSIX locale: ASCII letters and digits only.
bool isAsciiAlnum(int c)
{
    return c >= 0 && c < 0x80 && std::isalnum(c);
}

// The words after "\nERROR: " for a failed exchange.
std::string failureText(const LinkResult& r)
{
    using Outcome = LinkResult::Outcome;
    switch (r.outcome) {
    case Outcome::Acknowledged:
        return "";
    case Outcome::Timeout:
    case Outcome::HungUp:
        return "Timeout while waiting on bootloader response\n";
    case Outcome::Interrupted:
        return formatText("Interrupted at address %04X; the chip holds only part of the program.\n", r.address);
    case Outcome::UnexpectedByte:
        if (isAsciiAlnum(r.byte))
            return formatText("Unknown code ('%c') from bootloader\n", r.byte);
        return formatText("Unknown code (%X) from bootloader\n", static_cast<unsigned>(r.byte));
    case Outcome::ErrorReport:
        break;
    }
    switch (r.byte) {
    case protocol::ERROR_CHECKSUM:
        return formatText("Did not pass checksum test while at address %04X\n", r.address);
    case protocol::ERROR_VERIFY:
        return formatText("Did not pass verification test at address %04X\n", r.address);
    case protocol::ERROR_ADDRESS:
        return formatText("Invalid address %04X\n", r.address);
    case protocol::ERROR_COMMAND:
        return formatText("Unknown command given to bootloader while at address %04X\n", r.address);
    case 2:  // the error byte 0x02 reads as the time-out, whose code it shares
        return "Timeout while waiting on bootloader response\n";
    }
    if (isAsciiAlnum(r.byte))
        return formatText("Unknown error ('%c') from bootloader while at address %04X\n", r.byte, r.address);
    return formatText("Unknown error (%X) from bootloader while at address %04X\n", static_cast<unsigned>(r.byte),
                      r.address);
}

} // namespace

void UploadReporter::say(Kind kind, std::string text, int address)
{
    ReportEvent event{kind, std::move(text), address};
    show(event);
}

void UploadReporter::waiting()
{
    say(Kind::Waiting, "\nWaiting for the bootloader's greeting . . .");
}

void UploadReporter::noGreeting()
{
    say(Kind::Failure, "\nERROR: Could not establish communication with the bootloader.\n");
}

void UploadReporter::interruptedBeforeGreeting()
{
    say(Kind::Failure, "\nERROR: Interrupted while waiting for the bootloader's greeting; nothing was written.\n");
}

void UploadReporter::identified(const BootloaderIdentity& id)
{
    ReportEvent event{Kind::Identified,
                      formatText(" got it.\nV Oruzavuver revision date: %04u-%02u-%02u\n",
                                 static_cast<unsigned>(id.year), static_cast<unsigned>(id.month),
                                 static_cast<unsigned>(id.day)) +
                          formatText("             address range: %04X-%04X\n", id.lower, id.upper)};
    event.range = protocol::Range{id.lower, id.upper};
    show(event);
}

void UploadReporter::badRevision()
{
    say(Kind::Failure, "\nERROR: Bad revision date.\n");
}

void UploadReporter::rangeWidened(bool lowerEnd, int to)
{
    say(Kind::Warning,
        formatText("WARNING: The bootloader's address space does not %s on a block boundry.\n"
                   "         Using %04X as the %s address.\n",
                   lowerEnd ? "start" : "end", to, lowerEnd ? "lower" : "upper"),
        to);
}

void UploadReporter::overlap(bool ignored)
{
    const char* text = " The program and the bootloader overlap.\n";
    if (ignored)
        say(Kind::Warning, std::string("WARNING:") + text);
    else
        say(Kind::Failure, std::string("ERROR:") + text);
}

namespace {

// "1000-1803": the first and the last used address of from..to; "" when
// none is used.
std::string usedSpan(const PicProgram& image, int from, int to)
{
    int first = -1, last = -1;
    for (int address = from; address <= to; ++address)
        if (image.getData(address) != PicProgram::BLANK) {
            first = first < 0 ? address : first;
            last = address;
        }
    return first < 0 ? "" : formatText("%04X-%04X", first, last);
}

} // namespace

void UploadReporter::beyondTheChip(const PicProgram& image, int upper)
{
    // Bootloaders sit at the top of flash, so the range's end tells the
    // chip's size; the family's smaller chips have the smaller EEPROM too.
    for (const ChipModel& chip : chipModels()) {
        if (chip.bootEnd() != upper || chip.flashWords == PicProgram::FLASH_CAPACITY)
            continue;
        const std::string top = formatText("the bootloader ends at %04X, the top of a %dK-word chip", upper,
                                           chip.flashWords / 1024);
        const std::string flash = usedSpan(image, chip.flashWords, PicProgram::FLASH_END);
        if (!flash.empty())
            say(Kind::Note, top + "; the program has words at " + flash + ", beyond it: build it for this chip");
        const int eepromTop = PicProgram::EEPROM_START + chip.eepromBytes - 1;
        const std::string eeprom = usedSpan(image, eepromTop + 1, PicProgram::EEPROM_END);
        if (!eeprom.empty())
            say(Kind::Note, formatText("%s, whose EEPROM ends at %04X; the program has EEPROM data at %s, beyond "
                                       "it: build it for this chip",
                                       top.c_str(), eepromTop, eeprom.c_str()));
        return;
    }
}

void UploadReporter::passesBegin(const PicProgram& image, int lower, int upper)
{
    image_ = &image;
    lower_ = lower;
    upper_ = upper;
    plan_ = planUpload(image, lower, upper);
    sent_ = 0;
    passesDone_ = false;
    ReportEvent event{Kind::PassesBegin, ""};
    event.total = plan_.blocks;
    show(event);
}

void UploadReporter::blockSent(int address)
{
    ReportEvent event{Kind::Block, formatText("  programming address %04X\r", address), address};
    event.block = ++sent_;
    event.total = plan_.blocks;
    show(event);
}

void UploadReporter::retrying(int address, int attempt, int allowed)
{
    ReportEvent event{Kind::Retry,
                      formatText("Checksum error on the block at %04X: sending it again (retry %d of %d).\n", address,
                                 attempt, allowed),
                      address};
    event.block = attempt;
    event.total = allowed;
    show(event);
}

void UploadReporter::writeTest(int address, int data)
{
    const int expected = image_ ? image_->getData(address) : PicProgram::BLANK;
    if ((expected & protocol::PROGRAM_MASK) == data)
        say(Kind::Notice, formatText("\n NOTICE: Good write test at address %04X, data == %04X\n", address, data),
            address);
    else
        say(Kind::Error, formatText("\nERROR: Bootloader test failure at address %04X, data == %04X\n", address, data),
            address);
}

void UploadReporter::failed(const LinkResult& result)
{
    if (result.ok())
        return;
    say(Kind::Failure, "\nERROR: " + failureText(result), result.address);
}

void UploadReporter::disconnected()
{
    say(Kind::Disconnected, "The serial port was disconnected.\n");
}

void UploadReporter::hint(const Hint& hint)
{
    ReportEvent event{Kind::Hint, ""};
    event.hint = hint;
    show(event);
}

void UploadReporter::passesDone()
{
    passesDone_ = true;
    say(Kind::PassesDone, "");
}

void UploadReporter::complete()
{
    say(Kind::Complete, "\nProgramming complete\n");
}

void UploadReporter::summary(const std::vector<long>& dropped)
{
    if (!passesDone_ || !image_)
        return;
    for (std::string& text : unwrittenWarnings(*image_, plan_, lower_, upper_, dropped, summaryWidth_))
        say(Kind::Summary, std::move(text));
}
