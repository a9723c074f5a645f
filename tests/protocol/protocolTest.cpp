// The protocol's facts that both ends and the tools share, checked against
// bytes written out by hand.
#include "protocol.h"

#include <gtest/gtest.h>

#include <string>

using namespace protocol;

namespace {

std::string frame(std::initializer_list<uint8_t> command)
{
    std::string out(command.begin(), command.end());
    out += static_cast<char>(checksum(command.begin(), static_cast<int>(command.size())));
    return out;
}

}  // namespace

TEST(Protocol, FramesAndWords)
{
    EXPECT_EQ(frame({END_PROGRAMMING}), std::string("\x01\xFF"));
    EXPECT_EQ(frame({SET_ADDRESS, 0x04, 0x00}), std::string("\x02\x04\x00\xFA", 4));
    EXPECT_EQ(frame({SET_ADDRESS, 0x00, 0x20}), std::string("\x02\x00\x20\xDE", 4));
    EXPECT_EQ(frame({}), std::string("\x00", 1));
    const std::string block = frame({WRITE_PROGRAM_BLOCK, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F});
    EXPECT_EQ(block.back(), '\x04');
    EXPECT_TRUE(checksumOk(reinterpret_cast<const uint8_t*>(block.data()), static_cast<int>(block.size())));

    const struct { uint8_t code; int length; } lengths[] = {
        {END_PROGRAMMING, 2}, {SET_ADDRESS, 4}, {WRITE_PROGRAM_BLOCK, 10}, {WRITE_EEPROM_BLOCK, 10}, {3, 0}, {0, 0},
    };
    for (const auto& l : lengths)
        EXPECT_EQ(frameLength(l.code), l.length) << int(l.code);

    uint8_t bytes[2];
    putWord(0x12100, bytes);  // bits above 15 never reach the wire
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x21);
    EXPECT_EQ(getWord(bytes), 0x2100);
}

TEST(Protocol, BlocksRangesAndSpeeds)
{
    EXPECT_EQ(widen(Range{0x1F01, 0x1F00}).lower, 0x1F00);
    EXPECT_EQ(widen(Range{0x1F01, 0x1F00}).upper, 0x1F03);
    EXPECT_EQ(widen(Range{0x1F00, 0x1FFF}).upper, 0x1FFF);
    EXPECT_FALSE((Range{0x20, 0x10}.contains(0x18)));  // a reversed range protects nothing
    EXPECT_EQ(wireAddress(0x2104), 0x0004);
    EXPECT_EQ(wireAddress(0x2004), 0x2004);

    for (int s : CONSOLE_SPEEDS)
        EXPECT_TRUE(isConsoleSpeed(s));
    EXPECT_FALSE(isConsoleSpeed(230400));
    EXPECT_FALSE(isConsoleSpeed(14400));
    EXPECT_EQ(characterMicros(19200), 520);
}
