#include "writeMs.h"

#include <cstdio>

bool parseWriteMs(const std::string& text, double& programMs, double& eepromMs) {
    double f = 0, e = 0;
    char tail = 0;
    if (sscanf(text.c_str(), "%lf,%lf%c", &f, &e, &tail) != 2) return false;
    if (!(f >= 0 && f <= 10000 && e >= 0 && e <= 10000)) return false;
    programMs = f;
    eepromMs = e;
    return true;
}
