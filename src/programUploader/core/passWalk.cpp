#include "passWalk.h"

PassWalk::PassWalk(const PicProgram& image, int& cursor, int lower, int upper)
    : image_(image), cursor_(cursor), range_{lower, upper}
{
}

bool PassWalk::next()
{
    // After a block the walk goes on from the address that follows it, as
    // the pass's cursor does once the block's four words are in the frame.
    cursor_ = image_.findData(started_ ? previousStart_ + protocol::BLOCK_WORDS : cursor_);
    started_ = true;
    while (cursor_ >= 0) {
        cursor_ = protocol::blockStart(cursor_);
        if (range_.contains(cursor_)) {
            cursor_ = image_.findData(range_.upper + 1);
            continue;
        }
        if (protocol::isEepromBlock(cursor_))
            eeprom_ = true;
        setAddressFirst_ = cursor_ - previousStart_ > protocol::BLOCK_WORDS;
        previousStart_ = cursor_;
        return true;
    }
    return false;
}

bool UploadPlan::sends(int address) const
{
    return address >= 0 && address <= PicProgram::EEPROM_END && sent[address / protocol::BLOCK_WORDS];
}

long UploadPlan::lineBytes() const
{
    constexpr int answer = 1;  // the '>' that acknowledges a frame
    return long(blocks) * (protocol::frameLength(protocol::WRITE_PROGRAM_BLOCK) + answer) +
           long(setAddresses) * (protocol::frameLength(protocol::SET_ADDRESS) + answer) +
           protocol::frameLength(protocol::END_PROGRAMMING);
}

UploadPlan planUpload(const PicProgram& image, int lower, int upper)
{
    UploadPlan plan;
    for (int start : {PicProgram::FLASH_START, PicProgram::EEPROM_START}) {
        int cursor = start;
        PassWalk walk(image, cursor, lower, upper);
        while (walk.next()) {
            ++plan.blocks;
            plan.setAddresses += walk.setAddressFirst();
            plan.sent.set(cursor / protocol::BLOCK_WORDS);
        }
    }
    return plan;
}
