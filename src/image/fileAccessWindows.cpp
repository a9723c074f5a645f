#include "fileAccess.h"

#include <fcntl.h>
#include <io.h>
#include <cwchar>
#include <vector>
#include <windows.h>

std::wstring wideText(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &text[0], length);
    return text;
}

std::string utf8Text(const wchar_t* text, size_t length)
{
    if (length == 0)
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

FILE* openFile(const std::string& name, const char* mode)
{
    return _wfopen(wideText(name).c_str(), wideText(mode).c_str());
}

void binaryStandardStreams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

int runWithUtf8Arguments(int argc, wchar_t** argv, int (*run)(int, char**))
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(utf8Text(argv[i], wcslen(argv[i])));
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(&argument[0]);
    pointers.push_back(nullptr);
    return run(argc, pointers.data());
}
