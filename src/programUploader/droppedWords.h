// The hex reader reports a word at an address the chip does not have and
// reads on without it.  The uploader needs those addresses for its summary
// of what was not written.
#ifndef DROPPED_WORDS_H
#define DROPPED_WORDS_H

#include "PicProgram.h"

#include <cstdio>
#include <vector>

// readHex, with the addresses of the words it dropped added to dropped.
// Its messages still reach standard error, unchanged.
bool readHexNotingDropped(PicProgram& image, FILE* file, std::vector<long>& dropped);

#endif
