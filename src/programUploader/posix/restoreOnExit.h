// What must be put back even when the process ends by a signal: an open
// port's settings, a terminal's saved mode.  Each such resource joins the
// registry while it holds something to put back and leaves it when it has
// put it back itself; restoreAllNow, called from a signal handler, puts
// back everything still joined.
//
// Safe inside a signal handler: the registry is an intrusive list, so it
// holds any number of members without allocating, and its links change only
// with the ending signals held back (interrupt.h), so the handler never
// sees them half changed.  No lock is taken.  Members join and leave on the
// run's one thread.
//
// A terminal's saved mode, say, joins like this:
//   class SavedTerminal : private RestoreOnExit {
//       SavedTerminal(int fd) : RestoreOnExit(putBack), fd_(fd) { tcgetattr(fd, &saved_); join(); }
//       ~SavedTerminal() { tcsetattr(fd_, TCSANOW, &saved_); leave(); }
//       static void putBack(RestoreOnExit& self)
//       { auto& t = static_cast<SavedTerminal&>(self); tcsetattr(t.fd_, TCSANOW, &t.saved_); }
//       int fd_;
//       termios saved_;
//   };
#ifndef RESTORE_ON_EXIT_H
#define RESTORE_ON_EXIT_H

class RestoreOnExit {
public:
    // Puts the resource back at once, with system calls only: it runs in a
    // signal handler, just before the process ends.  No virtual call, so a
    // member is usable in the handler whatever its derived class does.
    using Restore = void (*)(RestoreOnExit& self);

    RestoreOnExit(const RestoreOnExit&) = delete;
    RestoreOnExit& operator=(const RestoreOnExit&) = delete;

protected:
    explicit RestoreOnExit(Restore restore) : restore_(restore) {}
    ~RestoreOnExit() { leave(); }

    // Join once everything that restore_ reads is in place; it must then
    // stay valid until leave().  A derived class leaves in its own
    // destructor, before what restore_ reads is gone; the leave in this
    // destructor is the last resort.  Joining twice, or leaving when not
    // joined, does nothing.
    void join();
    void leave();

private:
    friend void restoreAllNow();

    Restore restore_;
    RestoreOnExit* volatile previous_ = nullptr;
    RestoreOnExit* volatile next_ = nullptr;
    bool joined_ = false;
};

// Puts back every member still joined.  Async-signal-safe; for the handler
// of a second ending signal (onSecondInterrupt).
void restoreAllNow();

#endif
