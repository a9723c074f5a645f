// The Intel HEX reader: accepted layouts, extended addresses, and every way a
// file is refused.
#include "PicProgram.h"
#include "hexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace hextest;

namespace {

constexpr int BLANK = PicProgram::BLANK;
const std::string END = ":00000001FF\n";
const std::string EOF_TEXT = "PicProgram::readHex - unexpected end of file\n";

// Reads `text` into a fresh default image and expects a clean success.
void expectAccepted(PicProgram& p, const std::string& text) {
    ReadResult r = readText(p, text);
    EXPECT_TRUE(r.ok) << text;
    EXPECT_EQ(r.err, "") << text;
}

// Reads `text` and expects one reader error line that names `line`.
std::string expectRefusedAt(PicProgram& p, const std::string& text, int line) {
    ReadResult r = readText(p, text);
    EXPECT_FALSE(r.ok) << text;
    EXPECT_TRUE(isOneReaderLine(r.err)) << "stderr: [" << r.err << "]";
    EXPECT_TRUE(mentionsLine(r.err, line)) << "expected line " << line << ", stderr: [" << r.err << "]";
    return r.err;
}

// ---- Accepted files -------------------------------------------------------

TEST(ReadHexAccepts, TwoLineFile) {
    PicProgram p;
    expectAccepted(p, ":020000000528D1\n" + END);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
    EXPECT_EQ(p.getData(0), 0x2805);
}

TEST(ReadHexAccepts, SameImageForEveryLayout) {
    const std::string layouts[] = {
        ":020000000528d1\n:00000001ff\n",
        ":020000000528D1\r\n:00000001FF\r\n",
        "\n\n:020000000528D1\n\n\n:00000001FF\n\n",
        "; Flash ROM data\n:020000000528D1\n; Config data\n; EEPROM data\n; terminator\n:00000001FF\n",
        ":020000000528D1\n:00000001FF",  // no line end after the end record
        "; a comment\r\n\r\n:020000000528D1\r\n; terminator\r\n:00000001FF\r\n",
    };
    for (const std::string& text : layouts) {
        PicProgram p;
        expectAccepted(p, text);
        EXPECT_EQ(usedAddresses(p), std::vector<int>{0}) << text;
        EXPECT_EQ(p.getData(0), 0x2805) << text;
    }
}

TEST(ReadHexAccepts, WordsAreLowByteFirst) {
    PicProgram p;
    expectAccepted(p, ":060000000528FF3F83010B\n" + END);
    EXPECT_EQ(p.getData(0), 0x2805);
    EXPECT_EQ(p.getData(1), 0x3FFF);
    EXPECT_EQ(p.getData(2), 0x0183);
    EXPECT_EQ(usedAddresses(p), (std::vector<int>{0, 1, 2}));
}

TEST(ReadHexAccepts, ConfigurationAndEepromAddresses) {
    PicProgram p;
    expectAccepted(p, ":02400E00723FFF\n:024200001200AA\n" + END);
    EXPECT_EQ(p.getData(0x2007), 0x3F72);
    EXPECT_EQ(p.getData(0x2100), 0x0012);
    EXPECT_EQ(usedAddresses(p), (std::vector<int>{0x2007, 0x2100}));
}

TEST(ReadHexAccepts, OddByteCountDropsTheLastByte) {
    PicProgram p;
    expectAccepted(p, ":030000000528AA26\n" + END);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
    EXPECT_EQ(p.getData(0), 0x2805);
}

TEST(ReadHexAccepts, OddByteAddressGivesTheWordBelow) {
    PicProgram p;
    expectAccepted(p, ":020001000528D0\n" + END);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
    EXPECT_EQ(p.getData(0), 0x2805);
}

TEST(ReadHexAccepts, RecordsLongerThanTheWritersSixteenBytes) {
    PicProgram p;
    expectAccepted(p, ":2000200000100110021003100410051006100710081009100A100B100C100D100E100F1048\n" + END);
    std::vector<int> expected;
    for (int i = 0; i < 16; ++i) expected.push_back(0x10 + i);
    EXPECT_EQ(usedAddresses(p), expected);
    EXPECT_EQ(p.getData(0x10), 0x1000);
    EXPECT_EQ(p.getData(0x1F), 0x100F);
}

TEST(ReadHexAccepts, LaterRecordOverwritesEarlierWord) {
    PicProgram p;
    expectAccepted(p, ":020000000528D1\n:02000000452396\n" + END);
    EXPECT_EQ(p.getData(0), 0x2345);
}

TEST(ReadHexAccepts, AddsToTheImageWithoutBlankingIt) {
    PicProgram p;
    p.setData(0x0100, 0x1234);
    expectAccepted(p, ":020000000528D1\n" + END);
    EXPECT_EQ(p.getData(0x0100), 0x1234);
    EXPECT_EQ(p.getData(0), 0x2805);
}

TEST(ReadHexAccepts, EmptyDataRecordStoresNothing) {
    PicProgram p;
    expectAccepted(p, ":0000000000\n" + END);
    EXPECT_TRUE(usedAddresses(p).empty());
}

// A named POSIX file, and a child process with its own standard error.
#ifndef _WIN32
TEST(ReadHexAccepts, FromANamedFileInTextMode) {
    char path[] = "/tmp/picImageTestXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text = "; Flash ROM data\n:060000000528FF3F83010B\n; terminator\n" + END;
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    {
        OwnedFile f(std::fopen(path, "r"));
        ASSERT_TRUE(f);
        PicProgram p;
        std::string err;
        EXPECT_TRUE(p.readHex(f.get(), collectInto(err)));
        EXPECT_EQ(err, "");
        EXPECT_EQ(usedAddresses(p), (std::vector<int>{0, 1, 2}));
    }
    unlink(path);
}

// Reads text in a child process whose standard error is a pipe, with the
// overload that takes no report: what reaches descriptor 2, and the result.
ReadResult readTextInChild(const std::string& text) {
    int ends[2];
    if (pipe(ends) != 0) return {false, "pipe failed"};
    OwnedFd readEnd(ends[0]);
    OwnedFd writeEnd(ends[1]);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return {false, "fork failed"};
    if (pid == 0) {
        dup2(writeEnd.get(), STDERR_FILENO);
        PicProgram p;
        OwnedFile f = streamOf(text);
        bool ok = p.readHex(f.get());
        std::fflush(stderr);
        _exit(ok ? 0 : 1);
    }
    writeEnd.reset();
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(readEnd.get(), buf, sizeof buf)) > 0;) err.append(buf, size_t(n));
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, err};
}

