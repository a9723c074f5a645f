// Files and standard streams by the same rules on every system: a file name
// is UTF-8 text, and the bytes a program writes or reads are the bytes on
// the disk or the pipe.  On Windows that takes the wide-character file calls
// and binary mode, where the C library would otherwise turn "\n" into
// "\r\n" and stop reading at a byte 0x1A.
#ifndef FILE_ACCESS_H
#define FILE_ACCESS_H

#include <cstdio>
#include <string>

// fopen for a UTF-8 file name; mode as fopen's, "rb" or "wb" for the bytes
// as they are.
FILE* openFile(const std::string& name, const char* mode);

// Puts standard input, output and error in binary mode (nothing to do on a
// POSIX system).
void binaryStandardStreams();

#ifdef _WIN32
// UTF-8 as the wide text of Windows' calls, and wide text (length
// characters, no terminating null needed) back to UTF-8.
std::wstring wideText(const std::string& utf8);
std::string utf8Text(const wchar_t* text, size_t length);
#endif

// The program's entry point calls run(argc, argv) with the arguments as
// UTF-8: main on a POSIX system; wmain on Windows, whose narrow arguments
// would lose every character outside the console's code page.
#ifdef _WIN32
int runWithUtf8Arguments(int argc, wchar_t** argv, int (*run)(int, char**));
#define PROGRAM_ENTRY(run)                                                                                   \
    int wmain(int argc, wchar_t** argv) { return runWithUtf8Arguments(argc, argv, run); }
#else
#define PROGRAM_ENTRY(run)                                                                                   \
    int main(int argc, char** argv) { return run(argc, argv); }
#endif

#endif
