// Wide text inside the system, and its one conversion to and from UTF-8 and JSON: the product, the
// stand-in and the tool all convert through here.
#ifndef TEV_BASE_TEXT_H
#define TEV_BASE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "TEVText.h"

namespace tev {

using WideString = std::basic_string<TEVChar>;
using WideView = std::basic_string_view<TEVChar>;

// Installers may pass a null text; it is taken as the empty text.
inline const TEVChar* TextOrEmpty(const TEVChar* text) { return text ? text : TEV_TEXT(""); }

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Reads one character of UTF-8 from the start of `bytes` into `point` and gives the bytes it took.
// A malformed sequence is U+FFFD for its longest valid start (at least one byte). Unless `atEnd`,
// a sequence that `bytes` ends inside gives 0: its rest is still to come.
std::size_t DecodeUtf8(std::string_view bytes, bool atEnd, char32_t& point);

// Appends one character as UTF-16: one code unit, or a surrogate pair.
void AppendUtf16(char32_t point, WideString& out);

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
WideString FromUtf8(std::string_view bytes);

// Appends UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD. False when one did.
bool AppendUtf8(WideView text, std::string& out);
std::string ToUtf8(WideView text);

// What a JSON string makes of an unpaired surrogate (any code unit may be logged): kept as \uXXXX,
// which shows the very code unit but which many JSON readers refuse, or replaced by U+FFFD.
enum class LoneSurrogates { Keep, Replace };

// Appends the text as a JSON string literal, quotes included: '"', '\' and control characters
// escaped, everything else as UTF-8. False when the text held an unpaired surrogate.
bool AppendJson(WideView text, std::string& out, LoneSurrogates lone);
std::string JsonQuote(WideView text, LoneSurrogates lone);

}  // namespace tev

#endif
