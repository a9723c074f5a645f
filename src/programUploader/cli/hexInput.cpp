// Reading the hex file, on every system (hexInput.h).
#include "hexInput.h"

bool readHexNotingDropped(PicProgram& image, FILE* file, std::vector<long>& dropped)
{
    return image.readHex(
        file, [](const char* message) { fputs(message, stderr); },
        [&dropped](long address) { dropped.push_back(address); });
}
