// picSim as a real process on a real pseudo-terminal, running the test
// firmwares built from echo.asm, monitor.asm, txstall.asm and txen.asm.  Each gpsim
// defect that picSim repairs is shown twice: repaired, and left in place
// with --gpsim-defect, where the same exchange goes wrong.
#include "PicProgram.h"
#include "ownedHandles.h"
#include "simTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const std::string FIRMWARE_DIR = PICSIM_FIRMWARE_DIR;
const std::string ECHO_FIRMWARE = FIRMWARE_DIR + "/echo.hex";
const std::string MONITOR_FIRMWARE = FIRMWARE_DIR + "/monitor.hex";
const std::string TX_STALL_FIRMWARE = FIRMWARE_DIR + "/txstall.hex";
const std::string TXEN_FIRMWARE = FIRMWARE_DIR + "/txen.hex";

constexpr double CYCLES_PER_SECOND = 5e6;  // 20 MHz / 4
constexpr int TICK_CYCLES = 8;             // the monitor's TMR1 prescaler
constexpr uint8_t EEIF = 1 << 4;           // in PIR2
constexpr int WRITE_TICKS = 4e-3 * CYCLES_PER_SECOND / TICK_CYCLES;  // 4 ms

struct PicSim {
    Process process;
    std::string port;
    bool start(std::vector<std::string> args) {
        args.insert(args.begin(), PICSIM);
        std::string line;
        const std::string prefix = "picSim: port ";
        if (!process.start(args) || !process.readLine(line, 10) || line.compare(0, prefix.size(), prefix) != 0)
            return false;
        port = line.substr(prefix.size());
        return true;
    }
    int stop() {
        process.signal(SIGTERM);
        return process.wait(10);
    }
};

// Writes an image holding the given image address/value pairs.
std::string imageFile(const std::string& dir, const std::string& name, const std::vector<std::pair<int, int>>& words) {
    PicProgram image;
    for (auto [address, value] : words) image.setData(address, value);
    std::string path = dir + "/" + name;
    OwnedFile f(fopen(path.c_str(), "w"));
    if (!f || !image.writeHex(f.get())) ADD_FAILURE() << "cannot write " << path;
    return path;
}

bool loadImage(const std::string& path, PicProgram& image) {
    OwnedFile f(fopen(path.c_str(), "r"));
    return f && image.readHex(f.get());
}

// A copy of a firmware with its configuration word changed.
std::string withConfig(const std::string& dir, const std::string& firmwareHex, int clear, int set) {
    PicProgram firmware;
    if (!loadImage(firmwareHex, firmware)) ADD_FAILURE() << "cannot read " << firmwareHex;
    std::vector<std::pair<int, int>> words;
    for (int a = 0; a < 0x2000; ++a) {
        if (firmware.getData(a) != PicProgram::BLANK) words.push_back({a, firmware.getData(a)});
    }
    words.push_back({0x2007, (firmware.getData(0x2007) & ~clear) | set});
    return imageFile(dir, "config.hex", words);
}

int word(const std::vector<uint8_t>& b, size_t at) { return b.size() >= at + 2 ? b[at] | (b[at + 1] << 8) : -1; }

// The monitor's side of a test: a client that knows its commands.
struct Monitor {
    Client client;
    explicit Monitor(const std::string& port, int baud = 19200) : client(port, baud) {}
    // The monitor answers '?' to what it does not know: once that comes
    // back, it is listening (a '>' from its start may come first).
    bool ready() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            client.send({'x'});
            for (std::vector<uint8_t> b = client.read(1, 2); !b.empty(); b = client.read(1, 2))
                if (b[0] == '?') return true;
        }
        return false;
    }
    int writeProgram(int address, int value) {  // answers the ticks
        client.send({'W', uint8_t(address), uint8_t(address >> 8), uint8_t(value), uint8_t(value >> 8)});
        std::vector<uint8_t> got = client.read(3, 5);
        return got.size() == 3 && got[0] == 'w' ? word(got, 1) : -1;
    }
    int readProgram(int address) {
        client.send({'R', uint8_t(address), uint8_t(address >> 8)});
        return word(client.read(2, 5), 0);
    }
    std::vector<int> readBlock(int start) {
        std::vector<int> words;
        for (int i = 0; i < 4; ++i) words.push_back(readProgram(start + i));
        return words;
    }
    // Answers the ticks; eeif tells whether the write set EEIF.
    int writeEeprom(int offset, int value, bool* eeif = nullptr) {
        client.send({'E', uint8_t(offset), uint8_t(value)});
        std::vector<uint8_t> got = client.read(4, 5);
        if (eeif) *eeif = got.size() == 4 && (got[3] & EEIF);
        return got.size() == 4 && got[0] == 'e' ? word(got, 1) : -1;
    }
    // Also gives EEDATH as the read left it.
    int readEeprom(int offset, int* eedath = nullptr) {
        client.send({'e', uint8_t(offset)});
        std::vector<uint8_t> got = client.read(2, 5);
        if (eedath) *eedath = got.size() == 2 ? got[1] : -1;
        return got.size() == 2 ? got[0] : -1;
    }
};

