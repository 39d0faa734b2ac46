// Wide text shown to people: UTF-8 for terminals and line-based files, with nothing in it that
// could move the cursor, recolour the terminal or start a line of its own.
#ifndef TEV_TOOL_ESCAPED_TEXT_H
#define TEV_TOOL_ESCAPED_TEXT_H

#include <string>
#include <string_view>

#include "base/text.h"

namespace tevtool {

using tev::WideString;
using tev::WideView;

// Appends the printable ASCII (0x20 to 0x7E) that `text` begins with, eight or four units at a
// time; returns how many units it took. Nearly every text of a log is only that.
size_t AppendPrintableAscii(WideView text, std::string& out);
// The same, stopping at a quote or a backslash too: what a JSON string holds as it is.
size_t AppendJsonAscii(WideView text, std::string& out);

// Appends the text as UTF-8 for a terminal or a line-based file: CR, LF and tab as \r, \n and \t,
// every other control character (C0, DEL, C1) and the characters that reorder text on screen (bidi
// embeddings, overrides and isolates) as \xNN or \uNNNN, and an unpaired surrogate as U+FFFD. A
// backslash is shown as it is.
void AppendShown(WideView text, std::string& out);

inline std::string ShownText(WideView text) {
    std::string out;
    AppendShown(text, out);
    return out;
}

// A text quoted as a JSON string, every code unit as it was given (an unpaired surrogate as its
// \uXXXX), with the C1 controls and the characters that reorder text on screen as \uNNNN too: a
// value shown whole, quotes and backslashes telling where it starts and ends.
std::string ShownQuoted(WideView text);

// UTF-8 text from outside (a file's name, a message holding one) as shown.
inline std::string ShownUtf8(std::string_view utf8) { return ShownText(tev::FromUtf8(utf8)); }

}  // namespace tevtool

#endif
