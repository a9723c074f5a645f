#include "faults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

bool parseNumber(const std::string& text, int base, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = strtol(text.c_str(), &end, base);
    return errno == 0 && *end == '\0' && value >= min && value <= max && text[0] != '-' && text[0] != '+';
}

bool parseSeconds(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = strtod(text.c_str(), &end);
    return *end == '\0' && value >= 0 && value <= 3600;
}

bool listed(const std::vector<int>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

bool Faults::strikes(Fault fault, int at) const {
    switch (fault) {
    case Fault::Checksum: return listed(checksumFrames, at);
    case Fault::Silent: return silentFrom > 0 && at >= silentFrom;
    case Fault::Hangup: return hangupAt == at;
    case Fault::Verify: return listed(verifyAddresses, at);
    case Fault::Refuse: return listed(refuseAddresses, at);
    case Fault::BadReady: return badReady;
    case Fault::MuteIdent: return muteIdent;
    case Fault::WriteTest: return writeTest;
    case Fault::Trickle: return trickle;
    }
    return false;
}

std::vector<uint8_t> Faults::strayBytes(int frame) const {
    std::vector<uint8_t> bytes;
    for (const Garbage& g : garbage)
        if (g.frame == frame) bytes.push_back(uint8_t(g.byte));
    return bytes;
}

bool addFault(Faults& faults, const std::string& spec, std::string& why) {
    size_t at = spec.find('@');
    std::string kind = spec.substr(0, at);
    std::string arg = at == std::string::npos ? "" : spec.substr(at + 1);
    bool hasArg = at != std::string::npos;
    long n = 0;
    why.clear();

    if (kind == "badready" || kind == "writetest" || kind == "mute-ident" || kind == "trickle") {
        if (hasArg) {
            why = kind + " takes no argument";
            return false;
        }
        if (kind == "badready") faults.badReady = true;
        if (kind == "writetest") faults.writeTest = true;
        if (kind == "mute-ident") faults.muteIdent = true;
        if (kind == "trickle") faults.trickle = true;
        return true;
    }
    if (!hasArg) {
        why = "unknown fault '" + spec + "'";
        return false;
    }
    if (kind == "checksum" || kind == "silent" || kind == "hangup") {
        if (!parseNumber(arg, 10, 1, 1000000000, n)) {
            why = kind + " needs a frame number from 1: " + spec;
            return false;
        }
        if (kind == "checksum") faults.checksumFrames.push_back(int(n));
        if (kind == "silent") faults.silentFrom = int(n);
        if (kind == "hangup") faults.hangupAt = int(n);
        return true;
    }
    if (kind == "verify" || kind == "refuse") {
        if (!parseNumber(arg, 16, 0, 0xFFFF, n)) {
            why = kind + " needs a hex image address: " + spec;
            return false;
        }
        (kind == "verify" ? faults.verifyAddresses : faults.refuseAddresses).push_back(int(n));
        return true;
    }
    if (kind == "garbage") {
        size_t colon = arg.find(':');
        long byte = 0;
        if (colon == std::string::npos || !parseNumber(arg.substr(0, colon), 10, 1, 1000000000, n) ||
            !parseNumber(arg.substr(colon + 1), 16, 0, 0xFF, byte) || arg.size() - colon - 1 > 2) {
            why = "garbage needs a frame number and a hex byte, as garbage@3:5A: " + spec;
            return false;
        }
        faults.garbage.push_back({int(n), int(byte)});
        return true;
    }
    if (kind == "late") {
        double s = 0;
        if (!parseSeconds(arg, s)) {
            why = "late needs seconds: " + spec;
            return false;
        }
        faults.lateSeconds = s;
        return true;
    }
    why = "unknown fault '" + spec + "'";
    return false;
}
