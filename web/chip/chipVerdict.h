// The simulated chip's verdict on an upload, in the few lines the page has
// room for: whether it holds the program, and where not, how far the
// program arrived and the differences as runs of addresses.
#ifndef WEB_CHIP_VERDICT_H
#define WEB_CHIP_VERDICT_H

#include "PicProgram.h"
#include "protocol.h"

#include <string>

struct ChipVerdict {
    bool exact;
    std::string text;  // a heading, then at most MAX_RUN_LINES runs and one line for the rest
};

constexpr int MAX_RUN_LINES = 8;

// chip: what the simulated chip holds; program: the file uploaded, named
// name; range: the bootloader's, as it reports it.
ChipVerdict verdictOnUpload(const PicProgram& chip, const PicProgram& program, const std::string& name,
                            protocol::Range range, bool ignoreOverlap);

#endif
