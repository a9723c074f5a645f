#include "hexFiles.h"

#include "ownedHandles.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return bool(f);
}

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool saveHex(PicProgram& image, const std::string& path) {
    OwnedFile f(fopen(path.c_str(), "w"));
    return f && image.writeHex(f.get());
}

bool loadHex(const std::string& path, PicProgram& image) {
    OwnedFile f(fopen(path.c_str(), "r"));
    return f && image.readHex(f.get());
}

std::string hexRecord(int type, int address, const std::vector<int>& bytes) {
    int sum = int(bytes.size()) + (address >> 8) + (address & 0xFF) + type;
    char text[600];
    int n = snprintf(text, sizeof text, ":%02X%04X%02X", int(bytes.size()), address, type);
    for (int b : bytes) n += snprintf(text + n, sizeof text - n, "%02X", b), sum += b;
    snprintf(text + n, sizeof text - n, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return text;
}
