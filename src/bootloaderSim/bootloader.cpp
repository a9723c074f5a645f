#include "bootloader.h"

#include "clock.h"

#include <algorithm>

namespace {

void putWord(std::vector<uint8_t>& out, int value) {
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t((value >> 8) & 0xFF));
}

int wordAt(const uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }

// The uploader gives up waiting for "hi"'s echo after this long; a poll that
// it wrote later than this after our greeting means the greeting was missed.
constexpr double GREETING_RETRY = 1.0;

}  // namespace

Bootloader::Bootloader(Line& line, Chip& chip, const Options& options, Stats& stats)
    : line_(line), chip_(chip), options_(options), stats_(stats), runStart_(monotonicSeconds()) {}

int Bootloader::frameLength(uint8_t code) {
    switch (code) {
    case END_PROGRAMMING: return 2;
    case SET_ADDRESS: return 4;
    case WRITE_PROGRAM_BLOCK:
    case WRITE_EEPROM_BLOCK: return 10;
    default: return 1;  // an unknown code is answered at once
    }
}

void Bootloader::closeSessionClock() {
    if (sessionStart_ < 0) return;
    double spent = monotonicSeconds() - sessionStart_;
    stats_.sessionSeconds = std::max(stats_.sessionSeconds, 0.0) + spent;
    sessionStart_ = -1;
}

Bootloader::Outcome Bootloader::serveSession() {
    state_ = State::WaitingForPoll;
    replyHalf_ = false;
    sessionStart_ = -1;
    greetingWritten_ = -1;
    readyWritten_ = -1;
    frame_ = 0;
    address_ = 0;

    Frame frame{};
    for (;;) {
        uint8_t byte = 0;
        double entry = 0, arrival = 0;
        Line::Take got = line_.take(byte, entry, arrival);
        if (got == Line::Take::Stopped) return Outcome::Stopped;
        if (got == Line::Take::Hangup) {
            if (sessionStart_ >= 0) {
                closeSessionClock();
                return Outcome::PeerGone;
            }
            // An uploader came and went without a word; wait for the next.
            if (!line_.waitUntil(monotonicSeconds() + 0.01)) return Outcome::Stopped;
            continue;
        }
        if (got != Line::Take::Byte) continue;

        switch (state_) {
        case State::WaitingForPoll:
            if (byte != POLL) break;
            // Before the late start the chip is still held in reset.
            if (arrival - runStart_ < options_.faults.lateSeconds) break;
            if (sessionStart_ < 0) sessionStart_ = arrival;
            greet();
            break;

        case State::WaitingForHi:
            if (byte == REPLY_FIRST) {
                if (stats_.greetingToH < 0) stats_.greetingToH = arrival - greetingWritten_;
                replyHalf_ = true;
            } else if (byte == REPLY_SECOND && replyHalf_) {
                identify();
            } else if (byte == POLL && entry - greetingWritten_ >= GREETING_RETRY) {
                // Polls queued before the uploader could see the greeting
                // are passed over; only a fresh one asks again.
                greet();
            } else {
                replyHalf_ = false;
            }
            break;

        case State::Commands:
            if (readyWritten_ >= 0) {
                stats_.turnarounds.push_back(entry - readyWritten_);
                readyWritten_ = -1;
            }
            if (!firstFrameSeen_) {
                stats_.greetingToFrame = arrival - greetingWritten_;
                firstFrameSeen_ = true;
            }
            frame.bytes[0] = byte;
            frame.length = frameLength(byte);
            frame.arrival = arrival;
            for (int i = 1; i < frame.length; ++i) {
                double e = 0, a = 0;
                got = line_.take(frame.bytes[i], e, a);
                frame.arrival = a;
                if (got == Line::Take::Stopped) return Outcome::Stopped;
                if (got == Line::Take::Hangup) {
                    closeSessionClock();
                    return Outcome::PeerGone;
                }
            }
            if (frame.bytes[0] == END_PROGRAMMING && checksumOk(frame)) {
                closeSessionClock();
                return Outcome::Completed;
            }
            ++frame_;
            ++stats_.frames;
            if (options_.faults.hangupAt == frame_) {
                line_.close();
                closeSessionClock();
                return Outcome::LineClosed;
            }
            if (options_.faults.silentFrom > 0 && frame_ >= options_.faults.silentFrom) break;
            answer(frame);
            break;
        }
    }
}

void Bootloader::greet() {
    const uint8_t greeting[6] = {
        GREETING_MARK,
        GREETING_MARK,
        uint8_t(options_.year & 0xFF),
        uint8_t((options_.year >> 8) & 0xFF),
        uint8_t(options_.day),
        uint8_t(options_.month),
    };
    if (options_.faults.trickle)
        greetingWritten_ = line_.send(greeting, sizeof greeting);
    else
        greetingWritten_ = line_.sendBurst(greeting, sizeof greeting);
    state_ = State::WaitingForHi;
    replyHalf_ = false;
}