// Sends bytes in chunks of 16 at the line's pace while collecting what
// comes back, with at most `ahead` chunks unanswered (then up to 0.2 s for
// an answer before the next goes anyway: garbage comes back short).
// atChunk(sent) runs before each chunk.  A chip whose UART runs at the
// line's speed echoes any backlog without loss, such as one that piles up
// while a busy machine holds picSim up.
std::vector<uint8_t> exchangePaced(Client& client, const std::vector<uint8_t>& bytes, int baud, size_t ahead = 1,
                                   const std::function<void(size_t)>& atChunk = nullptr) {
    const double characterTime = 10.0 / baud;
    const size_t chunk = 16;
    const double answerWait = 0.2;
    std::vector<uint8_t> got;
    for (size_t sent = 0; sent < bytes.size(); sent += chunk) {
        if (atChunk) atChunk(sent);
        double give = now() + answerWait;
        while (got.size() + ahead * chunk < sent && now() < give) {
            std::vector<uint8_t> part = client.read(64, give - now());
            got.insert(got.end(), part.begin(), part.end());
        }
        client.send(std::vector<uint8_t>(bytes.begin() + long(sent), bytes.begin() + long(std::min(sent + chunk, bytes.size()))));
        double next = now() + double(chunk) * characterTime;
        while (now() < next) {
            std::vector<uint8_t> part = client.read(64, next - now());
            got.insert(got.end(), part.begin(), part.end());
        }
    }
    // A machine too slow for real time falls behind, but loses nothing:
    // wait while bytes still come.
    while (got.size() < bytes.size()) {
        std::vector<uint8_t> rest = client.read(bytes.size() - got.size(), 2);
        if (rest.empty()) break;
        got.insert(got.end(), rest.begin(), rest.end());
    }
    return got;
}

std::vector<uint8_t> pattern(size_t count) {
    std::vector<uint8_t> bytes;
    uint32_t x = 12345;
    for (size_t i = 0; i < count; ++i) {
        x = x * 1103515245u + 12345u;
        bytes.push_back(uint8_t(x >> 16));
    }
    return bytes;
}

// A clock and SPBRG (BRGH=1) for each speed, the echo firmware reading
// SPBRG from data EEPROM byte 0.  Each UART runs at least as fast as the
// line: 57600 bit/s at 20 MHz would be 56818, and an echo of bytes that
// arrive back to back would overrun, as on a real chip.
struct LineSpeed {
    int baud;
    int spbrg;
    const char* clockHz;
};

const LineSpeed EXACT_57600{57600, 19, "18432000"};  // 18.432 MHz / (16 * 20)

std::string statsFigure(const std::string& output, const std::string& name) {
    size_t at = output.find(name + ": ");
    return at == std::string::npos ? "missing" : output.substr(at + name.size() + 2, output.find('\n', at) - at - name.size() - 2);
}

// picSim running the echo firmware at the given speed.
void startEcho(PicSim& sim, const std::string& dir, const LineSpeed& speed, std::vector<std::string> extra = {}) {
    std::string spbrg = imageFile(dir, "speed.hex", {{PicProgram::EEPROM_START, speed.spbrg}});
    std::vector<std::string> args{"--firmware", ECHO_FIRMWARE, "--memory", spbrg, "--clock", speed.clockHz};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim.start(args));
}

// A byte that reaches RC7 before the firmware has turned its receiver on
// (picSim may take the first bytes before the chip's first cycles on a busy
// machine) comes back garbled or not at all: the echo is answered once
// before the stream.  'x' read from its first falling data bit is 0xFF.
bool echoListening(Client& client) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        client.send({'x'});
        if (client.read(1, 5) == std::vector<uint8_t>{'x'}) return true;
    }
    return false;
}

