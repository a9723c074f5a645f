// The line shown before the wait for the greeting: the words the file gives
// each region and what sending them will take.
#ifndef FORECAST_H
#define FORECAST_H

#include "PicProgram.h"
#include "chipFamily.h"

#include <string>

// "FILE: 38 flash words, 1 configuration word, 0 EEPROM bytes; 10 blocks to
// send, about 0:01 at 19200 bit/s".  The chip takes blockWriteMs to write
// each block; before the greeting nobody knows the chip, and the default is
// the PIC16F87xA's.
std::string uploadForecast(const std::string& fileName, const PicProgram& image, int bitsPerSecond,
                           double blockWriteMs = ChipModel::WRITE_CYCLE_MS);

#endif
