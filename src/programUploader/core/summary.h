// The closing summary of an upload: what the file held and the chip did not
// get.
#ifndef SUMMARY_H
#define SUMMARY_H

#include "PicProgram.h"
#include "passWalk.h"

#include <string>
#include <vector>

// One WARNING (continuation lines indented, every line ended) for each kind
// of word that the file held and this run did not write: configuration
// words the program pass did not reach, words inside the bootloader's range
// that -o skipped, words at addresses the chip does not have (dropped: as
// the hex reader reported them) and, should the walk ever leave any other,
// those; and the words sent whose value the chip cannot hold whole: flash
// and configuration words wider than 14 bits, EEPROM values above 0xFF.
// Lines wrap at width.
std::vector<std::string> unwrittenWarnings(const PicProgram& image, const UploadPlan& plan, int lower, int upper,
                                           const std::vector<long>& dropped, int width);

#endif
