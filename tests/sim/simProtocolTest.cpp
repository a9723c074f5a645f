// The simulator as a process on its pseudo-terminal, against the test's own
// minimal client: what only a real line shows (raw mode, --link, pacing,
// hang-up, the late start, stats, dumps, the command line).  What each byte
// makes the bootloader answer is bootloaderMachineTest.cpp's table.
#include "frames.h"
#include "simTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const Bytes READY_ONLY{'>'};

struct Session {
    Sim sim;
    std::unique_ptr<Client> client;
    bool open(std::vector<std::string> args, int baud = 19200) {
        if (!sim.start(args)) return false;
        client.reset(new Client(sim.port, baud));
        return client->ok() && client->identify().size() == 5;
    }
    Bytes exchange(const Bytes& command, size_t answer = 1) {
        client->sendFrame(command);
        return client->read(answer, 2);
    }
};

TEST(SimLine, RawBeforeThePeerSetsAnythingUp) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--once"}));
    // A slave left in its default cooked mode would echo the carriage return
    // and turn it into a line feed; the simulator made the line raw itself.
    int fd = open(sim.port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "\r", 1), 1);
    Bytes got(6);
    size_t n = 0;
    double end = now() + 2;
    while (n < 6 && now() < end) {
        ssize_t r = read(fd, got.data() + n, 6 - n);
        if (r > 0) n += size_t(r);
    }
    EXPECT_EQ(got, (Bytes{'K', 'K', 0xD4, 0x07, 15, 6}));
    close(fd);
    EXPECT_EQ(sim.process.wait(5), 1);  // the session ended without END_PROGRAMMING
}

