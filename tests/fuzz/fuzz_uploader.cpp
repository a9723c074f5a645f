// Fuzz target for the uploader's side of the link: one whole upload of a
// small fixed image over a line whose far end is the fuzzer's input.
//
// Input: one byte of flags (bits 3-4: the checksum retries a block may
// take, as --retries gives them; bit 5: the line is traced, as --trace
// wraps it), then chunks.  A chunk is a control byte and up to
// 16 bytes that the far end sends:
//   bits 0-3  length - 1
//   bits 4-6  delay, an index into DELAYS
//   bit  7    the delay counts from the uploader's next write (a reply);
//             otherwise from when the previous chunk was read to its end
// The chunks play on the scripted line of tests/support, on a virtual clock.
//
// After every run an oracle of its own reads the whole exchange (what the
// uploader wrote, and what it read between its writes) and checks:
// - the uploader writes nothing but polls, "hi" and well-formed frames;
// - "hi" answers a greeting (an answer of at most 64 bytes whose last six
//   start with "KK": leading line noise is allowed), frames follow only a complete
//   identification with an accepted year, and nothing is read after the end
//   command;
// - an identification or a response that comes within its window is read;
// - END_PROGRAMMING is written once, last, exactly when the bootloader was
//   identified with an accepted year (unless the line hung up before it);
// - every block frame carries the image's words for the address the
//   bootloader would write them at, outside the bootloader's range;
// - the result is 1 only if every block the image needs was answered by a
//   '>' that ended a response with no error report and no stray byte in it,
//   and after such an answer the upload goes on;
// - a response whose last report is a checksum error ('C') is followed, while
//   the block has retries left, by SET_ADDRESS to the block in hand and then
//   the same block again; without retries left it ends the upload;
// - under the trace every line it tells is whole;
// - the run ends within a bounded number of line operations and of virtual
//   time.
#include "PicProgram.h"
#include "bootloaderLink.h"
#include "scriptedLine.h"
#include "traceLine.h"
#include "tracedReporter.h"
#include "upload.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using scripted::Bytes;
using scripted::Chunk;
using scripted::fail;
using scripted::ScriptedLine;

// The oracle spells the protocol's bytes out itself rather than taking the
// link's header, so that it cannot share a mistake with the code it checks.
constexpr uint8_t CR = 0x0D;
constexpr uint8_t END = 0x01, SET = 0x02, PROGRAM = 0x04, EEPROM = 0x05;

// Flags in the input's first byte.
constexpr uint8_t QUERY_ONLY = 1;
constexpr uint8_t IGNORE_OVERLAP = 2;
constexpr uint8_t HANG_UP_AT_END = 4;  // the line hangs up once the input is spent
constexpr int RETRIES_SHIFT = 3;        // two bits: 0 to 3 checksum retries a block
constexpr uint8_t TRACED = 0x20;        // the upload runs on a traced line

int retriesOf(uint8_t flags)
{
    return (flags >> RETRIES_SHIFT) & 3;
}

const microseconds DELAYS[8] = {
    microseconds(0), microseconds(100), milliseconds(1),    milliseconds(4),
    milliseconds(30), milliseconds(250), milliseconds(1500), milliseconds(6000),
};

// The greeting window is cut from 30 s to 600 ms of virtual time (a run that
// is never greeted then costs 600 polls instead of 30000) and the
// identification's from 1 s to 200 ms, so that a greeting can still follow
// an identification that timed out.  The response window is the protocol's.
LinkWindows fuzzWindows(uint8_t flags)
{
    LinkWindows w;
    w.greetingMs = 600;
    w.identificationMs = 200;
    w.checksumRetries = retriesOf(flags);
    return w;
}

// The fixed image: used words and their values.  No configuration word, so
// every used block outside the bootloader's range is sent by one of the two
// passes whatever the range.
const std::map<int, int> IMAGE = {
    {0x0000, 0x2805}, {0x0001, 0x0000}, {0x0002, 0x3FFF}, {0x0003, 0x1283},
    {0x0005, 0x1234}, {0x0010, 0xFFFE}, {0x1EFC, 0x0008},
    {0x2100, 0x0042}, {0x2105, 0x01A5},
};

// An answer to the polls that the uploader must take as a greeting: six
// bytes 'K' 'K' year day month at its end, behind at most 58 bytes of noise.
bool isGreeting(const Bytes& a)
{
    return a.size() >= 6 && a.size() <= 64 && a[a.size() - 6] == 'K' && a[a.size() - 5] == 'K';
}

// What one response, as the uploader read it, amounts to.  Its last report
// or stray byte decides: a response whose last one is a checksum report may
// be retried.
enum class Answer { Clean, Failed, Checksum, Unfinished };

