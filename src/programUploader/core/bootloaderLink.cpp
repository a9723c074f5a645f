#include "bootloaderLink.h"

#include "passWalk.h"
#include "protocol.h"

#include <algorithm>

using namespace protocol;

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int GREETING_BUFFER = 64;  // the greeting read takes up to this

// The greeting may reach the port in pieces: a USB adapter hands bytes over
// when its latency timer (up to 16 ms) expires.
constexpr microseconds MIN_POLL_PACE = milliseconds(1);
constexpr microseconds MIN_QUIET = milliseconds(20);
constexpr microseconds MAX_GREETING_GATHER = milliseconds(200);

// Gathers one answer to the polls: everything that arrives until the line
// has been quiet for `quiet`, at most MAX_GREETING_GATHER in all.  count is
// the number of bytes (the first GREETING_BUFFER kept).
LineResult gatherGreeting(SerialLine& line, uint8_t* buffer, microseconds quiet, int& count)
{
    const Deadline end = line.after(MAX_GREETING_GATHER);
    count = 0;
    for (;;) {
        uint8_t overflow[GREETING_BUFFER];
        uint8_t* into = count < GREETING_BUFFER ? buffer + count : overflow;
        int room = count < GREETING_BUFFER ? GREETING_BUFFER - count : GREETING_BUFFER;
        int got = 0;
        LineResult r = line.readAvailable(into, room, got);
        if (r != LineResult::Ok)
            return r;
        count += got;
        r = line.waitReadable(std::min(line.after(quiet), end));
        if (r == LineResult::Timeout)
            return LineResult::Ok;
        if (r != LineResult::Ok)
            return r;
    }
}

// Where the greeting starts in an answer, or -1.  A stray byte of line
// noise shortly before the greeting (a board coming out of reset) is
// gathered into the same answer; a bootloader that greets only once would
// be lost if that refused it.  Bytes after a greeting still refuse it.
int greetingAt(const uint8_t* bytes, int count)
{
    if (count < GREETING_LENGTH || count > GREETING_BUFFER)
        return -1;
    const int at = count - GREETING_LENGTH;
    return bytes[at] == GREETING_MARK && bytes[at + 1] == GREETING_MARK ? at : -1;
}


// What a failed wait on the line ends an exchange with (the window's end,
// whatever else stopped the greeting loop).
LinkResult lineFailure(LineResult r, LinkResult result = LinkResult())
{
    result.outcome = r == LineResult::Interrupted ? LinkResult::Outcome::Interrupted
                     : r == LineResult::HungUp    ? LinkResult::Outcome::HungUp
                                                  : LinkResult::Outcome::Timeout;
    return result;
}

// A frame and the response to it.
LinkResult exchange(SerialLine& line, const LinkWindows& windows, const unsigned char* command, int count,
                    UploadReporter& reporter)
{
    const LineResult sent = sendCommand(line, windows, command, count);
    return sent == LineResult::Ok ? getResponse(line, windows, reporter) : lineFailure(sent);
}

} // namespace

LineResult sendCommand(SerialLine& line, const LinkWindows& windows, const unsigned char* command, int count)
{
    // One write call a byte; a byte that cannot go out within the response
    // window ends the frame, and the exchange with it.
    const Deadline deadline = line.after(milliseconds(windows.responseMs));
    for (int i = 0; i < count; ++i) {
        const LineResult r = line.writeAll(&command[i], 1, deadline);
        if (r != LineResult::Ok)
            return r;
    }
    const uint8_t sum = checksum(command, count);
    return line.writeAll(&sum, 1, deadline);
}

LineResult endProgramming(SerialLine& line, const LinkWindows& windows)
{
    const unsigned char frame[] = {END_PROGRAMMING};
    return sendCommand(line, windows, frame, 1);
}

LinkResult handShake(SerialLine& line, const LinkWindows& windows, BootloaderIdentity& identity)
{
    int& year = identity.year;
    year = 0;
    const Deadline windowEnd = line.after(milliseconds(windows.greetingMs));
    const microseconds charTime = line.characterTime();
    // One poll per character the line can carry, so no backlog of carriage
    // returns forms in front of the "hi" reply.
    const microseconds pace = std::max(MIN_POLL_PACE, charTime);
    const microseconds quiet = std::max(MIN_QUIET, 2 * charTime);
    const milliseconds identification(windows.identificationMs);
    const uint8_t poll = POLL;
    LineResult r = LineResult::Timeout;

    do {
        r = line.writeAll(&poll, 1, windowEnd);
        if (r == LineResult::Ok)
            r = line.waitReadable(std::min(line.after(pace), windowEnd));
        if (r == LineResult::Timeout)
            continue;
        if (r != LineResult::Ok)
            break;

        uint8_t greeting[GREETING_BUFFER];
        int count = 0;
        r = gatherGreeting(line, greeting, quiet, count);
        if (r != LineResult::Ok)
            break;
        const int at = greetingAt(greeting, count);
        if (at < 0)
            continue;

        year = greeting[at + 2] + 256 * greeting[at + 3];
        identity.day = greeting[at + 4];
        identity.month = greeting[at + 5];

        // Carriage returns still queued would reach the bootloader before
        // "hi" and could be taken as a new poll.
        line.discardOutput();
        // Once "hi" is out the bootloader is committed to this exchange, so
        // the identification gets its own time even when the greeting came
        // in the window's last moment.
        static const uint8_t reply[] = {REPLY_FIRST, REPLY_SECOND};
        r = line.writeAll(reply, sizeof reply, line.after(identification));
        if (r == LineResult::Ok)
            r = line.readWord(identity.lower, line.after(identification));
        if (r == LineResult::Ok)
            r = line.readWord(identity.upper, line.after(identification));
        int ready = 0;
        if (r == LineResult::Ok)
            r = line.readByte(ready, line.after(identification));
        if (r == LineResult::Ok && ready == READY)
            return LinkResult();
        if (r != LineResult::Ok && r != LineResult::Timeout)
            break;
        // A wrong ready byte or a bootloader gone silent drops this
        // identification; the polls go on in what is left of the window.
        year = 0;
    } while (line.now() < windowEnd);

    year = 0;
    return lineFailure(r);
}

