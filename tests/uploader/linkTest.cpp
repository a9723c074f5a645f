// The bootloader link.  Its tables run in-process on a scripted line with a
// virtual clock; each descriptor face, and what only a real line shows
// (hang-ups, pacing), run against a peer process on a pseudo-terminal.
#include "explain.h"
#include "linkFaces.h"
#include "peer.h"
#include "protocol.h"
#include "scriptedLine.h"
#include "traceLine.h"
#include "tracedReporter.h"
#include "upload.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::string_literals;
using scripted::Chunk;
using scripted::later;
using scripted::reply;
using scripted::ScriptedLine;
using std::chrono::milliseconds;

namespace {

// The additions on the captured (not a terminal) standard error, for the
// tests that read them.
struct ExplainingEverywhere {
    ExplainingEverywhere() { explainEverywhere(true); }
    ~ExplainingEverywhere() { explainEverywhere(false); }
};

const std::string WAITING = "\nWaiting for the bootloader's greeting . . .";
const std::string NO_GREETING = "\nERROR: Could not establish communication with the bootloader.\n";
const std::string END = "\x01\xFF"s;

// A block frame with its checksum: the frame bytes sum to 0 modulo 256.
std::string block(const std::string& bytes)
{
    unsigned char sum = 0;
    for (char c : bytes)
        sum = static_cast<unsigned char>(sum + c);
    return bytes + static_cast<char>(-sum);
}

std::string opening(const std::string& date, const std::string& range)
{
    return WAITING + " got it.\nV Oruzavuver revision date: " + date +
           "\n             address range: " + range + "\n";
}

// Short windows keep the real-line tests fast; the defaults are checked on
// the virtual clock.
LinkWindows shortWindows()
{
    LinkWindows w;
    w.greetingMs = 1500;
    w.identificationMs = 300;
    w.responseMs = 400;
    return w;
}
const LinkWindows SHORT = shortWindows();

// How the hints below name the settings.
const HintWords WORDS = {"use --reset", " (--wait)", "-s 19200", "that PORT is the board's", "-o"};

// What a console would show, kept.
class Transcript : public UploadReporter {
public:
    void show(const ReportEvent& e) override
    {
        const bool diagnostic = e.kind == ReportEvent::Kind::Disconnected || e.kind == ReportEvent::Kind::Retry ||
                                e.kind == ReportEvent::Kind::Note;
        (diagnostic ? err : out) += e.text;
        if (e.kind == ReportEvent::Kind::Block)
            blocks.push_back(std::to_string(e.block) + "/" + std::to_string(e.total));
        if (e.kind == ReportEvent::Kind::Hint)
            hints.push_back(hintText(e.hint, WORDS));
        if (e.kind == ReportEvent::Kind::Identified)
            range = e.range;
    }
    std::string out, err;
    std::vector<std::string> blocks;  // "number/total" of each Block
    std::vector<std::string> hints;
    protocol::Range range{1, 0};      // the Identified event's
};

std::string text(const scripted::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}
double seconds(const ScriptedLine& line)
{
    return std::chrono::duration<double>(line.now() - ScriptedLine::start()).count();
}

// The bootloader greets the first poll and identifies itself after "hi".
std::vector<Chunk> greets(int year = 2004, int lower = 0x1F00, int upper = 0x1FFF)
{
    return {reply(greetingBytes(year)), reply(word(lower) + word(upper) + ">")};
}
// ... then answers the frames: replies[i], '>' for those past the end.
std::vector<Chunk> serves(std::vector<Chunk> script, const std::vector<std::string>& replies)
{
    for (const std::string& r : replies)
        script.push_back(reply(r));
    for (int i = 0; i < 16; ++i)
        script.push_back(reply(">"));
    return script;
}

struct Uploaded {
    int result;
    std::string out, err, wire;  // wire: what the uploader wrote after "hi"
    std::vector<std::string> blocks;
    protocol::Range range;
    LinkResult failure;
};
Uploaded uploadOn(PicProgram& image, std::vector<Chunk> script, bool ignoreOverlap = false, bool queryOnly = false,
                  int retries = 0)
{
    ScriptedLine line(std::move(script));
    Transcript t;
    Uploaded u{};
    LinkWindows windows = SHORT;
    windows.checksumRetries = retries;
    u.result = upload(image, line, windows, ignoreOverlap, queryOnly, t, &u.failure);
    u.out = t.out;
    u.err = t.err;
    u.wire = afterHi(text(line.written));
    u.blocks = t.blocks;
    u.range = t.range;
    return u;
}

LinkRun uploadFace(PicProgram& image, std::function<void(Bootloader&)> script)
{
    return runLink(std::move(script), [&](int fd) { return upload(&image, fd, 0, 0); });
}

} // namespace

