// The --dump file both simulators write when they end: checked when they
// start, so that a run of minutes does not end in a file that cannot be made.
#ifndef FAR_END_DUMP_PATH_H
#define FAR_END_DUMP_PATH_H

#include <string>

// True when path can be written at exit.  An existing file is opened for
// writing but not truncated: it may be the --memory file of this very run.
// A missing one is created and removed again.  False with the reason in why.
bool checkDumpPath(const std::string& path, std::string& why);

#endif
