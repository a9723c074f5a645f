// The bootloader on a line: feeds the state machine the bytes the Line
// delivers, writes its replies paced as the chip would, and stamps the times
// the statistics need.
#ifndef SIM_LINE_DRIVER_H
#define SIM_LINE_DRIVER_H

#include "bootloaderMachine.h"
#include "chip.h"
#include "line.h"
#include "options.h"
#include "stats.h"

class LineDriver {
public:
    LineDriver(Line& line, Chip& chip, const Options& options, Stats& stats);

    enum class Outcome {
        Completed,   // END_PROGRAMMING came
        PeerGone,    // the uploader closed the line in mid-session
        Stopped,     // a signal asked the simulator to end
        LineClosed,  // the hangup fault closed the line
    };
    // Serves one session, from the first poll to its end.
    Outcome serveSession();
    // Wall time of a session still running when the run is stopped.
    void closeSessionClock();

private:
    void deliver(const Reply& reply, double arrival);

    Line& line_;
    const Options& options_;
    Stats& stats_;
    StatsRecorder recorder_;
    BootloaderMachine machine_;
    double runStart_;
    double sessionStart_ = -1;
};

#endif
