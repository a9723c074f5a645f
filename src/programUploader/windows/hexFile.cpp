// Opening the hex file on Windows (hexInput.h).
#include "hexInput.h"

#include "fileAccess.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

// The file is read as its bytes: in text mode the C library would end it
// at a byte 0x1A and an upload of its first part would pass for the whole.
OwnedFile openHexFile(const std::string& name, std::string& why, int)
{
    OwnedFile file(openFile(name, "rb"));
    if (!file) {
        why = name + ": " + strerror(errno) + "\n";
        return file;
    }
    // A directory opens, and reads as an error.
    struct _stat64 st;
    if (_fstat64(_fileno(file.get()), &st) == 0 && (st.st_mode & _S_IFDIR)) {
        why = name + " is a directory, not a hex file.\n";
        file.reset();
    }
    return file;
}