LinkResult getResponse(SerialLine& line, const LinkWindows& windows, UploadReporter& reporter)
{
    using Outcome = LinkResult::Outcome;
    LinkResult result;
    // One window for the whole response: reports do not renew it.
    const Deadline deadline = line.after(milliseconds(windows.responseMs));

    for (;;) {
        int byte = 0;
        LineResult r = line.readByte(byte, deadline);
        if (r != LineResult::Ok)
            return lineFailure(r, result);

        if (byte == READY)
            return result;

        if (byte == ERROR_REPORT) {
            int error = 0, address = 0;
            r = line.readByte(error, deadline);
            if (r == LineResult::Ok)
                r = line.readWord(address, deadline);
            if (r != LineResult::Ok)
                return lineFailure(r, result);
            result.outcome = Outcome::ErrorReport;
            result.byte = error;
            result.address = address;
        } else if (byte == WRITE_TEST) {
            int address = 0, data = 0;
            r = line.readWord(address, deadline);
            if (r == LineResult::Ok)
                r = line.readWord(data, deadline);
            if (r != LineResult::Ok)
                return lineFailure(r, result);
            reporter.writeTest(address, data);
        } else {
            result.outcome = Outcome::UnexpectedByte;
            result.byte = byte;
        }
    }
}

LinkResult outputProgram(const PicProgram& image, SerialLine& line, const LinkWindows& windows, int& address, int lower,
                         int upper, UploadReporter& reporter)
{
    // The walk moves address from block to block; the counts shown to the
    // user take the same walk.
    PassWalk walk(image, address, lower, upper);
    while (walk.next()) {
        const int start = address;
        const bool eepromMode = walk.eeprom();
        // A failure names the block in hand, whichever frame it stopped; an
        // interrupt names it as its address too.
        auto failed = [start](LinkResult r) {
            if (r.outcome == LinkResult::Outcome::Interrupted)
                r.address = start;
            r.block = start;
            return r;
        };

        // SET_ADDRESS: code, target low, target high
        unsigned char setAddress[3] = {SET_ADDRESS};
        putWord(wireAddress(start), &setAddress[1]);
        // Block: code, then four words low byte first at bytes 1-2, 3-4, 5-6, 7-8
        unsigned char block[COMMAND_MAX];
        const int mask = eepromMode ? EEPROM_MASK : PROGRAM_MASK;
        block[0] = eepromMode ? WRITE_EEPROM_BLOCK : WRITE_PROGRAM_BLOCK;
        for (int n = 0; n < BLOCK_WORDS; ++n)
            putWord(image.getData(start + n) & mask, &block[1 + 2 * n]);

        LinkResult r;
        bool shown = false;
        for (int attempt = 0;; ++attempt) {
            // Only a checksum report is tried again: the frame was heard,
            // damaged, and nothing was written.  After a time-out nobody
            // knows what the bootloader took.
            const bool retry = attempt < windows.checksumRetries;
            auto mayRetry = [&](const LinkResult& result) {
                if (!retry || result.outcome != LinkResult::Outcome::ErrorReport || result.byte != ERROR_CHECKSUM)
                    return false;
                reporter.retrying(start, attempt + 1, windows.checksumRetries);
                return true;
            };
            // A block sent again is placed again: a damaged frame may have
            // left the bootloader's address anywhere.
            if (attempt > 0 || walk.setAddressFirst()) {
                r = exchange(line, windows, setAddress, 3, reporter);
                if (mayRetry(r))
                    continue;
                if (!r.ok())
                    return failed(r);
            }
            address = start + BLOCK_WORDS;
            const LineResult sent = sendCommand(line, windows, block, COMMAND_MAX);
            // The progress line goes out while the bootloader writes the
            // block, not between its '>' and the next frame, where a slow
            // terminal or pipe would hold up every block.  What the user sees
            // is the same.  A block sent again is not shown again.
            if (!shown)
                reporter.blockSent(start);
            shown = true;
            r = sent == LineResult::Ok ? getResponse(line, windows, reporter) : lineFailure(sent);
            if (!mayRetry(r))
                break;
        }
        if (r.ok())
            continue;
        if (r.outcome == LinkResult::Outcome::Interrupted)
            return failed(r);
        // The bootloader gives an EEPROM block's address as its offset.
        if (eepromMode) {
            r.eepromData = true;
            if (r.address >= 0)
                r.address += EEPROM_BASE;
        }
        return failed(r);
    }
    return LinkResult();
}
