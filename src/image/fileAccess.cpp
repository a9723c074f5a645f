#include "fileAccess.h"

FILE* openFile(const std::string& name, const char* mode)
{
    return fopen(name.c_str(), mode);
}

void binaryStandardStreams() {}
