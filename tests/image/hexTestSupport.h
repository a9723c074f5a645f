// Helpers shared by the image tests: run readHex on text held in a real
// temporary stream, collect what it reports, and collect writeHex output as a
// string.
#ifndef HEX_TEST_SUPPORT_H
#define HEX_TEST_SUPPORT_H

#include "PicProgram.h"
#include "ownedHandles.h"

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace hextest {

// A stream holding exactly `text`, positioned at its start.
inline OwnedFile streamOf(const std::string& text) {
    OwnedFile f(std::tmpfile());
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f.get());
    std::rewind(f.get());
    return f;
}

// A report that appends each message to text.
inline PicProgram::ReadReport collectInto(std::string& text) {
    return [&text](const char* message) { text += message; };
}

struct ReadResult {
    bool ok;
    std::string err;  // every message readHex reported, in order
};

inline ReadResult readText(PicProgram& image, const std::string& text) {
    OwnedFile f = streamOf(text);
    ReadResult r{false, ""};
    r.ok = image.readHex(f.get(), collectInto(r.err));
    return r;
}

inline std::string writeText(PicProgram& image, bool* ok = nullptr) {
    OwnedFile f(std::tmpfile());
    bool result = image.writeHex(f.get());
    if (ok) *ok = result;
    std::fflush(f.get());
    std::rewind(f.get());
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return out;
}

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) { lines.push_back(text.substr(start)); break; }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// True when the message names line n ("line 3", but not "line 30").
inline bool mentionsLine(const std::string& msg, int n) {
    return std::regex_search(msg, std::regex("line " + std::to_string(n) + "([^0-9]|$)"));
}

// One reader error: a single line with the reader's prefix.
inline bool isOneReaderLine(const std::string& msg) {
    return msg.rfind("PicProgram::readHex - ", 0) == 0 && !msg.empty() && msg.back() == '\n' &&
           msg.find('\n') == msg.size() - 1;
}

// Image addresses that hold a used word, over the whole address space.
inline std::vector<int> usedAddresses(PicProgram& image) {
    std::vector<int> used;
    for (int a = 0; a <= PicProgram::EEPROM_END; ++a)
        if (image.isValidAddr(a) && image.getData(a) != PicProgram::BLANK) used.push_back(a);
    return used;
}

}  // namespace hextest

#endif
