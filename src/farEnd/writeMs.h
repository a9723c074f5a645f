// The --write-ms option both simulators take: how long the chip needs to
// write a program block and an EEPROM byte.
#ifndef FAR_END_WRITE_MS_H
#define FAR_END_WRITE_MS_H

#include <string>

// Reads "F,E" (milliseconds, 0 to 10000 each) into programMs and eepromMs;
// false, leaving both alone, when the text is anything else.
bool parseWriteMs(const std::string& text, double& programMs, double& eepromMs);

#endif
