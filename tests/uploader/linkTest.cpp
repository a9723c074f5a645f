// The bootloader link against a peer process on a pseudo-terminal.
#include "linkFaces.h"
#include "protocol.h"
#include "peer.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::string_literals;

namespace {

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

// The windows every call below passes to the link.  Short windows keep the
// suite fast; the defaults are checked on their own.
LinkWindows linkWindows;

class Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        linkWindows.greetingMs = 1500;
        linkWindows.identificationMs = 300;
        linkWindows.responseMs = 400;
        errorAddress = 0;
    }
    void TearDown() override { linkWindows = LinkWindows(); }
};

struct Identity {
    int result, year, month, day, lower, upper;
};

Identity shake(int fd)
{
    Identity id{};
    id.result = handShake(fd, id.year, id.month, id.day, id.lower, id.upper, linkWindows);
    return id;
}

LinkRun uploadWith(PicProgram& image, std::function<void(Bootloader&)> script, char ignoreOverlap = 0,
               char queryOnly = 0)
{
    return runLink(std::move(script), [&](int fd) { return upload(&image, fd, ignoreOverlap, queryOnly, linkWindows); });
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

TEST_F(Link, GreetingVariants)
{
    struct Case {
        const char* name;
        std::function<void(Bootloader&)> script;
        Identity expected;
        int his;   // "hi" replies the peer received
    };
    const Case cases[] = {
        {"accepted", [](Bootloader& b) { b.greet(2003, 0x1F00, 0x1FFF); }, {1, 2003, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"5, 7 and wrong second byte rejected",
         [](Bootloader& b) {
             b.awaitPoll();
             b.send("KK\xD4\x07\x0F"s);
             b.nextPoll();
             b.send(greetingBytes(2004) + "K");
             b.nextPoll();
             b.send("KX\xD4\x07\x0F\x06"s);
             b.nextPoll();
             b.greet(2006, 0x100, 0x1FF);
         },
         {1, 2006, 6, 15, 0x100, 0x1FF}, 1},
        {"wrong ready byte, then a good greeting",
         [](Bootloader& b) {
             b.awaitPoll();
             b.send(greetingBytes(2005));
             b.awaitHi();
             b.send(word(0x1F00) + word(0x1FFF) + "?");
             b.nextPoll();
             b.greet(2004, 0x1E00, 0x1EFF);
         },
         {1, 2004, 6, 15, 0x1E00, 0x1EFF}, 2},
        {"silent in the identification, then a good greeting",
         [](Bootloader& b) {
             b.awaitPoll();
             b.send(greetingBytes(2005));
             b.awaitHi();
             b.send(word(0x1F00));
             b.nextPoll();
             b.greet(2005, 0x40, 0x7F);
         },
         {1, 2005, 6, 15, 0x40, 0x7F}, 2},
        {"in pieces",
         [](Bootloader& b) {
             b.awaitPoll();
             for (const std::string& piece : {"KK"s, "\xD4\x07"s, "\x0F\x06"s}) {
                 b.send(piece);
                 b.pause(12);
             }
             b.awaitHi();
             b.send(word(0x1F00) + word(0x1FFF) + ">");
         },
         {1, 2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"line noise gathered in front of the greeting",
         [](Bootloader& b) {
             b.awaitPoll();
             b.send("\xF8\x00"s + greetingBytes(2004));
             b.awaitHi();
             b.send(word(0x1F00) + word(0x1FFF) + ">");
         },
         {1, 2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"greeted at the end of the window, identified after it",
         [](Bootloader& b) {
             b.awaitPoll();
             b.pause(1400);  // of the 1500 ms window
             b.send(greetingBytes(2004));
             b.awaitHi();
             b.pause(150);
             b.send(word(0x1F00) + word(0x1FFF) + ">");
         },
         {1, 2004, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"year 2002", [](Bootloader& b) { b.greet(2002); }, {2, 2002, 6, 15, 0x1F00, 0x1FFF}, 1},
        {"year 2007", [](Bootloader& b) { b.greet(2007); }, {2, 2007, 6, 15, 0x1F00, 0x1FFF}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identity id{};
        LinkRun run = runLink(c.script, [&](int fd) { id = shake(fd); return id.result; });
        EXPECT_EQ(id.result, c.expected.result);
        EXPECT_EQ(id.year, c.expected.year);
        EXPECT_EQ(id.month, c.expected.month);
        EXPECT_EQ(id.day, c.expected.day);
        EXPECT_EQ(id.lower, c.expected.lower);
        EXPECT_EQ(id.upper, c.expected.upper);
        EXPECT_EQ(count(run.wire, "hi"), c.his);
        EXPECT_EQ(afterHi(run.wire), "");
    }
}

// Once "hi" is out, the identification has its own time even past the
// greeting window's end.
TEST_F(Link, GreetingLateInTheWindowKeepsItsIdentificationTime)
{
    linkWindows.greetingMs = 1000;
    linkWindows.identificationMs = 1000;
    Identity id{};
    LinkRun run = runLink(
        [](Bootloader& b) {
            b.awaitPoll();
            b.pause(700);
            b.send(greetingBytes(2004));
            b.awaitHi();
            b.pause(600);
            b.send(word(0x1F00) + word(0x1FFF) + ">");
        },
        [&](int fd) { id = shake(fd); return id.result; });
    EXPECT_EQ(id.result, 1);
    EXPECT_EQ(id.upper, 0x1FFF);
    EXPECT_GT(run.seconds, 1.2);
}

// At 2400 bit/s a character takes 4.17 ms: polls come no faster than the
// line carries them, so none piles up in front of "hi", and "hi" follows the
// greeting after the quiet wait (20 ms here), not after a backlog.
TEST_F(Link, PollsPacedToTheLineAndHiRightAfterTheGreeting)
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
        [](int fd) { return shake(fd).result; }, B2400);
    EXPECT_EQ(run.result, 1);
    size_t polls = run.wire.find("hi");
    ASSERT_NE(polls, std::string::npos);
    EXPECT_EQ(run.wire.substr(0, polls).find_first_not_of('\r'), std::string::npos);
    EXPECT_LE(polls, 1000u / 4 + 10) << "polls outran the line";
    EXPECT_GE(polls, 100u) << "polls stopped while waiting";
    EXPECT_GE(std::stoi(run.notes), 18);
    EXPECT_LT(std::stoi(run.notes), 200);
}

TEST_F(Link, NoGreetingAndHangUps)
{
    // Nothing but garbage: the window runs out.
    LinkRun run = runLink([](Bootloader& b) { b.awaitPoll(); b.send("garbage"); },
                      [](int fd) { return shake(fd).result; });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.wire.find_first_not_of('\r'), std::string::npos);

    // With the full windows, a hang-up ends each wait long before its window.
    linkWindows = LinkWindows();
    const std::function<void(Bootloader&)> hangUps[] = {
        [](Bootloader& b) { b.awaitPoll(); b.hangUp(); },
        [](Bootloader& b) { b.awaitPoll(); b.send("KK"); b.hangUp(); },
        [](Bootloader& b) { b.awaitPoll(); b.send(greetingBytes(2004)); b.awaitHi(); b.send("\x00"s); b.hangUp(); },
    };
    for (const auto& script : hangUps) {
        PicProgram image;
        testing::internal::CaptureStderr();
        run = uploadWith(image, script);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "The serial port was disconnected.\n");
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.out, WAITING + NO_GREETING);
        EXPECT_LT(run.seconds, 10.0);
    }
}

TEST_F(Link, OpeningMessagesAndQuery)
{
    PicProgram image;
    image.setData(0x1F10, 1);   // overlaps, but a query does not look
    LinkRun run = uploadWith(image, [](Bootloader& b) { b.greet(2003, 0x1F01, 0x1F00); }, 0, 1);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, opening("2003-06-15", "1F01-1F00") +
                           "WARNING: The bootloader's address space does not start on a block boundry.\n"
                           "         Using 1F00 as the lower address.\n"
                           "WARNING: The bootloader's address space does not end on a block boundry.\n"
                           "         Using 1F03 as the upper address.\n");
    EXPECT_EQ(afterHi(run.wire), END);

    run = uploadWith(image, [](Bootloader& b) { b.greet(2007); });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.out, opening("2007-06-15", "1F00-1FFF") + "\nERROR: Bad revision date.\n");
    EXPECT_EQ(afterHi(run.wire), "");
}

