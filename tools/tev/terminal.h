// What the tool shows only on a terminal: colour (none when piped, none when NO_COLOR is set) and
// the progress of a long read.
#ifndef TEV_TOOL_TERMINAL_H
#define TEV_TOOL_TERMINAL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tevtool {

enum class Style { Error, Warning, Heading, Success };

// Whether the stream is a terminal (asked of the system once per stream).
bool OnTerminal(std::FILE* stream);
// Whether the stream is a terminal that shows colour (NO_COLOR unset or empty).
bool ShowsColour(std::FILE* stream);

// `text` in the style's colour when `stream` is a terminal that shows colour; as it is otherwise.
std::string Styled(Style style, std::string_view text, std::FILE* stream = stderr);

// "reading NAME: N%" on standard error, rewritten in place, while a file of at least kLongRead
// bytes is read, when standard error is a terminal; nothing otherwise. Cleared when done.
class Progress {
public:
    static constexpr std::uint64_t kLongRead = 32 << 20;
    Progress(std::string name, std::uint64_t total);
    ~Progress() { Done(); }
    void Advance(std::uint64_t bytes);
    void Done();

private:
    std::string name_;
    std::uint64_t total_, read_ = 0;
    int shown_ = -1;  // the percentage on the screen; -1 when nothing is
    bool active_;
};

}  // namespace tevtool

#endif