class PicSimEcho : public ::testing::TestWithParam<LineSpeed> {};

TEST_P(PicSimEcho, ThousandsOfBytesComeBackUnchanged) {
    PicSim sim;
    ASSERT_NO_FATAL_FAILURE(startEcho(sim, tempDir(), GetParam()));
    Client client(sim.port, GetParam().baud);
    ASSERT_TRUE(echoListening(client));
    std::vector<uint8_t> bytes = pattern(2000);
    EXPECT_EQ(exchangePaced(client, bytes, GetParam().baud), bytes);
    EXPECT_EQ(sim.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Speeds, PicSimEcho,
                         ::testing::Values(LineSpeed{9600, 129, "20000000"}, LineSpeed{19200, 64, "20000000"},
                                           EXACT_57600),
                         [](const auto& info) { return std::to_string(info.param.baud); });

// picSim stopped for 300 ms in the middle of an echo while the sender goes
// on: it takes the backlog at once and puts it on RC7 back to back, in
// simulated time, and a UART at the line's speed keeps up with every byte.
TEST(PicSimLine, AStoppedPicSimEchoesTheBacklogWithoutOverrun) {
    PicSim sim;
    ASSERT_NO_FATAL_FAILURE(startEcho(sim, tempDir(), EXACT_57600, {"--stats"}));
    Client client(sim.port, EXACT_57600.baud);
    ASSERT_TRUE(echoListening(client));
    std::vector<uint8_t> bytes = pattern(6000);
    double stoppedAt = -1;
    bool continued = false;
    auto stopMidway = [&](size_t sent) {
        if (stoppedAt < 0 && sent >= bytes.size() / 2) {
            sim.process.signal(SIGSTOP);
            stoppedAt = now();
        } else if (stoppedAt >= 0 && !continued && now() - stoppedAt >= 0.3) {
            sim.process.signal(SIGCONT);
            continued = true;
        }
    };
    // Never waiting for answers: the backlog is all that was sent meanwhile.
    std::vector<uint8_t> got = exchangePaced(client, bytes, EXACT_57600.baud, bytes.size(), stopMidway);
    if (!continued) sim.process.signal(SIGCONT);
    EXPECT_TRUE(continued);
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_EQ(statsFigure(sim.process.output(), "rx_overruns"), "0") << sim.process.output();
}

// The receiver sees bad stop bits too, and FERR is set for them.
TEST(PicSimLine, ASpeedTheFirmwareDoesNotUseGivesGarbage) {
    PicSim sim;
    ASSERT_TRUE(sim.start({"--firmware", ECHO_FIRMWARE, "--fast", "--stats"}));  // SPBRG for 19200
    Client client(sim.port, 9600);
    std::vector<uint8_t> bytes = pattern(200);
    std::vector<uint8_t> got = exchangePaced(client, bytes, 9600);
    EXPECT_NE(got, bytes);
    EXPECT_EQ(sim.stop(), 0);
    const std::string key = "rx_framing_errors: ";
    size_t at = sim.process.output().find(key);
    ASSERT_NE(at, std::string::npos) << sim.process.output();
    EXPECT_GE(atoi(sim.process.output().c_str() + at + key.size()), 1);
}

TEST(PicSimLine, BytesKeepTheSpeedTheyWereSentAtWhenTheLineChangesRightAfter) {
    PicSim sim;
    ASSERT_TRUE(sim.start({"--firmware", MONITOR_FIRMWARE, "--dump", tempDir() + "/dump.hex"}));
    Monitor monitor(sim.port);
    ASSERT_TRUE(monitor.ready());
    // Four word writes, one block, 20 bytes in one write: 10 ms on the wire
    // at 19200 bit/s.  The line goes to 9600 bit/s once the first answer
    // has come: picSim took the 20 bytes in one read before the chip had
    // the first 5, and (on a machine that keeps up) most are still on their
    // way.  However late the test or picSim runs, no byte is read after the
    // change.
    std::vector<uint8_t> commands;
    for (uint8_t i = 0; i < 4; ++i) commands.insert(commands.end(), {'W', uint8_t(i), 0x10, uint8_t(0xA0 + i), 0x00});
    monitor.client.send(commands);
    ASSERT_EQ(monitor.client.read(1, 5).size(), 1u);
    OwnedFd other(open(sim.port.c_str(), O_RDWR | O_NOCTTY));
    termios t;
    ASSERT_EQ(tcgetattr(other.get(), &t), 0);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(other.get(), TCSANOW, &t);
    monitor.client.readQuiet(0.1);  // the answers, garbled at 9600
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(other.get(), TCSANOW, &t);
    ASSERT_TRUE(monitor.ready());
    EXPECT_EQ(monitor.readBlock(0x1000), std::vector<int>({0xA0, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(sim.stop(), 0);
}

TEST(PicSimLine, AnRc6ThatIsAnInputSendsNothingUnlessRepaired) {
    for (bool repaired : {true, false}) {
        PicSim sim;
        std::vector<std::string> args{"--firmware", ECHO_FIRMWARE, "--fast"};
        if (!repaired) args.insert(args.end(), {"--gpsim-defect", "tx-pin"});
        ASSERT_TRUE(sim.start(args));
        Client client(sim.port);
        client.send({'a', 'b', 'c'});
        std::vector<uint8_t> got = client.read(3, repaired ? 5 : 0.5);
        EXPECT_EQ(got == std::vector<uint8_t>({'a', 'b', 'c'}), repaired);
        EXPECT_EQ(sim.stop(), 0);
    }
}

TEST(PicSimLine, TwoBytesInTheReceiveFifoComeOutInOrderOnlyWhenRepaired) {
    for (bool repaired : {true, false}) {
        PicSim sim;
        std::vector<std::string> args{"--firmware", MONITOR_FIRMWARE, "--fast"};
        if (!repaired) args.insert(args.end(), {"--gpsim-defect", "rx-fifo"});
        ASSERT_TRUE(sim.start(args));
        Monitor monitor(sim.port);
        ASSERT_TRUE(monitor.ready());
        monitor.client.send({'P', '1', '2'});
        std::vector<uint8_t> expected = repaired ? std::vector<uint8_t>{'1', '2'} : std::vector<uint8_t>{'1', '1'};
        EXPECT_EQ(monitor.client.read(2, 5), expected) << (repaired ? "repaired" : "gpsim's own FIFO");
        EXPECT_EQ(sim.stop(), 0);
    }
}

// A USART set up again, as an application does after a bootloader: each
// repair left out loses its own part of "xabcd".
TEST(PicSimLine, AUsartSetUpAgainSendsEveryByteOnlyWhenRepaired) {
    const struct {
        const char* defect;
        std::string expected;
    } cases[] = {
        {nullptr, "xabcd"},
        {"tx-write", "xacd"},                        // "ab" written back to back
        {"tx-clock", std::string("xab\0", 4)},     // stuck in the start bit after SPBRG was set
    };
    for (const auto& c : cases) {
        PicSim sim;
        std::vector<std::string> args{"--firmware", TXEN_FIRMWARE, "--fast"};
        if (c.defect) args.insert(args.end(), {"--gpsim-defect", c.defect});
        ASSERT_TRUE(sim.start(args));
        Client client(sim.port);
        client.send({'g'});
        std::vector<uint8_t> got = client.readQuiet(0.3);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.expected) << (c.defect ? c.defect : "repaired");
        EXPECT_EQ(sim.stop(), 0);
    }
}

TEST(PicSimLine, ATransmitterStuckByALateTxifIsRestarted) {
    for (bool repaired : {true, false}) {
        PicSim sim;
        std::vector<std::string> args{"--firmware", TX_STALL_FIRMWARE, "--fast", "--stats"};
        if (!repaired) args.insert(args.end(), {"--gpsim-defect", "tx-stall"});
        ASSERT_TRUE(sim.start(args));
        Client client(sim.port);
        client.send({'g'});
        std::vector<uint8_t> got = client.read(16 * 102 * 2 + 1, repaired ? 20 : 2);
        std::string text(got.begin(), got.end());
        std::string expected;
        for (int i = 0; i < 16 * 102; ++i) expected += "AB";
        expected += "Z";
        EXPECT_EQ(text == expected, repaired) << got.size() << " bytes";
        EXPECT_EQ(sim.stop(), 0);
        if (repaired) {
            const std::string key = "repair_tx_stall: ";
            size_t at = sim.process.output().find(key);
            ASSERT_NE(at, std::string::npos) << sim.process.output();
            EXPECT_GE(atoi(sim.process.output().c_str() + at + key.size()), 1);
        }
    }
}

// Real time never runs ahead of the clock: a simulated second takes at least
// a second, however fast the host.  Whether a host keeps up with the clock
// is its speed, a figure of bench/picSimPace.sh, not a check here: a busy
// host only makes the run slower.
TEST(PicSimRun, RealTimeNeverRunsAheadOfTheClock) {
    const double clock = 4e6;
    PicSim sim;
    const double begin = now();
    ASSERT_TRUE(sim.start({"--firmware", ECHO_FIRMWARE, "--clock", "4000000", "--seconds", "1", "--stats"}));
    ASSERT_EQ(sim.process.wait(60), 0);
    EXPECT_GE(now() - begin, 0.97);
    const std::string& out = sim.process.output();
    size_t at = out.find("cycles_per_s: ");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_LE(atof(out.c_str() + at + 14), 1.03 * clock / 4) << out;
}

TEST(PicSimRun, SecondsStopsAtThatSimulatedTime) {
    PicSim sim;
    ASSERT_TRUE(sim.start({"--firmware", ECHO_FIRMWARE, "--fast", "--seconds", "0.2", "--stats"}));
    ASSERT_EQ(sim.process.wait(10), 0);
    EXPECT_NE(sim.process.output().find("cycles: 1000000\n"), std::string::npos) << sim.process.output();
}

// Each row: the monitor's starts after the pulses at 300 and 600 ms, and
// SPBRG as the monitor found it after the last (the chip's reset clears it).
// The run ends at 900 ms of simulated time and closes the port, which ends
// every read: the reads wait for that, however slowly the chip's time runs.
TEST(PicSimRun, ResetAtPullsMclrAtThoseTimes) {
    const struct {
        const char* defect;
        std::vector<uint8_t> starts;
        std::vector<uint8_t> spbrg;
    } cases[] = {
        {nullptr, {'>', '>'}, {0}},
        {"mclr-resume", {}, {}},      // the processor never leaves reset
        {"mclr-usart", {'>', '>'}, {64}},  // SPBRG as the monitor set it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect ? c.defect : "repaired");
        PicSim sim;
        std::vector<std::string> args{"--firmware", MONITOR_FIRMWARE, "--reset-at", "300", "--reset-at", "600", "--seconds", "0.9"};
        if (c.defect) args.insert(args.end(), {"--gpsim-defect", c.defect});
        ASSERT_TRUE(sim.start(args));
        Monitor monitor(sim.port);
        ASSERT_TRUE(monitor.ready());  // within the first 300 ms
        EXPECT_EQ(monitor.client.read(2, 20), c.starts);  // one start after each pulse
        monitor.client.send({'S'});
        // Only the answer, no third start.
        EXPECT_EQ(monitor.client.read(2, 20), c.spbrg);
        EXPECT_EQ(sim.process.wait(20), 0);
    }
}

// Resets from outside, in one run: the monitor sends '>' once after each.
// Labelled to stay out of the sanitizer run (it adds nothing the other
// picSim runs do not already put under the sanitizers).
TEST(PicSimOutside, ResetOnOpenAndSigusr1) {
    Process version;
    ASSERT_TRUE(version.start({PICSIM, "--version"}));
    EXPECT_EQ(version.wait(10), 0);
    EXPECT_EQ(version.output(), "picSim " PIC_TOOLS_VERSION "\n");

    // The --dump file is checked at start but written only at the end.
    const std::string dump = tempDir() + "/chip.hex", before = ":00000001FF\n";
    ASSERT_TRUE(writeFile(dump, before));
    PicSim sim;
    ASSERT_TRUE(sim.start({"--firmware", MONITOR_FIRMWARE, "--fast", "--reset-on-open", "--stats", "--dump", dump}));
    EXPECT_EQ(readFile(dump), before);
    usleep(100000);  // the monitor's power-on '>' goes out to no program: lost
    const std::vector<uint8_t> ONE_START{'>'};
    std::unique_ptr<Client> client;
    const char* steps[] = {"the first open", "the second open", "SIGUSR1"};
    for (const char* step : steps) {
        SCOPED_TRACE(step);
        if (step == steps[2]) {
            sim.process.signal(SIGUSR1);
        } else {
            client.reset();  // and opened again at once: picSim sees every open
            client.reset(new Client(sim.port));
        }
        EXPECT_EQ(client->readQuiet(0.5), ONE_START);
    }
    client.reset();
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_NE(sim.process.output().find("mclr_pulls: 3\n"), std::string::npos) << sim.process.output();
    EXPECT_NE(readFile(dump), before);
}

TEST(PicSimOutside, RefusedAtStartWithTheReason) {
    const std::string dir = tempDir();
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--firmware", dir + "/missing.hex"}, "picSim: cannot open " + dir + "/missing.hex: No such file or directory"},
        {{"--firmware", ECHO_FIRMWARE, "--dump", dir + "/no/chip.hex"},
         "picSim: cannot create " + dir + "/no/chip.hex: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> argv{PICSIM};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Process process;
        ASSERT_TRUE(process.start(argv));
        EXPECT_EQ(process.wait(10), 1);
        EXPECT_EQ(process.output(), c.line + "\n");
    }
}

TEST(PicSimRun, TheWatchdogResetsAChipWhoseConfigurationEnablesIt) {
    // The watchdog's period does not depend on the clock: at 4 MHz (SPBRG 25
    // for 9600 bit/s) it takes fewer cycles, which any build runs quickly.
    std::string dir = tempDir();
    std::string speed = imageFile(dir, "speed.hex", {{PicProgram::EEPROM_START, 25}});
    for (bool enabled : {true, false}) {
        // WDTE is bit 2; the monitor never clears the watchdog.
        std::string firmware = withConfig(dir, MONITOR_FIRMWARE, enabled ? 0 : 1 << 2, enabled ? 1 << 2 : 0);
        PicSim sim;
        ASSERT_TRUE(sim.start({"--firmware", firmware, "--memory", speed, "--clock", "4000000", "--fast"}));
        Monitor monitor(sim.port, 9600);
        ASSERT_TRUE(monitor.ready());
        // 18 ms nominal times the 1:128 prescaler that reset assigns to it:
        // 2.3 s, less than 3 s of wall time even at the real-time pace.
        EXPECT_EQ(monitor.client.read(1, 3), enabled ? std::vector<uint8_t>{'>'} : std::vector<uint8_t>{});
        EXPECT_EQ(sim.stop(), 0);
    }
}

TEST(PicSimRun, SigtermEndsTheRunWithTheDumpOfEveryMemory) {
    std::string dir = tempDir();
    std::vector<std::pair<int, int>> known{{0x0800, 0x1234}, {0x1FFF, 0x0001}, {0x2000, 0x0005},
                                           {0x2003, 0x000A}, {0x2100, 0x00C3}, {0x21FF, 0x0000}};
    std::string memory = imageFile(dir, "known.hex", known);
    std::string dump = dir + "/dump.hex", link = dir + "/port";
    PicSim sim;
    ASSERT_TRUE(sim.start({"--firmware", ECHO_FIRMWARE, "--memory", memory, "--dump", dump, "--link", link}));
    struct stat st;
    EXPECT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_NE(lstat(link.c_str(), &st), 0);

    PicProgram expected, firmware, dumped;
    ASSERT_TRUE(loadImage(memory, expected) && loadImage(ECHO_FIRMWARE, firmware) && loadImage(dump, dumped));
    std::unique_ptr<PicProgram> both(firmware.merge(&expected));
    EXPECT_TRUE(both->equals(&dumped));
    EXPECT_TRUE(dumped.equals(both.get()));
}

// Program memory self-writes, with the block 0x1000-0x1003 holding
// 0111 0222 0333 0444 at the start (but on a 4K-word chip).
class PicSimSelfWrite : public ::testing::Test {
protected:
    void start(std::vector<std::string> extra = {}, const std::string& firmware = MONITOR_FIRMWARE,
               bool block = true) {
        dir_ = tempDir();
        dump_ = dir_ + "/dump.hex";
        std::string memory = imageFile(dir_, "block.hex", {{0x1000, 0x0111}, {0x1001, 0x0222}, {0x1002, 0x0333}, {0x1003, 0x0444}});
        std::vector<std::string> args{"--firmware", firmware, "--dump", dump_, "--fast"};
        if (block) args.insert(args.end(), {"--memory", memory});
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim_.start(args));
        monitor_.reset(new Monitor(sim_.port));
        ASSERT_TRUE(monitor_->ready());
    }
    PicProgram stopAndDump() {
        PicProgram dumped;
        EXPECT_EQ(sim_.stop(), 0) << sim_.process.output();
        EXPECT_TRUE(loadImage(dump_, dumped));
        return dumped;
    }
    PicSim sim_;
    std::unique_ptr<Monitor> monitor_;
    std::string dir_, dump_;
};

TEST_F(PicSimSelfWrite, ABlockKeepsItsWordsUntilTheFourthIsLoadedThenAllChange) {
    start();
    const std::vector<int> before{0x0111, 0x0222, 0x0333, 0x0444}, after{0x1000, 0x1001, 0x1002, 0x1003};
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(monitor_->writeProgram(0x1000 + i, after[size_t(i)]), 0);
        EXPECT_EQ(monitor_->readBlock(0x1000), before) << "after word " << i;
    }
    EXPECT_GE(monitor_->writeProgram(0x1003, after[3]), 0);
    EXPECT_EQ(monitor_->readBlock(0x1000), after);
    PicProgram dumped = stopAndDump();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dumped.getData(0x1000 + i), after[size_t(i)]);
}