TEST(ReadHexDefaultReport, WritesEveryMessageToStandardErrorAsItStands) {
    struct Case {
        std::string text;
        bool ok;
        std::string err;
    };
    const Case cases[] = {
        {":02401000341268\n:02460000341272\n" + END, true,
         "PicProgram::readHex - invalid address 2008\nPicProgram::readHex - invalid address 2300\n"},
        {":020000000528D2\n" + END, false,
         "PicProgram::readHex - bad checksum D2 on line 1 (the record's bytes need D1)\n"},
        {":0400000005", false, EOF_TEXT},
        {":020000000528D1\n" + END, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ReadResult child = readTextInChild(c.text);
        EXPECT_EQ(child.ok, c.ok);
        EXPECT_EQ(child.err, c.err);
        PicProgram p;
        EXPECT_EQ(readText(p, c.text).err, c.err);
    }
}
#endif

TEST(ReadHexInvalidAddress, ReportsImageAddressAndReadsOn) {
    PicProgram p;
    // Byte address 0x4010 is image address 0x2008, between configuration and EEPROM.
    ReadResult r = readText(p, ":020000000528D1\n:02401000341268\n:024200001200AA\n" + END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, "PicProgram::readHex - invalid address 2008\n");
    EXPECT_EQ(usedAddresses(p), (std::vector<int>{0, 0x2100}));
}

TEST(ReadHexInvalidAddress, OnlyTheRefusedWordsOfARecordAreDropped) {
    PicProgram p(8192, 1);
    // Two EEPROM words at 0x2100 and 0x2101; the smaller image holds only the first.
    ReadResult r = readText(p, ":044200001200340074\n" + END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, "PicProgram::readHex - invalid address 2101\n");
    EXPECT_EQ(p.getData(0x2100), 0x0012);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0x2100});
}

