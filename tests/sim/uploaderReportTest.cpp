// What the uploader tells its user: the progress figures on a terminal (the
// uploader's standard output on a pseudo-terminal, against the simulator),
// the plain text on a pipe, the summary of words that did not reach the chip,
// help, version and the exit values.
#include "simTestSupport.h"
#include "uploads.h"

#include "PicProgram.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/wait.h>

namespace {

const std::vector<std::string> FAST{"--baud", "0", "--write-ms", "0,0"};

PicProgram imageOf(const std::vector<std::pair<int, int>>& words) {
    PicProgram image;
    for (const auto& w : words) image.setData(w.first, w.second);
    return image;
}

// Flash runs with a gap, a configuration word, EEPROM bytes.
const std::vector<std::pair<int, int>> SMALL{{0x0000, 0x2800}, {0x0001, 0x2801}, {0x0005, 0x2805}, {0x0123, 0x0123},
                                             {0x0128, 0x0128}, {0x2007, 0x3F72}, {0x2100, 0x12}, {0x2101, 0x34},
                                             {0x21FF, 0x56}};

// SMALL as program.hex in dir.
std::string savedSmall(const std::string& dir) {
    PicProgram image = imageOf(SMALL);
    const std::string path = dir + "/program.hex";
    return saveHex(image, path) ? path : "";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The pieces of a terminal's output between carriage returns and line feeds.
std::vector<std::string> segments(const std::string& out) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : out) {
        if (c == '\r' || c == '\n') {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

// A progress line "  programming address XXXX  [ k/total blocks  p%  m:ss
// elapsed, m:ss left]" (times may be -:--), padded with spaces; its k and total.
bool progressFigures(const std::string& line, int& sent, int& total) {
    unsigned start = 0;
    int share = 0, end = 0;
    char elapsed[16] = {}, left[16] = {};
    if (sscanf(line.c_str(), "  programming address %4X  [%d/%d blocks %d%%  %15s elapsed, %15s left]%n", &start, &sent,
               &total, &share, elapsed, left, &end) != 6 || end == 0)
        return false;
    auto isTime = [](const char* t) {
        unsigned m = 0, sec = 0;
        char tail = 0;
        return strcmp(t, "-:--") == 0 ||
               (sscanf(t, "%u:%2u%c", &m, &sec, &tail) >= 2 && sec < 60);
    };
    if (!isTime(elapsed) || !isTime(left) || share != 100 * sent / total) return false;
    return line.find_first_not_of(' ', size_t(end)) == std::string::npos;
}

// The progress line ends right before next: "]", spaces, "\r\n", then next.
bool lineEndedBefore(const std::string& out, const std::string& next) {
    size_t at = out.find("\r\n" + next);
    if (at == std::string::npos) return false;
    while (at > 0 && out[at - 1] == ' ') --at;
    return at > 0 && out[at - 1] == ']';
}

std::string afterComplete(const std::string& out) {
    const std::string complete = "\nProgramming complete\n";
    size_t at = out.find(complete);
    return at == std::string::npos ? "(no completion)" : out.substr(at + complete.size());
}

struct CountCase {
    const char* name;
    std::vector<std::pair<int, int>> words;
    std::vector<std::string> simArgs;
    std::vector<std::string> uploaderArgs;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class TerminalProgress : public ::testing::TestWithParam<CountCase> {};

// Every line counts the block it shows, the total is the number of blocks
// the simulator receives, and the last line is ended before what follows.
TEST_P(TerminalProgress, CountsExactlyTheBlocksTheSimulatorReceives) {
    const CountCase& c = GetParam();
    std::vector<std::string> simArgs = FAST;
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    UploadRun r = runUpload(imageOf(c.words), simArgs, c.uploaderArgs, 120);
    ASSERT_EQ(r.uploader, 1) << r.output;
    ASSERT_GT(r.simBlocks(), 0);
    int expected = 1;
    for (const std::string& s : segments(r.output)) {
        if (s.compare(0, 21, "  programming address") != 0) continue;
        int sent = 0, total = 0;
        ASSERT_TRUE(progressFigures(s, sent, total)) << s;
        EXPECT_EQ(total, r.simBlocks()) << s;
        // The final figures redraw the last block's line once more.
        EXPECT_EQ(sent, std::min(expected++, r.simBlocks())) << s;
    }
    EXPECT_EQ(expected, r.simBlocks() + 2) << r.output;
    EXPECT_TRUE(contains(r.output, "/" + std::to_string(r.simBlocks()) + " blocks  100%")) << r.output;
    EXPECT_TRUE(lineEndedBefore(r.output, "\nProgramming complete\n")) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Images, TerminalProgress,
    ::testing::Values(
        CountCase{"ConfigurationNotReached", SMALL, {}, {}},
        CountCase{"OverlapIgnoredWalksIntoConfiguration",
                  [] { auto w = SMALL; w.insert(w.end(), {{0x1F10, 1}, {0x1F20, 2}}); return w; }(), {}, {"-o"}},
        CountCase{"EepromOnly", {{0x2100, 1}, {0x2104, 2}, {0x2105, 3}, {0x2140, 4}}, {}, {}},
        CountCase{"FlashEndRunsIntoConfiguration", {{0x0000, 1}, {0x1FFF, 2}, {0x2007, 0x3F72}}, {"--range", "0100-01FF"}, {}}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return std::string(info.param.name); });

TEST(TerminalProgressLine, NeverWiderThanTheTerminal) {
    // 0 columns is a terminal that does not tell: 80 is assumed.
    for (int columns : {30, 60, 0}) {
        SCOPED_TRACE(columns);
        std::string out;
        const std::string dir = tempDir();
        const std::string hex = savedSmall(dir);
        Sim sim;
        ASSERT_TRUE(sim.start(FAST));
        int status = runOnTerminal({PROGRAM_UPLOADER, "-p", sim.port, hex}, static_cast<unsigned short>(columns), out);
        EXPECT_EQ(status, 1) << out;
        const size_t room = (columns ? columns : 80) - 1;
        int lines = 0;
        for (const std::string& s : segments(out)) {
            // The forecast, the prompt and the summary wrap too; the fixed
            // lines of the upload do not, nor does a word wider than a line.
            bool fixed = false;
            for (const char* text : {"Waiting for", "V Oruzavuver", "             address range"})
                fixed = fixed || s.compare(0, strlen(text), text) == 0;
            if (!fixed && s.find(' ', s.find_first_not_of(' ')) != std::string::npos) {
                EXPECT_LE(s.size(), room) << s;
            }
            if (s.compare(0, 21, "  programming address") != 0) continue;
            ++lines;
        }
        EXPECT_TRUE(contains(out, "WARNING: 1 configuration word")) << out;
        EXPECT_GT(lines, 0) << out;
        EXPECT_EQ(columns == 0, contains(out, " elapsed, ")) << out;
        sim.stop();
        EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
    }
}

TEST(TerminalProgressLine, AnErrorStartsOnAFreshLineAndTheForecastComesFirst) {
    std::vector<std::string> simArgs = FAST;
    simArgs.insert(simArgs.end(), {"--fault", "checksum@3"});
    UploadRun r = runUpload(imageOf(SMALL), simArgs, {}, 120);
    EXPECT_EQ(r.uploader, 0) << r.output;
    EXPECT_TRUE(lineEndedBefore(r.output, "\nERROR: Did not pass checksum test while at address 0004\n")) << r.output;
    // Standard error is the terminal too: the line before the wait, which
    // names the port, and after the error the hint, both wrapped to the
    // terminal's width less one.
    std::string unwrapped = r.output;
    for (size_t at = 0; (at = unwrapped.find("\n  ", at)) != std::string::npos; ++at)
        if (unwrapped.compare(at + 3, 1, " ") != 0 && unwrapped.compare(at + 3, 11, "programming") != 0)
            unwrapped.replace(at, 3, " ");
    const size_t forecast = unwrapped.find("/program.hex: 5 flash words, 1 configuration word, 3 EEPROM bytes; 6 blocks "
                                           "to send, about 0:01 at 19200 bit/s on /dev/");
    EXPECT_LT(forecast, unwrapped.find("\nWaiting for the bootloader's greeting")) << r.output;
    EXPECT_NE(unwrapped.find("\nERROR: Did not pass checksum test while at address 0004\nhint: Block 0004 arrived "
                             "damaged (a wrong checksum): noise on the line. Check the cable and run the upload "
                             "again.\n"),
              std::string::npos)
        << r.output;
    for (const std::string& line : segments(r.output))
        EXPECT_LE(line.size(), 119u) << line;
}

// With --trace on the same terminal, each trace line starts on a line of its
// own, below the progress line; the progress line goes on after it.
TEST(TerminalProgressLine, TraceLinesStartBelowIt) {
    UploadRun r = runUpload(imageOf(SMALL), FAST, {"--trace"}, 80);
    EXPECT_EQ(r.uploader, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "]\r\ntrace ")) << r.output;
    EXPECT_FALSE(contains(r.output, "]trace ")) << r.output;
    EXPECT_FALSE(contains(r.output, ". . .trace ")) << r.output;  // nor beside the greeting wait's dots
    EXPECT_TRUE(contains(r.output, "\ntrace     ")) << r.output;
    EXPECT_TRUE(contains(r.output, " -> 01 FF  end command: the trace ends here\n")) << r.output;
}

// On a pipe the lines are the plain ones, byte for byte.
TEST(PipeOutput, IsThePlainTextAlone) {
    UploadRun r = runUpload(imageOf(SMALL), FAST, {});
    EXPECT_EQ(r.uploader, 1);
    EXPECT_EQ(r.output, "\nWaiting for the bootloader's greeting . . . got it.\n"
                     "V Oruzavuver revision date: 2004-06-15\n"
                     "             address range: 1F00-1FFF\n"
                     "  programming address 0000\r  programming address 0004\r  programming address 0120\r"
                     "  programming address 0128\r  programming address 2100\r  programming address 21FC\r"
                     "\nProgramming complete\n");
}

struct SummaryCase {
    const char* name;
    std::string hex;
    std::vector<std::string> uploaderArgs;
    const char* summary;
};

void PrintTo(const SummaryCase& c, std::ostream* os) { *os << c.name; }

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, NamesWhatDidNotReachTheChip) {
    const SummaryCase& c = GetParam();
    const std::string dir = tempDir();
    ASSERT_TRUE(writeFile(dir + "/program.hex", c.hex));
    std::vector<std::string> args = c.uploaderArgs;
    args.push_back("--explain");
    UploadRun r = runUpload(dir + "/program.hex", FAST, args);
    EXPECT_EQ(r.uploader, 1) << r.output;
    EXPECT_EQ(afterComplete(r.output), c.summary) << r.output;
    // The reader's own line for each dropped word still comes first.
    EXPECT_EQ(contains(r.output, "PicProgram::readHex - invalid address 8000\n"), contains(c.summary, "8000"));
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

const std::string END = ":00000001FF\n";

INSTANTIATE_TEST_SUITE_P(
    Kinds, Summary,
    ::testing::Values(
        SummaryCase{"EverythingWritten", hexRecord(0, 0, {1, 0, 2, 0}) + hexRecord(0, 0x4200, {7, 0}) + END, {}, ""},
        SummaryCase{"ConfigurationWords", hexRecord(0, 0, {1, 0}) + hexRecord(0, 0x4000, {1, 0}) + hexRecord(0, 0x400C, {2, 0, 0x72, 0x3F}) + END, {},
                    "WARNING: 3 configuration words were not written (2000, 2006-2007): the\n"
                    "         programming pass did not reach them. Set them with a hardware\n"
                    "         programmer.\n"},
        SummaryCase{"InsideTheBootloadersRange",
                    hexRecord(0, 0x3E20, {1, 0, 2, 0}) + hexRecord(0, 0x3E40, {3, 0}) + hexRecord(0, 0x400E, {0x72, 0x3F}) + END,
                    {"-o"},
                    "WARNING: 3 words inside the bootloader's range 1F00-1FFF were skipped (-o):\n"
                    "         1F10-1F11, 1F20.\n"},
        SummaryCase{"AddressesTheChipDoesNotHave",
                    hexRecord(0, 0, {1, 0}) + hexRecord(4, 0, {0, 1}) + hexRecord(0, 0, {1, 0, 2, 0}) + END, {},
                    "WARNING: 2 words at addresses the chip does not have were dropped when the file\n"
                    "         was read: 8000-8001.\n"},
        SummaryCase{"WiderThanTheChipKeeps",
                    hexRecord(0, 0, {0xFF, 0x7F, 0x00, 0x40, 0xFF, 0x3F}) + hexRecord(0, 0x4200, {0xFF, 0x01, 0x12, 0x00}) + END, {},
                    "WARNING: 2 flash or configuration words were wider than 14 bits (0000-0001):\n"
                    "         the chip kept the low 14 bits.\n"
                    "WARNING: 1 EEPROM value was above 0xFF (2100): the chip kept the low byte.\n"}),
    [](const ::testing::TestParamInfo<SummaryCase>& info) { return std::string(info.param.name); });

// 1 success, 0 failure, 255 cannot start by default; 0, 1, 2 on request.
TEST(ExitStatus, ConventionalValues) {
    const std::string dir = tempDir();
    const std::string good = savedSmall(dir);
    struct Case {
        std::vector<std::string> simArgs;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {FAST, {"--exit-status=conventional"}, 0},
        {{"--baud", "0", "--write-ms", "0,0", "--fault", "checksum@3"}, {"--exit-status", "conventional"}, 1},
        {{"--baud", "0", "--write-ms", "0,0", "--range", "0000-00FF"}, {"--exit-status=conventional"}, 1},
        {FAST, {"--exit-status=classic"}, 1},
    };
    for (const Case& c : cases) {
        UploadRun r = runUpload(good, c.simArgs, c.args);
        EXPECT_EQ(r.uploader, c.status) << r.output;
    }
    struct StartCase {
        std::vector<std::string> args;
        int status;
    } starts[] = {
        {{"--exit-status=conventional", dir + "/missing.hex"}, 2},
        {{"-x", "--exit-status=conventional", good}, 2},
        {{"--unknown", "--exit-status=conventional", good}, 2},
        {{"--exit-status=sometimes", good}, 255},
        {{"-p", "/nonexistent/port", "--exit-status=conventional", good}, 2},
    };
    for (const StartCase& c : starts) {
        std::vector<std::string> argv{PROGRAM_UPLOADER};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Process p;
        ASSERT_TRUE(p.start(argv));
        EXPECT_EQ(p.wait(10), c.status) << c.args[0] << " " << c.args[1] << "\n" << p.output();
    }
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

// What a shell command prints on its standard output, and its exit status.
int capture(const std::string& command, std::string& out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -2;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HelpAndVersion, AllFourPrograms) {
    struct Case {
        std::string program;
        const char* name;
    } programs[] = {
        {PROGRAM_UPLOADER, "programUploader"}, {BOOTLOADER_SIM, "bootloaderSim"},
        {PIC_HEX, "picHex"}, {CHIP_CHECK, "chipCheck"},
    };
    for (const Case& c : programs) {
        SCOPED_TRACE(c.name);
        std::string version, help;
        EXPECT_EQ(capture(c.program + " --version 2>/dev/null", version), 0);
        EXPECT_EQ(version, std::string(c.name) + " " + PIC_TOOLS_VERSION + "\n");
        EXPECT_EQ(capture(c.program + " --help 2>/dev/null", help), 0);
        EXPECT_TRUE(contains(help, "--version")) << help;
    }
    // Every long option the uploader takes is in its help.
    std::string help;
    EXPECT_EQ(capture(std::string(PROGRAM_UPLOADER) + " --help", help), 0);
    for (const char* option : {"--help", "--version", "--exit-status=", "--reset[=", "--reset-ms=", "--list-ports", "--wait="})
        EXPECT_TRUE(contains(help, std::string("\n  ") + option)) << option << "\n" << help;
    // The uploader's single letters keep their rule: -h is an unknown
    // option.  An unknown long option names itself on standard error.
    std::string out;
    EXPECT_EQ(capture(std::string(PROGRAM_UPLOADER) + " -h 2>/dev/null", out), 255);
    EXPECT_TRUE(contains(out, "Usage:")) << out;
    out.clear();
    EXPECT_EQ(capture(std::string(PROGRAM_UPLOADER) + " --foo x.hex 2>&1 >/dev/null", out), 255);
    EXPECT_EQ(out, "unknown option --foo\n");
}

}  // namespace