TEST_F(PicSimSelfWrite, TheFourthWordStallsTheProcessorForTheWriteTime) {
    start({"--write-ms", "2,4"});
    for (int i = 0; i < 3; ++i) EXPECT_LT(monitor_->writeProgram(0x1000 + i, 0), 5);
    EXPECT_NEAR(monitor_->writeProgram(0x1003, 0), WRITE_TICKS / 2, 3);  // TMR1 runs on through the stall
    stopAndDump();
}

TEST_F(PicSimSelfWrite, CodeCannotReachTheConfigurationWord) {
    start();
    for (int i = 0; i < 4; ++i) monitor_->writeProgram(0x2004 + i, 0x0AB0 + i);
    PicProgram dumped = stopAndDump(), firmware;
    ASSERT_TRUE(loadImage(MONITOR_FIRMWARE, firmware));
    EXPECT_EQ(dumped.getData(0x2007), firmware.getData(0x2007));
    // EEADRH:EEADR holds 13 bits: the block lands at 0x0004.
    EXPECT_EQ(dumped.getData(0x0007), 0x0AB3);
}

TEST_F(PicSimSelfWrite, GpsimAloneWritesAtOnceWithoutLatchOrStallAndChangesTheConfigurationWord) {
    start({"--gpsim-defect", "self-write"});
    EXPECT_LT(monitor_->writeProgram(0x1000, 0x1000), 5);
    EXPECT_EQ(monitor_->readProgram(0x1000), 0x1000);  // no latch
    for (int i = 1; i < 4; ++i) EXPECT_LT(monitor_->writeProgram(0x1000 + i, 0x1000 + i), 5);  // no stall
    for (int i = 0; i < 4; ++i) monitor_->writeProgram(0x2004 + i, 0x0AB0 + i);
    EXPECT_EQ(stopAndDump().getData(0x2007), 0x0AB3);
}

