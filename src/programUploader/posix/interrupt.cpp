#include "interrupt.h"

#include "restoreOnExit.h"

#include <unistd.h>

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t pendingSignal = 0;
volatile sig_atomic_t signalTaken = 0;
void (*volatile secondInterruptAction)() = nullptr;
bool signalsHeld = false;
sigset_t waitMask;  // the mask inside ppoll: the ending signals let through

// A second signal means "now": the run may be stuck in what the first one
// started (the END frame, the drain before the restore).  The process then
// ends by the signal itself, as the shell expects of Ctrl-C.
void onEndingSignal(int signal)
{
    if (!pendingSignal) {
        pendingSignal = signal;
        return;
    }
    if (secondInterruptAction)
        secondInterruptAction();
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signal);
    _exit(128 + signal);
}

sigset_t endingSignals()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int s : ENDING_SIGNALS)
        sigaddset(&ending, s);
    return ending;
}

}  // namespace

void interruptWaitsOnSignals()
{
    sigset_t ending = endingSignals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &ending, &previous);
    waitMask = previous;
    for (int s : ENDING_SIGNALS)
        sigdelset(&waitMask, s);

    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    action.sa_mask = ending;
    for (int s : ENDING_SIGNALS)
        sigaction(s, &action, nullptr);
    signalsHeld = true;
}

int interruptSignal()
{
    return pendingSignal;
}

bool interruptPending()
{
    return pendingSignal && !signalTaken;
}

const sigset_t* interruptWaitMask()
{
    return signalsHeld ? &waitMask : nullptr;
}

void interruptTaken()
{
    if (!pendingSignal || signalTaken)
        return;
    signalTaken = 1;
    sigset_t ending = endingSignals();
    sigprocmask(SIG_UNBLOCK, &ending, nullptr);
}

void onSecondInterrupt(void (*action)())
{
    secondInterruptAction = action;
}

EndingSignalsHeld::EndingSignalsHeld()
{
    sigset_t ending = endingSignals();
    sigprocmask(SIG_BLOCK, &ending, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void interruptsEndTheRun()
{
    interruptWaitsOnSignals();
    onSecondInterrupt(restoreAllNow);
}

bool interruptRequested()
{
    return interruptSignal() != 0;
}
