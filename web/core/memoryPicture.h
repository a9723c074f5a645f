// The picture of a program's memory that the page draws: every block of the
// flash, the configuration words and the EEPROM, each with its class.
#ifndef WEB_MEMORY_PICTURE_H
#define WEB_MEMORY_PICTURE_H

#include "PicProgram.h"
#include "chipFamily.h"

#include <string>

// JSON: the classes with their names, then each region of the chip with its
// first address and one class letter per block.  lower > upper when the
// bootloader's range is not known yet.
std::string memoryPicture(PicProgram& image, int lower, int upper, const ChipModel& chip);

// The chip a picture shows: the simulated chip by its name; on a port, the
// smallest chip of the family whose flash holds the bootloader's range (a
// range ending at 0FFF or below: a 4096-word part), the default chip while
// the range is not known.
const ChipModel& pictureChip(const std::string& simulated, int lower, int upper);

#endif
