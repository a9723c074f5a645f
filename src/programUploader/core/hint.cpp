#include "hint.h"

#include "protocol.h"
#include "textFormat.h"

Hint Hint::noGreeting(int waitSeconds, bool lineGone)
{
    Hint h;
    h.topic = Topic::NoGreeting;
    h.waitSeconds = waitSeconds;
    h.lineGone = lineGone;
    return h;
}

Hint Hint::overlap(const PicProgram& image, int lower, int upper)
{
    Hint h;
    h.topic = Topic::Overlap;
    h.lower = lower;
    h.upper = upper;
    // An address the image does not hold reads as -1, which the overlap
    // test counts too; it is no word of the program.
    for (int a = lower; a <= upper; ++a) {
        const int data = image.getData(a);
        if (data < 0 || data == PicProgram::BLANK)
            continue;
        ++h.words;
        if (h.first < 0)
            h.first = a;
        h.last = a;
    }
    return h;
}

Hint Hint::badRevision(int year, int month, int day)
{
    Hint h;
    h.topic = Topic::BadRevision;
    h.year = year;
    h.month = month;
    h.day = day;
    h.firstYear = protocol::FIRST_YEAR;
    h.lastYear = protocol::LAST_YEAR;
    return h;
}

Hint Hint::passFailed(const LinkResult& failure)
{
    Hint h;
    h.topic = Topic::PassFailed;
    h.failure = failure;
    return h;
}

namespace {

std::string noGreetingText(const Hint& h, const HintWords& w)
{
    if (h.lineGone)
        return "The port went away during the wait: check the cable and the adapter, and " + w.port + ".";
    return formatText("No greeting came within %d %s: reset the board during the wait, or %s%s. ", h.waitSeconds,
                      plural(h.waitSeconds, "second", "seconds"), w.reset.c_str(), w.wait.c_str()) +
           "Check that " + w.speed + " is the bootloader's speed and " + w.port + ".";
}

std::string overlapText(const Hint& h, const HintWords& w)
{
    if (h.words == 0)
        return formatText("No word of the program lies inside the bootloader's range %04X-%04X, but the range "
                          "reaches addresses this chip does not have. ",
                          h.lower, h.upper) +
               w.skip + " goes on without them.";
    return formatText("%d %s of the program %s inside the bootloader's range %04X-%04X, from %04X to %04X. ", h.words,
                      plural(h.words, "word", "words"), plural(h.words, "lies", "lie"), h.lower, h.upper, h.first,
                      h.last) +
           w.skip + " skips " + plural(h.words, "it", "them") + " and writes the rest.";
}

// What ended a pass, for the block in hand.
std::string passText(const Hint& h, const HintWords& w)
{
    using Outcome = LinkResult::Outcome;
    const LinkResult& r = h.failure;
    const int block = r.block >= 0 ? r.block : r.address;
    const std::string stopped = formatText("The pass had reached block %04X when ", block);
    if (r.outcome == Outcome::HungUp)
        return stopped + "the port went away: check the cable and the adapter, then run the upload again.";
    // The error byte 0x02 reads as the time-out, whose code it shares.
    if (r.outcome == Outcome::Timeout || (r.outcome == Outcome::ErrorReport && r.byte == 2))
        return stopped + "the bootloader stopped answering: the board may have been reset or lost power. Run the "
                         "upload again.";
    if (r.outcome == Outcome::ErrorReport) {
        switch (r.byte) {
        case protocol::ERROR_CHECKSUM:
            return formatText("Block %04X arrived damaged (a wrong checksum): noise on the line. Check the cable and "
                              "run the upload again.",
                              block);
        case protocol::ERROR_VERIFY:
            return formatText("Block %04X: %s cell would not take the word at %04X. Run the upload again; if it "
                              "fails again, the chip's memory may be worn.",
                              block, r.eepromData ? "an EEPROM" : "a flash", r.address);
        case protocol::ERROR_ADDRESS:
            if (block >= PicProgram::CONFIG_START && block <= PicProgram::CONFIG_END)
                return formatText("Block %04X: the bootloader refuses address %04X, a configuration word, which the "
                                  "chip cannot write from code. Set it with a hardware programmer.",
                                  block, r.address);
            return formatText("Block %04X: the bootloader refuses address %04X, which lies in its own code or past "
                              "this chip's memory.",
                              block, r.address);
        case protocol::ERROR_COMMAND:
            return formatText("Block %04X: the bootloader did not understand the frame: noise on the line, or a "
                              "bootloader of another kind.",
                              block);
        }
    }
    return formatText("Block %04X: the bootloader answered with a code this uploader does not know: noise on the line, "
                      "or a bootloader of another kind. ",
                      block) +
           "Check that " + w.speed + " is the bootloader's speed.";
}

} // namespace

std::string hintText(const Hint& h, const HintWords& w)
{
    switch (h.topic) {
    case Hint::Topic::NoGreeting:
        return noGreetingText(h, w);
    case Hint::Topic::Overlap:
        return overlapText(h, w);
    case Hint::Topic::BadRevision:
        return formatText("The bootloader's revision date is %04d-%02d-%02d; this uploader speaks to bootloaders "
                          "dated %d to %d.",
                          h.year, h.month, h.day, h.firstYear, h.lastYear);
    case Hint::Topic::PassFailed:
        return passText(h, w);
    }
    return "";
}
