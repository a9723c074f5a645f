#include "textFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

std::string formatText(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    std::string text(static_cast<size_t>(std::max(0, vsnprintf(nullptr, 0, fmt, args))), '\0');
    vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    va_end(args);
    return text;
}

std::string clockTime(double seconds)
{
    if (seconds < 0 || !std::isfinite(seconds))
        return "-:--";
    long s = std::lround(seconds);
    if (s >= 3600)
        return formatText("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return formatText("%ld:%02ld", s / 60, s % 60);
}
