// Text for the user, built as printf would print it.
#ifndef TEXT_FORMAT_H
#define TEXT_FORMAT_H

#include <string>

// The text printf(fmt, ...) would print.
std::string formatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// one or many, as n asks.
inline const char* plural(long n, const char* one, const char* many) { return n == 1 ? one : many; }

// m:ss, or h:mm:ss from an hour on; "-:--" for a time not known yet.
std::string clockTime(double seconds);

#endif
