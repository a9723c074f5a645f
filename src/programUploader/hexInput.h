// Opening the hex file, which may also be a pipe the program arrives through.
#ifndef HEX_INPUT_H
#define HEX_INPUT_H

#include "ownedHandles.h"

#include <string>

constexpr int FIFO_WRITER_WAIT_MS = 5000;

// Opens the file for reading.  A directory or a device is refused at once;
// a pipe or named FIFO is taken once a program writes to it, or refused
// when none has within writerWaitMs.  On refusal answers nothing and puts
// one line (with its line feed) for standard error into why.
OwnedFile openHexFile(const std::string& name, std::string& why, int writerWaitMs = FIFO_WRITER_WAIT_MS);

#endif