TEST(Frames, BytesAndChecksums)
{
    unsigned char bytes[2];
    loadWord(0x12100, bytes);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x21);

    LinkRun run = runLink([](Bootloader& b) { b.send("\x34\x12\xFF\x00"s); }, [](int fd) {
        const unsigned char setAddress[] = {protocol::SET_ADDRESS, 0x00, 0x20};
        const unsigned char blank[] = {protocol::WRITE_PROGRAM_BLOCK, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F};
        const unsigned char eeprom[] = {protocol::WRITE_EEPROM_BLOCK, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
        sendCommand(fd, setAddress, 3);
        sendCommand(fd, blank, 9);
        sendCommand(fd, eeprom, 9);
        sendCommand(fd, setAddress, 0);
        endProgramming(fd);
        int first = readWord(fd);
        return first == 0x1234 && readWord(fd) == 0x00FF;
    });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.wire, "\x02\x00\x20\xDE"s + "\x04\xFF\x3F\xFF\x3F\xFF\x3F\xFF\x3F\x04"s +
                            "\x05\xFF\x00\xFF\x00\xFF\x00\xFF\x00\xFF"s + "\x00"s + END);

    testing::internal::CaptureStdout();
    const unsigned char five[] = {1, 2, 3, 4, 5};
    dataDump(five, 5, 2, 0);
    dataDump(five, 0, 2, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " 01 02\n   03 04\n   05\n\n");
}