TEST_F(PicSimSelfWrite, WriteProtectionKeepsTheProtectedBlocks) {
    // WRT1:WRT0 = 10 protects the first 256 words, 01 a quarter of the
    // chip's flash, 00 half of it.
    const struct {
        const char* chip;
        int clear;      // WRT bits cleared in the monitor's configuration word
        int protectedBlock, freeBlock;
    } rows[] = {
        {"16F877A", 1 << 9, 0x00F0, 0x0100}, {"16F873A", 1 << 9, 0x00F0, 0x0100},
        {"16F877A", 1 << 10, 0x07FC, 0x0800}, {"16F873A", 1 << 10, 0x03FC, 0x0400},
        {"16F877A", 3 << 9, 0x0FFC, 0x1000}, {"16F874A", 3 << 9, 0x07FC, 0x0800},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.chip) + " " + std::to_string(row.clear));
        start({"--chip", row.chip}, withConfig(tempDir(), MONITOR_FIRMWARE, row.clear, 0), false);
        for (int start : {row.protectedBlock, row.freeBlock})
            for (int i = 0; i < 4; ++i) monitor_->writeProgram(start + i, 0x2AAA);
        PicProgram dumped = stopAndDump();
        EXPECT_EQ(dumped.getData(row.protectedBlock + 3), PicProgram::BLANK);
        EXPECT_EQ(dumped.getData(row.freeBlock + 3), 0x2AAA);
    }
}

