// Where the uploader's own additions show.  The classic lines are what
// scripts and test harnesses compare, byte for byte, on both streams; what
// this uploader adds to them (notes on the command line, the reason a file
// or port was refused, a hang-up, hints, the forecast, the reset prompt,
// the summary of words the chip did not get) is for a person.  So it shows
// on a stream only when that stream is a terminal, or on any stream when
// --explain asks for it.  Every addition is decided here, nowhere else.
//
// What an option asks for (--trace, --monitor, --retries' lines,
// --list-ports, --help, --version) is not an addition: it always shows.
#ifndef EXPLAIN_H
#define EXPLAIN_H

#include <cstdio>
#include <string>

// --explain: additions show on every stream, terminal or not.
void explainEverywhere(bool on);

// True when additions show on out.
bool explains(FILE* out);

// Writes an addition, text with its own line ends, to out when additions
// show there.  On standard error, what standard output holds so far goes
// first, so that the two streams interleave as they were written.
void explain(FILE* out, const std::string& text);

#endif