TEST(LinkGreeting, Variants)
{
    struct Case {
        const char* name;
        std::vector<Chunk> script;
        BootloaderIdentity expected;  // year 0: not identified
        int his;                      // "hi" replies written
    };
    const Case cases[] = {
        {"accepted", greets(2003), {2003, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"5, 7 and wrong second byte rejected",
         {reply("KK\xD4\x07\x0F"s), reply(greetingBytes(2004) + "K"), reply("KX\xD4\x07\x0F\x06"s),
          reply(greetingBytes(2006)), reply(word(0x100) + word(0x1FF) + ">")},
         {2006, 6, 15, 0x100, 0x1FF}, 1},
        {"wrong ready byte, then a good greeting",
         {reply(greetingBytes(2005)), reply(word(0x1F00) + word(0x1FFF) + "?"), reply(greetingBytes(2004)),
          reply(word(0x1E00) + word(0x1EFF) + ">")},
         {2004, 6, 15, 0x1E00, 0x1EFF}, 2},
        {"silent in the identification, then a good greeting",
         {reply(greetingBytes(2005)), reply(word(0x1F00)), reply(greetingBytes(2005)), reply(word(0x40) + word(0x7F) + ">")},
         {2005, 6, 15, 0x40, 0x7F}, 2},
        {"in pieces",
         {reply("KK"), later("\xD4\x07"s, milliseconds(12)), later("\x0F\x06"s, milliseconds(12)),
          reply(word(0x1F00) + word(0x1FFF) + ">")},
         {2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"line noise gathered in front of the greeting",
         {reply("\xF8\x00"s + greetingBytes(2004)), reply(word(0x1F00) + word(0x1FFF) + ">")},
         {2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        // Once "hi" is out, the identification has its own time.
        {"greeted at the end of the window, identified after it",
         {reply(greetingBytes(2004), milliseconds(1400)), reply(word(0x1F00) + word(0x1FFF) + ">", milliseconds(150))},
         {2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"year 2007 is identified; the upload judges it", greets(2007), {2007, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"garbage until the window ends", {reply("garbage")}, {0, 0, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(c.script);
        BootloaderIdentity id;
        const LinkResult r = handShake(line, SHORT, id);
        EXPECT_EQ(r.ok(), c.expected.year != 0);
        EXPECT_EQ(id.year, c.expected.year);
        if (c.expected.year != 0) {
            EXPECT_EQ(id.month, c.expected.month);
            EXPECT_EQ(id.day, c.expected.day);
            EXPECT_EQ(id.lower, c.expected.lower);
            EXPECT_EQ(id.upper, c.expected.upper);
        } else {
            EXPECT_EQ(r.outcome, LinkResult::Outcome::Timeout);
            EXPECT_GE(seconds(line), 1.5);
        }
        EXPECT_EQ(count(text(line.written), "hi"), c.his);
        EXPECT_EQ(afterHi(text(line.written)), "");
    }
}

// The descriptor face: 1 for the years 2003-2006, 2 outside them.
TEST(LinkGreeting, FaceJudgesTheYear)
{
    const std::pair<int, int> years[] = {{2002, 2}, {2003, 1}, {2006, 1}, {2007, 2}};
    for (auto [year, expected] : years) {
        SCOPED_TRACE(year);
        int y = 0, month = 0, day = 0, lower = 0, upper = 0;
        LinkRun run = runLink([&](Bootloader& b) { b.greet(year); },
                              [&](int fd) { return handShake(fd, y, month, day, lower, upper, SHORT); });
        EXPECT_EQ(run.result, expected);
        EXPECT_EQ(y, year);
        EXPECT_EQ(upper, 0x1FFF);
    }
}

// At 2400 bit/s a character takes 4.17 ms: polls come no faster than the
// line carries them, so none piles up in front of "hi", and "hi" follows the
// greeting after the quiet wait (20 ms here), not after a backlog.
TEST(LinkGreeting, PollsPacedToTheLineAndHiRightAfterTheGreeting)
{
    LinkRun run = runLink(
        [](Bootloader& b) {
            b.awaitPoll();
            b.pause(1000);
            auto sent = std::chrono::steady_clock::now();
            b.send(greetingBytes(2004));
            b.awaitHi();
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
            b.note(std::to_string(ms.count()));
            b.send(word(0x1F00) + word(0x1FFF) + ">");
        },
        [](int fd) {
            int year, month, day, lower, upper;
            return handShake(fd, year, month, day, lower, upper, SHORT);
        },
        B2400);
    EXPECT_EQ(run.result, 1);
    size_t polls = run.wire.find("hi");
    ASSERT_NE(polls, std::string::npos);
    EXPECT_EQ(run.wire.substr(0, polls).find_first_not_of('\r'), std::string::npos);
    EXPECT_LE(polls, 1000u / 4 + 10) << "polls outran the line";
    EXPECT_GE(polls, 100u) << "polls stopped while waiting";
    EXPECT_GE(std::stoi(run.notes), 18);
    EXPECT_LT(std::stoi(run.notes), 200);
}

// With the full windows, a hang-up ends each wait long before its window.
TEST(LinkGreeting, HangUpsEndTheWaitAtOnce)
{
    const std::function<void(Bootloader&)> hangUps[] = {
        [](Bootloader& b) { b.awaitPoll(); b.hangUp(); },
        [](Bootloader& b) { b.awaitPoll(); b.send("KK"); b.hangUp(); },
        [](Bootloader& b) { b.awaitPoll(); b.send(greetingBytes(2004)); b.awaitHi(); b.send("\x00"s); b.hangUp(); },
    };
    ExplainingEverywhere explaining;
    for (const auto& script : hangUps) {
        PicProgram image;
        testing::internal::CaptureStderr();
        LinkRun run = uploadFace(image, script);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "The serial port was disconnected.\n");
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, WAITING + NO_GREETING);
        EXPECT_LT(run.seconds, 10.0);
    }
}

TEST(LinkUpload, OpeningMessagesAndQuery)
{
    PicProgram image;
    image.setData(0x1F10, 1);  // overlaps, but a query does not look
    Uploaded u = uploadOn(image, greets(2003, 0x1F01, 0x1F00), false, true);
    EXPECT_EQ(u.result, 1);
    EXPECT_EQ(u.out, opening("2003-06-15", "1F01-1F00") +
                         "WARNING: The bootloader's address space does not start on a block boundry.\n"
                         "         Using 1F00 as the lower address.\n"
                         "WARNING: The bootloader's address space does not end on a block boundry.\n"
                         "         Using 1F03 as the upper address.\n");
    EXPECT_EQ(u.wire, END);
    // The page draws the range as the bootloader gave it.
    EXPECT_EQ(u.range.lower, 0x1F01);
    EXPECT_EQ(u.range.upper, 0x1F00);

    u = uploadOn(image, greets(2007));
    EXPECT_EQ(u.result, 0);
    EXPECT_EQ(u.out, opening("2007-06-15", "1F00-1FFF") + "\nERROR: Bad revision date.\n");
    EXPECT_EQ(u.wire, "");

    u = uploadOn(image, {reply("garbage")});
    EXPECT_EQ(u.result, 0);
    EXPECT_EQ(u.out, WAITING + NO_GREETING);
    EXPECT_EQ(u.err, "");
}

TEST(LinkResponse, StatusErrorAddressAndMessages)
{
    PicProgram image;
    image.setData(0x10, 0x1234);
    struct Case {
        std::string bytes;
        int status;
        int errorAddress;
        std::string printed;   // while the response is read
        std::string report;    // by reportError after "\nERROR: "
        std::string next;      // what a second response gives, if asked
    };
    const Case cases[] = {
        {">", 1, 0, "", "", ""},
        {"!C\x10\x00>"s, -67, 0x10, "", "Did not pass checksum test while at address 0010\n", ""},
        {"!V\x34\x12>"s, -86, 0x1234, "", "Did not pass verification test at address 1234\n", ""},
        {"!A\x00\x1F>"s, -65, 0x1F00, "", "Invalid address 1F00\n", ""},
        {"!U\x05\x00>"s, -85, 5, "", "Unknown command given to bootloader while at address 0005\n", ""},
        {"!A\x01\x00x>"s, -30720, 1, "", "Unknown code ('x') from bootloader\n", ""},
        {"\r>", -3328, 0, "", "Unknown code (D) from bootloader\n", ""},
        {"\x00>"s, STATUS_UNEXPECTED_ZERO, 0, "", "Unknown code (0) from bootloader\n", ""},
        {"!\x02\x07\x00>"s, -2, 7, "", "Timeout while waiting on bootloader response\n", ""},
        {"!Z\x08\x00>"s, -90, 8, "", "Unknown error ('Z') from bootloader while at address 0008\n", ""},
        {"!\x80\x09\x00>"s, -128, 9, "", "Unknown error (80) from bootloader while at address 0009\n", ""},
        {"!\x00\x0A\x00>"s, STATUS_ERROR_ZERO, 10, "", "Unknown error (0) from bootloader while at address 000A\n", ""},
        {"!V\x22\x00"s, -2, 0x22, "", "Timeout while waiting on bootloader response\n", ""},
        {"!V\x22"s, -2, 0, "", "Timeout while waiting on bootloader response\n", ""},
        {"w\x10\x00", -2, 0, "", "Timeout while waiting on bootloader response\n", ""},
        {"", -2, 0, "", "Timeout while waiting on bootloader response\n", ""},
        {"w\x10\x00\x34\x12>"s, 1, 0, "\n NOTICE: Good write test at address 0010, data == 1234\n", "", ""},
        {"w\x10\x00\x35\x12>"s, 1, 0, "\nERROR: Bootloader test failure at address 0010, data == 1235\n", "", ""},
        {"w\x00\x30\xFF\x3F>"s, 1, 0, "\n NOTICE: Good write test at address 3000, data == 3FFF\n", "", ""},
        {">>", 1, 0, "", "", "1"},
        {">!C\x01\x00>"s, 1, 1, "", "", "-67"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        errorAddress = 0;
        ScriptedLine line({later(c.bytes, {})});
        Transcript t;
        t.useProgram(&image);
        const LinkResult r = getResponse(line, SHORT, t);
        keepErrorAddress(r);
        std::string next;
        if (!c.next.empty()) {
            const LinkResult second = getResponse(line, SHORT, t);
            keepErrorAddress(second);
            next = std::to_string(statusCode(second));
        }
        EXPECT_EQ(statusCode(r), c.status);
        EXPECT_EQ(errorAddress, c.errorAddress);
        EXPECT_EQ(t.out, c.printed);
        EXPECT_EQ(next, c.next);
        testing::internal::CaptureStdout();
        reportError(c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.report.empty() ? "" : "\nERROR: " + c.report);
    }
    testing::internal::CaptureStdout();
    reportError(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// The whole response, reports included, within the protocol's 5 seconds.
TEST(LinkResponse, OneWindowForTheWholeResponse)
{
    ScriptedLine line({later("!V\x22\x00"s, {}), later(">", milliseconds(4990))});
    Transcript t;
    EXPECT_EQ(getResponse(line, LinkWindows(), t).outcome, LinkResult::Outcome::ErrorReport);

    ScriptedLine silent({later("!V\x22\x00"s, {}), later(">", milliseconds(5010))});
    const LinkResult r = getResponse(silent, LinkWindows(), t);
    EXPECT_EQ(r.outcome, LinkResult::Outcome::Timeout);
    EXPECT_EQ(r.address, 0x22);
    EXPECT_DOUBLE_EQ(seconds(silent), 5.0);
}

// The descriptor face on a real line: the reports printed, the status, the
// address; a hang-up ends the wait at once.
TEST(LinkResponse, FaceOnARealLine)
{
    PicProgram image;
    image.setData(0x10, 0x1234);
    errorAddress = 0;
    LinkRun run = runLink([](Bootloader& b) { b.send("w\x10\x00\x34\x12!C\x10\x00>"s); },
                          [&](int fd) { return getResponse(&image, fd, SHORT); });
    EXPECT_EQ(run.result, -67);
    EXPECT_EQ(errorAddress, 0x10);
    EXPECT_EQ(run.out, "\n NOTICE: Good write test at address 0010, data == 1234\n");

    run = runLink([](Bootloader& b) { b.send("!"); b.hangUp(); }, [&](int fd) { return getResponse(&image, fd); });
    EXPECT_EQ(run.result, STATUS_TIMEOUT);
    EXPECT_LT(run.seconds, 2.5);
}

TEST(LinkUpload, ProgrammingPasses)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> words;
        int lower, upper;
        std::vector<std::string> replies;
        int result;
        std::vector<std::string> frames;   // after "hi", END_PROGRAMMING included
        std::string after;                 // output after the opening lines
        int errorAddress;
    };
    const std::string complete = "\nProgramming complete\n";
    const std::string timeout = "\nERROR: Timeout while waiting on bootloader response\n";
    const Case cases[] = {
        {"empty image", {}, 0x1F00, 0x1FFF, {}, 1, {END}, complete, 0},
        {"single word", {{5, 0x1234}}, 0x1F00, 0x1FFF, {}, 1,
         {"\x02\x04\x00\xFA"s, block("\x04\xFF\x3F\x34\x12\xFF\x3F\xFF\x3F"s), END},
         "  programming address 0004\r" + complete, 0},
        {"adjacent blocks, masked", {{0, 0x7234}, {4, 1}}, 0x1F00, 0x1FFF, {}, 1,
         {"\x02\x00\x00\xFE"s, block("\x04\x34\x32\xFF\x3F\xFF\x3F\xFF\x3F"s),
          block("\x04\x01\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), END},
         "  programming address 0000\r  programming address 0004\r" + complete, 0},
        {"gap", {{0, 0}, {0x10, 0}}, 0x1F00, 0x1FFF, {}, 1,
         {"\x02\x00\x00\xFE"s, block("\x04\x00\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), "\x02\x10\x00\xEE"s,
          block("\x04\x00\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), END},
         "  programming address 0000\r  programming address 0010\r" + complete, 0},
        {"eeprom", {{0x2105, 0x1AB}}, 0x1F00, 0x1FFF, {}, 1,
         {"\x02\x04\x00\xFA"s, block("\x05\xFF\x00\xAB\x00\xFF\x00\xFF\x00"s), END},
         "  programming address 2104\r" + complete, 0},
        {"eeprom block refused", {{0x2105, 1}}, 0x1F00, 0x1FFF, {">", "!V\x04\x00>"s}, 0,
         {"\x02\x04\x00\xFA"s, block("\x05\xFF\x00\x01\x00\xFF\x00\xFF\x00"s), END},
         "  programming address 2104\r\nERROR: Did not pass verification test at address 2104\n", 0x2104},
        {"eeprom address refused", {{0x2105, 1}}, 0x1F00, 0x1FFF, {"!A\x04\x00>"s}, 0,
         {"\x02\x04\x00\xFA"s, END}, "\nERROR: Invalid address 0004\n", 4},
        {"first pass time-out", {{0, 1}, {0x2100, 1}}, 0x1F00, 0x1FFF, {">", ""}, 0,
         {"\x02\x00\x00\xFE"s, block("\x04\x01\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), END},
         "  programming address 0000\r" + timeout, 0},
        {"second pass fails", {{0, 1}, {0x2100, 1}}, 0x1F00, 0x1FFF, {">", ">", ">", "\x00>"s}, 0,
         {"\x02\x00\x00\xFE"s, block("\x04\x01\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), "\x02\x00\x00\xFE"s,
          block("\x05\x01\x00\xFF\x00\xFF\x00\xFF\x00"s), END},
         "  programming address 0000\r  programming address 2100\r\nERROR: Unknown code (0) from bootloader\n", 0x2100},
        {"overlap refused", {{0x1F10, 1}}, 0x1F00, 0x1FFF, {}, 0, {END},
         "ERROR: The program and the bootloader overlap.\n", 0},
        {"range past the image", {}, 0x1F00, 0xFFFF, {}, 0, {END},
         "ERROR: The program and the bootloader overlap.\n", 0},
        {"widened range overlaps", {{0x1F01, 1}}, 0x1F02, 0x1FFF, {}, 0, {END},
         "WARNING: The bootloader's address space does not start on a block boundry.\n"
         "         Using 1F00 as the lower address.\n"
         "ERROR: The program and the bootloader overlap.\n", 0},
        {"inverted range protects nothing", {{0x1F10, 1}}, 0x1F04, 0x1EFF, {}, 1,
         {"\x02\x10\x1F\xCF"s, block("\x04\x01\x00\xFF\x3F\xFF\x3F\xFF\x3F"s), END},
         "  programming address 1F10\r" + complete, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PicProgram image;
        for (auto [address, value] : c.words)
            image.setData(address, value);
        Uploaded u = uploadOn(image, serves(greets(2004, c.lower, c.upper), c.replies));
        EXPECT_EQ(u.result, c.result);
        EXPECT_EQ(frames(u.wire), c.frames);
        char range[16];
        snprintf(range, sizeof range, "%04X-%04X", c.lower, c.upper);
        EXPECT_EQ(u.out, opening("2004-06-15", range) + c.after);
        errorAddress = 0;
        keepErrorAddress(u.failure);
        EXPECT_EQ(errorAddress, c.errorAddress);
    }
}

// After a checksum report the block goes out again, placed again by
// SET_ADDRESS, up to the retries allowed for each block; any other failure
// ends the pass as before.  Standard output is that of a clean upload.
TEST(LinkUpload, ChecksumRetries)
{
    const std::string setAddress0 = "\x02\x00\x00\xFE"s, setAddress4 = "\x02\x04\x00\xFA"s;
    const std::string block0 = block("\x04\x01\x00\xFF\x3F\xFF\x3F\xFF\x3F"s);
    const std::string block4 = block("\x04\x02\x00\xFF\x3F\xFF\x3F\xFF\x3F"s);
    const std::string checksum = "!C\x00\x00>"s;
    const std::string retry0 = "Checksum error on the block at 0000: sending it again (retry 1 of 1).\n";
    const std::string clean = "  programming address 0000\r  programming address 0004\r\nProgramming complete\n";
    struct Case {
        const char* name;
        int retries;
        std::vector<std::string> replies;
        int result;
        std::vector<std::string> frames;  // after "hi"
        std::string out, err;
    };
    const Case cases[] = {
        {"block frame damaged", 1, {">", checksum}, 1,
         {setAddress0, block0, setAddress0, block0, block4, END}, clean, retry0},
        {"SET_ADDRESS damaged", 1, {checksum}, 1, {setAddress0, setAddress0, block0, block4, END}, clean, retry0},
        {"each block has its own tries", 1, {">", checksum, ">", ">", checksum}, 1,
         {setAddress0, block0, setAddress0, block0, block4, setAddress4, block4, END}, clean,
         retry0 + "Checksum error on the block at 0004: sending it again (retry 1 of 1).\n"},
        {"tries used up", 2, {">", checksum, ">", checksum, ">", checksum}, 0,
         {setAddress0, block0, setAddress0, block0, setAddress0, block0, END},
         "  programming address 0000\r\nERROR: Did not pass checksum test while at address 0000\n",
         "Checksum error on the block at 0000: sending it again (retry 1 of 2).\n"
         "Checksum error on the block at 0000: sending it again (retry 2 of 2).\n"},
        {"none by default", 0, {">", checksum}, 0, {setAddress0, block0, END},
         "  programming address 0000\r\nERROR: Did not pass checksum test while at address 0000\n", ""},
        {"verification not retried", 3, {">", "!V\x00\x00>"s}, 0, {setAddress0, block0, END},
         "  programming address 0000\r\nERROR: Did not pass verification test at address 0000\n", ""},
        {"time-out not retried", 3, {">", ""}, 0, {setAddress0, block0, END},
         "  programming address 0000\r\nERROR: Timeout while waiting on bootloader response\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PicProgram image;
        image.setData(0, 1);
        image.setData(4, 2);
        Uploaded u = uploadOn(image, serves(greets(), c.replies), false, false, c.retries);
        EXPECT_EQ(u.result, c.result);
        EXPECT_EQ(frames(u.wire), c.frames);
        EXPECT_EQ(u.out, opening("2004-06-15", "1F00-1FFF") + c.out);
        EXPECT_EQ(u.err, c.err);
        EXPECT_EQ(u.blocks.size(), c.result == 1 ? 2u : 1u);
    }
}

TEST(LinkUpload, OverlapIgnored)
{
    // The block inside the range is skipped; the walk lands on the
    // configuration word behind it.  Each block is counted of the total.
    PicProgram image;
    for (int address : {0x1EFC, 0x1F10, 0x2007})
        image.setData(address, 0x2A);
    Uploaded u = uploadOn(image, serves(greets(), {}), true);
    EXPECT_EQ(u.result, 1);
    EXPECT_EQ(frames(u.wire),
              (std::vector<std::string>{"\x02\xFC\x1E\xE4"s, block("\x04\x2A\x00\xFF\x3F\xFF\x3F\xFF\x3F"s),
                                        "\x02\x04\x20\xDA"s, block("\x04\xFF\x3F\xFF\x3F\xFF\x3F\x2A\x00"s), END}));
    EXPECT_EQ(u.out, opening("2004-06-15", "1F00-1FFF") +
                         "WARNING: The program and the bootloader overlap.\n"
                         "  programming address 1EFC\r  programming address 2004\r\nProgramming complete\n");
    EXPECT_EQ(u.blocks, (std::vector<std::string>{"1/2", "2/2"}));
}

// The pass's descriptor face: an EEPROM block refused leaves an image
// address in errorAddress and the cursor on the block after it.
TEST(LinkUpload, PassFaceOnARealLine)
{
    PicProgram image;
    image.setData(0x2105, 1);
    errorAddress = 0;
    int cursor = 0x2100;
    LinkRun run = runLink([](Bootloader& b) { b.serve({">", "!V\x04\x00>"s}); },
                          [&](int fd) { return outputProgram(&image, fd, cursor, 0x1F00, 0x1FFF, SHORT); });
    EXPECT_EQ(run.result, -86);
    EXPECT_EQ(errorAddress, 0x2104);
    EXPECT_EQ(cursor, 0x2108);
    EXPECT_EQ(run.out, "  programming address 2104\r");
    EXPECT_EQ(frames(run.wire),
              (std::vector<std::string>{"\x02\x04\x00\xFA"s, block("\x05\xFF\x00\x01\x00\xFF\x00\xFF\x00"s)}));
}

// A bootloader at the top of a 4K chip: a note before the first frame for
// each region of the program beyond that chip; the upload goes on as ever.
TEST(LinkUpload, NotesAProgramBuiltForALargerChip)
{
    const std::string top = "the bootloader ends at 0FFF, the top of a 4K-word chip";
    struct Case {
        int upper;
        std::vector<int> addresses;
        std::string notes;
    };
    const Case cases[] = {
        {0x0FFF, {0x0000, 0x1000, 0x1803}, top + "; the program has words at 1000-1803, beyond it: build it for this chip"},
        {0x0FFF, {0x2100, 0x2180, 0x21FF},
         top + ", whose EEPROM ends at 217F; the program has EEPROM data at 2180-21FF, beyond it: build it for this chip"},
        {0x0FFF, {0x0000, 0x0EFF, 0x2007, 0x217F}, ""},
        {0x1FFF, {0x1803, 0x21FF}, ""},
    };
    for (const Case& c : cases) {
        PicProgram image;
        for (int a : c.addresses)
            image.setData(a, 1);
        Uploaded u = uploadOn(image, serves(greets(2004, c.upper - 0xFF, c.upper), {}));
        EXPECT_EQ(u.result, 1);
        EXPECT_EQ(u.err, c.notes);
        EXPECT_EQ(u.out.find("note"), std::string::npos);
    }
}

// A pass that loses the line mid-way: time-out at once, END attempted.
TEST(LinkUpload, HangUpInAPass)
{
    PicProgram image;
    image.setData(0x1EFC, 0x2A);
    ExplainingEverywhere explaining;
    testing::internal::CaptureStderr();
    LinkRun run = uploadFace(image, [](Bootloader& b) { b.greet(); b.readFrame(); b.hangUp(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "The serial port was disconnected.\n");
    EXPECT_EQ(run.result, 0);
    EXPECT_LT(run.seconds, 2.5);
    EXPECT_NE(run.out.find("\nERROR: Timeout while waiting on bootloader response\n"), std::string::npos);
}

// Every failure ends with one hint that names its facts; a success and an
// ignored overlap have none.
TEST(LinkUpload, OneHintAfterEveryFailure)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> words;
        std::vector<Chunk> script;
        bool hangUpAtEnd;
        std::string hint;  // "" for none
    };
    const std::vector<std::pair<int, int>> two{{0x10, 1}, {0x2104, 1}};
    const Case cases[] = {
        {"complete", two, serves(greets(), {}), false, ""},
        {"no greeting", {}, {}, false,
         "No greeting came within 1 second: reset the board during the wait, or use --reset (--wait). Check that "
         "-s 19200 is the bootloader's speed and that PORT is the board's."},
        {"hang-up in the wait", {}, {}, true,
         "The port went away during the wait: check the cable and the adapter, and that PORT is the board's."},
        {"bad revision date", {}, greets(2007), false,
         "The bootloader's revision date is 2007-06-15; this uploader speaks to bootloaders dated 2003 to 2006."},
        {"overlap", {{0x1F10, 1}, {0x1F3F, 2}, {0x2007, 1}}, serves(greets(), {}), false,
         "2 words of the program lie inside the bootloader's range 1F00-1FFF, from 1F10 to 1F3F. -o skips them and "
         "writes the rest."},
        {"range past the chip", {}, serves(greets(2004, 0x1F00, 0xFFFF), {}), false,
         "No word of the program lies inside the bootloader's range 1F00-FFFF, but the range reaches addresses this "
         "chip does not have. -o goes on without them."},
        {"checksum", two, serves(greets(), {">", "!C\x10\x00>"s}), false,
         "Block 0010 arrived damaged (a wrong checksum): noise on the line. Check the cable and run the upload "
         "again."},
        {"verify", two, serves(greets(), {">", "!V\x12\x00>"s}), false,
         "Block 0010: a flash cell would not take the word at 0012. Run the upload again; if it fails again, the "
         "chip's memory may be worn."},
        {"configuration refused", {{0x1FFF, 2}, {0x2004, 0x3F72}},
         serves(greets(2004, 0x0100, 0x01FF), {">", ">", "!A\x04\x20>"s}), false,
         "Block 2004: the bootloader refuses address 2004, a configuration word, which the chip cannot write from "
         "code. Set it with a hardware programmer."},
        {"address refused", two, serves(greets(), {"!A\x10\x00>"s}), false,
         "Block 0010: the bootloader refuses address 0010, which lies in its own code or past this chip's memory."},
        {"unknown command", two, serves(greets(), {">", "!U\x10\x00>"s}), false,
         "Block 0010: the bootloader did not understand the frame: noise on the line, or a bootloader of another "
         "kind."},
        {"unknown code", two, serves(greets(), {">", "?>"}), false,
         "Block 0010: the bootloader answered with a code this uploader does not know: noise on the line, or a "
         "bootloader of another kind. Check that -s 19200 is the bootloader's speed."},
        {"time-out", two, serves(greets(), {">", ">", ">", ""}), false,
         "The pass had reached block 2104 when the bootloader stopped answering: the board may have been reset or "
         "lost power. Run the upload again."},
        {"hang-up in a pass", two, {greets()[0], greets()[1], reply(">")}, true,
         "The pass had reached block 0010 when the port went away: check the cable and the adapter, then run the "
         "upload again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PicProgram image;
        for (auto [address, value] : c.words)
            image.setData(address, value);
        LinkWindows oneSecond = SHORT;
        oneSecond.greetingMs = 1000;
        ScriptedLine line(c.script, c.hangUpAtEnd);
        Transcript t;
        upload(image, line, oneSecond, false, false, t);
        EXPECT_EQ(t.hints, c.hint.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.hint}) << t.out;
    }
}

// --trace on the virtual clock: the unanswered polls as one line with their
// count, then a frame or a reply a line, each at the time its first byte
// went by, in step with the reporter's lines; nothing after the end command.
TEST(Trace, PollsFramesRepliesAndTheEnd)
{
    // The trace and the retry lines in the order a log gets them.
    struct Log : UploadReporter {
        explicit Log(std::vector<std::string>& lines) : lines(lines) {}
        void show(const ReportEvent& e) override
        {
            if (e.kind == ReportEvent::Kind::Retry)
                lines.push_back(e.text);
        }
        std::vector<std::string>& lines;
    };
    PicProgram image;
    image.setData(5, 0x1234);
    ScriptedLine line({reply(greetingBytes(2004), milliseconds(5)), reply(word(0x1F00) + word(0x1FFF) + ">"),
                       reply(">", milliseconds(2)), reply("!C\x04\x00>"s, milliseconds(3)), reply(">"), reply(">"),
                       reply("app", milliseconds(10))});
    std::vector<std::string> told;
    {
        TraceLine trace(line, [&](const std::string& text) { told.push_back(text); });
        Log log(told);
        TracedReporter reporter(log, trace);
        LinkWindows windows = SHORT;
        windows.checksumRetries = 1;
        EXPECT_EQ(upload(image, trace, windows, false, false, reporter), 1);
        // What the program says after the end command is not traced.
        const uint8_t key = '?';
        EXPECT_EQ(trace.writeAll(&key, 1, trace.after(milliseconds(10))), LineResult::Ok);
        uint8_t said[8];
        int got = 0;
        EXPECT_EQ(trace.waitReadable(trace.after(milliseconds(50))), LineResult::Ok);
        EXPECT_EQ(trace.readAvailable(said, sizeof said, got), LineResult::Ok);
        EXPECT_EQ(got, 3);
    }
    EXPECT_EQ(told, (std::vector<std::string>{
                        "trace     0.000 -> 0D  x5, the last at 0.004\n",
                        "trace     0.005 <- 4B 4B D4 07 0F 06\n",
                        "trace     0.025 -> 68 69\n",
                        "trace     0.025 <- 00 1F FF 1F 3E\n",
                        "trace     0.025 -> 02 04 00 FA\n",
                        "trace     0.027 <- 3E\n",
                        "trace     0.027 -> 04 FF 3F 34 12 FF 3F FF 3F FC\n",
                        "trace     0.030 <- 21 43 04 00 3E\n",
                        "Checksum error on the block at 0004: sending it again (retry 1 of 1).\n",
                        "trace     0.030 -> 02 04 00 FA\n",
                        "trace     0.030 <- 3E\n",
                        "trace     0.030 -> 04 FF 3F 34 12 FF 3F FF 3F FC\n",
                        "trace     0.030 <- 3E\n",
                        "trace     0.030 -> 01 FF  end command: the trace ends here\n",
                    }));
}

// A line that hangs up says so in the trace, after what went out.
TEST(Trace, HangUp)
{
    ScriptedLine line({}, true);
    std::vector<std::string> told;
    {
        TraceLine trace(line, [&](const std::string& text) { told.push_back(text); });
        BootloaderIdentity id;
        EXPECT_EQ(handShake(trace, SHORT, id).outcome, LinkResult::Outcome::HungUp);
    }
    EXPECT_EQ(told, (std::vector<std::string>{"trace     0.000 -> 0D\n", "trace     0.000 -- the line hung up\n"}));
}
