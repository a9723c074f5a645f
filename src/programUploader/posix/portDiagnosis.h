// Why a serial port could not be used, in words a user can act on.
#ifndef PORT_DIAGNOSIS_H
#define PORT_DIAGNOSIS_H

#include "serialPort.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The reason and what to do about it, for standard error, ended by a line
// feed: wrapped between words at width as the other notes are (continuation
// lines indented), or one line where width is 0.
std::string portFailureReason(const std::string& portName, const PortOpenError& error, int width = 0);

// Processes other than this one that have the device open, as "name (PID n)";
// only those this user may look at.
std::vector<std::string> portHolders(const std::string& portName);

#endif
