#include "printers/shown.h"

namespace tevtool {

void AppendShown(WideView text, std::string& out) {
    auto hidden = [](TEVChar unit) {
        return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) ||
               (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
    };
    static const char digits[] = "0123456789abcdef";
    while (!text.empty()) {
        size_t plain = 0;
        while (plain < text.size() && !hidden(text[plain])) ++plain;
        tev::AppendUtf8(text.substr(0, plain), out);
        if (plain == text.size()) return;
        TEVChar unit = text[plain];
        if (unit == '\r' || unit == '\n' || unit == '\t') {
            out += '\\';
            out += unit == '\r' ? 'r' : unit == '\n' ? 'n' : 't';
        } else if (unit < 0x100) {
            out += "\\x";
            out += digits[unit >> 4];
            out += digits[unit & 0xF];
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 0xF];
        }
        text.remove_prefix(plain + 1);
    }
}

}  // namespace tevtool
