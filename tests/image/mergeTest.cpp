// Merge, difference and equality of two images.
#include "PicProgram.h"
#include "hexTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using hextest::usedAddresses;

namespace {

constexpr int BLANK = PicProgram::BLANK;
using Owned = std::unique_ptr<PicProgram>;

TEST(Merge, ThisImageWinsBothWays) {
    PicProgram a, b;
    a.setData(0x0000, 0x1111);
    b.setData(0x0000, 0x2222);
    b.setData(0x0001, 0x3333);

    Owned ab(a.merge(&b));
    EXPECT_EQ(ab->getData(0x0000), 0x1111);
    EXPECT_EQ(ab->getData(0x0001), 0x3333);
    EXPECT_EQ(usedAddresses(*ab), (std::vector<int>{0, 1}));

    Owned ba(b.merge(&a));
    EXPECT_EQ(ba->getData(0x0000), 0x2222);
    EXPECT_EQ(ba->getData(0x0001), 0x3333);
}

TEST(Merge, CoversEveryRegionAndLeavesInputsAlone) {
    PicProgram a, b;
    a.setData(0x1FFF, 1);
    a.setData(0x2000, 2);
    b.setData(0x2007, 3);
    b.setData(0x21FF, 4);
    b.setData(0x2100, 5);
    Owned m(a.merge(&b));
    EXPECT_EQ(usedAddresses(*m), (std::vector<int>{0x1FFF, 0x2000, 0x2007, 0x2100, 0x21FF}));
    EXPECT_EQ(m->getData(0x21FF), 4);
    EXPECT_EQ(m->getFlashSize(), 8192);
    EXPECT_EQ(m->getEepromSize(), 256);
    EXPECT_EQ(usedAddresses(a), (std::vector<int>{0x1FFF, 0x2000}));
    EXPECT_EQ(usedAddresses(b), (std::vector<int>{0x2007, 0x2100, 0x21FF}));
}

TEST(Diff, KeepsThisImagesWordsWhereTheyDiffer) {
    PicProgram a, b;
    a.setData(0x0000, 0x1111);
    b.setData(0x0000, 0x2222);
    a.setData(0x0010, 0x0042);  // same in both: not in the difference
    b.setData(0x0010, 0x0042);
    b.setData(0x0020, 0x0077);  // only the other has it: this image's blank
    a.setData(0x2003, 0x3FFF);  // only this has it
    a.setData(0x2180, 0x0001);
    Owned d(a.diff(&b));
    EXPECT_EQ(usedAddresses(*d), (std::vector<int>{0x0000, 0x2003, 0x2180}));
    EXPECT_EQ(d->getData(0x0000), 0x1111);
    EXPECT_EQ(d->getData(0x2003), 0x3FFF);
    EXPECT_EQ(d->getData(0x0020), BLANK);
    EXPECT_EQ(usedAddresses(b), (std::vector<int>{0x0000, 0x0010, 0x0020}));
}

TEST(Diff, SameImagesGiveBlankDifference) {
    PicProgram a, b;
    for (int addr : {0x0000, 0x0ABC, 0x1FFF, 0x2000, 0x2007, 0x2100, 0x21FF}) {
        a.setData(addr, addr & 0x3FFF);
        b.setData(addr, addr & 0x3FFF);
    }
    Owned d(a.diff(&b));
    EXPECT_TRUE(usedAddresses(*d).empty());
    EXPECT_TRUE(a.equals(&b));
    EXPECT_TRUE(b.equals(&a));
}

TEST(Equals, IsNotSymmetric) {
    PicProgram p, q;
    q.setData(0x0000, 0x2222);
    for (PicProgram* img : {&p, &q}) img->setData(0x0100, 0x0055);
    EXPECT_TRUE(p.equals(&q));
    EXPECT_FALSE(q.equals(&p));

    PicProgram blank;
    EXPECT_TRUE(blank.equals(&q));
    EXPECT_FALSE(q.equals(&blank));
}

TEST(Equals, LastWordOfEachRegionCounts) {
    for (int addr : {0x1FFF, 0x2000, 0x2007, 0x2100, 0x21FF}) {
        PicProgram a, b;
        a.setData(0x0005, 7);
        b.setData(0x0005, 7);
        a.setData(addr, 0x0001);
        b.setData(addr, 0x0002);
        EXPECT_FALSE(a.equals(&b)) << std::hex << addr;
        EXPECT_FALSE(b.equals(&a)) << std::hex << addr;
        b.setData(addr, 0x0001);
        EXPECT_TRUE(a.equals(&b)) << std::hex << addr;
    }
}

TEST(Equals, ComparesWholeValues) {
    PicProgram a, b;
    a.setData(0, 0x12345);
    b.setData(0, 0x02345);
    EXPECT_FALSE(a.equals(&b));
}

TEST(DifferentSizes, MergeFillsFromTheLargerImageAndStoresNoMinusOne) {
    PicProgram small(4096, 128);
    PicProgram large;
    small.setData(0x0000, 0x1111);
    large.setData(0x0000, 0x2222);
    large.setData(0x1000, 0x3333);  // only the larger image holds these
    large.setData(0x2180, 0x0044);

    for (bool smallFirst : {true, false}) {
        SCOPED_TRACE(smallFirst ? "small.merge(large)" : "large.merge(small)");
        Owned m(smallFirst ? small.merge(&large) : large.merge(&small));
        EXPECT_EQ(m->getFlashSize(), 8192);
        EXPECT_EQ(m->getEepromSize(), 256);
        EXPECT_EQ(m->getData(0x0000), smallFirst ? 0x1111 : 0x2222);
        EXPECT_EQ(m->getData(0x1000), 0x3333);
        EXPECT_EQ(m->getData(0x2180), 0x0044);
        EXPECT_EQ(usedAddresses(*m), (std::vector<int>{0x0000, 0x1000, 0x2180}));
        for (int a = 0; a <= PicProgram::EEPROM_END; ++a)
            if (m->isValidAddr(a)) {
                ASSERT_NE(m->getData(a), -1) << std::hex << a;
            }
        EXPECT_FALSE(m->isUsed(0x1001, 0x1FFF));
        EXPECT_FALSE(m->isUsed(0x2181, 0x21FF));
    }
}

TEST(DifferentSizes, DiffCountsMissingWordsAsBlank) {
    PicProgram small(4096, 128);
    PicProgram large;
    large.setData(0x1000, 0x3333);

    Owned ds(small.diff(&large));
    EXPECT_TRUE(usedAddresses(*ds).empty());
    for (int a = 0; a <= PicProgram::EEPROM_END; ++a)
        if (ds->isValidAddr(a)) {
            ASSERT_NE(ds->getData(a), -1) << std::hex << a;
        }

    Owned dl(large.diff(&small));
    EXPECT_EQ(usedAddresses(*dl), std::vector<int>{0x1000});
    EXPECT_EQ(dl->getData(0x1000), 0x3333);
}

TEST(DifferentSizes, EqualsIgnoresTheBlankTailOfTheLargerImage) {
    PicProgram small(4096, 128);
    PicProgram large;
    small.setData(0x0005, 0x0055);
    large.setData(0x0005, 0x0055);
    EXPECT_TRUE(small.equals(&large));
    EXPECT_TRUE(large.equals(&small));

    large.setData(0x1FFF, 0x0001);
    EXPECT_TRUE(small.equals(&large));
    EXPECT_FALSE(large.equals(&small));
}

}  // namespace
