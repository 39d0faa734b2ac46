// Wide text for people: UTF-8 for terminals, JSON strings that keep every code unit.
#ifndef TEV_TOOL_TEXT_H
#define TEV_TOOL_TEXT_H

#include <string>

#include "KV8Control.h"

namespace tevtool {

// UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const kv8::Text& text);

// A JSON string literal; an unpaired surrogate is kept as \uXXXX. (JSON libraries cannot write
// them, so all JSON text of the tool goes through the stand-in's one quoting routine.)
inline std::string Json(const kv8::Text& text) { return kv8::JsonQuote(text); }

}  // namespace tevtool

#endif