TEST_F(PicSimSelfWrite, AStuckCellKeepsItsWordWhileTheRestOfTheBlockChanges) {
    start({"--stuck-cell", "1001", "--stuck-cell", "2105"});
    for (int i = 0; i < 4; ++i) monitor_->writeProgram(0x1000 + i, 0x1000 + i);
    EXPECT_EQ(monitor_->readBlock(0x1000), std::vector<int>({0x1000, 0x0222, 0x1002, 0x1003}));
    monitor_->writeEeprom(5, 0x42);
    EXPECT_EQ(monitor_->readEeprom(5), 0xFF);
    stopAndDump();
}

TEST_F(PicSimSelfWrite, AnEepromByteTakesTheWriteTimeWhileTheProcessorRunsOn) {
    start();
    // The monitor polls WR in a loop, so the ticks are the time WR stayed set.
    bool eeif = false;
    EXPECT_NEAR(monitor_->writeEeprom(7, 0x5A, &eeif), WRITE_TICKS, 3);
    EXPECT_TRUE(eeif);
    EXPECT_EQ(monitor_->readEeprom(7), 0x5A);
    EXPECT_EQ(stopAndDump().getData(0x2107), 0x5A);
}

TEST_F(PicSimSelfWrite, A128ByteEepromTakesTheLowSevenBitsOfTheOffset) {
    start({"--chip", "16F874A"}, MONITOR_FIRMWARE, false);  // gpsim gives this one 256 bytes
    monitor_->writeEeprom(0x85, 0x42);
    EXPECT_EQ(monitor_->readEeprom(0x05), 0x42);
    EXPECT_EQ(stopAndDump().getData(0x2105), 0x42);
}

