// Fuzz target for the simulated bootloader's state machine, fed bytes as if
// from an uploader.
//
// Input: a header of HEADER bytes that picks the bootloader's range, the
// chip's size and the faults (see Setup), then the bytes the uploader sends,
// one every BYTE_SECONDS.  A session that ends (END_PROGRAMMING or the
// hang-up fault) is followed by a new one on the same machine and chip.
//
// Checked on every byte, by an oracle that follows the exchange itself:
// - a greeting answers only a poll and is the six bytes of the settings; an
//   identification answers only the 'i' of "hi" and is the range's words,
//   then '>' (or the faults' wrong byte, or nothing after the first word);
// - a response comes only when a whole frame has arrived and ends in its one
//   '>', every report before it whole: '!' with a known error byte and its
//   address word, 'w' with its address and data words;
// - an error report's address is where the error arose;
// - a block answered without an address error lies on the chip and outside
//   the bootloader's range, and a block answered without any error holds
//   the frame's words;
// - the bootloader's range on the chip keeps its content whatever comes.
#include "bootloaderMachine.h"
#include "chip.h"
#include "faults.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Fault = FaultSource::Fault;

// The oracle spells the protocol's bytes out itself rather than taking the
// shared header, so that it cannot share a mistake with the code it checks.
constexpr uint8_t CR = 0x0D, READY = '>';
constexpr uint8_t END = 0x01, SET = 0x02, PROGRAM = 0x04, EEPROM = 0x05;

constexpr size_t HEADER = 12;
constexpr double BYTE_SECONDS = 0.05;

struct RangeChoice {
    int lower, upper;
};
const RangeChoice RANGES[] = {
    {0x1F00, 0x1FFF}, {0x0000, 0x00FF}, {0x1F01, 0x1FFE}, {0x0100, 0x00FF},
    {0x1FF8, 0x2003}, {0x0800, 0x0803}, {0x0000, 0x1FFF}, {0x0004, 0x0004},
};
struct ChipChoice {
    int flashWords, eepromBytes;
};
const ChipChoice CHIPS[] = {{8192, 256}, {4096, 128}, {2048, 64}, {8192, 0}};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_bootloaderSim: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// Faults chosen by the header.
struct FuzzFaults : FaultSource {
    uint8_t flags = 0;          // bit 0 write test, 1 trickle, 2 bad ready, 3 mute identification
    uint8_t checksumFrames = 0;  // bit n: frame n + 1 arrives corrupted
    int silentFrom = 0, hangupAt = 0, verifyAt = -1, refuseAt = -1, strayFrame = 0;
    uint8_t stray = 0;

    bool strikes(Fault fault, int at) const override
    {
        switch (fault) {
        case Fault::Checksum: return at >= 1 && at <= 8 && (checksumFrames >> (at - 1) & 1);
        case Fault::Silent: return silentFrom > 0 && at >= silentFrom;
        case Fault::Hangup: return hangupAt > 0 && at == hangupAt;
        case Fault::Verify: return at == verifyAt;
        case Fault::Refuse: return at == refuseAt;
        case Fault::WriteTest: return flags & 1;
        case Fault::Trickle: return flags & 2;
        case Fault::BadReady: return flags & 4;
        case Fault::MuteIdent: return flags & 8;
        }
        return false;
    }
    Bytes strayBytes(int frame) const override
    {
        return frame == strayFrame ? Bytes{stray} : Bytes{};
    }
};

int word(const uint8_t* p) { return p[0] | p[1] << 8; }

// The content the bootloader's own words hold on the chip before the run.
int ownWord(int address) { return (address * 7 + 1) & 0x1FFF; }

class Oracle {
public:
    Oracle(Chip& chip, const BootloaderSettings& settings, const FuzzFaults& faults)
        : chip_(chip), settings_(settings), faults_(faults)
    {
        const protocol::Range& r = settings.range;
        for (int a = r.lower; a <= r.upper; ++a)
            chip_.memory().setData(a, ownWord(a));
    }

    // Called before the machine takes the byte: what it must answer.
    void before(uint8_t byte)
    {
        if (phase_ != Phase::Commands)
            return;
        frame_.push_back(byte);
        if (frame_.size() == 1) {
            switch (byte) {
            case END: frameLength_ = 2; break;
            case SET: frameLength_ = 4; break;
            case PROGRAM:
            case EEPROM: frameLength_ = 10; break;
            default: frameLength_ = 1; break;  // an unknown code is answered at once
            }
        }
        if (frame_.size() == frameLength_ && (frame_[0] == PROGRAM || frame_[0] == EEPROM)) {
            // Remember the block's cells, to see whether they changed.
            for (int i = 0; i < 4; ++i)
                cells_[i] = read(frame_[0] == EEPROM, current_ + i);
        }
    }

