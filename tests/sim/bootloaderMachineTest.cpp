// The bootloader's state machine in-process, byte for byte: what each byte
// from the uploader makes it answer, with the simulator's own options.
#include "bootloaderMachine.h"
#include "frames.h"
#include "options.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const Bytes POLL{0x0D};
const Bytes HI{'h', 'i'};
const Bytes GREETING{'K', 'K', 0xD4, 0x07, 15, 6};  // 2004-06-15
const Bytes IDENTIFICATION{0x00, 0x1F, 0xFF, 0x1F, '>'};
const Bytes READY{'>'};

// Counts what the machine tells its observer.
struct Counts : MachineObserver {
    int replies = 0, begun = 0, taken = 0, blocks = 0, errors = 0;
    double seconds = 0;
    void replyBegun() override { ++replies; }
    void frameBegun() override { ++begun; }
    void frameTaken() override { ++taken; }
    void blockWritten(double s) override { ++blocks, seconds += s; }
    void errorReported() override { ++errors; }
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What a run of bytes made the machine do.
struct Fed {
    Bytes bytes;  // every reply, in order
    Reply::Kind kind = Reply::Kind::None;  // of the last reply
    bool ready = false;
    double writeSeconds = 0;
    Reply::End end = Reply::End::None;
    bool trickle = false;
};

// A machine on a fresh chip, set up by the simulator's command line.
struct Bench {
    Options options;
    std::unique_ptr<Chip> chip;
    Counts counts;
    std::unique_ptr<BootloaderMachine> machine;
    std::string why;

    explicit Bench(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "bootloaderSim");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        if (!parseOptions(int(argv.size()), argv.data(), options, why) && why.empty()) why = "--help";
        chip.reset(new Chip(options.flashWords, options.eepromBytes));
        machine.reset(new BootloaderMachine(*chip, options.bootloader, options.faults, &counts));
    }
    Fed feed(const Bytes& in, double entry = 0) {
        Fed fed;
        for (uint8_t b : in) {
            Reply r = machine->feed(b, entry);
            fed.bytes.insert(fed.bytes.end(), r.bytes.begin(), r.bytes.end());
            if (r.kind != Reply::Kind::None) fed.kind = r.kind, fed.ready = r.ready;
            fed.writeSeconds += r.writeSeconds;
            fed.trickle = fed.trickle || r.trickle;
            if (r.end != Reply::End::None) fed.end = r.end;
        }
        return fed;
    }
    Bytes identify() {
        Bytes greeting = feed(POLL).bytes;
        return greeting + feed(HI).bytes;
    }
};

Bytes frame(const Bytes& command) { return withChecksum(command); }

// One exchange: what the uploader sends, what the bootloader answers.
struct Step {
    Bytes in, out;
};
struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<Step> steps;  // from a fresh machine, greeting and all
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> SMALL_CHIP{"--flash", "4096", "--eeprom", "16", "--range", "0F00-0F7F"};

// The greeting and the identification every command case begins with.
std::vector<Step> identified(std::vector<Step> steps) {
    steps.insert(steps.begin(), {{POLL, GREETING}, {HI, IDENTIFICATION}});
    return steps;
}
std::vector<Step> identifiedSmall(std::vector<Step> steps) {
    steps.insert(steps.begin(), {{POLL, GREETING}, {HI, {0x00, 0x0F, 0x7F, 0x0F, '>'}}});
    return steps;
}

