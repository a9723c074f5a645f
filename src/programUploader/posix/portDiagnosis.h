// Why a serial port could not be used, in words a user can act on.
#ifndef PORT_DIAGNOSIS_H
#define PORT_DIAGNOSIS_H

#include "serialPort.h"

#include <string>
#include <sys/types.h>
#include <vector>

// One line (with its line feed) for standard error: the reason and what to
// do about it.
std::string portFailureReason(const std::string& portName, const PortOpenError& error);

// Processes other than this one that have the device open, as "name (PID n)";
// only those this user may look at.
std::vector<std::string> portHolders(const std::string& portName);

#endif
