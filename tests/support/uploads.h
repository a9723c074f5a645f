// Whole uploads: programUploader against bootloaderSim, two real processes
// on either side of the simulator's pseudo-terminal.
#ifndef TEST_UPLOADS_H
#define TEST_UPLOADS_H

#include "PicProgram.h"

#include <string>
#include <vector>

struct UploadRun {
    int uploader = -2;  // exit values; -1 when killed at the time limit
    int sim = -2;
    std::string output;  // what the user sees from the uploader: standard output and error
    std::string simOutput;
    std::string dir;     // holds program.hex and, after the run, chip.hex
    std::string chipPath() const { return dir + "/chip.hex"; }
    // Blocks the simulator received, from its figures; -1 without them.
    int simBlocks() const;
};

// Uploads the hex file to a fresh simulator started with simArgs (plus
// --once, --stats and --dump), the uploader given uploaderArgs before its
// port and file.  columns > 0: the uploader's output is a terminal that wide.
UploadRun runUpload(const std::string& hexPath, std::vector<std::string> simArgs,
                    const std::vector<std::string>& uploaderArgs = {}, int columns = 0, double limit = 20);
// The image saved as program.hex in a fresh folder first.
UploadRun runUpload(PicProgram image, std::vector<std::string> simArgs,
                    const std::vector<std::string>& uploaderArgs = {}, int columns = 0, double limit = 20);

#endif
