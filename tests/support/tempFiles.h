// Temporary files for the tests: under $TMPDIR (/tmp without it), each in a
// folder of its own that goes, with all it holds, when the test program
// exits, whether its tests passed or failed.  Header only, so that the
// image tests can use it without the rest of the support library.
#ifndef TEST_TEMP_FILES_H
#define TEST_TEMP_FILES_H

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

// Where temporary files go.
inline std::string tempRoot()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

namespace tempfiles {

// The folders made so far, removed at exit by the process that made them
// (a forked child that exits leaves them to its parent).
struct Made {
    pid_t owner = getpid();
    std::vector<std::string> folders;
    ~Made()
    {
        if (getpid() != owner)
            return;
        for (const std::string& folder : folders) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }
};

inline Made& made()
{
    static Made folders;
    return folders;
}

}  // namespace tempfiles

// A new empty folder under tempRoot(); "" when none can be made.
inline std::string tempDir()
{
    std::string pattern = tempRoot() + "/pictest.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return "";
    tempfiles::made().folders.push_back(pattern);
    return pattern;
}

#endif