const Case CASES[] = {
    // Greeting and identification.
    {"GreetingAnswersAPoll", {}, {{{'x', 'h', 'i', '>'}, {}}, {POLL, GREETING}}},
    {"GreetingCarriesTheDate", {"--date", "2003-12-31"}, {{POLL, {'K', 'K', 0xD3, 0x07, 31, 12}}}},
    {"IdentificationAfterHi", {"--range", "1F01-1F80"}, {{POLL, GREETING}, {HI, {0x01, 0x1F, 0x80, 0x1F, '>'}}}},
    {"HiMustBeWhole", {}, {{POLL, GREETING}, {{'h', 'x', 'i', 'i'}, {}}, {{'h', 'h', 'i'}, IDENTIFICATION}}},
    {"QueuedPollsPassedOver", {}, {{POLL + POLL + POLL, GREETING}, {HI, IDENTIFICATION}}},
    {"PollAfterIdentificationIsAnUnknownCode", {}, identified({{POLL, report('U', 0)}})},
    // Every frame kind.
    {"SetAddress", {}, identified({{frame(setAddress(0x0123)), READY}})},
    {"ProgramBlocks", {}, identified({{frame(setAddress(0x10)), READY}, {frame(programBlock(1, 2, 3, 4)), READY},
                                      {frame(programBlock(5, 6, 7, 8)), READY}})},
    {"EepromBlock", {}, identified({{frame(eepromBlock(1, 2, 3, 4)), READY}})},
    {"EndProgrammingIsNotAnswered", {}, identified({{frame({1}), {}}, {POLL, {}}})},
    {"BadChecksum", {}, identified({{frame(setAddress(0x100)), READY}, {{4, 1, 0, 2, 0, 3, 0, 4, 0, 0}, report('C', 0x100)}})},
    {"EndProgrammingWithBadChecksum", {}, identified({{{1, 0}, report('C', 0)}})},
    {"UnknownCodeAnsweredAtOnce", {}, identified({{frame(setAddress(0x42)), READY}, {{7}, report('U', 0x42)},
                                                   {{0}, report('U', 0x42)}})},
    {"AddressWrapsAfterFFFC", {}, identified({{frame(setAddress(0xFFFC)), READY},
                                             {frame(programBlock(0, 0, 0, 0)), report('A', 0xFFFC)},
                                             {frame(programBlock(0, 0, 0, 0)), READY}})},
    // The chip's addresses.
    {"BlockInTheRangeRefused", SMALL_CHIP, identifiedSmall({{frame(setAddress(0x0F7C)), READY},
                                                            {frame(programBlock(0, 0, 0, 0)), report('A', 0x0F7C)},
                                                            {frame(programBlock(0, 0, 0, 0)), READY}})},
    {"BlockReachingIntoTheRangeRefused", SMALL_CHIP, identifiedSmall({{frame(setAddress(0x0EFE)), READY},
                                                                      {frame(programBlock(0, 0, 0, 0)), report('A', 0x0EFE)}})},
    {"BlockPastTheFlashRefused", SMALL_CHIP, identifiedSmall({{frame(setAddress(0x0FFC)), READY},
                                                              {frame(programBlock(0, 0, 0, 0)), READY},
                                                              {frame(programBlock(0, 0, 0, 0)), report('A', 0x1000)}})},
    {"ConfigurationBlocks", SMALL_CHIP, identifiedSmall({{frame(setAddress(0x2004)), READY},
                                                         {frame(programBlock(0, 0, 0, 0)), READY},
                                                         {frame(programBlock(0, 0, 0, 0)), report('A', 0x2008)}})},
    {"ChipsFlashAndEeprom", {"--chip", "16F873", "--range", "0000-0003"},
     {{POLL, GREETING}, {HI, {0x00, 0x00, 0x03, 0x00, '>'}},
      {frame(setAddress(0x0FFC)), READY},
      {frame(programBlock(0, 0, 0, 0)), READY},
      {frame(programBlock(0, 0, 0, 0)), report('A', 0x1000)},
      {frame(setAddress(0x7C)), READY},
      {frame(eepromBlock(1, 2, 3, 4)), READY},
      {frame(eepromBlock(1, 2, 3, 4)), report('A', 0x80)}}},
    {"EepromPastItsEnd", SMALL_CHIP, identifiedSmall({{frame(setAddress(0x0C)), READY},
                                                      {frame(eepromBlock(1, 2, 3, 4)), READY},
                                                      {frame(eepromBlock(1, 2, 3, 4)), report('A', 0x10)}})},
    // Every fault.
    {"ChecksumFault", {"--fault", "checksum@2"}, identified({{frame(setAddress(0x100)), READY},
                                                            {frame(programBlock(1, 2, 3, 4)), report('C', 0x100)},
                                                            {frame(programBlock(1, 2, 3, 4)), READY}})},
    {"VerifyFaultInFlash", {"--fault", "verify@0102"}, identified({{frame(setAddress(0x100)), READY},
                                                                  {frame(programBlock(1, 2, 3, 4)), report('V', 0x102)}})},
    {"VerifyFaultInEeprom", {"--fault", "verify@2101"}, identified({{frame(eepromBlock(1, 2, 3, 4)), report('V', 1)}})},
    {"RefuseFaultInFlash", {"--fault", "refuse@0103"}, identified({{frame(setAddress(0x100)), READY},
                                                                  {frame(programBlock(1, 2, 3, 4)), report('A', 0x100)}})},
    {"RefuseFaultInEeprom", {"--fault", "refuse@2106"}, identified({{frame(setAddress(4)), READY},
                                                                   {frame(eepromBlock(1, 2, 3, 4)), report('A', 4)}})},
    {"SilentFromAFrameOn", {"--fault", "silent@2"}, identified({{frame(setAddress(0)), READY},
                                                               {frame(setAddress(0)), {}}, {frame(setAddress(0)), {}}})},
    {"FaultsCountFramesFromOne",
     {"--fault", "checksum@2", "--fault", "verify@0102", "--fault", "refuse@2102", "--fault", "garbage@1:5A",
      "--fault", "silent@6"},
     identified({{frame(setAddress(0x0100)), {0x5A, '>'}},                  // frame 1
                 {frame(programBlock(1, 2, 3, 4)), report('C', 0x0100)},  // frame 2
                 {frame(programBlock(1, 2, 3, 4)), report('V', 0x0102)},  // frame 3, still at 0100
                 {frame(setAddress(0)), READY},                           // frame 4
                 {frame(eepromBlock(1, 2, 3, 4)), report('A', 0)},        // frame 5
                 {frame(setAddress(0)), {}}})},                           // frame 6
    {"GarbageBeforeTheReady", {"--fault", "garbage@2:5A", "--fault", "garbage@2:00"},
     identified({{frame(setAddress(0)), READY}, {{7}, {'!', 'U', 0, 0, 0x5A, 0x00, '>'}}})},
    {"WriteTestReportsProgramWordsOnly", {"--fault", "writetest"},
     identified({{frame(setAddress(8)), READY},
                 {frame(programBlock(0x1234, 0xFFFF, 0, 0x0183)),
                  {'w', 8, 0, 0x34, 0x12, 'w', 9, 0, 0xFF, 0x3F, 'w', 10, 0, 0, 0, 'w', 11, 0, 0x83, 0x01, '>'}},
                 {frame(eepromBlock(1, 2, 3, 4)), READY}})},
    {"HangupDropsTheFrame", {"--fault", "hangup@2"}, identified({{frame(setAddress(0)), READY},
                                                                {frame(setAddress(0)), {}}, {frame(setAddress(0)), {}}})},
    {"BadReadyOnceThenGood", {"--fault", "badready"},
     {{POLL, GREETING}, {HI, {0x00, 0x1F, 0xFF, 0x1F, '<'}}, {HI, {}}, {POLL, GREETING}, {HI, IDENTIFICATION}}},
    {"MuteIdentOnceThenGood", {"--fault", "mute-ident"},
     {{POLL, GREETING}, {HI, {0x00, 0x1F}}, {HI, {}}, {POLL, GREETING}, {HI, IDENTIFICATION}}},
};

