#include "lineDriver.h"

#include "clock.h"

#include <algorithm>

LineDriver::LineDriver(Line& line, Chip& chip, const Options& options, Stats& stats)
    : line_(line),
      options_(options),
      stats_(stats),
      recorder_(stats),
      machine_(chip, options.bootloader, options.faults, &recorder_),
      runStart_(monotonicSeconds()) {}

void LineDriver::closeSessionClock() {
    if (sessionStart_ < 0) return;
    double spent = monotonicSeconds() - sessionStart_;
    stats_.sessionSeconds = std::max(stats_.sessionSeconds, 0.0) + spent;
    sessionStart_ = -1;
}

LineDriver::Outcome LineDriver::serveSession() {
    machine_.startSession();
    recorder_.startSession();
    sessionStart_ = -1;
    for (;;) {
        uint8_t byte = 0;
        double entry = 0, arrival = 0;
        Line::Take got = line_.take(byte, entry, arrival);
        if (got == Line::Take::Stopped) return Outcome::Stopped;
        if (got == Line::Take::Hangup) {
            if (sessionStart_ >= 0) {
                closeSessionClock();
                return Outcome::PeerGone;
            }
            // An uploader came and went without a word; wait for the next.
            if (!line_.waitUntil(monotonicSeconds() + 0.01)) return Outcome::Stopped;
            continue;
        }
        if (got != Line::Take::Byte) continue;
        // Before the late start the chip is still held in reset and hears
        // nothing; no session can have begun by then.
        if (arrival - runStart_ < options_.faults.lateSeconds) continue;

        recorder_.byteDelivered(entry, arrival);
        Reply reply = machine_.feed(byte, entry);
        switch (reply.end) {
        case Reply::End::None: break;
        case Reply::End::Completed: closeSessionClock(); return Outcome::Completed;
        case Reply::End::LineClosed:
            line_.close();
            closeSessionClock();
            return Outcome::LineClosed;
        }
        deliver(reply, arrival);
    }
}

void LineDriver::deliver(const Reply& reply, double arrival) {
    const uint8_t* bytes = reply.bytes.data();
    size_t count = reply.bytes.size();
    double written = 0;
    switch (reply.kind) {
    case Reply::Kind::None: return;
    case Reply::Kind::Greeting:
        if (sessionStart_ < 0) sessionStart_ = arrival;
        written = reply.trickle ? line_.send(bytes, count) : line_.sendBurst(bytes, count);
        machine_.greetingSent(written);
        recorder_.greetingWritten(written);
        return;
    case Reply::Kind::Identification: written = line_.send(bytes, count); break;
    case Reply::Kind::Response: {
        // The chip's own time while it answers: the frame's arrival plus the
        // write.  The reply is scheduled from it rather than from when the
        // process got round to it.
        double busyUntil = arrival + reply.writeSeconds;
        if (reply.writeSeconds > 0) line_.waitUntil(busyUntil);
        written = line_.send(bytes, count, busyUntil);
        break;
    }
    }
    if (reply.ready) recorder_.readyWritten(written);
}