Answer judge(const Bytes& r)
{
    Answer last = Answer::Clean;
    size_t i = 0;
    while (i < r.size()) {
        uint8_t b = r[i];
        if (b == '>') {
            if (i + 1 != r.size())
                fail("the uploader read past the '>' that ended a response");
            return last;
        }
        if (b == 'w') {
            i += 5;  // address word, data word
        } else if (b == '!') {
            last = i + 1 < r.size() && r[i + 1] == 'C' ? Answer::Checksum : Answer::Failed;
            i += 4;  // error byte, address word
        } else {
            last = Answer::Failed;
            i += 1;
        }
    }
    return Answer::Unfinished;
}

// When the far end's response from the cursor on would have ended with its
// '>', read as it arrived; NO_DEADLINE if it never would.
Deadline whenAnswered(const ScriptedLine& line, ScriptedLine::Cursor c)
{
    uint8_t byte;
    while (line.next(c, byte)) {
        int skip = byte == '>' ? -1 : byte == 'w' ? 4 : byte == '!' ? 3 : 0;
        if (skip < 0)
            return c.at;
        while (skip-- > 0)
            if (!line.next(c, byte))
                return NO_DEADLINE;
    }
    return NO_DEADLINE;
}

int expectedWord(int address, int mask)
{
    auto it = IMAGE.find(address);
    return (it == IMAGE.end() ? 0xFFFF : it->second) & mask;
}

bool usedBlock(int start)
{
    for (int a = start; a < start + 4; ++a)
        if (IMAGE.count(a))
            return true;
    return false;
}

// With FUZZ_UPLOADER_TRACE set, each run shows its exchange on standard
// error: "<" what the uploader wrote, ">" what it read after it.
void trace(const ScriptedLine& line, int result)
{
    std::fprintf(stderr, "result %d, %ld line operations, %lld ms\n", result, line.operations,
                 static_cast<long long>(std::chrono::duration_cast<milliseconds>(line.now() - ScriptedLine::start()).count()));
    for (size_t i = 0; i < line.written.size(); ++i) {
        std::fprintf(stderr, "< %02X", line.written[i]);
        if (!line.read[i].empty()) {
            std::fprintf(stderr, "  >");
            for (uint8_t b : line.read[i])
                std::fprintf(stderr, " %02X", b);
        }
        std::fprintf(stderr, "\n");
    }
}

struct Range {
    int lower, upper;
    bool holds(int a) const { return lower <= a && a <= upper; }
};

// Whether the image and the range overlap as the upload counts it: a used
// word, or an address that the image does not hold.
bool overlaps(Range r)
{
    if (r.lower > r.upper)
        return false;
    auto meets = [&](int from, int to) { return r.lower <= to && from <= r.upper; };
    if (meets(0x2008, 0x20FF) || r.upper > 0x21FF)
        return true;
    for (const auto& used : IMAGE)
        if (r.holds(used.first))
            return true;
    return false;
}

struct Token {
    enum Kind { Poll, Hi, Frame } kind;
    size_t start, end;     // in the written bytes
    const Bytes* answer;   // what was read after it
};

