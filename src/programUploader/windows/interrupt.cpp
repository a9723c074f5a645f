#include "interrupt.h"

#include "serialPort.h"

#include <atomic>
#include <windows.h>

namespace {

HANDLE event()
{
    // Manual reset: it stays set until the run takes note.
    static HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return handle;
}

std::atomic<int> events{0};
std::atomic<bool> taken{false};
std::atomic<void (*)()> secondAction{nullptr};

BOOL WINAPI handler(DWORD type)
{
    return consoleEvent(type);
}

void endNow()
{
    if (void (*action)() = secondAction.load())
        action();
    ExitProcess(INTERRUPTED_EXIT);
}

}  // namespace

void interruptWaitsOnConsoleEvents()
{
    event();
    SetConsoleCtrlHandler(handler, TRUE);
}

int consoleEvent(unsigned long type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (events.fetch_add(1) == 0 && !taken.load()) {
            SetEvent(event());
            return TRUE;
        }
        endNow();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process once this returns: put the ports back first.
        endNow();
        return TRUE;
    default:
        return FALSE;
    }
}

bool interruptPending()
{
    return !taken.load() && WaitForSingleObject(event(), 0) == WAIT_OBJECT_0;
}

bool interruptRequested()
{
    return events.load() > 0;
}

void* interruptEvent()
{
    return event();
}

void interruptTaken()
{
    // Every session ends through here; with no event yet, the first Ctrl-C
    // still only asks (the monitor after the upload ends on it).
    if (events.load() == 0)
        return;
    taken.store(true);
    ResetEvent(event());
}

void onSecondInterrupt(void (*action)())
{
    secondAction.store(action);
}

void interruptsEndTheRun()
{
    interruptWaitsOnConsoleEvents();
    onSecondInterrupt(restoreSerialPortsNow);
}
