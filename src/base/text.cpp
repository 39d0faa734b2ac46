#include "text.h"

namespace tev {
namespace {

// The UTF-8 of one character.
void AppendPoint(char32_t point, std::string& out) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The character at `text[at]`, a pair taken whole (`at` then moves past its first unit); an
// unpaired surrogate is given as it is.
char32_t PointAt(WideView text, std::size_t& at) {
    char32_t unit = text[at];
    if (IsHighSurrogate(unit) && at + 1 < text.size() && IsLowSurrogate(text[at + 1]))
        return 0x10000 + ((unit - 0xD800) << 10) + (text[++at] - 0xDC00);
    return unit;
}

// Copies the leading run of ASCII (nearly all of any log) as it is; gives its length.
std::size_t AppendAscii(WideView text, std::string& out, bool (*plain)(TEVChar)) {
    std::size_t count = 0;
    while (count < text.size() && plain(text[count])) ++count;
    std::size_t start = out.size();
    out.resize(start + count);
    for (std::size_t i = 0; i < count; ++i) out[start + i] = static_cast<char>(text[i]);
    return count;
}

}  // namespace

std::size_t DecodeUtf8(std::string_view bytes, bool atEnd, char32_t& point) {
    auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    // How many bytes follow the lead, and the range of the first of them.
    int follow = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    }
    point = lead & (0x3F >> follow);
    std::size_t next = 1;
    int read = 0;
    for (; read < follow && next < bytes.size(); ++read, ++next, low = 0x80, high = 0xBF) {
        auto byte = static_cast<unsigned char>(bytes[next]);
        if (byte < low || byte > high) break;
        point = point << 6 | (byte & 0x3F);
    }
    if (read < follow && next == bytes.size() && !atEnd) return 0;
    if (follow == 0 || read < follow) point = 0xFFFD;
    return next;
}

void AppendUtf16(char32_t point, WideString& out) {
    if (point < 0x10000) {
        out += static_cast<TEVChar>(point);
    } else {
        out += static_cast<TEVChar>(0xD800 + ((point - 0x10000) >> 10));
        out += static_cast<TEVChar>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
}

WideString FromUtf8(std::string_view bytes) {
    WideString out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t point;
        at += DecodeUtf8(bytes.substr(at), true, point);
        AppendUtf16(point, out);
    }
    return out;
}

bool AppendUtf8(WideView text, std::string& out) {
    bool whole = true;
    for (std::size_t at = AppendAscii(text, out, [](TEVChar unit) { return unit < 0x80; });
         at < text.size(); ++at) {
        char32_t point = PointAt(text, at);
        if (IsSurrogate(point)) {
            point = 0xFFFD;
            whole = false;
        }
        AppendPoint(point, out);
    }
    return whole;
}

std::string ToUtf8(WideView text) {
    std::string out;
    AppendUtf8(text, out);
    return out;
}

bool AppendJson(WideView text, std::string& out, LoneSurrogates lone) {
    static const char digits[] = "0123456789abcdef";
    bool whole = true;
    out += '"';
    std::size_t at = AppendAscii(text, out, [](TEVChar unit) {
        return unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\';
    });
    for (; at < text.size(); ++at) {
        char32_t point = PointAt(text, at);
        if (IsSurrogate(point)) {
            whole = false;
            if (lone == LoneSurrogates::Replace) point = 0xFFFD;
        }
        if (point == '"' || point == '\\') {
            out += '\\';
            out += static_cast<char>(point);
        } else if (point == '\n') {
            out += "\\n";
        } else if (point == '\r') {
            out += "\\r";
        } else if (point == '\t') {
            out += "\\t";
        } else if (point < 0x20 || IsSurrogate(point)) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += digits[(point >> shift) & 0xF];
        } else {
            AppendPoint(point, out);
        }
    }
    out += '"';
    return whole;
}

std::string JsonQuote(WideView text, LoneSurrogates lone) {
    std::string out;
    AppendJson(text, out, lone);
    return out;
}

}  // namespace tev