TEST_F(PicSimSelfWrite, AnEepromReadLeavesEedathUndefinedNotZero) {
    start();
    monitor_->writeEeprom(3, 0x21);
    int eedath = -1;
    EXPECT_EQ(monitor_->readEeprom(3, &eedath), 0x21);
    EXPECT_NE(eedath & 0x3F, 0) << "EEDATH " << eedath;
    stopAndDump();
}

// The older parts write each word on its own, the processor held for the
// write time; their WRT bit clear keeps code from writing flash at all.
TEST_F(PicSimSelfWrite, AnOlderPartWritesEachWordAtOnceAndHoldsTheProcessor) {
    start({"--chip", "pic16f877", "--write-ms", "2,4"});
    EXPECT_NEAR(monitor_->writeProgram(0x1000, 0x1000), WRITE_TICKS / 2, 3);
    EXPECT_EQ(monitor_->readBlock(0x1000), std::vector<int>({0x1000, 0x0222, 0x0333, 0x0444}));
    stopAndDump();
}

TEST_F(PicSimSelfWrite, AnOlderPartWithWrtClearNeverWritesFlash) {
    start({"--chip", "16F876"}, withConfig(tempDir(), MONITOR_FIRMWARE, 1 << 9, 0));
    monitor_->writeProgram(0x0800, 0x0123);
    EXPECT_EQ(monitor_->readProgram(0x0800), 0x3FFF);  // erased
    stopAndDump();
}