class MachineCase : public ::testing::TestWithParam<Case> {};

TEST_P(MachineCase, AnswersByteForByte) {
    const Case& c = GetParam();
    Bench bench(c.args);
    ASSERT_EQ(bench.why, "");
    for (size_t i = 0; i < c.steps.size(); ++i) EXPECT_EQ(bench.feed(c.steps[i].in).bytes, c.steps[i].out) << "step " << i;
}

INSTANTIATE_TEST_SUITE_P(Machine, MachineCase, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(Machine, APollAfterASecondAsksForTheGreetingAgain) {
    Bench bench;
    EXPECT_EQ(bench.feed(POLL, 10.0).bytes, GREETING);
    bench.machine->greetingSent(10.5);
    EXPECT_EQ(bench.feed(POLL, 11.49).bytes, Bytes{});
    EXPECT_EQ(bench.feed(POLL, 11.5).bytes, GREETING);
    EXPECT_EQ(bench.feed(POLL, 12.4).bytes, Bytes{});  // not told: the poll's entry stands for the greeting
}

TEST(Machine, SessionsEndAndStartOver) {
    Bench bench({"--fault", "checksum@2", "--fault", "hangup@3"});
    ASSERT_EQ(bench.identify(), GREETING + IDENTIFICATION);
    EXPECT_EQ(bench.feed(frame(setAddress(0x40))).bytes, READY);
    EXPECT_EQ(bench.feed(frame(setAddress(0x80))).bytes, report('C', 0x40));
    Fed hangup = bench.feed(frame(setAddress(0)));
    EXPECT_EQ(hangup.end, Reply::End::LineClosed);
    EXPECT_EQ(bench.feed(POLL).bytes, Bytes{});
    EXPECT_EQ(bench.machine->state(), BootloaderMachine::State::Ended);

    // Frames count from 1 again, the address from 0.
    bench.machine->startSession();
    ASSERT_EQ(bench.identify(), GREETING + IDENTIFICATION);
    EXPECT_EQ(bench.feed({7}).bytes, report('U', 0));
    EXPECT_EQ(bench.feed(frame(setAddress(0x40))).bytes, report('C', 0));
    EXPECT_EQ(bench.feed(frame({1})).end, Reply::End::Completed);
    EXPECT_EQ(bench.machine->state(), BootloaderMachine::State::Ended);
}

TEST(Machine, OncePerRunFaultsStaySpentAcrossSessions) {
    Bench bench({"--fault", "badready", "--fault", "mute-ident"});
    EXPECT_EQ(bench.identify(), (GREETING + Bytes{0x00, 0x1F}));
    bench.machine->startSession();
    EXPECT_EQ(bench.identify(), (GREETING + Bytes{0x00, 0x1F, 0xFF, 0x1F, '<'}));
    bench.machine->startSession();
    EXPECT_EQ(bench.identify(), GREETING + IDENTIFICATION);
}

TEST(Machine, ReplyKindsTellTheDriverHowToSend) {
    using K = Reply::Kind;
    Bench bench({"--fault", "badready", "--fault", "silent@2"});
    const struct {
        Bytes in;
        Reply::Kind kind;
        bool ready;
    } steps[] = {{POLL, K::Greeting, false}, {HI, K::Identification, false},  // ends in '<'
                 {POLL, K::Greeting, false}, {HI, K::Identification, true},
                 {frame(setAddress(0)), K::Response, true}, {frame(setAddress(0)), K::None, false}};
    for (const auto& step : steps) {
        Fed fed = bench.feed(step.in);
        EXPECT_EQ(fed.kind, step.kind);
        EXPECT_EQ(fed.ready, step.ready);
    }
}

TEST(Machine, TrickleMarksOnlyTheGreeting) {
    Bench plain, trickle({"--fault", "trickle"});
    EXPECT_FALSE(plain.feed(POLL).trickle);
    EXPECT_TRUE(trickle.feed(POLL).trickle);
    EXPECT_FALSE(trickle.feed(HI).trickle);
}

TEST(Machine, WriteTimesOfTheBlocksThatWereWritten) {
    Bench bench({"--write-ms", "2,1.5"});
    bench.identify();
    EXPECT_DOUBLE_EQ(bench.feed(frame(programBlock(1, 2, 3, 4))).writeSeconds, 0.002);
    EXPECT_DOUBLE_EQ(bench.feed(frame(eepromBlock(1, 2, 3, 4))).writeSeconds, 0.006);
    EXPECT_EQ(bench.feed(frame(setAddress(0x1F00))).writeSeconds, 0);
    EXPECT_EQ(bench.feed(frame(programBlock(1, 2, 3, 4))).writeSeconds, 0);  // refused
}

// What --chip gives: the memories, the range and the write times that the
// rest of the command line leaves to it, wherever that stands.
TEST(Machine, ChipGivesWhatTheCommandLineLeaves) {
    struct Row {
        std::vector<std::string> args;
        int flash, eeprom, lower;
        double programMs, eepromMs;
    };
    const Row rows[] = {
        {{}, 8192, 256, 0x1F00, 4, 4},
        {{"--chip", "pic16f873a"}, 4096, 128, 0x0F00, 4, 4},
        {{"--chip", "16F877"}, 8192, 256, 0x1F00, 16, 4},
        {{"--flash", "2048", "--range", "0700-07FF", "--chip", "PIC16F874"}, 2048, 128, 0x0700, 16, 4},
        {{"--chip", "16f876", "--eeprom", "64", "--write-ms", "2,1"}, 8192, 64, 0x1F00, 2, 1},
    };
    for (const Row& row : rows) {
        Bench bench(row.args);
        SCOPED_TRACE(::testing::PrintToString(row.args));
        ASSERT_EQ(bench.why, "");
        EXPECT_EQ(bench.chip->flashSize(), row.flash);
        EXPECT_EQ(bench.chip->eepromSize(), row.eeprom);
        EXPECT_EQ(bench.options.bootloader.range.lower, row.lower);
        EXPECT_EQ(bench.options.bootloader.range.upper, row.lower + 0xFF);
        EXPECT_EQ(bench.options.bootloader.programWriteMs, row.programMs);
        EXPECT_EQ(bench.options.bootloader.eepromWriteMs, row.eepromMs);
    }
}

TEST(Machine, ChipHoldsWhatTheBlocksCarried) {
    Bench bench({"--fault", "verify@0011"});
    bench.identify();
    bench.feed(frame(setAddress(0x10)) + frame(programBlock(0xFFFF, 0x1234, 0x3FFF, 0xC001)));
    bench.feed(frame(setAddress(0x20)) + frame(programBlock(1, 2, 3, 4)) + frame(programBlock(0x2805, 0, 0, 0)));
    bench.feed(frame(setAddress(0x2004)) + frame(programBlock(0x3FFF, 0x3FFF, 0x3FFF, 0x3F72)));
    bench.feed(frame(setAddress(0x02)) + frame(eepromBlock(0x12, 0xFF, 0x00, 0x34)));
    const PicProgram& memory = bench.chip->memory();
    EXPECT_EQ(bench.chip->readProgramWord(0x10), 0x3FFF);
    EXPECT_EQ(bench.chip->readProgramWord(0x11), 0x1235);  // the verify fault's flipped bit
    EXPECT_EQ(bench.chip->readProgramWord(0x13), 0x0001);  // the high bits never land
    EXPECT_EQ(memory.getData(0x12), 0xFFFF);                // erased value: a blank cell
    EXPECT_EQ(bench.chip->readProgramWord(0x24), 0x2805);  // the address moved on by four
    EXPECT_EQ(memory.findData(PicProgram::CONFIG_START), 0x2007);  // erased configuration words are blank
    EXPECT_EQ(memory.getData(0x2007), 0x3F72);
    EXPECT_EQ(bench.chip->readEepromByte(2), 0x12);
    EXPECT_EQ(memory.getData(0x2103), 0xFFFF);  // an erased byte is blank
    EXPECT_EQ(memory.getData(0x2104), 0x00);
    EXPECT_EQ(bench.chip->readEepromByte(5), 0x34);
    EXPECT_EQ(bench.machine->address(), 0x06);
}

TEST(Machine, ObserverHearsEveryStatistic) {
    Bench bench({"--fault", "silent@4"});
    bench.identify();
    bench.feed(frame(programBlock(1, 2, 3, 4)) + frame(eepromBlock(1, 2, 3, 4)) + Bytes{7} + frame(setAddress(0)));
    bench.feed(frame({1}));
    EXPECT_EQ(bench.counts.replies, 1);
    EXPECT_EQ(bench.counts.begun, 5);  // END_PROGRAMMING too
    EXPECT_EQ(bench.counts.taken, 4);  // the silent frame too, END_PROGRAMMING not
    EXPECT_EQ(bench.counts.blocks, 2);
    EXPECT_EQ(bench.counts.errors, 1);
    EXPECT_DOUBLE_EQ(bench.counts.seconds, 0.004 + 0.016);
}

}  // namespace
