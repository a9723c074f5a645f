// Windows' error codes for a port that cannot be used, each with the reason
// the Linux build gives for the same cause.
#include "portRefusal.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(PortRefusal, EveryCodeGetsTheLinuxReason)
{
    const std::vector<std::string> ports{"COM1", "COM3"};
    struct Case {
        unsigned long code;
        PortRefusal refusal;
        std::string text;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, PortRefusal::Missing,
         "COM7 does not exist. Serial ports on this machine: COM1, COM3 (--list-ports tells more).\n"},
        {ERROR_PATH_NOT_FOUND, PortRefusal::Missing,
         "COM7 does not exist. Serial ports on this machine: COM1, COM3 (--list-ports tells more).\n"},
        {ERROR_ACCESS_DENIED, PortRefusal::InUse,
         "COM7 is in use: another process holds it. Close that program (a terminal program, or a modem "
         "manager probing the adapter) and try again.\n"},
        {ERROR_SHARING_VIOLATION, PortRefusal::InUse,
         "COM7 is in use: another process holds it. Close that program (a terminal program, or a modem "
         "manager probing the adapter) and try again.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(refusalOfOpenError(c.code), c.refusal);
        EXPECT_EQ(portRefusalText("COM7", c.refusal, c.code, ports), c.text);
    }
    EXPECT_EQ(refusalOfOpenError(ERROR_SUCCESS), PortRefusal::None);
}

TEST(PortRefusal, NoPortsNotSerialAndOtherCodes)
{
    EXPECT_EQ(portRefusalText("COM7", PortRefusal::Missing, ERROR_FILE_NOT_FOUND, {}),
              "COM7 does not exist, and no serial port was found on this machine.\n");
    // GetCommState failed on what CreateFile opened.
    EXPECT_EQ(portRefusalText("NUL", PortRefusal::NotSerial, 0, {}),
              "NUL is not a serial device (not a terminal); nothing was written to it.\n");
    // Any other code: the system's words for it on one line.
    EXPECT_EQ(refusalOfOpenError(ERROR_INVALID_NAME), PortRefusal::Other);
    std::string other = portRefusalText("COM7", PortRefusal::Other, ERROR_INVALID_NAME, {});
    EXPECT_EQ(other.rfind("COM7: ", 0), 0u) << other;
    EXPECT_GT(other.size(), 7u);
    EXPECT_EQ(other.find('\n'), other.size() - 1) << other;
    EXPECT_EQ(other.find('\r'), std::string::npos) << other;
    // At a width, between words as the other notes.
    EXPECT_EQ(portRefusalText("COM7", PortRefusal::InUse, ERROR_ACCESS_DENIED, {}, 59),
              "COM7 is in use: another process holds it. Close that\n"
              "  program (a terminal program, or a modem manager probing\n"
              "  the adapter) and try again.\n");
}
