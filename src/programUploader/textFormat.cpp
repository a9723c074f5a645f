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

std::string wrapWords(const std::string& text, int width, const std::string& indent)
{
    const size_t room = static_cast<size_t>(std::max(width, 1));
    std::string wrapped, line;
    bool lineHasWord = false;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!lineHasWord) {
            line = word;
        } else if (line.size() + 1 + word.size() > room) {
            wrapped += line + "\n";
            line = indent + word;
        } else {
            line += ' ' + word;
        }
        lineHasWord = true;
        at = end + 1;
    }
    return wrapped + line + "\n";
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
