// Wide text for people: UTF-8 for terminals, JSON strings that keep every code unit.
#ifndef TEV_TOOL_TEXT_H
#define TEV_TOOL_TEXT_H

#include <string>
#include <string_view>

#include "KV8Control.h"

namespace tevtool {

using WideView = std::basic_string_view<TEVChar>;

// Appends the text as UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf8(WideView text, std::string& out);

inline std::string ToUtf8(WideView text) {
    std::string out;
    AppendUtf8(text, out);
    return out;
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
kv8::Text FromUtf8(std::string_view text);

// Appends a JSON string literal; an unpaired surrogate is kept as \uXXXX. (JSON libraries cannot
// write them, so all JSON text of the tool goes through the stand-in's one quoting routine; plain
// ASCII, most of any log, is copied as it is.)
void AppendJson(WideView text, std::string& out);

inline std::string Json(WideView text) {
    std::string out;
    AppendJson(text, out);
    return out;
}

}  // namespace tevtool

#endif
