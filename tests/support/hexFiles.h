// Files for the tests: temporary folders, text, and program images as hex.
#ifndef TEST_HEX_FILES_H
#define TEST_HEX_FILES_H

#include "PicProgram.h"
#include "tempFiles.h"

#include <string>
#include <vector>

bool writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

bool saveHex(PicProgram& image, const std::string& path);
bool loadHex(const std::string& path, PicProgram& image);
// An Intel HEX record of the type, at the byte address, with its checksum.
std::string hexRecord(int type, int address, const std::vector<int>& bytes);

#endif
