// The notes on what the single-letter parser ignores, and how such lines wrap,
// worked out in-process, one row a case.
#include "options.h"
#include "textFormat.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> notesFor(std::vector<std::string> args)
{
    args.insert(args.begin(), "programUploader");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    UploaderOptions defaults;
    defaults.portName = "/dev/ttyS0";
    return commandLineNotes(static_cast<int>(argv.size()), argv.data(), defaults);
}

} // namespace

TEST(CommandLineNotes, NameWhatTheParserIgnores)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> notes;
    };
    const Case cases[] = {
        {{"-o", "-p", "/dev/ttyUSB0", "-s", "9600", "blink.hex"}, {}},
        {{"-p", "-o", "/dev/ttyUSB1", "blink.hex"}, {}},
        // Letters after the option's own.
        {{"-oq", "blink.hex"}, {"-oq: q ignored; the chip will be written"}},
        {{"-oq", "-q", "blink.hex"}, {"-oq: q ignored; read as -o", "blink.hex: not used; -q only queries the bootloader"}},
        {{"-qo"}, {"-qo: o ignored; read as -q"}},
        {{"-quiet"}, {"-quiet: uiet ignored; read as -q"}},
        {{"-so", "9600", "blink.hex"}, {"-so: o ignored; the speed is the next value, '9600'"}},
        // Glued values.
        {{"-s57600", "blink.hex"}, {"-s57600: 57600 ignored; the speed is the next value, 'blink.hex' (write -s 57600)"}},
        {{"-p/dev/ttyUSB0", "blink.hex"},
         {"-p/dev/ttyUSB0: /dev/ttyUSB0 ignored; the port is the next value, 'blink.hex' (write -p /dev/ttyUSB0)"}},
        {{"blink.hex", "-s57600"},
         {"-s57600: 57600 ignored and no value follows; the speed stays 19200 bit/s (write -s 57600)"}},
        // A value that never came.
        {{"blink.hex", "-p"}, {"-p: no value follows; the port stays /dev/ttyS0"}},
        {{"-s", "9600", "blink.hex", "-s"}, {"-s: no value follows; the speed stays 9600 bit/s"}},
        {{"-p", "-s", "4800", "blink.hex"}, {"-p: -s comes before any value; this -p changes nothing"}},
        // File names not used.
        {{"a.hex", "b.hex", "c.hex"},
         {"a.hex: not used; the last file name, c.hex, is the one uploaded",
          "b.hex: not used; the last file name, c.hex, is the one uploaded"}},
        {{"-q", "blink.hex"}, {"blink.hex: not used; -q only queries the bootloader"}},
        // An unknown letter: its one line alone.
        {{"-oq", "-x", "blink.hex"}, {"-x: unknown option"}},
        {{"-h"}, {"-h: unknown option; --help shows the options"}},
        {{"-"}, {"-: a lone - is not an option"}},
        {{"-S", "9600", "blink.hex"}, {"-S: unknown option; the options are lower case (-s)"}},
        // A refused rate ends the parsing: what follows is not judged.
        {{"-s115200", "fast", "a.hex", "b.hex"},
         {"-s115200: 115200 ignored; the speed is the next value, 'fast' (write -s 115200)"}},
        {{"-s", "12345", "blink.hex"}, {"-s 12345: the speeds that work are 2400, 4800, 9600, 19200, 38400, 57600 bit/s"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(notesFor(c.args), c.notes);
    }
}

// How the lines on standard error and the summary wrap.
TEST(WrapWords, BreaksBetweenWordsAndKeepsAnOptionWithItsValue)
{
    struct Case {
        std::string text;
        int width;
        std::string wrapped;
    };
    const Case cases[] = {
        {"one two three", 13, "one two three\n"},
        {"one two three", 12, "one two\n  three\n"},
        {"check that -s 19200 is right", 14, "check that\n  -s 19200 is\n  right\n"},
        {"averyveryverylongword and more", 10, "averyveryverylongword\n  and more\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(wrapWords(c.text, c.width, "  "), c.wrapped);
    }
}
