// The Intel HEX writer: exact lines, grouping, refused output and reading
// its own output back.
#include "PicProgram.h"
#include "hexTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#ifndef _WIN32
#include "tempFiles.h"

#include <fcntl.h>
#include <unistd.h>
#endif

using namespace hextest;

namespace {

using Lines = std::vector<std::string>;

Lines writtenLines(PicProgram& p) {
    bool ok = false;
    std::string text = writeText(p, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    return linesOf(text);
}

TEST(WriteHex, BlankImageIsHeadingsAndTerminator) {
    PicProgram p;
    bool ok = false;
    EXPECT_EQ(writeText(p, &ok),
              "; Flash ROM data\n; Config data\n; EEPROM data\n; terminator\n:00000001FF\n");
    EXPECT_TRUE(ok);
}

TEST(WriteHex, OneWordOfEachRegion) {
    PicProgram p;
    p.setData(0x0000, 0x2805);
    p.setData(0x0001, 0x3FFF);
    p.setData(0x0002, 0x0183);
    p.setData(0x2007, 0x3F72);
    p.setData(0x2100, 0x0012);
    p.setData(0x2101, 0x0034);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":060000000528FF3F83010B", "; Config data",
                                      ":02400E00723FFF", "; EEPROM data", ":024200001200AA",
                                      ":02420200340086", "; terminator", ":00000001FF"}));
}

TEST(WriteHex, RecordsBreakAtMultiplesOfEight) {
    PicProgram p;
    p.setData(6, 0x11);
    p.setData(7, 0x22);
    p.setData(8, 0x33);
    p.setData(9, 0x44);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":04000C0011002200BD", ":040010003300440075",
                                      "; Config data", "; EEPROM data", "; terminator", ":00000001FF"}));
}

TEST(WriteHex, SeventeenWordsGiveEightEightAndOne) {
    PicProgram p;
    for (int i = 0; i < 17; ++i) p.setData(i, 0x0100 + i);
    EXPECT_EQ(writtenLines(p),
              (Lines{"; Flash ROM data", ":1000000000010101020103010401050106010701CC",
                     ":10001000080109010A010B010C010D010E010F017C", ":020020001001CD", "; Config data",
                     "; EEPROM data", "; terminator", ":00000001FF"}));
}

TEST(WriteHex, BlankWordEndsARecord) {
    PicProgram p;
    p.setData(0, 0x2805);
    p.setData(2, 0x2345);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":020000000528D1", ":02000400452392", "; Config data",
                                      "; EEPROM data", "; terminator", ":00000001FF"}));
}

TEST(WriteHex, EepromIsOneWordARecord) {
    PicProgram p;
    for (int i = 0; i < 4; ++i) p.setData(0x2100 + i, 0xA0 + i);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", "; Config data", "; EEPROM data", ":02420000A0001C",
                                      ":02420200A10019", ":02420400A20016", ":02420600A30013", "; terminator",
                                      ":00000001FF"}));
}

TEST(WriteHex, EightConfigurationWordsAreOneRecord) {
    PicProgram p;
    for (int i = 0; i < 8; ++i) p.setData(0x2000 + i, 0x3F00 + i);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", "; Config data",
                                      ":10400000003F013F023F033F043F053F063F073F9C", "; EEPROM data",
                                      "; terminator", ":00000001FF"}));
}

TEST(WriteHex, LastFlashWordAndFirstConfigurationWordStayInTheirSections) {
    PicProgram p;
    p.setData(0x1FFF, 0x1234);
    p.setData(0x2000, 0x0ABC);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":023FFE0034127B", "; Config data", ":02400000BC0AF8",
                                      "; EEPROM data", "; terminator", ":00000001FF"}));
}

TEST(WriteHex, LastFlashGroupIsOneRecord) {
    PicProgram p;
    for (int i = 0; i < 8; ++i) p.setData(0x1FF8 + i, i + 1);
    p.setData(0x2000, 0x0ABC);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":103FF000010002000300040005000600070008009D",
                                      "; Config data", ":02400000BC0AF8", "; EEPROM data", "; terminator",
                                      ":00000001FF"}));
}

TEST(WriteHex, OnlyTheLowSixteenBitsAreWritten) {
    PicProgram p;
    p.setData(0, 0x12345);
    EXPECT_EQ(writtenLines(p), (Lines{"; Flash ROM data", ":02000000452396", "; Config data", "; EEPROM data",
                                      "; terminator", ":00000001FF"}));
}

TEST(WriteHex, WritesFromTheStreamsCurrentPosition) {
    PicProgram p;
    p.setData(0, 0x2805);
    OwnedFile f(std::tmpfile());
    std::fputs("; header kept\n", f.get());
    EXPECT_TRUE(p.writeHex(f.get()));
    std::fflush(f.get());
    std::rewind(f.get());
    char line[64];
    ASSERT_TRUE(std::fgets(line, sizeof line, f.get()));
    EXPECT_STREQ(line, "; header kept\n");
    ASSERT_TRUE(std::fgets(line, sizeof line, f.get()));
    EXPECT_STREQ(line, "; Flash ROM data\n");
}

// /dev/full and a POSIX file that may only be read.
#ifndef _WIN32
TEST(WriteHexRefusedOutput, FullDevice) {
    PicProgram blank;
    PicProgram full;
    for (int a = 0; a < 0x1000; ++a) full.setData(a, a);
    for (PicProgram* p : {&blank, &full}) {
        OwnedFile f(std::fopen("/dev/full", "w"));
        ASSERT_TRUE(f) << "no /dev/full";
        EXPECT_FALSE(p->writeHex(f.get()));
    }
}

TEST(WriteHexRefusedOutput, ReadOnlyStream) {
    const std::string path = tempDir() + "/image.hex";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        OwnedFile f(std::fopen(path.c_str(), "r"));
        ASSERT_TRUE(f);
        PicProgram p;
        p.setData(0, 0x2805);
        EXPECT_FALSE(p.writeHex(f.get()));
    }
    unlink(path.c_str());
}

TEST(WriteHexRefusedOutput, UnbufferedFullDevice) {
    // Without a buffer each write fails on its own, not only the final flush.
    OwnedFile f(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(f);
    std::setvbuf(f.get(), nullptr, _IONBF, 0);
    PicProgram p;
    p.setData(0x2100, 1);
    EXPECT_FALSE(p.writeHex(f.get()));
}
#endif

TEST(WriteHexRoundTrip, EveryWordReadsBack) {
    PicProgram p;
    for (int a = 0; a < 8192; a += 3) p.setData(a, (a * 37) & 0xFFFF);
    p.setData(0x1FFF, 0x0000);
    for (int a = 0x2000; a <= 0x2007; a += 2) p.setData(a, 0x3F00 | a);
    for (int a = 0x2100; a <= 0x21FF; a += 5) p.setData(a, a & 0xFF);
    p.setData(0x21FF, 0xFFFE);
    std::string text = writeText(p);

    PicProgram back;
    ReadResult r = readText(back, text);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(usedAddresses(back), usedAddresses(p));
    for (int a : usedAddresses(p)) ASSERT_EQ(back.getData(a), p.getData(a)) << std::hex << a;
    EXPECT_TRUE(p.equals(&back));
    EXPECT_TRUE(back.equals(&p));
    // Writing the read image gives the same text again.
    EXPECT_EQ(writeText(back), text);
}

}  // namespace
