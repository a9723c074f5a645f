// The image's address map, searches, isUsed, fits and clearConfig.
#include "PicProgram.h"

#include <gtest/gtest.h>

namespace {

constexpr int BLANK = PicProgram::BLANK;

TEST(AddressMap, NewDefaultImageIsBlankAndFits) {
    PicProgram p;
    EXPECT_EQ(p.getFlashSize(), 8192);
    EXPECT_EQ(p.getEepromSize(), 256);
    EXPECT_EQ(p.getData(0), BLANK);
    EXPECT_EQ(p.getData(0x1FFF), BLANK);
    EXPECT_EQ(p.getData(0x2007), BLANK);
    EXPECT_EQ(p.getData(0x21FF), BLANK);
    EXPECT_EQ(p.findData(0), -1);
    EXPECT_EQ(p.findData(0x2000), -1);
    EXPECT_EQ(p.findData(0x2100), -1);
    EXPECT_FALSE(p.isUsed(0, 0x1FFF));
    EXPECT_FALSE(p.isUsed(0x2000, 0x2007));
    EXPECT_FALSE(p.isUsed(0x2100, 0x21FF));
    EXPECT_TRUE(p.fits());
}

TEST(AddressMap, DefaultImageEdges) {
    PicProgram p;
    const int valid[] = {0, 0x1FFF, 0x2000, 0x2007, 0x2100, 0x21FF};
    for (int a : valid) {
        EXPECT_TRUE(p.isValidAddr(a)) << std::hex << a;
        EXPECT_TRUE(p.setData(a, 0x0100 + (a & 0xFF))) << std::hex << a;
        EXPECT_EQ(p.getData(a), 0x0100 + (a & 0xFF)) << std::hex << a;
    }
    const int invalid[] = {-1, -0x10000, 0x2008, 0x2050, 0x20FF, 0x2200, 0x4000, 0x7FFFFFFF};
    for (int a : invalid) {
        EXPECT_FALSE(p.isValidAddr(a)) << std::hex << a;
        EXPECT_EQ(p.getData(a), -1) << std::hex << a;
        EXPECT_FALSE(p.setData(a, 1)) << std::hex << a;
        EXPECT_EQ(p.findData(a), -1) << std::hex << a;
    }
    // The refused stores changed nothing anywhere.
    PicProgram reference;
    for (int a : valid) reference.setData(a, 0x0100 + (a & 0xFF));
    EXPECT_TRUE(p.equals(&reference));
    EXPECT_TRUE(reference.equals(&p));
}

TEST(AddressMap, SmallerImageEdges) {
    PicProgram p(4096, 128);
    EXPECT_EQ(p.getFlashSize(), 4096);
    EXPECT_EQ(p.getEepromSize(), 128);
    EXPECT_TRUE(p.isValidAddr(0x0FFF));
    EXPECT_FALSE(p.isValidAddr(0x1000));
    EXPECT_FALSE(p.isValidAddr(0x1FFF));
    EXPECT_TRUE(p.isValidAddr(0x2000));
    EXPECT_TRUE(p.isValidAddr(0x2007));
    EXPECT_FALSE(p.isValidAddr(0x2008));
    EXPECT_TRUE(p.isValidAddr(0x2100));
    EXPECT_TRUE(p.isValidAddr(0x217F));
    EXPECT_FALSE(p.isValidAddr(0x2180));
    EXPECT_FALSE(p.setData(0x1000, 1));
    EXPECT_FALSE(p.setData(0x2180, 1));
    EXPECT_EQ(p.getData(0x1000), -1);
    EXPECT_EQ(p.getData(0x2180), -1);
    EXPECT_EQ(p.getFlashData(0x1000), -1);
    EXPECT_EQ(p.getEepromData(0x80), -1);
    EXPECT_EQ(p.getFlashData(0x0FFF), BLANK);
    EXPECT_EQ(p.getEepromData(0x7F), BLANK);
}

TEST(AddressMap, ZeroSizesLeaveOnlyConfiguration) {
    PicProgram p(0, 0);
    EXPECT_FALSE(p.isValidAddr(0));
    EXPECT_FALSE(p.isValidAddr(0x2100));
    EXPECT_TRUE(p.isValidAddr(0x2000));
    EXPECT_TRUE(p.isValidAddr(0x2007));
    EXPECT_FALSE(p.setData(0, 1));
    EXPECT_TRUE(p.setData(0x2003, 7));
    EXPECT_EQ(p.findData(0x2000), 0x2003);
    EXPECT_FALSE(p.fits());
}

TEST(AddressMap, SizesOutOfRangeAreClamped) {
    PicProgram big(9000, 300);
    EXPECT_EQ(big.getFlashSize(), 8192);
    EXPECT_EQ(big.getEepromSize(), 256);
    EXPECT_FALSE(big.isValidAddr(0x2200));
    EXPECT_FALSE(big.setData(0x2200, 1));
    EXPECT_EQ(big.findData(0x1FFF), -1);

    PicProgram negative(-5, -1);
    EXPECT_EQ(negative.getFlashSize(), 0);
    EXPECT_EQ(negative.getEepromSize(), 0);
    EXPECT_FALSE(negative.isValidAddr(0));
    EXPECT_FALSE(negative.isValidAddr(0x2100));
    EXPECT_EQ(negative.findUsedFlash(0), -1);
    EXPECT_EQ(negative.findUsedEeprom(0), -1);
}

TEST(AddressMap, EepromUpperHalfIsItsOwnStore) {
    PicProgram p;
    EXPECT_TRUE(p.setData(0x2180, 0x12));
    EXPECT_EQ(p.getData(0x2180), 0x12);
    EXPECT_EQ(p.getEepromData(0x80), 0x12);
    EXPECT_EQ(p.findData(0x2100), 0x2180);
    EXPECT_EQ(p.getData(0x1F80), BLANK);
    EXPECT_EQ(p.findData(0), -1);
}

TEST(AddressMap, ValuesAreStoredUnmasked) {
    PicProgram p;
    EXPECT_TRUE(p.setData(0x10, 0x12345));
    EXPECT_EQ(p.getData(0x10), 0x12345);
    EXPECT_TRUE(p.setData(0x2001, 0x3FFF));
    EXPECT_EQ(p.getConfigData(1), 0x3FFF);
}

TEST(AddressMap, PerRegionReadsStayInTheirRegion) {
    PicProgram p;
    p.setData(0x0000, 0x1111);
    p.setData(0x2000, 0x2222);
    p.setData(0x2100, 0x3333);
    EXPECT_EQ(p.getFlashData(0), 0x1111);
    EXPECT_EQ(p.getConfigData(0), 0x2222);
    EXPECT_EQ(p.getEepromData(0), 0x3333);
    EXPECT_EQ(p.getConfigData(7), BLANK);
    EXPECT_EQ(p.getConfigData(8), -1);
    EXPECT_EQ(p.getConfigData(-1), -1);
    EXPECT_EQ(p.getFlashData(-1), -1);
    EXPECT_EQ(p.getFlashData(8192), -1);
    EXPECT_EQ(p.getEepromData(255), BLANK);
    EXPECT_EQ(p.getEepromData(256), -1);
    EXPECT_EQ(p.getEepromData(-1), -1);
}

TEST(Search, FindsUsedWordsIncludingAllOnesProgramWord) {
    PicProgram p;
    p.setData(0x0005, 0x3FFF);
    EXPECT_EQ(p.findData(0), 5);
    EXPECT_EQ(p.findData(5), 5);
    EXPECT_EQ(p.findData(6), -1);
    p.setData(0x0005, BLANK);
    EXPECT_EQ(p.findData(0), -1);
    EXPECT_FALSE(p.isUsed(0, 0x1FFF));
}

TEST(Search, FlashDoesNotRunIntoConfigurationOrEeprom) {
    PicProgram p;
    p.setData(0x2003, 0x1234);
    p.setData(0x2150, 0x0055);
    EXPECT_EQ(p.findData(0), -1);
    EXPECT_EQ(p.findData(0x1FFF), -1);
    EXPECT_EQ(p.findData(0x2000), 0x2003);
    EXPECT_EQ(p.findData(0x2003), 0x2003);
    EXPECT_EQ(p.findData(0x2004), -1);
    EXPECT_EQ(p.findData(0x2008), -1);
    EXPECT_EQ(p.findData(0x20FF), -1);
    EXPECT_EQ(p.findData(0x2100), 0x2150);
    EXPECT_EQ(p.findData(0x2151), -1);
    EXPECT_EQ(p.findUsedConfig(0), 3);
    EXPECT_EQ(p.findUsedEeprom(0), 0x50);
    EXPECT_EQ(p.findUsedFlash(0), -1);
}

TEST(Search, ConfigurationDoesNotRunIntoEeprom) {
    PicProgram p;
    p.setData(0x2100, 0x0042);
    EXPECT_EQ(p.findData(0x2000), -1);
    EXPECT_EQ(p.findData(0x2007), -1);
    EXPECT_EQ(p.findUsedConfig(0), -1);
}

TEST(Search, FullFlashStepsIntoConfigurationAtItsEnd) {
    PicProgram p;
    p.setData(0x1FFF, 1);
    p.setData(0x2007, 2);
    EXPECT_EQ(p.findData(0x1FFF), 0x1FFF);
    EXPECT_EQ(p.findData(0x1FFF + 1), 0x2007);
}

TEST(Search, SmallerFlashEndsAtItsSize) {
    PicProgram p(4096, 256);
    p.setData(0x0FFF, 1);
    p.setData(0x2000, 2);
    EXPECT_EQ(p.findData(0x0FFF), 0x0FFF);
    EXPECT_EQ(p.findData(0x0FFF + 1), -1);
    EXPECT_EQ(p.findUsedFlash(0x1000), -1);
}

TEST(Search, SmallerEepromEndsAtItsSize) {
    PicProgram p(8192, 128);
    p.setData(0x217F, 1);
    EXPECT_EQ(p.findData(0x2100), 0x217F);
    EXPECT_EQ(p.findData(0x2180), -1);
    EXPECT_EQ(p.findUsedEeprom(0x80), -1);
    EXPECT_EQ(p.findUsedEeprom(0x7F), 0x7F);
}

TEST(Search, PerRegionStartsAtOrBeyondBoundFindNothing) {
    PicProgram p;
    p.setData(0x1FFF, 1);
    p.setData(0x2007, 2);
    p.setData(0x21FF, 3);
    EXPECT_EQ(p.findUsedFlash(0x1FFF), 0x1FFF);
    EXPECT_EQ(p.findUsedFlash(8192), -1);
    EXPECT_EQ(p.findUsedFlash(100000), -1);
    EXPECT_EQ(p.findUsedConfig(7), 7);
    EXPECT_EQ(p.findUsedConfig(8), -1);
    EXPECT_EQ(p.findUsedConfig(1000), -1);
    EXPECT_EQ(p.findUsedEeprom(255), 255);
    EXPECT_EQ(p.findUsedEeprom(256), -1);
    EXPECT_EQ(p.findUsedEeprom(100000), -1);
}

TEST(Search, NegativeStartCountsAsZero) {
    PicProgram p;
    p.setData(0x0000, 1);
    p.setData(0x2000, 2);
    p.setData(0x2100, 3);
    EXPECT_EQ(p.findUsedFlash(-1), 0);
    EXPECT_EQ(p.findUsedFlash(-100000), 0);
    EXPECT_EQ(p.findUsedConfig(-3), 0);
    EXPECT_EQ(p.findUsedEeprom(-7), 0);
    // The image-address search never treats a negative address as valid.
    EXPECT_EQ(p.findData(-1), -1);
}

TEST(IsUsed, RangesAndInvalidAddresses) {
    PicProgram p;
    EXPECT_FALSE(p.isUsed(0, 0x1FFF));
    EXPECT_FALSE(p.isUsed(5, 4));
    EXPECT_FALSE(p.isUsed(0x2000, 0x2007));
    // Addresses the image does not hold count as used.
    EXPECT_TRUE(p.isUsed(0x2000, 0x2008));
    EXPECT_FALSE(p.isUsed(0x1FFF, 0x2000));
    EXPECT_TRUE(p.isUsed(-1, 0));
    EXPECT_TRUE(p.isUsed(0x21FF, 0x2200));
    EXPECT_TRUE(p.isUsed(0x20FF, 0x20FF));

    p.setData(0x1F00, 0x0000);  // zero is a programmed word
    EXPECT_TRUE(p.isUsed(0x1F00, 0x1F00));
    EXPECT_TRUE(p.isUsed(0x1E00, 0x1FFF));
    EXPECT_FALSE(p.isUsed(0x1F01, 0x1FFF));
    EXPECT_FALSE(p.isUsed(0x0000, 0x1EFF));
}

TEST(IsUsed, SmallerImageCountsMissingFlashAsUsed) {
    PicProgram p(4096, 128);
    EXPECT_FALSE(p.isUsed(0, 0x0FFF));
    EXPECT_TRUE(p.isUsed(0x0FFF, 0x1000));
    EXPECT_TRUE(p.isUsed(0x1F00, 0x1FFF));
    EXPECT_FALSE(p.isUsed(0x2100, 0x217F));
    EXPECT_TRUE(p.isUsed(0x2100, 0x2180));
}

TEST(Fits, HighWaterMarks) {
    PicProgram p;
    EXPECT_TRUE(p.setData(0x21FF, 1));
    EXPECT_TRUE(p.setData(0x1FFF, 1));
    EXPECT_TRUE(p.fits());

    PicProgram noEeprom(8192, 0);
    EXPECT_FALSE(noEeprom.fits());
    PicProgram noFlash(0, 256);
    EXPECT_FALSE(noFlash.fits());

    PicProgram small(4096, 128);
    EXPECT_TRUE(small.setData(0x0FFF, 1));
    EXPECT_TRUE(small.setData(0x217F, 1));
    EXPECT_FALSE(small.setData(0x1000, 1));
    EXPECT_TRUE(small.fits());
}

TEST(ClearConfig, KeepsTheLastConfigurationWord) {
    PicProgram p;
    for (int a = 0x2000; a <= 0x2007; ++a) p.setData(a, a - 0x1F00);
    p.setData(0x0000, 0x2805);
    p.setData(0x2100, 0x0012);
    p.clearConfig();
    for (int a = 0x2000; a <= 0x2006; ++a) EXPECT_EQ(p.getData(a), BLANK) << std::hex << a;
    EXPECT_EQ(p.getData(0x2007), 0x2007 - 0x1F00);
    EXPECT_EQ(p.findData(0x2000), 0x2007);
    EXPECT_EQ(p.getData(0x0000), 0x2805);
    EXPECT_EQ(p.getData(0x2100), 0x0012);
}

}  // namespace
