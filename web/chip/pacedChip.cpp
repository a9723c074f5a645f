#include "pacedChip.h"

#include "protocol.h"

#include <algorithm>

// The machine keeps references to chip_ and settings_: play() changes them
// in place.
PacedChip::PacedChip()
    : model_(&defaultChip()),
      chip_(model_->flashWords, model_->eepromBytes),
      settings_(*model_),
      machine_(chip_, settings_, faults_)
{
}

void PacedChip::play(const ChipModel& model)
{
    if (&model == model_)
        return;
    model_ = &model;
    chip_ = Chip(model.flashWords, model.eepromBytes);
    settings_ = BootloaderSettings(model);
}

void PacedChip::reset(int bitsPerSecond, bool erase)
{
    if (erase)
        chip_.memory() = PicProgram(model_->flashWords, model_->eepromBytes);
    machine_.startSession();
    charTime_ = protocol::characterMicros(bitsPerSecond) / 1e6;
    lastArrival_ = 0;
    lineFree_ = 0;
    due_.clear();
    ended_ = false;
}

void PacedChip::feed(const uint8_t* bytes, int count, double now)
{
    for (int i = 0; i < count && !ended_; ++i) {
        const double arrival = std::max(now, lastArrival_) + charTime_;
        lastArrival_ = arrival;
        const Reply reply = machine_.feed(bytes[i], now);
        if (reply.end != Reply::End::None) {
            ended_ = true;
            return;
        }
        schedule(reply, arrival);
    }
}

void PacedChip::schedule(const Reply& reply, double arrival)
{
    if (reply.kind == Reply::Kind::None || reply.bytes.empty())
        return;
    // A response starts once the chip has written the block; every reply
    // waits for the line to be free and takes a character time a byte.
    const double from = std::max({arrival + reply.writeSeconds, lineFree_});
    const double left = from + charTime_ * double(reply.bytes.size());
    lineFree_ = left;
    if (reply.kind == Reply::Kind::Greeting)
        machine_.greetingSent(left);
    due_.push_back(Due{left, reply.bytes});
}

double PacedChip::nextDue() const
{
    return due_.empty() ? -1 : due_.front().at;
}

std::vector<uint8_t> PacedChip::take()
{
    if (due_.empty())
        return {};
    std::vector<uint8_t> bytes = std::move(due_.front().bytes);
    due_.pop_front();
    return bytes;
}