TEST_F(Link, Responses)
{
    PicProgram image;
    image.setData(0x10, 0x1234);
    struct Case {
        std::string bytes;
        int status;
        int errorAddress;
        std::string printed;   // by getResponse
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
        std::string next;
        LinkRun run = runLink([&](Bootloader& b) { b.send(c.bytes); }, [&](int fd) {
            int status = getResponse(&image, fd, linkWindows);
            if (!c.next.empty())
                next = std::to_string(getResponse(&image, fd, linkWindows));
            return status;
        });
        EXPECT_EQ(run.result, c.status);
        EXPECT_EQ(errorAddress, c.errorAddress);
        EXPECT_EQ(run.out, c.printed);
        EXPECT_EQ(next, c.next);
        testing::internal::CaptureStdout();
        reportError(c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.report.empty() ? "" : "\nERROR: " + c.report);
    }
    testing::internal::CaptureStdout();
    reportError(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Link, ResponseWindowAndHangUp)
{
    PicProgram image;
    linkWindows = LinkWindows();
    // The real window: an error report, then silence.
    LinkRun run = runLink([](Bootloader& b) { b.send("!V\x22\x00"s); },
                      [&](int fd) { return getResponse(&image, fd, linkWindows); });
    EXPECT_EQ(run.result, STATUS_TIMEOUT);
    EXPECT_EQ(errorAddress, 0x22);
    EXPECT_GE(run.seconds, 4.0);

    run = runLink([](Bootloader& b) { b.send("!"); b.hangUp(); }, [&](int fd) { return getResponse(&image, fd, linkWindows); });
    EXPECT_EQ(run.result, STATUS_TIMEOUT);
    EXPECT_LT(run.seconds, 2.5);
}

TEST_F(Link, ProgrammingPasses)
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
        errorAddress = 0;
        LinkRun run = uploadWith(image, [&](Bootloader& b) { b.greet(2004, c.lower, c.upper); b.serve(c.replies); });
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(frames(afterHi(run.wire)), c.frames);
        char range[16];
        snprintf(range, sizeof range, "%04X-%04X", c.lower, c.upper);
        EXPECT_EQ(run.out, opening("2004-06-15", range) + c.after);
        EXPECT_EQ(errorAddress, c.errorAddress);
    }
}

