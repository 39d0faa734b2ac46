#include "text.h"

#include <utf8.h>

#include <iterator>

namespace tevtool {
namespace {

bool IsSurrogate(TEVChar unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

void AppendUtf8(WideView text, std::string& out) {
    size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
    size_t start = out.size();
    out.resize(start + ascii);
    for (size_t i = 0; i < ascii; ++i) out[start + i] = static_cast<char>(text[i]);
    if (ascii == text.size()) return;
    WideView rest = text.substr(ascii);
    try {
        utf8::utf16to8(rest.begin(), rest.end(), std::back_inserter(out));
    } catch (const utf8::exception&) {
        // Only an unpaired surrogate gets here: it is replaced, a pair is kept.
        out.resize(start + ascii);
        std::u16string repaired(rest.begin(), rest.end());
        for (size_t i = 0; i < repaired.size(); ++i) {
            bool pair = repaired[i] >= 0xD800 && repaired[i] <= 0xDBFF && i + 1 < repaired.size() &&
                        repaired[i + 1] >= 0xDC00 && repaired[i + 1] <= 0xDFFF;
            if (pair)
                ++i;
            else if (IsSurrogate(repaired[i]))
                repaired[i] = 0xFFFD;
        }
        utf8::utf16to8(repaired.begin(), repaired.end(), std::back_inserter(out));
    }
}

void AppendShown(WideView text, std::string& out) {
    auto hidden = [](TEVChar unit) {
        return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) ||
               (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
    };
    static const char digits[] = "0123456789abcdef";
    while (!text.empty()) {
        size_t plain = 0;
        while (plain < text.size() && !hidden(text[plain])) ++plain;
        AppendUtf8(text.substr(0, plain), out);
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

kv8::Text FromUtf8(std::string_view text) {
    std::string valid;
    if (!utf8::is_valid(text.begin(), text.end())) {
        utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
        text = valid;
    }
    kv8::Text out;
    out.reserve(text.size());
    utf8::utf8to16(text.begin(), text.end(), std::back_inserter(out));
    return out;
}

void AppendJson(WideView text, std::string& out) {
    size_t start = out.size();
    out.resize(start + text.size() + 2);
    char* quoted = out.data() + start;
    *quoted++ = '"';
    for (TEVChar unit : text) {
        if (unit < 0x20 || unit >= 0x7F || unit == '"' || unit == '\\') {
            out.resize(start);
            out += kv8::JsonQuote(kv8::Text(text));
            return;
        }
        *quoted++ = static_cast<char>(unit);
    }
    *quoted = '"';
}

}  // namespace tevtool
