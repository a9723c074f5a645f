// Whole uploads: programUploader against bootloaderSim, two real processes
// on either side of the simulator's pseudo-terminal.  Every fault the
// simulator can play gives the uploader's own message and exit value, and
// random images land on the chip exactly.
#include "simTestSupport.h"
#include "uploads.h"

#include "PicProgram.h"
#include "ownedHandles.h"
#include "uploadOracle.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <memory>
#include <random>

namespace {

// A small image: two flash runs, a configuration word, a few EEPROM bytes.
PicProgram smallImage() {
    PicProgram p;
    for (int a = 0x0000; a < 0x0006; ++a) p.setData(a, 0x2800 + a);
    for (int a = 0x0123; a < 0x0129; ++a) p.setData(a, 0x0100 + a);
    p.setData(0x2007, 0x3F72);
    p.setData(0x2100, 0x12);
    p.setData(0x2101, 0x34);
    p.setData(0x21FF, 0x56);
    return p;
}

const std::vector<std::string> FAST{"--baud", "0", "--write-ms", "0,0"};

std::vector<std::string> fastWith(std::vector<std::string> more) {
    std::vector<std::string> args = FAST;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The chip after the upload holds the program outside the bootloader's
// range and nothing else.
void expectChipHolds(const UploadRun& u, PicProgram& image, protocol::Range range = {0x1F00, 0x1FFF}, bool ignoreOverlap = false) {
    PicProgram chip, blank;
    ASSERT_TRUE(loadHex(u.chipPath(), chip)) << u.output;
    std::vector<std::string> wrong = uploadDifferences(chip, blank, image, range, ignoreOverlap);
    std::string all;
    for (const std::string& w : wrong) all += w + "\n";
    EXPECT_TRUE(wrong.empty()) << all << u.output;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Upload, CompletesAndTheChipHoldsTheProgram) {
    PicProgram image = smallImage();
    UploadRun u = runUpload(image, FAST);
    EXPECT_EQ(u.uploader, 1) << u.output;
    EXPECT_EQ(u.sim, 0) << u.simOutput;
    EXPECT_TRUE(contains(u.output, "\nWaiting for the bootloader's greeting . . . got it.\n"
                                   "V Oruzavuver revision date: 2004-06-15\n"
                                   "             address range: 1F00-1FFF\n")) << u.output;
    EXPECT_TRUE(contains(u.output, "  programming address 0000\r  programming address 0004\r"
                                   "  programming address 0120\r  programming address 0124\r"
                                   "  programming address 0128\r  programming address 2100\r"
                                   "  programming address 21FC\r\nProgramming complete\n")) << u.output;
    expectChipHolds(u, image);
    // 0x2007 lies in no block the flash walk reaches with this range.
    PicProgram chip;
    ASSERT_TRUE(loadHex(u.chipPath(), chip));
    EXPECT_EQ(chip.getData(0x2007), PicProgram::BLANK);
}

TEST(Upload, QueryWritesNothing) {
    PicProgram image = smallImage();
    UploadRun u = runUpload(image, fastWith({"--range", "1F02-1FFD"}), {"-q"});
    EXPECT_EQ(u.uploader, 1) << u.output;
    EXPECT_EQ(u.sim, 0);
    EXPECT_TRUE(contains(u.output, "             address range: 1F02-1FFD\n"
                                   "WARNING: The bootloader's address space does not start on a block boundry.\n"
                                   "         Using 1F00 as the lower address.\n"
                                   "WARNING: The bootloader's address space does not end on a block boundry.\n"
                                   "         Using 1FFF as the upper address.\n")) << u.output;
    EXPECT_FALSE(contains(u.output, "programming"));
    EXPECT_EQ(readFile(u.chipPath()), "; Flash ROM data\n; Config data\n; EEPROM data\n; terminator\n:00000001FF\n");
}

TEST(Upload, OverlapRefusedWritesNothingAndIgnoredWritesAroundTheRange) {
    PicProgram image = smallImage();
    image.setData(0x1F10, 0x0123);
    {
        UploadRun u = runUpload(image, FAST);
        EXPECT_EQ(u.uploader, 0) << u.output;
        EXPECT_EQ(u.sim, 0);
        EXPECT_TRUE(contains(u.output, "1F00-1FFF\nERROR: The program and the bootloader overlap.\n")) << u.output;
        EXPECT_EQ(readFile(u.chipPath()), "; Flash ROM data\n; Config data\n; EEPROM data\n; terminator\n:00000001FF\n");
    }
    {
        UploadRun u = runUpload(image, FAST, {"-o"});
        EXPECT_EQ(u.uploader, 1) << u.output;
        EXPECT_TRUE(contains(u.output, "1F00-1FFF\nWARNING: The program and the bootloader overlap.\n")) << u.output;
        expectChipHolds(u, image, {0x1F00, 0x1FFF}, true);
        // Skipping a range that ends at 1FFF lands the walk on the
        // configuration words: 0x2007 is sent this time.
        PicProgram chip;
        ASSERT_TRUE(loadHex(u.chipPath(), chip));
        EXPECT_EQ(chip.getData(0x2007), 0x3F72);
        EXPECT_EQ(chip.getData(0x1F10), PicProgram::BLANK);
    }
}

// Each fault the simulator plays, with what the user reads and the exit value.
struct FaultCase {
    const char* fault;
    int uploaderExit;
    const char* message;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.fault; }

class UploadFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(UploadFault, GivesTheUploadersMessageAndExit) {
    const FaultCase& c = GetParam();
    PicProgram image = smallImage();
    UploadRun u = runUpload(image, fastWith({"--fault", c.fault}));
    EXPECT_EQ(u.uploader, c.uploaderExit) << u.output;
    EXPECT_TRUE(contains(u.output, c.message)) << "expected " << c.message << " in\n" << u.output;
    if (c.uploaderExit == 1) expectChipHolds(u, image);
}

// Frames of smallImage: 1 SET_ADDRESS 0000, 2 block 0000, 3 block 0004,
// 4 SET_ADDRESS 0120, 5-7 blocks 0120-0128, 8 SET_ADDRESS 00, 9 EEPROM 2100,
// 10 SET_ADDRESS FC, 11 EEPROM 21FC.
INSTANTIATE_TEST_SUITE_P(
    Faults, UploadFault,
    ::testing::Values(
        FaultCase{"checksum@3", 0, "  programming address 0004\r\nERROR: Did not pass checksum test while at address 0004\n"},
        FaultCase{"verify@0125", 0, "  programming address 0124\r\nERROR: Did not pass verification test at address 0125\n"},
        FaultCase{"verify@2101", 0, "  programming address 2100\r\nERROR: Did not pass verification test at address 2101\n"},
        FaultCase{"refuse@0120", 0, "  programming address 0120\r\nERROR: Invalid address 0120\n"},
        FaultCase{"refuse@21FD", 0, "  programming address 21FC\r\nERROR: Invalid address 21FC\n"},
        FaultCase{"garbage@2:5A", 0, "  programming address 0000\r\nERROR: Unknown code ('Z') from bootloader\n"},
        FaultCase{"garbage@1:00", 0, "\nERROR: Unknown code (0) from bootloader\n"},
        FaultCase{"garbage@5:2A", 0, "  programming address 0120\r\nERROR: Unknown code (2A) from bootloader\n"},
        FaultCase{"hangup@4", 0, "  programming address 0004\r\nERROR: Timeout while waiting on bootloader response\n"},
        FaultCase{"hangup@6", 0, "  programming address 0124\r\nERROR: Timeout while waiting on bootloader response\n"},
        FaultCase{"badready", 1, "\nProgramming complete\n"},
        FaultCase{"mute-ident", 1, "\nProgramming complete\n"},
        FaultCase{"trickle", 1, "\nProgramming complete\n"},
        FaultCase{"late@1", 1, "\nProgramming complete\n"},
        FaultCase{"writetest", 1,
                  "  programming address 0000\r\n NOTICE: Good write test at address 0000, data == 2800\n"
                  "\n NOTICE: Good write test at address 0001, data == 2801\n"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
        std::string name;
        for (const char* p = info.param.fault; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// With --retries the damaged frame's block goes out again, and the chip
// gets the whole program; standard output is that of a clean upload.
TEST(UploadFault, ChecksumRetried) {
    PicProgram image = smallImage();
    UploadRun u = runUpload(image, fastWith({"--fault", "checksum@3"}), {"--retries", "1"});
    EXPECT_EQ(u.uploader, 1) << u.output;
    EXPECT_TRUE(contains(u.output, "  programming address 0000\r  programming address 0004\r"
                                   "Checksum error on the block at 0004: sending it again (retry 1 of 1).\n"
                                   "  programming address 0120\r")) << u.output;
    expectChipHolds(u, image);
}

TEST(UploadFaultTimes, SilentBootloaderTimesOutAfterTheResponseWindow) {
    PicProgram image = smallImage();
    double t0 = now();
    UploadRun u = runUpload(image, fastWith({"--fault", "silent@2"}));
    double took = now() - t0;
    EXPECT_EQ(u.uploader, 0) << u.output;
    EXPECT_TRUE(contains(u.output, "  programming address 0000\r\nERROR: Timeout while waiting on bootloader response\n"))
        << u.output;
    EXPECT_GT(took, 4.5);
    EXPECT_LT(took, 12);
}

TEST(UploadFaultTimes, HangupEndsTheWaitAtOnce) {
    PicProgram image = smallImage();
    double t0 = now();
    UploadRun u = runUpload(image, fastWith({"--fault", "hangup@2"}));
    EXPECT_EQ(u.uploader, 0) << u.output;
    EXPECT_EQ(u.sim, 1);
    EXPECT_LT(now() - t0, 3) << "a hung-up line must not wait out the response window";
}

// Paced lines: the uploader's polls and frames at the speed it set, the
// simulator following that speed.
TEST(UploadPaced, At57600And2400AndTrickled) {
    PicProgram small;
    small.setData(0x0004, 0x1234);
    small.setData(0x2100, 0x42);
    struct Case {
        PicProgram image;
        std::vector<std::string> simArgs, uploaderArgs;
    } cases[] = {
        {smallImage(), {}, {"-s", "57600"}},
        {small, {}, {"-s", "2400"}},
        {small, {"--fault", "trickle"}, {"-s", "2400"}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.uploaderArgs[1] + (c.simArgs.empty() ? "" : " trickle"));
        UploadRun u = runUpload(c.image, c.simArgs, c.uploaderArgs);
        EXPECT_EQ(u.uploader, 1) << u.output;
        expectChipHolds(u, c.image);
    }
}

double statistic(const std::string& out, const std::string& name) {
    size_t at = out.find(name + ": ");
    return at == std::string::npos ? -1 : atof(out.c_str() + at + name.size() + 2);
}

TEST(UploadPaced, LateBootloaderAfterPollsPiledUp) {
    PicProgram image = smallImage();
    UploadRun u = runUpload(image, {"--fault", "late@3", "--stats"}, {"-s", "19200"});
    EXPECT_EQ(u.uploader, 1) << u.output;
    expectChipHolds(u, image);
    // Polls paced to the line leave no backlog in front of "hi".
    double toH = statistic(u.simOutput, "greeting_to_h_ms");
    EXPECT_GE(toH, 0) << u.simOutput;
    EXPECT_LT(toH, 250) << u.simOutput;
}

// Ctrl-C (or SIGTERM) in the middle of a paced upload: the block being sent
// is named, the END frame still goes out (the simulator's --once ends with 0
// only after it), and the chip holds a prefix of the program.  (The port
// vanishes with the simulator; the command-line tests compare its settings.)
TEST(UploadInterrupted, BySignalInThePass) {
    PicProgram image;
    for (int a = 0; a < 0x400; ++a) image.setData(a, (a * 7 + 1) & 0x3FFF);
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const std::string dir = tempDir(), hex = dir + "/program.hex", chipPath = dir + "/chip.hex";
        ASSERT_TRUE(saveHex(image, hex));
        Sim sim;
        ASSERT_TRUE(sim.start({"--once", "--dump", chipPath}));
        Process uploader;
        ASSERT_TRUE(uploader.start({PROGRAM_UPLOADER, "-p", sim.port, hex}));
        std::string line;
        while (uploader.readLine(line, 10) && line.find("address range") == std::string::npos) {
        }
        ASSERT_NE(line.find("address range"), std::string::npos);
        poll(nullptr, 0, 300);
        uploader.signal(sig);
        EXPECT_EQ(uploader.wait(10), 0);
        EXPECT_EQ(sim.process.wait(5), 0) << "no END_PROGRAMMING after the interrupt";

        const std::string& out = uploader.output();
        const std::string mark = "\nERROR: Interrupted at address ";
        size_t at = out.find(mark);
        ASSERT_NE(at, std::string::npos) << out;
        EXPECT_EQ(out.substr(at + mark.size() + 4), "; the chip holds only part of the program.\n");
        const int stopped = std::stoi(out.substr(at + mark.size(), 4), nullptr, 16);
        EXPECT_GT(stopped, 0);
        EXPECT_LT(stopped, 0x400);
        PicProgram chip;
        ASSERT_TRUE(loadHex(chipPath, chip));
        for (int a = 0; a < 0x400; ++a) {
            // The block in flight may or may not have been written.
            ASSERT_TRUE(a >= stopped || chip.getData(a) == image.getData(a)) << a;
            ASSERT_TRUE(a < stopped + 4 || chip.getData(a) == PicProgram::BLANK) << a;
        }
    }
}

// Random images, random bootloader ranges, no pacing: the chip ends up
// holding each image outside the range, and nothing else.
TEST(UploadProperty, RandomImagesLandExactly) {
    std::mt19937 rng(20041215);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int rounds = 200;
    int overlapsSeen = 0;
    for (int round = 0; round < rounds; ++round) {
        PicProgram image;
        int runs = pick(0, 6);
        for (int r = 0; r < runs; ++r) {
            int start = pick(0, 0x1FFF), length = pick(1, 40);
            for (int a = start; a < start + length && a <= 0x1FFF; ++a)
                if (pick(0, 9)) image.setData(a, pick(0, 0xFFFF));  // high bits beyond 14 are masked in flight
        }
        for (int a = 0x2000; a <= 0x2007; ++a)
            if (pick(0, 3) == 0) image.setData(a, pick(0, 0x3FFF));
        int bytes = pick(0, 12);
        for (int i = 0; i < bytes; ++i) image.setData(0x2100 + pick(0, 255), pick(0, 0xFF));
        int lower = pick(0, 0x1FFF), upper = std::min(0x1FFF, lower + pick(0, 0x200));
        if (pick(0, 4) == 0) upper = 0x1FFF;
        protocol::Range range{lower, upper};
        char rangeText[16];
        snprintf(rangeText, sizeof rangeText, "%04X-%04X", lower, upper);
        bool ignore = pick(0, 1) == 1;
        UploadRun u = runUpload(image, fastWith({"--range", rangeText}), ignore ? std::vector<std::string>{"-o"}
                                                                             : std::vector<std::string>{});
        bool overlap = overlaps(image, range);
        overlapsSeen += overlap;
        SCOPED_TRACE("round " + std::to_string(round) + " range " + rangeText + (ignore ? " -o" : ""));
        if (overlap && !ignore) {
            EXPECT_EQ(u.uploader, 0) << u.output;
            EXPECT_EQ(readFile(u.chipPath()), "; Flash ROM data\n; Config data\n; EEPROM data\n; terminator\n:00000001FF\n");
        } else {
            EXPECT_EQ(u.uploader, 1) << u.output;
            expectChipHolds(u, image, range, ignore);
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(overlapsSeen, 10);
}

}  // namespace

// chipCheck from the outside: a chip whose bootloader keeps its own jump at
// 0000 (--slot), and a list of differences that is cut.
TEST(ChipCheck, SlotAndACutList) {
    const std::string dir = tempDir();
    PicProgram program, slotted, blank;
    for (int a = 0; a < 4; ++a) program.setData(a, 0x3000 + a);
    for (int a = 0x10; a < 0x2A; ++a) program.setData(a, 0x0100 + a);
    for (int a = 0x10; a < 0x2A; ++a) slotted.setData(a, 0x0100 + a);
    for (int a = 0; a < 4; ++a) slotted.setData(0x1FF8 + a, 0x3000 + a);  // block 0 in the slot
    slotted.setData(0, 0x2F00);                                            // the bootloader's jump
    const std::string programPath = dir + "/program.hex", chipPath = dir + "/chip.hex", blankPath = dir + "/blank.hex";
    ASSERT_TRUE(saveHex(program, programPath) && saveHex(slotted, chipPath) && saveHex(blank, blankPath));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string last;  // the output's last line
    };
    const Case cases[] = {
        {{chipPath}, 1, "  0003: chip -, expected 3003"},
        {{"--slot", "1FF8", chipPath}, 0, "chipCheck: " + chipPath + " holds exactly " + programPath + " outside 1F00-1FFF"},
        {{blankPath}, 1, "  ... and 10 more"},  // 30 words missing, 20 shown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> argv{CHIP_CHECK};
        argv.insert(argv.end(), c.args.begin(), c.args.end() - 1);
        argv.push_back(programPath);
        argv.push_back(c.args.back());
        Process check;
        ASSERT_TRUE(check.start(argv));
        EXPECT_EQ(check.wait(10), c.status);
        const std::string& out = check.output();
        const size_t lastStart = out.rfind('\n', out.size() - 2);
        EXPECT_EQ(out.substr(lastStart == std::string::npos ? 0 : lastStart + 1), c.last + "\n") << out;
    }
}
