// One whole exchange with the bootloader: greeting, identification, the
// overlap check, both programming passes and the end command.
#ifndef UPLOAD_H
#define UPLOAD_H

#include "PicProgram.h"
#include "bootloaderLink.h"
#include "linkResult.h"
#include "serialLine.h"
#include "uploadReporter.h"

// 1 success, 0 failure.  Everything the user reads goes to reporter.  When
// a pass fails, failure (if given) receives its result.
int upload(const PicProgram& image, SerialLine& line, const LinkWindows& windows, bool ignoreOverlap, bool queryOnly,
           UploadReporter& reporter, LinkResult* failure = nullptr);

#endif
