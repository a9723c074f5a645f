#include "droppedWords.h"

#include "ownedHandles.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr const char* DROPPED_REPORT = "PicProgram::readHex - invalid address ";

} // namespace

bool readHexNotingDropped(PicProgram& image, FILE* file, std::vector<long>& dropped)
{
    // The reader has no other channel than standard error: its lines are
    // held in a temporary file while it reads, then read back and passed on.
    OwnedFile held(tmpfile());
    fflush(stderr);
    OwnedFd saved(held ? dup(STDERR_FILENO) : -1);
    if (!saved || dup2(fileno(held.get()), STDERR_FILENO) < 0)
        return image.readHex(file);

    const bool read = image.readHex(file);
    fflush(stderr);
    dup2(saved.get(), STDERR_FILENO);

    rewind(held.get());
    char line[512];
    while (fgets(line, sizeof line, held.get())) {
        fputs(line, stderr);
        long address;
        if (strncmp(line, DROPPED_REPORT, strlen(DROPPED_REPORT)) == 0 &&
            sscanf(line + strlen(DROPPED_REPORT), "%lX", &address) == 1)
            dropped.push_back(address);
    }
    return read;
}
