// A few helpers to hand facts to the page as JSON text: the page parses
// what the core says and draws it, so nothing it shows is worked out twice.
#ifndef WEB_JSON_H
#define WEB_JSON_H

#include <cstdio>
#include <string>

namespace json {

inline std::string quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// "name": value pairs, value already JSON.
class Object {
public:
    Object& raw(const char* name, const std::string& value)
    {
        text_ += (text_.empty() ? "{" : ",") + quote(name) + ":" + value;
        return *this;
    }
    Object& str(const char* name, const std::string& value) { return raw(name, quote(value)); }
    Object& num(const char* name, long value) { return raw(name, std::to_string(value)); }
    Object& flag(const char* name, bool value) { return raw(name, value ? "true" : "false"); }
    std::string done() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    std::string text_;
};

}  // namespace json

#endif
