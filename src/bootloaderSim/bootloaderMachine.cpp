#include "bootloaderMachine.h"

namespace {

using Fault = FaultSource::Fault;

constexpr uint8_t WRONG_READY = '<';  // what badready sends instead of '>'

// The uploader gives up waiting for "hi"'s echo after this long; a poll that
// it wrote later than this after our greeting means the greeting was missed.
constexpr double GREETING_RETRY = 1.0;

void putWord(std::vector<uint8_t>& out, int value) {
    uint8_t word[2];
    protocol::putWord(value, word);
    out.insert(out.end(), word, word + 2);
}

}  // namespace

// An A part writes a block's four words in one cycle through its write
// latches; an older part takes a cycle for each word.
BootloaderSettings::BootloaderSettings(const ChipModel& chip)
    : range{chip.bootStart(), chip.bootEnd()},
      programWriteMs(chip.blockWriteMs()),
      eepromWriteMs(ChipModel::WRITE_CYCLE_MS) {}

BootloaderMachine::BootloaderMachine(Chip& chip, const BootloaderSettings& settings, const FaultSource& faults,
                                     MachineObserver* observer)
    : chip_(chip), settings_(settings), faults_(faults), observer_(observer ? observer : &silent_) {}

void BootloaderMachine::startSession() {
    state_ = State::WaitingForPoll;
    replyHalf_ = false;
    greetingSent_ = 0;
    frameLength_ = 0;
    frameHave_ = 0;
    frameNumber_ = 0;
    address_ = 0;
}

Reply BootloaderMachine::feed(uint8_t byte, double entry) {
    Reply reply;
    switch (state_) {
    case State::WaitingForPoll:
        if (byte == protocol::POLL) greet(reply, entry);
        break;

    case State::WaitingForHi:
        if (byte == protocol::REPLY_FIRST) {
            observer_->replyBegun();
            replyHalf_ = true;
        } else if (byte == protocol::REPLY_SECOND && replyHalf_) {
            identify(reply);
        } else if (byte == protocol::POLL && entry - greetingSent_ >= GREETING_RETRY) {
            // Polls queued before the uploader could see the greeting are
            // passed over; only a fresh one asks again.
            greet(reply, entry);
        } else {
            replyHalf_ = false;
        }
        break;

    case State::Commands: take(byte, reply); break;
    case State::Ended: break;
    }
    return reply;
}

void BootloaderMachine::greet(Reply& reply, double entry) {
    reply.kind = Reply::Kind::Greeting;
    reply.bytes = {protocol::GREETING_MARK, protocol::GREETING_MARK};
    putWord(reply.bytes, settings_.year);
    reply.bytes.push_back(uint8_t(settings_.day));
    reply.bytes.push_back(uint8_t(settings_.month));
    reply.trickle = faults_.strikes(Fault::Trickle);
    greetingSent_ = entry;
    state_ = State::WaitingForHi;
    replyHalf_ = false;
}

void BootloaderMachine::identify(Reply& reply) {
    reply.kind = Reply::Kind::Identification;
    putWord(reply.bytes, settings_.range.lower);
    if (!muteDone_ && faults_.strikes(Fault::MuteIdent)) {
        // Falls silent after the first address word, as a chip that browns
        // out; then starts over, waiting for polls.
        muteDone_ = true;
        state_ = State::WaitingForPoll;
        return;
    }
    putWord(reply.bytes, settings_.range.upper);
    if (!badReadyDone_ && faults_.strikes(Fault::BadReady)) {
        badReadyDone_ = true;
        reply.bytes.push_back(WRONG_READY);
        state_ = State::WaitingForPoll;
        return;
    }
    reply.bytes.push_back(protocol::READY);
    reply.ready = true;
    state_ = State::Commands;
}

void BootloaderMachine::take(uint8_t byte, Reply& reply) {
    if (frameHave_ == 0) {
        observer_->frameBegun();
        // An unknown code has no length to wait for, so there is no checksum
        // to check either: it is answered as unknown at once.
        frameLength_ = protocol::frameLength(byte);
        if (frameLength_ == 0) frameLength_ = 1;
    }
    frame_[frameHave_++] = byte;
    if (frameHave_ < frameLength_) return;
    frameHave_ = 0;

    if (frame_[0] == protocol::END_PROGRAMMING && protocol::checksumOk(frame_, frameLength_)) {
        state_ = State::Ended;
        reply.end = Reply::End::Completed;
        return;
    }
    ++frameNumber_;
    observer_->frameTaken();
    if (faults_.strikes(Fault::Hangup, frameNumber_)) {
        state_ = State::Ended;
        reply.end = Reply::End::LineClosed;
        return;
    }
    if (faults_.strikes(Fault::Silent, frameNumber_)) return;
    answer(reply);
}