std::string linkTarget(const std::string& path) {
    char target[256] = {};
    return readlink(path.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

TEST(SimLine, LinkNamesThePortAndGoesAtExit) {
    std::string dir = tempDir();
    std::string link = dir + "/port";
    Sim sim;
    ASSERT_TRUE(sim.start({"--link", link}));
    EXPECT_EQ(linkTarget(link), sim.port);
    EXPECT_EQ(sim.stop(), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(SimLine, LinkReplacesOnlyALink) {
    const std::string dir = tempDir();
    struct Case {
        const char* what;
        std::string path;
        bool made;
        std::string message;  // the refusal's line
    };
    const std::string file = dir + "/important.txt", folder = dir + "/folder", stale = dir + "/stale";
    ASSERT_TRUE(writeFile(file, "keep\n"));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/pts/no-such-port", stale.c_str()), 0);
    const Case cases[] = {
        {"a file", file, false, "bootloaderSim: " + file + " exists and is not a link; nothing was changed"},
        {"a directory", folder, false, "bootloaderSim: " + folder + " is a directory, not a link; nothing was changed"},
        {"a stale link", stale, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Process process;
        ASSERT_TRUE(process.start({BOOTLOADER_SIM, "--link", c.path}));
        std::string line;
        ASSERT_TRUE(process.readLine(line, 5));
        if (c.made) {
            EXPECT_EQ(linkTarget(c.path), line.substr(line.rfind(' ') + 1));
            process.signal(SIGTERM);
            EXPECT_EQ(process.wait(5), 0);
            struct stat st;
            EXPECT_NE(lstat(c.path.c_str(), &st), 0) << "the link outlived the run";
        } else {
            EXPECT_EQ(line, c.message);
            EXPECT_EQ(process.wait(5), 1);
        }
    }
    EXPECT_EQ(readFile(file), "keep\n");
    struct stat st;
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

TEST(SimLine, LinkTakenOverByAnotherRunStays) {
    const std::string link = tempDir() + "/port";
    Sim sim;
    ASSERT_TRUE(sim.start({"--link", link}));
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("/dev/pts/another-run", link.c_str()), 0);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_EQ(linkTarget(link), "/dev/pts/another-run");
}

// What stops the simulator before it offers a port, each with its reason.
TEST(SimStart, RefusedWithTheReason) {
    const std::string dir = tempDir();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;  // the first line on the simulator's output
    };
    const Case cases[] = {
        {{"--memory", dir + "/missing.hex"}, 1,
         "bootloaderSim: cannot open " + dir + "/missing.hex: No such file or directory"},
        {{"--dump", dir + "/no/chip.hex"}, 1,
         "bootloaderSim: cannot create " + dir + "/no/chip.hex: No such file or directory"},
        {{"--dump", dir}, 1, "bootloaderSim: cannot write " + dir + ": Is a directory"},
        {{"--range", "1FFF-1F00"}, 2, "bootloaderSim: bad --range 1FFF-1F00: LO is above HI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> argv{BOOTLOADER_SIM};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Process process;
        ASSERT_TRUE(process.start(argv));
        std::string line;
        EXPECT_TRUE(process.readLine(line, 5));
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(process.wait(5), c.status);
    }
}

TEST(SimStart, DumpFileKeptUntilTheDump) {
    // The --memory file of a run may be its --dump file too.
    const std::string dump = tempDir() + "/chip.hex";
    const std::string before = ":020000000528D1\n:00000001FF\n";
    ASSERT_TRUE(writeFile(dump, before));
    Sim sim;
    ASSERT_TRUE(sim.start({"--dump", dump}));
    EXPECT_EQ(readFile(dump), before);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_NE(readFile(dump), before);  // a blank chip's dump
}

TEST(SimGreeting, QueuedPollsPassOverAFreshOneAfterASecondGreetsAgain) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--baud", "0"}));
    Client client(sim.port);
    client.send(Bytes(50, 0x0D));
    EXPECT_EQ(client.read(6, 1).size(), 6u);
    EXPECT_TRUE(client.readQuiet(0.3).empty()) << "polls written before the greeting got greetings";
    usleep(800000);
    client.send({0x0D});
    EXPECT_EQ(client.read(6, 1).size(), 6u);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimFaults, HangupClosesTheLine) {
    Session s;
    ASSERT_TRUE(s.open({"--baud", "0", "--fault", "hangup@2"}));
    EXPECT_EQ(s.exchange(setAddress(0)), READY_ONLY);
    s.client->sendFrame(programBlock(1, 2, 3, 4));
    EXPECT_TRUE(s.client->read(1, 1).empty());
    EXPECT_EQ(s.sim.process.wait(5), 1);
}

TEST(SimFaults, TrickleSendsTheGreetingAtLineRate) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--fault", "trickle"}));
    Client client(sim.port, 2400);
    // 4.17 ms a character: the greeting cannot be whole sooner than its six
    // characters take after the poll, however late this side reads it.  (A
    // slow host only adds to the time.)
    const double t0 = now();
    client.send({0x0D});
    Bytes greeting = client.read(6, 5);
    EXPECT_EQ(greeting, (Bytes{'K', 'K', 0xD4, 0x07, 0x0F, 0x06}));
    EXPECT_GT(now() - t0, 5 * 0.004);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimFaults, LateIgnoresPollsUntilItsTime) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--baud", "0", "--fault", "late@1"}));
    double t0 = now();
    Client client(sim.port);
    ASSERT_TRUE(client.greet(3));
    EXPECT_GT(now() - t0, 0.9);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPacing, FollowsTheSpeedThePeerSet) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--write-ms", "0,0"}));
    Client client(sim.port, 2400);
    const double charTime = 10.0 / 2400;
    double t0 = now();
    client.send({0x0D});
    Bytes greeting = client.read(6, 1);
    double greetingAfter = now() - t0;
    EXPECT_EQ(greeting.size(), 6u);  // in one piece
    EXPECT_GT(greetingAfter, 7 * charTime * 0.95);  // the poll in, six characters out
    client.send({'h', 'i'});
    EXPECT_EQ(client.read(5, 1).size(), 5u);
    t0 = now();
    client.sendFrame(programBlock(1, 2, 3, 4));
    EXPECT_EQ(client.read(1, 1), READY_ONLY);
    EXPECT_GT(now() - t0, 11 * charTime * 0.95);  // ten bytes in, one out
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPacing, BaudZeroTurnsPacingOff) {
    Sim sim;
    ASSERT_TRUE(sim.start({"--baud", "0", "--write-ms", "0,0"}));
    Client client(sim.port, 2400);
    ASSERT_EQ(client.identify().size(), 5u);
    double t0 = now();
    for (int i = 0; i < 20; ++i) {
        client.sendFrame(programBlock(1, 2, 3, 4));
        ASSERT_EQ(client.read(1, 1), READY_ONLY);
    }
    EXPECT_LT(now() - t0, 20 * 11 * 10.0 / 2400 / 2);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimRun, OnceAndStatsAndMemoryKeptAcrossRuns) {
    std::string dir = tempDir();
    std::string chip = dir + "/chip.hex";
    {
        Session s;
        ASSERT_TRUE(s.open({"--once", "--stats", "--baud", "0", "--write-ms", "2,1", "--dump", chip}));
        EXPECT_EQ(s.exchange(setAddress(0)), READY_ONLY);
        EXPECT_EQ(s.exchange(programBlock(1, 2, 3, 4)), READY_ONLY);
        EXPECT_EQ(s.exchange(eepromBlock(1, 2, 3, 4)), READY_ONLY);
        s.client->sendFrame({1});
        EXPECT_EQ(s.sim.process.wait(5), 0);
        std::string out = s.sim.process.output();
        const char* names[] = {"frames: 3\n", "blocks: 2\n", "errors: 0\n", "bytes_in: ", "bytes_out: 14\n",
                               "session_s: ", "wire_s: ", "write_s: 0.006000\n", "greeting_to_h_ms: ",
                               "greeting_to_frame_ms: ", "turnaround_median_us: ", "turnaround_p99_us: ",
                               "turnaround_total_s: "};
        size_t at = 0;
        for (const char* name : names) {
            size_t found = out.find(name, at);
            EXPECT_NE(found, std::string::npos) << name << " in\n" << out;
            if (found != std::string::npos) at = found;
        }
    }
    {
        // The next run starts from the dump, keeps it and adds to it.
        Session s;
        ASSERT_TRUE(s.open({"--once", "--baud", "0", "--memory", chip, "--dump", chip}));
        EXPECT_EQ(s.exchange(setAddress(8)), READY_ONLY);
        EXPECT_EQ(s.exchange(programBlock(5, 6, 7, 8)), READY_ONLY);
        s.client->close();  // gone without END_PROGRAMMING
        EXPECT_EQ(s.sim.process.wait(5), 1);
    }
    // One current address serves both block kinds: the EEPROM block that
    // followed the program block at 0 landed at offset 4.
    EXPECT_EQ(readFile(chip), "; Flash ROM data\n:080000000100020003000400EE\n:080010000500060007000800CE\n"
                              "; Config data\n; EEPROM data\n:024208000100B3\n:02420A000200B0\n"
                              ":02420C000300AD\n:02420E000400AA\n; terminator\n:00000001FF\n");
}

TEST(SimRun, DumpThatCannotBeWrittenFails) {
    // Its folder was there at the start (checked) and is gone at the end.
    const std::string dir = tempDir() + "/gone";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    Session s;
    ASSERT_TRUE(s.open({"--once", "--baud", "0", "--dump", dir + "/chip.hex"}));
    ASSERT_EQ(rmdir(dir.c_str()), 0);
    s.client->sendFrame({1});
    EXPECT_EQ(s.sim.process.wait(5), 1);
    EXPECT_NE(s.sim.process.output().find("bootloaderSim: cannot create " + dir + "/chip.hex: No such file or directory"),
              std::string::npos) << s.sim.process.output();
}

TEST(SimRun, BadOptionsGiveUsageAndTwo) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--baud", "x"}, {"--range", "1F00"}, {"--range", "1G00-1FFF"}, {"--date", "2004-13-01"},
          {"--flash", "9000"}, {"--eeprom", "-1"}, {"--write-ms", "4"}, {"--fault", "checksum@0"},
          {"--fault", "garbage@3"}, {"--fault", "bogus"}, {"--fault", "late@x"}, {"--nonsense"}, {"extra"}}) {
        Process p;
        std::vector<std::string> argv{BOOTLOADER_SIM};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(p.start(argv));
        EXPECT_EQ(p.wait(5), 2) << args[0];
        EXPECT_NE(p.output().find("usage: bootloaderSim"), std::string::npos) << args[0];
    }
}

}  // namespace
