// The console control handler, called in-process: a first Ctrl-Break only
// asks the run to end; a second event or a closed console puts the ports
// back and ends the process.  (Ctrl-C from outside is the end-to-end
// table's, through Wine.)
#include "interrupt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <windows.h>

namespace {

void notePutBack()
{
    fputs("ports put back\n", stderr);
    fflush(stderr);
}

}  // namespace

TEST(ConsoleEventsDeathTest, ASecondEventOrAClosedConsolePutsThePortsBackAndEnds)
{
    onSecondInterrupt(notePutBack);
    const int ended = static_cast<int>(INTERRUPTED_EXIT);
    EXPECT_EXIT(consoleEvent(CTRL_CLOSE_EVENT), testing::ExitedWithCode(ended), "ports put back");
    EXPECT_EXIT(
        {
            consoleEvent(CTRL_C_EVENT);
            consoleEvent(CTRL_BREAK_EVENT);
        },
        testing::ExitedWithCode(ended), "ports put back");
}

TEST(ConsoleEvents, AFirstCtrlBreakOnlyAsksTheRunToEnd)
{
    interruptWaitsOnConsoleEvents();
    EXPECT_FALSE(interruptPending());
    EXPECT_TRUE(consoleEvent(CTRL_BREAK_EVENT));
    EXPECT_TRUE(interruptPending());
    EXPECT_EQ(WaitForSingleObject(static_cast<HANDLE>(interruptEvent()), 0), WAIT_OBJECT_0);
    interruptTaken();
    EXPECT_FALSE(interruptPending());
    EXPECT_FALSE(consoleEvent(42));  // not a control event: left to the next handler
}
