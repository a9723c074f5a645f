// The walk of one programming pass: which blocks it sends, in which order,
// and before which of them the bootloader must be told the address.  The
// pass that sends the blocks and the counts shown before and during an
// upload go through this one walk, so a count is never off by a block.
#ifndef PASS_WALK_H
#define PASS_WALK_H

#include "PicProgram.h"
#include "protocol.h"

#include <bitset>

class PassWalk {
public:
    // cursor is the caller's variable: the walk starts where it points and
    // leaves it where the pass leaves its cursor (-1 after the last block).
    PassWalk(const PicProgram& image, int& cursor, int lower, int upper);
    PassWalk(const PassWalk&) = delete;
    PassWalk& operator=(const PassWalk&) = delete;

    // Moves the cursor to the start of the next block to send and answers
    // true, or answers false when the pass is complete.  A block inside the
    // bootloader's range is passed over, never answered.
    bool next();
    // The block just answered does not directly follow the one before it.
    bool setAddressFirst() const { return setAddressFirst_; }
    // EEPROM mode: set by the first EEPROM block, kept for the whole pass.
    bool eeprom() const { return eeprom_; }

private:
    const PicProgram& image_;
    int& cursor_;
    protocol::Range range_;
    int previousStart_ = -16;  // makes the first block of every pass need its address
    bool started_ = false;
    bool setAddressFirst_ = false;
    bool eeprom_ = false;
};

// Every block the two passes of an upload send: the program pass from image
// address 0 and the EEPROM pass from 0x2100.
struct UploadPlan {
    static constexpr int BLOCK_SLOTS = (PicProgram::EEPROM_END + 1) / protocol::BLOCK_WORDS;

    int blocks = 0;
    int setAddresses = 0;
    std::bitset<BLOCK_SLOTS> sent;  // by block start / 4

    bool sends(int address) const;
    // Bytes both ways on the line: each frame, its '>', and the end command.
    long lineBytes() const;
};
UploadPlan planUpload(const PicProgram& image, int lower, int upper);

#endif