void Bootloader::identify() {
    std::vector<uint8_t> reply;
    putWord(reply, options_.range.lower);
    if (options_.faults.muteIdent && !muteDone_) {
        // Falls silent after the first address word, as a chip that browns
        // out; then starts over, waiting for polls.
        muteDone_ = true;
        line_.send(reply.data(), reply.size());
        state_ = State::WaitingForPoll;
        return;
    }
    putWord(reply, options_.range.upper);
    bool wrong = options_.faults.badReady && !badReadyDone_;
    reply.push_back(wrong ? WRONG_READY : READY);
    double written = line_.send(reply.data(), reply.size());
    if (wrong) {
        badReadyDone_ = true;
        state_ = State::WaitingForPoll;
        return;
    }
    readyWritten_ = written;
    state_ = State::Commands;
}

bool Bootloader::checksumOk(const Frame& frame) const {
    unsigned sum = 0;
    for (int i = 0; i < frame.length; ++i) sum += frame.bytes[i];
    return (sum & 0xFF) == 0;
}

bool Bootloader::faultAtFrame(const std::vector<int>& frames) const {
    return std::find(frames.begin(), frames.end(), frame_) != frames.end();
}

bool Bootloader::faultInBlock(const std::vector<int>& addresses, int imageStart, int words) const {
    for (int a : addresses)
        if (a >= imageStart && a < imageStart + words) return true;
    return false;
}

bool Bootloader::touchesBootloader(int start) const {
    const protocol::Range& r = options_.range;
    return start <= r.upper && start + protocol::BLOCK_WORDS - 1 >= r.lower;
}

void Bootloader::report(std::vector<uint8_t>& reply, uint8_t error, int address) {
    reply.push_back(ERROR_REPORT);
    reply.push_back(error);
    putWord(reply, address);
    ++stats_.errors;
}

void Bootloader::wait(double seconds) {
    if (seconds <= 0) return;
    stats_.writeSeconds += seconds;
    busyUntil_ += seconds;
    line_.waitUntil(busyUntil_);
}

void Bootloader::answer(Frame& frame) {
    busyUntil_ = frame.arrival;
    std::vector<uint8_t> reply;
    bool corrupted = faultAtFrame(options_.faults.checksumFrames);
    // An unknown code has no length to wait for, so there is no checksum to
    // check either: it is answered as unknown at once.
    bool known = frame.length > 1;
    if (corrupted || (known && !checksumOk(frame))) {
        report(reply, ERROR_CHECKSUM, address_);
    } else {
        switch (frame.bytes[0]) {
        case SET_ADDRESS: address_ = wordAt(frame.bytes + 1); break;
        case WRITE_PROGRAM_BLOCK: writeProgramBlock(frame, reply); break;
        case WRITE_EEPROM_BLOCK: writeEepromBlock(frame, reply); break;
        default: report(reply, ERROR_UNKNOWN, address_); break;  // END_PROGRAMMING never gets here
        }
    }
    for (const Faults::Garbage& g : options_.faults.garbage)
        if (g.frame == frame_) reply.push_back(uint8_t(g.byte));
    reply.push_back(READY);
    readyWritten_ = line_.send(reply.data(), reply.size(), busyUntil_);
}

void Bootloader::writeProgramBlock(const Frame& frame, std::vector<uint8_t>& reply) {
    int start = address_;
    address_ = (address_ + protocol::BLOCK_WORDS) & 0xFFFF;
    if (faultInBlock(options_.faults.refuseAddresses, start) || touchesBootloader(start) ||
        !chip_.hasProgramBlock(start)) {
        report(reply, ERROR_ADDRESS, start);
        return;
    }
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int word = wordAt(frame.bytes + 1 + 2 * i) & protocol::PROGRAM_MASK;
        // The verify fault stores the word with its lowest bit flipped, as
        // a worn flash cell would.
        chip_.writeProgramWord(start + i, faultInBlock(options_.faults.verifyAddresses, start + i, 1) ? word ^ 1 : word);
    }
    wait(options_.programWriteMs / 1000.0);
    ++stats_.blocks;
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int sent = wordAt(frame.bytes + 1 + 2 * i) & protocol::PROGRAM_MASK;
        int stored = chip_.readProgramWord(start + i);
        if (stored != sent) {
            report(reply, ERROR_VERIFY, start + i);
            break;
        }
    }
    if (options_.faults.writeTest) {
        for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
            reply.push_back(WRITE_TEST_REPORT);
            putWord(reply, start + i);
            putWord(reply, chip_.readProgramWord(start + i));
        }
    }
}

void Bootloader::writeEepromBlock(const Frame& frame, std::vector<uint8_t>& reply) {
    int offset = address_;
    address_ = (address_ + protocol::BLOCK_WORDS) & 0xFFFF;
    int imageStart = PicProgram::EEPROM_START + offset;
    if (faultInBlock(options_.faults.refuseAddresses, imageStart) || !chip_.hasEepromBlock(offset)) {
        report(reply, ERROR_ADDRESS, offset);
        return;
    }
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int value = frame.bytes[1 + 2 * i];
        bool corrupt = faultInBlock(options_.faults.verifyAddresses, imageStart + i, 1);
        chip_.writeEepromByte(offset + i, corrupt ? value ^ 1 : value);
    }
    wait(protocol::BLOCK_WORDS * options_.eepromWriteMs / 1000.0);
    ++stats_.blocks;
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        if (chip_.readEepromByte(offset + i) != frame.bytes[1 + 2 * i]) {
            report(reply, ERROR_VERIFY, offset + i);
            break;
        }
    }
}