TEST(ReadHexEndRecord, NothingAfterItIsRead) {
    PicProgram p;
    ReadResult r = readText(p, ":020000000528D1\n" + END + ":02000200452394\nthis is not hex\n:0200000005ZZD1\n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
}

TEST(ReadHexEndRecord, StreamIsLeftOpenJustAfterIt) {
    PicProgram p;
    OwnedFile f = streamOf(":020000000528D1\n" + END + "tail");
    std::string err;
    EXPECT_TRUE(p.readHex(f.get(), collectInto(err)));
    // The stream is still usable by the caller.
    EXPECT_EQ(std::fseek(f.get(), 0, SEEK_SET), 0);
}

// ---- Extended address records ---------------------------------------------

TEST(ReadHexExtended, ZeroLinearBaseLoadsAsIfAbsent) {
    const std::string body = ":060000000528FF3F83010B\n:02400E00723FFF\n:024200001200AA\n" + END;
    PicProgram plain, extended;
    expectAccepted(plain, body);
    expectAccepted(extended, ":020000040000FA\n" + body);
    EXPECT_FALSE(usedAddresses(extended).empty());
    EXPECT_EQ(usedAddresses(plain), usedAddresses(extended));
    EXPECT_TRUE(plain.equals(&extended));
    EXPECT_TRUE(extended.equals(&plain));
}

TEST(ReadHexExtended, ZeroSegmentBaseLoadsAsIfAbsent) {
    PicProgram p;
    expectAccepted(p, ":020000020000FC\n:020000000528D1\n" + END);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
    EXPECT_EQ(p.getData(0), 0x2805);
}

TEST(ReadHexExtended, SegmentBaseIsTimesSixteen) {
    PicProgram p;
    // Segment 0x0400 puts byte address 0x000E at 0x400E: configuration word 0x2007.
    expectAccepted(p, ":020000020400F8\n:02000E00723F3F\n" + END);
    EXPECT_EQ(usedAddresses(p), std::vector<int>{0x2007});
    EXPECT_EQ(p.getData(0x2007), 0x3F72);
}

TEST(ReadHexExtended, LinearBaseMovesWordsOutOfTheImage) {
    PicProgram p;
    // Base 0x10000: byte address 0 is image address 0x8000, which no image holds.
    ReadResult r = readText(p, ":020000040001F9\n:020000000528D1\n" + END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err, "PicProgram::readHex - invalid address 8000\n");
    EXPECT_TRUE(usedAddresses(p).empty());
}

TEST(ReadHexExtended, BaseHoldsUntilTheNextExtendedRecord) {
    PicProgram p;
    ReadResult r = readText(p,
                            ":020000040001F9\n"
                            ":020000000528D1\n"
                            ":02000200452394\n"
                            ":020000040000FA\n"
                            ":020004003412B4\n" +
                                END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err,
              "PicProgram::readHex - invalid address 8000\n"
              "PicProgram::readHex - invalid address 8001\n");
    EXPECT_EQ(usedAddresses(p), std::vector<int>{2});
    EXPECT_EQ(p.getData(2), 0x1234);
}

TEST(ReadHexExtended, HighestLinearBaseIsReportedNotStored) {
    PicProgram p;
    // Byte address 0xFFFFFFFE: far beyond any image; must not wrap into it.
    ReadResult r = readText(p, ":02000004FFFFFC\n:02FFFE00555557\n:020000000528D1\n" + END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.err.rfind("PicProgram::readHex - invalid address ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_TRUE(usedAddresses(p).empty());
}

TEST(ReadHexExtended, StartAddressRecordsArePassedOver) {
    PicProgram p;
    expectAccepted(p, ":0400000300003800C1\n:020000000528D1\n:04000005000000CD2A\n:02000200452394\n" + END);
    EXPECT_EQ(usedAddresses(p), (std::vector<int>{0, 1}));
    EXPECT_EQ(p.getData(1), 0x2345);
}

// ---- Refused files ---------------------------------------------------------

TEST(ReadHexRefuses, WrongChecksum) {
    PicProgram p;
    expectRefusedAt(p, ":020000000528D2\n" + END, 1);
    EXPECT_TRUE(usedAddresses(p).empty());
}

TEST(ReadHexRefuses, WrongChecksumNamesItsLine) {
    PicProgram p;
    const std::string text =
        "; Flash ROM data\n"
        ":020000000528D1\n"
        ":02000200452395\n"
        ":020004003412B4\n" +
        END;
    std::string err = expectRefusedAt(p, text, 3);
    EXPECT_EQ(p.getData(1), BLANK);  // no word of the refused record
    EXPECT_EQ(p.getData(2), BLANK);  // nothing after it
}

TEST(ReadHexRefuses, LineNumbersCountCrLfLinesOnce) {
    PicProgram p;
    expectRefusedAt(p, "; c\r\n:020000000528D1\r\n:02000200452395\r\n" + END, 3);
}

TEST(ReadHexRefuses, LineNumbersCountBlankLines) {
    PicProgram p;
    expectRefusedAt(p, "\n\n\n\n:020000000528D2\n" + END, 5);
}

TEST(ReadHexRefuses, WrongChecksumOnEveryRecordType) {
    const std::string bad[] = {
        ":00000001FE\n",                           // end record
        ":020000040000FB\n:020000000528D1\n" + END,  // extended linear
        ":020000020000FD\n:020000000528D1\n" + END,  // extended segment
        ":0400000300003800C2\n" + END,              // start segment
    };
    for (const std::string& text : bad) {
        PicProgram p;
        SCOPED_TRACE(text);
        expectRefusedAt(p, text, 1);
        EXPECT_TRUE(usedAddresses(p).empty());
    }
}

TEST(ReadHexRefuses, MoreDigitsThanTheByteCountPromises) {
    PicProgram p;
    // The count says one word, so "FF" stands where the checksum belongs.
    expectRefusedAt(p, ":020000000528FF3FD1\n" + END, 1);
    EXPECT_TRUE(usedAddresses(p).empty());
}

TEST(ReadHexRefuses, StrayCharacters) {
    const std::string bad[] = {
        ":02000000G528D1\n",   // in the data
        ":0G0000000528D1\n",   // in the byte count
        ":02000Z000528D1\n",   // in the address
        ":020000G00528D1\n",   // in the record type
        ":02000000052 8D1\n",  // a space inside the record
        ":020000000528D\n",    // checksum cut to one digit
        ":020000000528DX\n",   // in the checksum
        ":02000000-528D1\n",   // a sign
        ":0x0000000528D1\n",   // a hex prefix
    };
    for (const std::string& record : bad) {
        PicProgram p;
        SCOPED_TRACE(record);
        expectRefusedAt(p, "; Flash ROM data\n" + record + END, 2);
        EXPECT_TRUE(usedAddresses(p).empty());
    }
}

TEST(ReadHexRefuses, LineEndsBeforeTheRecordDoes) {
    const std::string bad[] = {
        ":040000000528FF3F\n",  // one word and no checksum: the line ends early
        ":04000000052880\n",    // one word and a checksum-sized rest
        ":0400000005\n",
        ":02000000\n",
        ":\n",
        ":020000000528\r\n",
    };
    for (const std::string& record : bad) {
        PicProgram p;
        SCOPED_TRACE(record);
        expectRefusedAt(p, ":02000200452394\n" + record + END, 2);
        EXPECT_EQ(p.getData(0), BLANK);
    }
}

TEST(ReadHexRefuses, UnknownRecordTypes) {
    const std::string bad[] = {
        ":00000006FA\n",
        ":0000000AF6\n",
        ":0000008080\n",
    };
    for (const std::string& record : bad) {
        PicProgram p;
        SCOPED_TRACE(record);
        expectRefusedAt(p, ":020000000528D1\n" + record + ":02000200452394\n" + END, 2);
        EXPECT_EQ(p.getData(2), BLANK);
    }
}

// A line outside any record must be blank, a comment, or text before a ':';
// anything else is a record that lost its ':' and is refused by line.
TEST(ReadHexRefuses, LineThatHoldsNoRecord) {
    const std::string NO_RECORD = "PicProgram::readHex - line ";
    struct Case {
        const char* what;
        std::string text;
        std::string err;  // after "PicProgram::readHex - line "
    };
    const Case cases[] = {
        {"a record whose ':' was lost", ":020000000528D1\n020002004523\n" + END,
         "2 holds no record: '020002004523'\n"},
        {"at most 16 characters shown", ":020000000528D1\n100010000528FF3F83010B0528FF3F83010B9C\n" + END,
         "2 holds no record: '100010000528FF3F'\n"},
        {"spaces and tabs before no ':'", " \tmissing colon\n" + END,
         "1 holds no record: ' \\x09missing colon'\n"},
        {"non-printable bytes as \\xNN", std::string("\x01\xFF\x7F", 3) + "\n" + END,
         "1 holds no record: '\\x01\\xFF\\x7F'\n"},
        {"a line of NUL bytes", std::string(":020000000528D1\n\0\0\n", 19) + END, "2 holds no record: '\\x00\\x00'\n"},
        {"a ';' whose rest is all hex digits (':' with a flipped bit)",
         "; Flash ROM data\n;020000000528D1 \t\r\n" + END, "2 holds no record: ';020000000528D1 '\n"},
        {"a CR counts as a line end", ":020000000528D1\r;\rjunk\r" + END, "3 holds no record: 'junk'\n"},
        {"CR LF counts once", ":020000000528D1\r\n\r\njunk\r\n" + END, "3 holds no record: 'junk'\n"},
        {"the last line, without a line end", ":020000000528D1\njunk", "2 holds no record: 'junk'\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PicProgram p;
        ReadResult r = readText(p, c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, NO_RECORD + c.err);
    }
}

TEST(ReadHexAccepts, LinesWithoutRecordThatArePassedOver) {
    const std::string passedOver[] = {
        " \t\n\r\n\r",          // blank lines, every line end
        "; Flash ROM data\n",   // the writer's comments
        ";\n; 020000000528D1\n;02 comment\n;DEADBEEF comment\n",  // comments that are not all digits
        "garbage before :020000000528D1\n",  // text before a ':' on its line
        "\xEF\xBB\xBF:020000000528D1\n",     // a byte-order mark
    };
    for (const std::string& lines : passedOver) {
        SCOPED_TRACE(lines);
        PicProgram p;
        expectAccepted(p, lines + ":020000000528D1 trailing text\n" + END + "not examined\n");
        EXPECT_EQ(usedAddresses(p), std::vector<int>{0});
    }
}

TEST(ReadHexRefuses, EmptyFile) {
    PicProgram p;
    ReadResult r = readText(p, "");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(isOneReaderLine(r.err)) << r.err;
    EXPECT_NE(r.err.find("unexpected end of file"), std::string::npos) << r.err;
}

TEST(ReadHexRefuses, FilesWithoutEndRecord) {
    const std::string bad[] = {
        ":020000000528D1\n",
        ":020000000528D1",
        "; Flash ROM data\n; just comments\n",
        "\n\n\r\n",
        ":020000040000FA\n:020000000528D1\n",
    };
    for (const std::string& text : bad) {
        PicProgram p;
        SCOPED_TRACE(text);
        ReadResult r = readText(p, text);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(isOneReaderLine(r.err)) << r.err;
        EXPECT_NE(r.err.find("unexpected end of file"), std::string::npos) << r.err;
    }
}

TEST(ReadHexRefuses, FileEndingInsideARecordGivesTheExactText) {
    const std::string bad[] = {
        ":0400000005",                       // two of its words missing
        ":040000000528",                     // the last word missing
        ":020000000528",                     // only the checksum missing
        ":020000000528D",                    // half the checksum
        ":02000000",
        ":0200",
        ":",
        ":020000000528D1\n:0600000005",      // after a good record
    };
    for (const std::string& text : bad) {
        PicProgram p;
        SCOPED_TRACE(text);
        ReadResult r = readText(p, text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, EOF_TEXT);
        EXPECT_EQ(p.getData(1), BLANK);
    }
}

}  // namespace

// The structured form: each message's kind, line and figures, and the
// message itself as the command line prints it.
TEST(ReadHexIssues, EachMessageAsData) {
    using Kind = PicProgram::ReadIssue::Kind;
    struct Case {
        std::string text;
        Kind kind;
        int line;
        long value;
        long expected;
        std::string detail;
    };
    const Case cases[] = {
        {":020000000528D1\n:020000000528D2\n" + END, Kind::BadChecksum, 2, 0xD2, 0xD1, ""},
        {"\n:0400000005", Kind::EndInRecord, 2, 0, 0, ""},
        {":02000000\n", Kind::RecordCutShort, 1, 0, 0, ""},
        {":0200000005G8D1\n", Kind::InvalidCharacter, 1, 'G', 0, ""},
        {":020000000528D1\njunk\n" + END, Kind::NoRecord, 2, 0, 0, "junk"},
        {":02401000341268\n" + END, Kind::InvalidAddress, 1, 0x2008, 0, ""},
        {"\n:03000004000000F9\n" + END, Kind::ExtendedAddressSize, 2, 3, 0, ""},
        {":00000007F9\n" + END, Kind::UnknownRecordType, 1, 7, 0, ""},
        {":020000000528D1\n\n", Kind::NoEndRecord, 2, 0, 0, ""},
        {":020000000528D1\n;\n:020000000528D1", Kind::NoEndRecord, 3, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PicProgram p;
        std::vector<PicProgram::ReadIssue> issues;
        OwnedFile f = streamOf(c.text);
        p.readHex(f.get(), PicProgram::IssueReport([&](const PicProgram::ReadIssue& i) { issues.push_back(i); }));
        ASSERT_EQ(issues.size(), 1u);
        const PicProgram::ReadIssue& i = issues[0];
        EXPECT_EQ(int(i.kind), int(c.kind));
        EXPECT_EQ(i.line, c.line);
        EXPECT_EQ(i.value, c.value);
        EXPECT_EQ(i.expected, c.expected);
        EXPECT_EQ(i.detail, c.detail);
        PicProgram again;
        EXPECT_EQ(i.message, readText(again, c.text).err);
    }
}
