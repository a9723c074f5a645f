#include "upload.h"

#include "protocol.h"

using namespace protocol;

namespace {

// Every exchange in which the bootloader was identified ends with the end
// command, an interrupted one too: the run takes note of the interrupt, so
// that the frame still goes out.  Whether it could be written changes
// nothing.
void endSession(SerialLine& line, const LinkWindows& windows)
{
    line.interruptNoted();
    endProgramming(line, windows);
}

} // namespace

int upload(const PicProgram& image, SerialLine& line, const LinkWindows& windows, bool ignoreOverlap, bool queryOnly,
           UploadReporter& reporter, LinkResult* failure)
{
    reporter.waiting();
    BootloaderIdentity identity;
    const LinkResult greeting = handShake(line, windows, identity);
    if (greeting.outcome == LinkResult::Outcome::Interrupted) {
        reporter.interruptedBeforeGreeting();
        return 0;
    }
    if (!greeting.ok()) {
        reporter.noGreeting();
        // A pulled adapter shows as a missing greeting in the protocol's
        // terms; this line tells the user to look at the cable instead.
        if (line.hungUp())
            reporter.disconnected();
        reporter.hint(Hint::noGreeting(windows.greetingMs / 1000, line.hungUp()));
        return 0;
    }
    reporter.identified(identity);
    if (identity.year < FIRST_YEAR || identity.year > LAST_YEAR) {
        reporter.badRevision();
        reporter.hint(Hint::badRevision(identity.year, identity.month, identity.day));
        return 0;
    }

    int lower = identity.lower, upper = identity.upper;
    if (blockStart(lower) != lower) {
        lower = blockStart(lower);
        reporter.rangeWidened(true, lower);
    }
    if (blockEnd(upper) != upper) {
        upper = blockEnd(upper);
        reporter.rangeWidened(false, upper);
    }

    if (queryOnly) {
        endSession(line, windows);
        return 1;
    }

    reporter.beyondTheChip(image, upper);
    if (image.isUsed(lower, upper)) {
        reporter.overlap(ignoreOverlap);
        if (!ignoreOverlap) {
            reporter.hint(Hint::overlap(image, lower, upper));
            endSession(line, windows);
            return 0;
        }
    }

    reporter.passesBegin(image, lower, upper);
    for (int start : {0, EEPROM_BASE}) {
        int cursor = start;
        const LinkResult pass = outputProgram(image, line, windows, cursor, lower, upper, reporter);
        if (!pass.ok()) {
            if (failure)
                *failure = pass;
            reporter.failed(pass);
            if (line.hungUp())
                reporter.disconnected();
            // An interrupt was the user's own doing: nothing to suggest.
            if (pass.outcome != LinkResult::Outcome::Interrupted)
                reporter.hint(Hint::passFailed(pass));
            endSession(line, windows);
            return 0;
        }
    }

    endSession(line, windows);
    reporter.passesDone();
    reporter.complete();
    return 1;
}
