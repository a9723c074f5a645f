// What the uploader writes on pipes, where scripts and test harnesses
// compare both streams: the classic lines and the hex reader's messages,
// nothing else.  Its additions (notes, reasons, hints, the summary) show on
// a terminal, or anywhere with --explain.
#include "simTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/file.h>

namespace {

const std::string BLINK = std::string(EXAMPLES_DIR) + "/blink/blink.inhx32.hex";  // it sets 2007, out of the pass's reach

// Every line the classic uploader can print, and nothing of ours.
bool isClassicLine(const std::string& line)
{
    static const std::regex classic(
        "|Waiting for the bootloader's greeting \\. \\. \\.( got it\\.)?"
        "|V Oruzavuver revision date: \\d{4}-\\d\\d-\\d\\d|             address range: [0-9A-F]{4}-[0-9A-F]{4}"
        "|  programming address [0-9A-F]{4}|Programming complete"
        "|WARNING: The bootloader's address space does not (start|end) on a block boundry\\."
        "|         Using [0-9A-F]{4} as the (lower|upper) address\\."
        "|(WARNING|ERROR): The program and the bootloader overlap\\."
        "| NOTICE: Good write test at address [0-9A-F]{4}, data == [0-9A-F]{4}"
        "|ERROR: (Bootloader test failure at address [0-9A-F]{4}, data == [0-9A-F]{4}"
        "|Could not establish communication with the bootloader\\.|Bad revision date\\."
        "|Timeout while waiting on bootloader response|Invalid address [0-9A-F]{4}"
        "|Unknown code \\(('.'|[0-9A-F]+)\\) from bootloader"
        "|Did not pass (checksum test while at|verification test at) address [0-9A-F]{4}"
        "|Unknown (command given to bootloader|error \\(('.'|[0-9A-F]+)\\) from bootloader) while at address [0-9A-F]{4})"
        "|Could not open (file|serial port) .*|Error reading from file .*|A filename must be specified\\."
        "|Invalid or unsupported serial data rate specified\\."
        "|Program uploader for use with the V Oruzavuver\\.|Usage:|\t.* \\[-o\\] \\[-q\\] \\[-p port\\] \\[-s speed\\] filename"
        "|-o\tIgnore an overlap between the new program and the bootloader\\."
        "|\tThe overlapping addresses cannot be written with a bootloader\\."
        "|-q\tQuery the bootloader for it's version and address space\\. Write|\tnothing to program ROM\\."
        "|-p\tSpecify the serial port to use\\. The default is .*\\."
        "|-s\tSpecify the speed for the serial port to use\\. The default|\tis 19200bps\\."
        "|\tA filename with the hex file to upload must be specified\\.");
    return std::regex_match(line, classic);
}

// The first line of out that the classic uploader never prints; "" for none.
std::string firstStrayLine(const std::string& out)
{
    size_t at = 0;
    while (at <= out.size()) {
        size_t end = out.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(at, end - at);
        if (!isClassicLine(line))
            return line.empty() ? "(empty)" : line;
        at = end + 1;
    }
    return "";
}

struct PipeCase {
    const char* name;
    std::vector<std::string> args;  // "PORT": the simulator's port, "BLINK": the example
    const char* fault;              // the simulator's --fault; nullptr: no simulator, "": one without faults
    std::string err;                // standard error, exactly
};

void PrintTo(const PipeCase& c, std::ostream* os) { *os << c.name; }

// A simulator when the case has one, and its port held by another program
// when the case asks for a busy one; a damaged hex file (a record that lost
// its ':') while it lives.
struct CaseLine {
    Sim sim;
    OwnedFd holder;
    std::string dir = tempDir();
    std::string damaged = dir + "/damaged.hex";
    CaseLine() { writeFile(damaged, ":020000040000FA\n1000100083120313\n:00000001FF\n"); }
    ~CaseLine() { std::filesystem::remove_all(dir); }
    bool open(const char* fault, bool busy)
    {
        if (!fault)
            return true;
        std::vector<std::string> args{"--baud", "0", "--write-ms", "0,0", "--once"};
        if (*fault)
            args.insert(args.end(), {"--fault", fault});
        if (!sim.start(args))
            return false;
        if (busy) {
            holder.reset(::open(sim.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
            flock(holder.get(), LOCK_EX);
        }
        return true;
    }
    std::vector<std::string> argv(std::vector<std::string> args) const
    {
        for (std::string& a : args)
            a = a == "PORT" ? sim.port : a == "BLINK" ? BLINK : a == "DAMAGED" ? damaged : a;
        args.insert(args.begin(), PROGRAM_UPLOADER);
        return args;
    }
};

class ExactOnAPipe : public ::testing::TestWithParam<PipeCase> {};

TEST_P(ExactOnAPipe, BothStreamsCarryOnlyTheClassicTexts)
{
    const PipeCase& c = GetParam();
    CaseLine line;
    ASSERT_TRUE(line.open(c.fault, std::string(c.name) == "busy port"));
    std::vector<std::string> argv = line.argv(c.args);
    ProgramRun run = runProgram({argv.begin() + 1, argv.end()});
    EXPECT_EQ(firstStrayLine(run.out), "") << run.out;
    EXPECT_EQ(run.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExactOnAPipe,
    ::testing::Values(
        PipeCase{"usage error", {"-oq", "-x", "BLINK"}, nullptr, ""},
        PipeCase{"refused speed", {"-s", "12345", "BLINK"}, nullptr, ""},
        PipeCase{"missing file", {"-p", "/nonexistent/tty", "missing.hex"}, nullptr, ""},
        PipeCase{"bad hex", {"-p", "/nonexistent/tty", "DAMAGED"}, nullptr,
                 "PicProgram::readHex - line 2 holds no record: '1000100083120313'\n"},
        PipeCase{"missing port", {"-p", "/nonexistent/tty", "BLINK"}, nullptr, ""},
        PipeCase{"busy port", {"-p", "PORT", "BLINK"}, "", ""},
        PipeCase{"query", {"-q", "-p", "PORT", "BLINK"}, "", ""},
        PipeCase{"upload with a configuration word", {"-s", "9600bps", "-p", "PORT", "a.hex", "BLINK"}, "", ""},
        PipeCase{"checksum", {"-p", "PORT", "BLINK"}, "checksum@3", ""},
        PipeCase{"verify", {"-p", "PORT", "BLINK"}, "verify@0005", ""},
        PipeCase{"refuse", {"-p", "PORT", "BLINK"}, "refuse@0004", ""},
        PipeCase{"silent", {"--wait", "1", "-p", "PORT", "BLINK"}, "silent@1", ""},
        PipeCase{"garbage", {"-p", "PORT", "BLINK"}, "garbage@2:5A", ""},
        PipeCase{"badready", {"-p", "PORT", "BLINK"}, "badready", ""},
        PipeCase{"writetest", {"-p", "PORT", "BLINK"}, "writetest", ""},
        PipeCase{"hangup", {"-p", "PORT", "BLINK"}, "hangup@3", ""},
        PipeCase{"mute-ident", {"--wait", "1", "-p", "PORT", "BLINK"}, "mute-ident", ""},
        PipeCase{"trickle", {"-p", "PORT", "BLINK"}, "trickle", ""},
        PipeCase{"late", {"--wait", "1", "-q", "-p", "PORT"}, "late@3", ""}),
    [](const ::testing::TestParamInfo<PipeCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// The additions of three cases, on pipes with --explain and on a terminal
// without it.
TEST(Additions, ShowWithExplainAndOnATerminal)
{
    struct Case {
        std::vector<std::string> args;
        const char* fault;
        std::string addition;  // its beginning
    };
    const Case cases[] = {
        {{"-p", "/nonexistent/tty", "BLINK"}, nullptr, "/nonexistent/tty does not exist"},
        {{"--wait", "1", "-q", "-p", "PORT"}, "late@5", "hint: No greeting came within 1 second"},
        {{"-p", "PORT", "BLINK"}, "", "WARNING: 1 configuration word was not written (2007)"},
    };
    for (const Case& c : cases) {
        for (bool terminal : {false, true}) {
            SCOPED_TRACE(c.addition + (terminal ? " on a terminal" : " with --explain"));
            CaseLine line;
            ASSERT_TRUE(line.open(c.fault, false));
            std::vector<std::string> argv = line.argv(c.args);
            std::string shown;
            if (terminal) {
                runOnTerminal(argv, 200, shown);
            } else {
                argv.insert(argv.begin() + 1, "--explain");
                ProgramRun run = runProgram({argv.begin() + 1, argv.end()});
                shown = run.out + run.err;
            }
            EXPECT_NE(shown.find(c.addition), std::string::npos) << shown;
        }
    }
}

} // namespace
