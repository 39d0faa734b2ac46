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

// Appends the text as UTF-8 for a terminal or a line-based file: CR, LF and tab as \r, \n and \t,
// every other control character (C0, DEL, C1) and the characters that reorder text on screen (bidi
// embeddings, overrides and isolates) as \xNN or \uNNNN, so that no text can move the cursor,
// recolour the terminal or start a line of its own. A backslash is shown as it is.
void AppendShown(WideView text, std::string& out);

inline std::string ShownText(WideView text) {
    std::string out;
    AppendShown(text, out);
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
