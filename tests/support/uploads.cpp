#include "uploads.h"

#include "hexFiles.h"
#include "processes.h"

#include <cstdlib>

int UploadRun::simBlocks() const {
    size_t at = simOutput.find("\nblocks: ");
    return at == std::string::npos ? -1 : atoi(simOutput.c_str() + at + 9);
}

UploadRun runUpload(const std::string& hexPath, std::vector<std::string> simArgs,
                    const std::vector<std::string>& uploaderArgs, int columns, double limit) {
    UploadRun u;
    u.dir = hexPath.substr(0, hexPath.rfind('/'));
    Sim sim;
    simArgs.insert(simArgs.end(), {"--once", "--stats", "--dump", u.chipPath()});
    if (!sim.start(simArgs)) return u;
    std::vector<std::string> argv{PROGRAM_UPLOADER};
    argv.insert(argv.end(), uploaderArgs.begin(), uploaderArgs.end());
    argv.insert(argv.end(), {"-p", sim.port, hexPath});
    if (columns > 0) {
        u.uploader = runOnTerminal(argv, static_cast<unsigned short>(columns), u.output);
    } else {
        Process uploader;
        if (!uploader.start(argv)) return u;
        std::string first;
        uploader.readLine(first, limit);  // the uploader's output begins with a line feed
        u.uploader = uploader.wait(limit);
        u.output = first + "\n" + uploader.output();
    }
    u.sim = sim.process.wait(5);
    u.simOutput = sim.process.output();
    return u;
}

UploadRun runUpload(PicProgram image, std::vector<std::string> simArgs, const std::vector<std::string>& uploaderArgs,
                    int columns, double limit) {
    const std::string hex = tempDir() + "/program.hex";
    if (!saveHex(image, hex)) return UploadRun();
    return runUpload(hex, std::move(simArgs), uploaderArgs, columns, limit);
}