void check(const ScriptedLine& line, int result, uint8_t flags, Deadline end)
{
    const Bytes& w = line.written;
    const LinkWindows windows = fuzzWindows(flags);
    if (!line.readFirst.empty())
        fail("bytes were read before the first poll");

    std::vector<Token> tokens;
    for (size_t i = 0; i < w.size();) {
        auto quietUntil = [&](size_t last) {
            for (size_t j = i; j < last; ++j)
                if (!line.read[j].empty())
                    fail("the uploader read in the middle of its own write");
        };
        int length = 0;
        Token::Kind kind = Token::Frame;
        if (w[i] == CR) {
            length = 1;
            kind = Token::Poll;
        } else if (w[i] == 'h' && i + 1 < w.size() && w[i + 1] == 'i') {
            length = 2;
            kind = Token::Hi;
        } else if (w[i] == END) {
            length = 2;
        } else if (w[i] == SET) {
            length = 4;
        } else if (w[i] == PROGRAM || w[i] == EEPROM) {
            length = 10;
        } else {
            fail("the uploader wrote a byte outside frames, polls and \"hi\"");
        }
        if (i + length > w.size())
            fail("a frame was cut short");
        quietUntil(i + length - 1);
        if (kind == Token::Frame) {
            unsigned sum = 0;
            for (size_t j = i; j < i + length; ++j)
                sum += w[j];
            if (sum % 256 != 0)
                fail("a frame's bytes do not sum to 0 modulo 256");
        }
        tokens.push_back(Token{kind, i, i + length, &line.read[i + length - 1]});
        i += length;
    }

    // The greeting phase ends by its window (plus one gathering of an
    // answer), each frame's wait by the response window.
    long frameCount = std::count_if(tokens.begin(), tokens.end(), [&](const Token& k) {
        return k.kind == Token::Frame && w[k.start] != END;
    });
    if (end - ScriptedLine::start() > milliseconds(windows.greetingMs + 1000 + windows.responseMs * frameCount))
        fail("the run took longer than its windows allow");

    const bool queryOnly = flags & QUERY_ONLY;
    const bool ignoreOverlap = flags & IGNORE_OVERLAP;
    const bool hangUp = flags & HANG_UP_AT_END;

    size_t t = 0;
    bool identified = false;
    Range range{0, 0};
    for (; t < tokens.size() && !identified; ++t) {
        const Token& k = tokens[t];
        if (k.kind == Token::Frame)
            fail("a frame before a complete identification");
        if (k.kind == Token::Poll) {
            const Bytes& a = *k.answer;
            bool greeting = isGreeting(a);
            bool answered = t + 1 < tokens.size() && tokens[t + 1].kind == Token::Hi;
            if (greeting && !answered && !hangUp)
                fail("a greeting was not answered with \"hi\"");
            continue;
        }
        if (t == 0 || tokens[t - 1].kind != Token::Poll)
            fail("\"hi\" without a poll before it");
        const Bytes& g = *tokens[t - 1].answer;
        if (!isGreeting(g))
            fail("\"hi\" without a greeting before it");
        const Bytes& id = *k.answer;
        if (id.size() > 5)
            fail("more than the identification was read after \"hi\"");
        if (id.size() < 5 && !hangUp) {
            ScriptedLine::Cursor c = line.after[k.end - 1];
            uint8_t byte;
            int sent = 0;
            while (sent < 5 && line.next(c, byte))
                ++sent;
            if (sent == 5 && c.at - line.after[k.end - 1].at < milliseconds(windows.identificationMs))
                fail("an identification that came within its window after \"hi\" was not read");
        }
        if (id.size() < 5 || id[4] != '>') {
            if (t + 1 < tokens.size() && tokens[t + 1].kind != Token::Poll)
                fail("the polls did not go on after an incomplete identification");
            continue;
        }
        const size_t at = g.size() - 6;
        int year = g[at + 2] | g[at + 3] << 8;
        if (year < 2003 || year > 2006) {
            if (t + 1 != tokens.size())
                fail("something was written after a bad revision date");
            if (result != 0)
                fail("success after a bad revision date");
            return;
        }
        range = Range{(id[0] | id[1] << 8) & ~3, (id[2] | id[3] << 8) | 3};
        identified = true;
    }
    if (!identified) {
        if (result != 0)
            fail("success without an identification");
        return;
    }

    // From here on only frames, and the last of them END_PROGRAMMING,
    // unless the line hung up before it could go out.
    const bool ended = t < tokens.size() && tokens.back().kind == Token::Frame && w[tokens.back().start] == END;
    if (!ended && !line.hungUp())
        fail("an identified exchange did not end with END_PROGRAMMING");
    if (ended && !tokens.back().answer->empty())
        fail("the uploader read after END_PROGRAMMING");
    const size_t last = ended ? tokens.size() - 1 : tokens.size();
    for (size_t j = t; j < last; ++j)
        if (tokens[j].kind != Token::Frame || w[tokens[j].start] == END)
            fail("a poll, \"hi\" or a second END_PROGRAMMING after the identification");

    if (queryOnly) {
        if (t != last)
            fail("query mode sent more than END_PROGRAMMING");
        if (result != 1)
            fail("query mode failed after a complete identification");
        return;
    }
    if (overlaps(range) && !ignoreOverlap) {
        if (t != last)
            fail("frames were sent although the program overlaps the bootloader");
        if (result != 0)
            fail("success although the program overlaps the bootloader");
        return;
    }

    // Follow the frames as the bootloader would: SET_ADDRESS sets its
    // current address, each block is written there and moves it on by four.
    // A checksum report with a retry left calls for SET_ADDRESS to the block
    // in hand (resend) and then that block (again, when the report answered
    // the block itself).
    std::map<int, bool> acknowledged;
    int current = -1;
    int attempts = 0;        // the block in hand's retries so far
    int resend = -1;         // the address the next SET_ADDRESS must name
    const uint8_t* again = nullptr;  // the block frame that must come next
    for (size_t j = t; j < last; ++j) {
        const uint8_t* f = &w[tokens[j].start];
        Answer answer = judge(*tokens[j].answer);
        if (answer == Answer::Checksum && attempts >= retriesOf(flags))
            answer = Answer::Failed;
        if (f[0] == SET) {
            current = f[1] | f[2] << 8;
            if (current % 4 != 0)
                fail("SET_ADDRESS to an address that does not start a block");
            if (resend >= 0 && current != resend)
                fail("a block was retried at another address");
            resend = -1;
            if (answer == Answer::Checksum)
                resend = current;
        } else {
            if (current < 0)
                fail("a block frame before any SET_ADDRESS");
            if (resend >= 0)
                fail("a block was retried without SET_ADDRESS before it");
            if (again && !std::equal(f, f + 10, again))
                fail("a retry sent another block than the one reported damaged");
            again = nullptr;
            bool eeprom = f[0] == EEPROM;
            int start = eeprom ? 0x2100 + current : current;
            if (answer == Answer::Checksum) {
                resend = current;
                again = f;
            }
            current = (current + 4) & 0xFFFF;
            if (range.lower <= range.upper && range.holds(start))
                fail("a block frame inside the bootloader's range");
            if (!usedBlock(start))
                fail("a block frame for a block with no used word");
            for (int n = 0; n < 4; ++n) {
                int word = f[1 + 2 * n] | f[2 + 2 * n] << 8;
                if (word != expectedWord(start + n, eeprom ? 0xFF : 0x3FFF))
                    fail("a block frame does not carry the image's word");
            }
            if (answer == Answer::Clean) {
                acknowledged[start] = true;
                attempts = 0;
            }
        }
        if (answer == Answer::Checksum) {
            ++attempts;
            if (j + 1 == last && result != 0)
                fail("success after a checksum report that was not retried");
            continue;
        }
        if (answer == Answer::Unfinished && !hangUp) {
            const ScriptedLine::Cursor& sent = line.after[tokens[j].end - 1];
            if (whenAnswered(line, sent) - sent.at < milliseconds(windows.responseMs))
                fail("a response that came within its window was not read");
        }
        if (answer != Answer::Clean) {
            if (j + 1 != last)
                fail("the upload went on after a failed or missing answer");
            if (result != 0)
                fail("success after a failed or missing answer");
            return;
        }
    }
    if (resend >= 0 || again) {
        // A retry due when the line hung up never went out.
        if (!line.hungUp())
            fail("a checksum report was answered by neither SET_ADDRESS nor the block");
        if (result != 0)
            fail("success although a retry never went out");
        return;
    }
    for (const auto& used : IMAGE) {
        int start = used.first & ~3;
        bool skipped = range.lower <= range.upper && range.holds(start);
        if (!skipped && !acknowledged.count(start))
            fail("a block the image needs was never acknowledged");
    }
    if (result != 1)
        fail("failure although every frame was acknowledged");
}

}  // namespace

