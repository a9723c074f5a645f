// Text for the user, built as printf would print it.
#ifndef TEXT_FORMAT_H
#define TEXT_FORMAT_H

#include <string>
#include <vector>

// The text printf(fmt, ...) would print.
std::string formatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// one or many, as n asks.
inline const char* plural(long n, const char* one, const char* many) { return n == 1 ? one : many; }

// Lines a person reads wrap at this width where no terminal tells its own.
constexpr int DEFAULT_WRAP_WIDTH = 79;

// text (one paragraph, no line breaks) broken at spaces into lines of at
// most width characters, each ended; continuation lines begin with indent.
// The first word stays on the first line, a single-letter option ("-s")
// stays with the value after it, and a word longer than a line stands on
// its own.
std::string wrapWords(const std::string& text, int width, const std::string& indent);

// The items in their order, ", " between them: "a, b, c".
std::string commaList(const std::vector<std::string>& items);

// m:ss, or h:mm:ss from an hour on; "-:--" for a time not known yet.
std::string clockTime(double seconds);

#endif