    void after(uint8_t byte, const Reply& r)
    {
        if (!(r.writeSeconds >= 0 && std::isfinite(r.writeSeconds)))
            fail("a write time that is negative or not a number");
        switch (phase_) {
        case Phase::Poll:
            if (byte == CR) {
                expectGreeting(r);
                phase_ = Phase::Hi;
            } else {
                expectNothing(r);
            }
            break;
        case Phase::Hi:
            if (byte == 'i' && previous_ == 'h') {
                expectIdentification(r);
            } else if (r.kind == Reply::Kind::Greeting) {
                if (byte != CR)
                    fail("a greeting that no poll asked for");
                expectGreeting(r);
            } else {
                expectNothing(r);
            }
            break;
        case Phase::Commands:
            if (frame_.size() < frameLength_) {
                expectNothing(r);
                break;
            }
            frameDone(r);
            frame_.clear();
            break;
        }
        previous_ = byte;
    }

    bool ended() const { return ended_; }
    void newSession()
    {
        phase_ = Phase::Poll;
        previous_ = 0;
        current_ = 0;
        frames_ = 0;
        frame_.clear();
        ended_ = false;
    }

private:
    enum class Phase { Poll, Hi, Commands };

    int read(bool eeprom, int at)
    {
        return eeprom ? chip_.readEepromByte(at) : chip_.readProgramWord(at);
    }

    void expectNothing(const Reply& r)
    {
        if (r.kind != Reply::Kind::None || !r.bytes.empty() || r.ready || r.end != Reply::End::None)
            fail("a reply to a byte that asks for none");
    }

    void expectGreeting(const Reply& r)
    {
        const Bytes g{'K', 'K', uint8_t(settings_.year), uint8_t(settings_.year >> 8), uint8_t(settings_.day),
                      uint8_t(settings_.month)};
        if (r.kind != Reply::Kind::Greeting || r.bytes != g || r.ready || r.end != Reply::End::None)
            fail("a poll was not answered with the greeting");
    }

    void expectIdentification(const Reply& r)
    {
        const protocol::Range& range = settings_.range;
        const Bytes& b = r.bytes;
        if (r.kind != Reply::Kind::Identification || r.end != Reply::End::None)
            fail("\"hi\" was not answered with the identification");
        if (b.size() < 2 || word(&b[0]) != range.lower)
            fail("the identification does not begin with the lower address");
        if (b.size() == 2) {  // fell silent after the first word
            phase_ = Phase::Poll;
            return;
        }
        if (b.size() != 5 || word(&b[2]) != range.upper)
            fail("the identification is not the two addresses and one byte");
        if ((b[4] == READY) != r.ready)
            fail("the identification's ready flag does not match its last byte");
        phase_ = b[4] == READY ? Phase::Commands : Phase::Poll;
    }

