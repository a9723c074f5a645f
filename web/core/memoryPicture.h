// The picture of a program's memory that the page draws: every block of the
// flash, the configuration words and the EEPROM, each with its class.
#ifndef WEB_MEMORY_PICTURE_H
#define WEB_MEMORY_PICTURE_H

#include "PicProgram.h"

#include <string>

// JSON: the classes with their names, then each region with its first
// address and one class letter per block.  lower > upper when the
// bootloader's range is not known yet.
std::string memoryPicture(PicProgram& image, int lower, int upper);

#endif
