#include "runSteps.h"

#include "hexInput.h"
#include "portList.h"

#include <cstdio>

bool listPorts()
{
    std::vector<SerialPortInfo> ports = listSerialPorts();
    for (const SerialPortInfo& port : ports)
        printf("%s\n", describePort(port).c_str());
    if (ports.empty())
        fprintf(stderr, "No serial port was found on this machine.\n");
    return !ports.empty();
}

bool loadProgram(const std::string& fileName, PicProgram& image, OwnedFile& hexFile, std::vector<long>& droppedWords)
{
    if (fileName.empty()) {
        printf("A filename must be specified.\n");
        return false;
    }
    std::string why;
    hexFile = openHexFile(fileName, why);
    if (!hexFile) {
        printf("Could not open file %s\n", fileName.c_str());
        fflush(stdout);
        fputs(why.c_str(), stderr);
        return false;
    }
    if (!readHexNotingDropped(image, hexFile.get(), droppedWords)) {
        printf("Error reading from file %s\n", fileName.c_str());
        return false;
    }
    return true;
}
