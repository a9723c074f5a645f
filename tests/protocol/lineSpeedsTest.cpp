// Every speed the uploader and its monitor offer has its POSIX constant,
// both ways.
#include "protocol.h"
#include "lineSpeeds.h"

#include <gtest/gtest.h>

using namespace protocol;

TEST(LineSpeeds, UploadSpeedsBothWays)
{
    for (int rate : UPLOAD_SPEEDS)
        EXPECT_EQ(bitsPerSecond(speedConstant(rate)), rate);
    EXPECT_EQ(speedConstant(2400), B2400);
    EXPECT_EQ(speedConstant(57600), B57600);
    EXPECT_EQ(speedConstant(12345), B0);
    EXPECT_EQ(bitsPerSecond(B0), 0);
    for (int rate : CONSOLE_SPEEDS)
        EXPECT_EQ(bitsPerSecond(speedConstant(rate)), rate);  // every one a line can be set to
}