// Every line is formatted as for a user, and dropped.
class SilentReporter : public UploadReporter {
public:
    void show(const ReportEvent& /*event*/) override {}
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    std::vector<Chunk> chunks;
    for (size_t i = 1; i < size;) {
        uint8_t control = data[i++];
        size_t length = std::min<size_t>((control & 0x0F) + 1u, size - i);
        if (length == 0)
            break;
        chunks.push_back(Chunk{(control & 0x80) != 0, DELAYS[(control >> 4) & 7],
                               Bytes(data + i, data + i + length)});
        i += length;
    }

    static PicProgram* image = [] {
        auto* p = new PicProgram();
        for (const auto& used : IMAGE)
            p->setData(used.first, used.second);
        return p;
    }();

    // Polls of the greeting window, a few operations for every byte that
    // arrives, and the frames of the fixed image with their answers, again for each
    // retry a block may take.
    const LinkWindows windows = fuzzWindows(flags);
    const long limit = 4L * windows.greetingMs + 4L * static_cast<long>(size) + 400L * (1 + windows.checksumRetries);
    ScriptedLine line(std::move(chunks), flags & HANG_UP_AT_END, limit);
    SilentReporter silent;
    int result;
    if (flags & TRACED) {
        // The trace's lines are told whole; the oracle reads the line beneath.
        TraceSink sink = [](const std::string& told) {
            if (told.empty() || told.back() != '\n')
                fail("the trace told a line without its end");
        };
        TraceLine traced(line, sink);
        TracedReporter reporter(silent, traced);
        result = upload(*image, traced, windows, flags & IGNORE_OVERLAP, flags & QUERY_ONLY, reporter);
    } else {
        result = upload(*image, line, windows, flags & IGNORE_OVERLAP, flags & QUERY_ONLY, silent);
    }
    static const bool tracing = std::getenv("FUZZ_UPLOADER_TRACE") != nullptr;
    if (tracing)
        trace(line, result);
    check(line, result, flags, line.now());
    return 0;
}