TEST_F(Link, OverlapIgnored)
{
    // The block inside the range is skipped; the walk lands on the
    // configuration word behind it.
    PicProgram image;
    for (int address : {0x1EFC, 0x1F10, 0x2007})
        image.setData(address, 0x2A);
    LinkRun run = uploadWith(image, [](Bootloader& b) { b.greet(); b.serve(); }, 1);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(frames(afterHi(run.wire)),
              (std::vector<std::string>{"\x02\xFC\x1E\xE4"s, block("\x04\x2A\x00\xFF\x3F\xFF\x3F\xFF\x3F"s),
                                        "\x02\x04\x20\xDA"s, block("\x04\xFF\x3F\xFF\x3F\xFF\x3F\x2A\x00"s), END}));
    EXPECT_EQ(run.out, opening("2004-06-15", "1F00-1FFF") +
                           "WARNING: The program and the bootloader overlap.\n"
                           "  programming address 1EFC\r  programming address 2004\r\nProgramming complete\n");

    // A pass that loses the line mid-way: time-out at once, END attempted.
    linkWindows = LinkWindows();
    image.setData(0x1F10, PicProgram::BLANK);
    testing::internal::CaptureStderr();
    run = uploadWith(image, [](Bootloader& b) { b.greet(); b.readFrame(); b.hangUp(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "The serial port was disconnected.\n");
    EXPECT_EQ(run.result, 0);
    EXPECT_LT(run.seconds, 2.5);
    EXPECT_NE(run.out.find("\nERROR: Timeout while waiting on bootloader response\n"), std::string::npos);
}
