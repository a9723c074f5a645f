// Opening the hex file, which may also be a pipe the program arrives through
// (on a POSIX system), and reading it with the addresses of the words the reader drops.
#ifndef HEX_INPUT_H
#define HEX_INPUT_H

#include "PicProgram.h"
#include "ownedHandles.h"

#include <cstdio>
#include <string>
#include <vector>

constexpr int FIFO_WRITER_WAIT_MS = 5000;

// Opens the file for reading; each back end has its own (posix/hexFile.cpp,
// windows/hexFile.cpp).  A directory or a device is refused at once;
// a pipe or named FIFO is taken once a program writes to it, or refused
// when none has within writerWaitMs.  On refusal answers nothing and puts
// one line (with its line feed) for standard error into why.
OwnedFile openHexFile(const std::string& name, std::string& why, int writerWaitMs = FIFO_WRITER_WAIT_MS);

// readHex, with the addresses of the words it dropped (a word at an address
// the chip does not have, which the reader reports and reads on without)
// added to dropped, for the summary of what was not written.  Its messages
// still reach standard error, unchanged.
bool readHexNotingDropped(PicProgram& image, FILE* file, std::vector<long>& dropped);

#endif
