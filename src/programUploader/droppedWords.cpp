#include "droppedWords.h"

#include <cstring>

namespace {

constexpr const char* DROPPED_REPORT = "PicProgram::readHex - invalid address ";

} // namespace

bool readHexNotingDropped(PicProgram& image, FILE* file, std::vector<long>& dropped)
{
    return image.readHex(file, [&dropped](const char* message) {
        fputs(message, stderr);
        long address;
        if (strncmp(message, DROPPED_REPORT, strlen(DROPPED_REPORT)) == 0 &&
            sscanf(message + strlen(DROPPED_REPORT), "%lX", &address) == 1)
            dropped.push_back(address);
    });
}
