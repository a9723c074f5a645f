// What a user can do after a failure: the facts of the failure, and the
// sentence that names them.  Each front end words its own settings (the
// command line its options, the page its controls); the facts and the rest
// of the sentence are the same everywhere.
#ifndef HINT_H
#define HINT_H

#include "PicProgram.h"
#include "linkResult.h"

#include <string>

struct Hint {
    enum class Topic {
        NoGreeting,   // nothing greeted within the wait (or the line went away: lineGone)
        Overlap,      // the program and the bootloader's range overlap
        BadRevision,  // a revision date this uploader does not speak to
        PassFailed,   // a programming pass ended: failure
    };
    Topic topic = Topic::NoGreeting;
    int waitSeconds = 0;   // NoGreeting: the greeting window
    bool lineGone = false; // NoGreeting: the line hung up during the wait
    int lower = 0, upper = 0;               // Overlap: the bootloader's range, aligned
    int words = 0, first = -1, last = -1;   // Overlap: the program's words inside it
    int year = 0, month = 0, day = 0;       // BadRevision: the date received
    int firstYear = 0, lastYear = 0;        // BadRevision: the years spoken to
    LinkResult failure;    // PassFailed: what ended the pass, block in hand included

    static Hint noGreeting(int waitSeconds, bool lineGone);
    static Hint overlap(const PicProgram& image, int lower, int upper);
    static Hint badRevision(int year, int month, int day);
    static Hint passFailed(const LinkResult& failure);
};

// How a front end names its own settings inside a hint.
struct HintWords {
    std::string reset;  // how to have the board reset: "use --reset"
    std::string wait;   // how to wait longer, with its lead-in, or "" where the wait is fixed
    std::string speed;  // the speed setting in use: "-s 19200"
    std::string port;   // the check of the port: "that /dev/ttyUSB0 is the board's port (--list-ports)"
    std::string skip;   // what skips the overlapping words: "-o"
};

// The hint as one paragraph, without a line end.
std::string hintText(const Hint& hint, const HintWords& words);

#endif