TEST(PicSimOutside, ChipNamesInAnyCaseAndTheRefusalsNameTheChips) {
    const std::string dir = tempDir();
    const std::string list = "16F873, 16F874, 16F876, 16F877, 16F873A, 16F874A, 16F876A, 16F877A";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string line;  // the first line of standard error
    } cases[] = {
        {{"--chip", "PIC16f874a", "--seconds", "0"}, 0, ""},
        {{"--chip", "16F628"}, 2, "picSim: unknown --chip 16F628 (" + list + ")"},
        {{"--chip", "16f873", "--stuck-cell", "1000"}, 2,
         "picSim: bad --stuck-cell 1000 (hex image address of the 16F873's flash or EEPROM)"},
        {{"--chip", "16F874", "--stuck-cell", "2180"}, 2,
         "picSim: bad --stuck-cell 2180 (hex image address of the 16F874's flash or EEPROM)"},
        {{"--chip", "16F873", "--memory", imageFile(dir, "high.hex", {{0x1F00, 0x0001}})}, 1,
         "picSim: the PIC16F873 has no 1F00, which the firmware or --memory fills"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> argv{PICSIM, "--firmware", ECHO_FIRMWARE, "--fast"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Process process;
        ASSERT_TRUE(process.start(argv));
        EXPECT_EQ(process.wait(10), c.status);
        if (!c.line.empty()) {
            EXPECT_EQ(process.output().substr(0, c.line.size() + 1), c.line + "\n");
        }
    }
}

}  // namespace
