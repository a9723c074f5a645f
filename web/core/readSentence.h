// The reader's findings on a hex file in one plain sentence for the page: the
// file's name, the line, and what is wrong, with the reader's own message
// kept beside it as the detail.
#ifndef WEB_READ_SENTENCE_H
#define WEB_READ_SENTENCE_H

#include "PicProgram.h"

#include <string>
#include <vector>

// issues: everything the reader reported on the file, in order; when the
// file was refused, the last one is why.  Empty when there is nothing to say.
std::string readSentence(const std::string& fileName, const std::vector<PicProgram::ReadIssue>& issues);

#endif
