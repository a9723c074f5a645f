// Steps of a run that both the POSIX and the Windows programUploader take,
// each printing its own failure once.
#ifndef RUN_STEPS_H
#define RUN_STEPS_H

#include "PicProgram.h"
#include "ownedHandles.h"

#include <string>
#include <vector>

// One port a line on standard output.  False, after a line on standard
// error, when there is none.
bool listPorts();

// Fills the image from the named file, which stays open in hexFile until
// the run ends; droppedWords gets the addresses of the words the reader
// dropped.  False after the message of the failure.
bool loadProgram(const std::string& fileName, PicProgram& image, OwnedFile& hexFile, std::vector<long>& droppedWords);

#endif