    void frameDone(const Reply& r)
    {
        unsigned sum = 0;
        for (uint8_t b : frame_)
            sum += b;
        // An unknown code is a frame of one byte, with no checksum to check.
        const bool known = frameLength_ > 1;
        const uint8_t code = frame_[0];
        if (code == END && sum % 256 == 0) {
            if (r.kind != Reply::Kind::None || !r.bytes.empty() || r.end != Reply::End::Completed)
                fail("END_PROGRAMMING did not end the session silently");
            ended_ = true;
            return;
        }
        ++frames_;
        if (faults_.strikes(Fault::Hangup, frames_)) {
            if (!r.bytes.empty() || r.end != Reply::End::LineClosed)
                fail("the hang-up fault did not close the line");
            ended_ = true;
            return;
        }
        if (r.end != Reply::End::None)
            fail("a frame other than END_PROGRAMMING ended the session");
        if (faults_.strikes(Fault::Silent, frames_)) {
            expectNothing(r);
            return;
        }
        if (r.kind != Reply::Kind::Response || !r.ready)
            fail("a whole frame was not answered with a response");

        // The response: reports, the fault's stray bytes, then one '>'.
        Bytes b = r.bytes;
        if (b.empty() || b.back() != READY)
            fail("a response does not end in '>'");
        b.pop_back();
        Bytes stray = faults_.strayBytes(frames_);
        if (b.size() < stray.size() || !std::equal(stray.begin(), stray.end(), b.end() - long(stray.size())))
            fail("the stray bytes are not right before the '>'");
        b.resize(b.size() - stray.size());

        int error = 0, errorAt = -1, tests = 0;
        for (size_t i = 0; i < b.size();) {
            if (b[i] == '!' && i + 4 <= b.size()) {
                if (error)
                    fail("two error reports in one response");
                error = b[i + 1];
                errorAt = word(&b[i + 2]);
                if (error != 'C' && error != 'V' && error != 'A' && error != 'U')
                    fail("an error report with an unknown error byte");
                i += 4;
            } else if (b[i] == 'w' && i + 5 <= b.size()) {
                ++tests;
                i += 5;
            } else {
                fail("a response holds something other than whole reports");
            }
        }

        const int start = current_;
        const bool block = code == PROGRAM || code == EEPROM;
        const bool eeprom = code == EEPROM;
        if ((known && sum % 256 != 0) || faults_.strikes(Fault::Checksum, frames_)) {
            if (error != 'C' || errorAt != current_)
                fail("a corrupted frame was not reported 'C' at the current address");
        } else if (code == SET) {
            if (error)
                fail("an error report for an intact SET_ADDRESS");
            current_ = word(&frame_[1]);
        } else if (!block) {
            if (error != 'U' || errorAt != current_)
                fail("an unknown command was not reported 'U' at the current address");
        } else {
            current_ = (current_ + 4) & 0xFFFF;
            if (error == 'A') {
                if (errorAt != start)
                    fail("an address error does not name the block");
            } else {
                const ChipShape shape{chip_.flashSize(), chip_.eepromSize()};
                if (!shape.holds(eeprom, start))
                    fail("a block off the chip was written");
                const protocol::Range& range = settings_.range;
                if (!eeprom && start <= range.upper && start + 3 >= range.lower)
                    fail("a block of the bootloader's own range was written");
                if (error == 'V' && (errorAt < start || errorAt > start + 3))
                    fail("a verify error names an address outside its block");
                if (error && error != 'V')
                    fail("an intact block got an error other than 'A' or 'V'");
                if (!error) {
                    for (int i = 0; i < 4; ++i) {
                        int sent = word(&frame_[1 + 2 * i]) & (eeprom ? 0xFF : 0x3FFF);
                        if (read(eeprom, start + i) != sent)
                            fail("a block acknowledged without error does not hold the frame's words");
                    }
                }
            }
            if (error == 'A' || error == 'C') {
                for (int i = 0; i < 4; ++i)
                    if (read(eeprom, start + i) != cells_[i])
                        fail("a refused block changed the chip");
            }
        }
        if (tests && (code != PROGRAM || error == 'A' || error == 'C' || tests != 4))
            fail("write-test reports where no program block was written, or not one per word");
        if (block)
            checkOwnWords();
    }

    struct ChipShape {
        int flash, eeprom;
        bool holds(bool inEeprom, int start) const
        {
            if (inEeprom)
                return start + 3 < eeprom;
            return start + 3 < flash || (start >= 0x2000 && start + 3 <= 0x2007);
        }
    };

    void checkOwnWords()
    {
        const protocol::Range& r = settings_.range;
        for (int a = r.lower; a <= r.upper; ++a) {
            int held = chip_.memory().getData(a);
            if (chip_.memory().isValidAddr(a) && held != ownWord(a))
                fail("the bootloader's own range changed on the chip");
        }
    }

    Chip& chip_;
    const BootloaderSettings& settings_;
    const FuzzFaults& faults_;
    Phase phase_ = Phase::Poll;
    uint8_t previous_ = 0;
    int current_ = 0;
    int frames_ = 0;
    Bytes frame_;
    size_t frameLength_ = 0;
    int cells_[4] = {};
    bool ended_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < HEADER)
        return 0;
    const RangeChoice range = RANGES[data[0] % (sizeof RANGES / sizeof RANGES[0])];
    const ChipChoice shape = CHIPS[data[1] % (sizeof CHIPS / sizeof CHIPS[0])];
    FuzzFaults faults;
    faults.flags = data[2];
    faults.checksumFrames = data[3];
    faults.silentFrom = data[4] % 32;
    faults.hangupAt = data[5] % 32;
    faults.verifyAt = word(&data[6]) == 0xFFFF ? -1 : word(&data[6]);
    faults.refuseAt = word(&data[8]) == 0xFFFF ? -1 : word(&data[8]);
    faults.strayFrame = data[10] % 32;
    faults.stray = data[11];

    BootloaderSettings settings;
    settings.range = protocol::Range{range.lower, range.upper};
    Chip chip(shape.flashWords, shape.eepromBytes);
    BootloaderMachine machine(chip, settings, faults);
    Oracle oracle(chip, settings, faults);

    for (size_t i = HEADER; i < size; ++i) {
        oracle.before(data[i]);
        Reply reply = machine.feed(data[i], double(i) * BYTE_SECONDS);
        oracle.after(data[i], reply);
        if (oracle.ended()) {
            machine.startSession();
            oracle.newSession();
        }
    }
    return 0;
}
