// The programUploader executable: command line, start-up failures, exit values.
#include "PicProgram.h"
#include "peer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace std::string_literals;

namespace {

const std::string PROGRAM = getenv("PROGRAM_UPLOADER") ? getenv("PROGRAM_UPLOADER") : "";

std::string usage(const std::string& port)
{
    return "\nProgram uploader for use with the V Oruzavuver.\n\nUsage:\n\t" + PROGRAM +
           " [-o] [-q] [-p port] [-s speed] filename\n\n"
           "-o\tIgnore an overlap between the new program and the bootloader.\n"
           "\tThe overlapping addresses cannot be written with a bootloader.\n"
           "-q\tQuery the bootloader for it's version and address space. Write\n"
           "\tnothing to program ROM.\n"
           "-p\tSpecify the serial port to use. The default is " + port + ".\n"
           "-s\tSpecify the speed for the serial port to use. The default\n"
           "\tis 19200bps.\n\n"
           "\tA filename with the hex file to upload must be specified.\n\n";
}

std::string readFile(const std::string& path)
{
    std::string text;
    if (FILE* file = fopen(path.c_str(), "r")) {
        for (int c; (c = fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        fclose(file);
    }
    return text;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/uploaderCliXXXXXX";
        dir = mkdtemp(pattern);
        PicProgram image;
        image.setData(0x10, 0x1234);
        good = save("good.hex", image);
        image.setData(0x1F10, 1);
        overlap = save("overlap.hex", image);
        bad = dir + "/bad.hex";
        FILE* file = fopen(bad.c_str(), "w");
        fputs(":0200000012349A\n:00000001FF\n", file);   // wrong checksum
        fclose(file);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0); }

    std::string save(const std::string& name, PicProgram& image)
    {
        std::string path = dir + "/" + name;
        FILE* file = fopen(path.c_str(), "w");
        image.writeHex(file);
        fclose(file);
        return path;
    }

    std::string dir, good, overlap, bad;
};

} // namespace

TEST_F(CommandLine, RunsThatCannotStart)
{
    const std::string rate = "Invalid or unsupported serial data rate specified.\n";
    const std::string noFile = "A filename must be specified.\n";
    const std::string longName = dir + "/" + std::string(240, 'n') + ".hex";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{}, usage("/dev/ttyS0")},
        {{"-x", "file.hex"}, usage("/dev/ttyS0")},
        {{"-S", "9600", "file.hex"}, usage("/dev/ttyS0")},
        {{"-"}, usage("/dev/ttyS0")},
        {{"-s", "115200", "file.hex"}, rate + usage("/dev/ttyS0")},
        {{"-s", "fast", "file.hex"}, rate + usage("/dev/ttyS0")},
        {{"-p", "/dev/ttyUSB0", "-z"}, usage("/dev/ttyUSB0")},
        {{"-p", "-s", "4800", "-z"}, usage("/dev/ttyS0")},
        {{"-o"}, noFile},
        {{""}, noFile},
        {{"missing.hex"}, "Could not open file missing.hex\n"},
        {{longName}, "Could not open file " + longName + "\n"},
        {{"-p", good, bad}, "Error reading from file " + bad + "\n"},
        {{"-p", "/nonexistent/tty", good}, "Could not open serial port /nonexistent/tty\n"},
        {{"-p", good, good}, "Could not open serial port " + good + "\n"},
    };
    const std::string goodBefore = readFile(good);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ProgramRun run = runProgram(c.args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err.rfind("PicProgram::readHex - ", 0) == 0, c.args.size() == 3 && c.args[2] == bad);
    }
    EXPECT_EQ(readFile(good), goodBefore);
}

TEST_F(CommandLine, ArgumentsReachTheUpload)
{
    struct Case {
        std::vector<std::string> args;   // "PTY" stands for the peer's port
        speed_t speed;
        int status;
        size_t frames;                   // after "hi", END_PROGRAMMING included
        bool overlapWarning;
        std::vector<std::string> replies;
    };
    const Case cases[] = {
        {{"-s", "9600bps", "-p", "PTY", good}, B9600, 1, 3, false, {}},
        {{"-s", "57600", "-p", "PTY", good}, B57600, 1, 3, false, {}},
        {{"-p", "-s", "4800", "-p", "PTY", "-q"}, B4800, 1, 1, false, {}},
        {{"-p", "-o", "PTY", overlap}, B19200, 1, 3, true, {}},
        {{"-p", "PTY", good, "-s"}, B19200, 1, 3, false, {}},
        {{"-p", "PTY", good, "-p"}, B19200, 1, 3, false, {}},
        {{"-p", "PTY", dir + "/missing.hex", good}, B19200, 1, 3, false, {}},
        {{"-oq", "-p", "PTY", overlap}, B19200, 1, 3, true, {}},
        {{"-quiet", "-p", "PTY"}, B19200, 1, 1, false, {}},
        {{"-q", "missing.hex", "-p", "PTY"}, B19200, 1, 1, false, {}},
        {{"-p", "PTY", overlap}, B19200, 0, 1, false, {}},
        {{"-p", "PTY", good}, B19200, 0, 2, false, {"!V\x10\x00>"s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        // Greets, notes the line speed the uploader set, answers the frames.
        PeerProcess peer([&](Bootloader& b) {
            b.greet();
            b.note(std::to_string(b.lineSpeed()));
            b.serve(c.replies);
        });
        std::vector<std::string> args = c.args;
        for (std::string& arg : args)
            if (arg == "PTY")
                arg = peer.port();
        ProgramRun run = runProgram(args);
        PeerLog log = peer.finish();
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(log.notes, std::to_string(c.speed));
        EXPECT_EQ(frames(afterHi(log.received)).size(), c.frames);
        EXPECT_EQ(run.out.find("WARNING: The program and the bootloader overlap.\n") != std::string::npos,
                  c.overlapWarning);
        EXPECT_EQ(run.out.find("\nProgramming complete\n") != std::string::npos, c.status == 1 && c.frames > 1);
    }
}

// The one run through the whole 30-second greeting window.
TEST_F(CommandLine, SilentBootloaderEndsAfterTheGreetingWindow)
{
    PeerProcess peer([](Bootloader& b) { b.awaitPoll(); });
    ProgramRun run = runProgram({"-q", "-p", peer.port()});
    PeerLog log = peer.finish();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\nWaiting for the bootloader's greeting . . ."
                       "\nERROR: Could not establish communication with the bootloader.\n");
    EXPECT_EQ(log.received.find_first_not_of('\r'), std::string::npos);
    // Polls are paced to the line: at most one a millisecond at 19200 bit/s.
    EXPECT_GT(log.received.size(), 100u);
    EXPECT_LT(log.received.size(), 31000u);
}
