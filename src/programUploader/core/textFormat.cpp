#include "textFormat.h"

#include <algorithm>
#include <cctype>
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

namespace {

// "-s", "(-p": a single-letter option, which stays with the value after it.
bool isOptionLetter(const std::string& word)
{
    const size_t dash = word.size() == 3 && word[0] == '(' ? 1 : 0;
    return word.size() == dash + 2 && word[dash] == '-' && std::isalpha(static_cast<unsigned char>(word[dash + 1]));
}

} // namespace

std::string wrapWords(const std::string& text, int width, const std::string& indent)
{
    const size_t room = static_cast<size_t>(std::max(width, 1));
    std::string wrapped, line, last;
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
            std::string carried;
            if (isOptionLetter(last) && line.size() > indent.size() + last.size() &&
                line.compare(line.size() - last.size() - 1, 1, " ") == 0) {
                line.resize(line.size() - last.size() - 1);
                carried = last + ' ';
            }
            wrapped += line + "\n";
            line = indent + carried + word;
        } else {
            line += ' ' + word;
        }
        last = word;
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

std::string commaList(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}