void BootloaderMachine::answer(Reply& reply) {
    reply.kind = Reply::Kind::Response;
    bool known = frameLength_ > 1;
    if (faults_.strikes(Fault::Checksum, frameNumber_) || (known && !protocol::checksumOk(frame_, frameLength_))) {
        report(reply, protocol::ERROR_CHECKSUM, address_);
    } else {
        switch (frame_[0]) {
        case protocol::SET_ADDRESS: address_ = protocol::getWord(frame_ + 1); break;
        case protocol::WRITE_PROGRAM_BLOCK: writeProgramBlock(reply); break;
        case protocol::WRITE_EEPROM_BLOCK: writeEepromBlock(reply); break;
        default: report(reply, protocol::ERROR_COMMAND, address_); break;  // END_PROGRAMMING never gets here
        }
    }
    std::vector<uint8_t> stray = faults_.strayBytes(frameNumber_);
    reply.bytes.insert(reply.bytes.end(), stray.begin(), stray.end());
    reply.bytes.push_back(protocol::READY);
    reply.ready = true;
}

void BootloaderMachine::report(Reply& reply, uint8_t error, int address) {
    reply.bytes.push_back(protocol::ERROR_REPORT);
    reply.bytes.push_back(error);
    putWord(reply.bytes, address);
    observer_->errorReported();
}

bool BootloaderMachine::strikesInBlock(Fault fault, int imageStart) const {
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i)
        if (faults_.strikes(fault, imageStart + i)) return true;
    return false;
}

bool BootloaderMachine::touchesBootloader(int start) const {
    const protocol::Range& r = settings_.range;
    return start <= r.upper && start + protocol::BLOCK_WORDS - 1 >= r.lower;
}

void BootloaderMachine::writeProgramBlock(Reply& reply) {
    int start = address_;
    address_ = (address_ + protocol::BLOCK_WORDS) & 0xFFFF;
    if (strikesInBlock(Fault::Refuse, start) || touchesBootloader(start) || !chip_.hasProgramBlock(start)) {
        report(reply, protocol::ERROR_ADDRESS, start);
        return;
    }
    const uint8_t* words = frame_ + 1;
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int word = protocol::getWord(words + 2 * i) & protocol::PROGRAM_MASK;
        // The verify fault stores the word with its lowest bit flipped, as
        // a worn flash cell would.
        chip_.writeProgramWord(start + i, faults_.strikes(Fault::Verify, start + i) ? word ^ 1 : word);
    }
    reply.writeSeconds = settings_.programWriteMs / 1000.0;
    observer_->blockWritten(reply.writeSeconds);
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int sent = protocol::getWord(words + 2 * i) & protocol::PROGRAM_MASK;
        if (chip_.readProgramWord(start + i) != sent) {
            report(reply, protocol::ERROR_VERIFY, start + i);
            break;
        }
    }
    if (faults_.strikes(Fault::WriteTest)) {
        for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
            reply.bytes.push_back(protocol::WRITE_TEST);
            putWord(reply.bytes, start + i);
            putWord(reply.bytes, chip_.readProgramWord(start + i));
        }
    }
}

void BootloaderMachine::writeEepromBlock(Reply& reply) {
    int offset = address_;
    address_ = (address_ + protocol::BLOCK_WORDS) & 0xFFFF;
    int imageStart = protocol::EEPROM_BASE + offset;
    if (strikesInBlock(Fault::Refuse, imageStart) || !chip_.hasEepromBlock(offset)) {
        report(reply, protocol::ERROR_ADDRESS, offset);
        return;
    }
    // Each EEPROM location travels as a word whose low byte is the data.
    const uint8_t* words = frame_ + 1;
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        int value = words[2 * i];
        chip_.writeEepromByte(offset + i, faults_.strikes(Fault::Verify, imageStart + i) ? value ^ 1 : value);
    }
    reply.writeSeconds = protocol::BLOCK_WORDS * settings_.eepromWriteMs / 1000.0;
    observer_->blockWritten(reply.writeSeconds);
    for (int i = 0; i < protocol::BLOCK_WORDS; ++i) {
        if (chip_.readEepromByte(offset + i) != words[2 * i]) {
            report(reply, protocol::ERROR_VERIFY, offset + i);
            break;
        }
    }
}
