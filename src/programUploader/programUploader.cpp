// programUploader: writes an Intel HEX program into a PIC through the serial
// bootloader that runs on the chip.
//
// Exit value: 1 after a successful upload or query, 0 after a failed one,
// 255 (-1) when the run cannot start.  Users' scripts test for these.

#include "PicProgram.h"
#include "bootloaderLink.h"
#include "ownedHandles.h"
#include "protocol.h"
#include "serialPort.h"

#include <cstdio>
#include <string>
#include <termios.h>

namespace {

constexpr const char* DEFAULT_PORT = "/dev/ttyS0";


void usage(const char* programName, const std::string& portName)
{
    printf("\nProgram uploader for use with the V Oruzavuver.\n\n");
    printf("Usage:\n");
    printf("\t%s [-o] [-q] [-p port] [-s speed] filename\n\n", programName);
    printf("-o\tIgnore an overlap between the new program and the bootloader.\n");
    printf("\tThe overlapping addresses cannot be written with a bootloader.\n");
    printf("-q\tQuery the bootloader for it's version and address space. Write\n");
    printf("\tnothing to program ROM.\n");
    printf("-p\tSpecify the serial port to use. The default is %s.\n", portName.c_str());
    printf("-s\tSpecify the speed for the serial port to use. The default\n");
    printf("\tis 19200bps.\n\n");
    printf("\tA filename with the hex file to upload must be specified.\n\n");
}

} // namespace

// Options are recognised by their second character only, so -quiet is -q
// and -oq is -o alone; the last plain argument is the file name.
int readParams(int argc, char** argv, std::string& filename, std::string& port,
               speed_t* speed, char* ignoreOverlap, char* queryOnly)
{
    enum class Pending { None, Port, Speed } pending = Pending::None;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            switch (arg[1]) {
            case 's': pending = Pending::Speed; break;
            case 'p': pending = Pending::Port; break;
            case 'o': *ignoreOverlap = 1; break;
            case 'q': *queryOnly = 1; break;
            default: return -1;
            }
            continue;
        }
        switch (pending) {
        case Pending::Port:
            port = arg;
            break;
        case Pending::Speed: {
            unsigned rate;
            const protocol::Speed* match = nullptr;
            if (sscanf(arg, "%u", &rate) == 1)
                for (const protocol::Speed& s : protocol::UPLOAD_SPEEDS)
                    if (static_cast<unsigned>(s.bitsPerSecond) == rate)
                        match = &s;
            if (!match) {
                printf("Invalid or unsupported serial data rate specified.\n");
                return -1;
            }
            *speed = match->constant;
            break;
        }
        case Pending::None:
            filename = arg;
            break;
        }
        pending = Pending::None;
    }
    return 0;
}

int main(int argc, char** argv)
{
    std::string fileName;
    std::string portName = DEFAULT_PORT;
    speed_t lineSpeed = B19200;
    char ignoreOverlap = 0;
    char queryOnly = 0;
    const char* programName = argc > 0 ? argv[0] : "programUploader";

    if (argc < 2 ||
        readParams(argc, argv, fileName, portName, &lineSpeed, &ignoreOverlap, &queryOnly) == -1) {
        usage(programName, portName);
        return -1;
    }

    PicProgram image;
    OwnedFile hexFile;
    if (!queryOnly) {
        if (fileName.empty()) {
            printf("A filename must be specified.\n");
            return -1;
        }
        hexFile.reset(fopen(fileName.c_str(), "r"));
        if (!hexFile) {
            printf("Could not open file %s\n", fileName.c_str());
            return -1;
        }
        if (!image.readHex(hexFile.get())) {
            printf("Error reading from file %s\n", fileName.c_str());
            return -1;
        }
    }

    SerialPort port(openSerialPort(portName, lineSpeed));
    if (!port) {
        printf("Could not open serial port %s\n", portName.c_str());
        return -1;
    }

    int result = upload(&image, port.get(), ignoreOverlap, queryOnly);

    hexFile.reset();
    port.reset();
    return result;
}
