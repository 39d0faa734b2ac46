#include "tev/terminal.h"

#include <fmt/color.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "tev/tool_system.h"

namespace tevtool {
namespace {

// Whether a stream is a terminal, and whether it shows colour there: asked of the system once per
// stream, as neither changes while the tool runs (a summary of a folder styles every run).
struct Look {
    std::FILE* stream = nullptr;
    bool terminal = false, colour = false;
};

const Look& LookOf(std::FILE* stream) {
    static Look looks[4];
    static size_t known = 0;
    for (size_t i = 0; i < known; ++i)
        if (looks[i].stream == stream) return looks[i];
    static Look spare;  // past four streams, asked each time
    Look& look = known < std::size(looks) ? looks[known++] : spare;
    const char* noColor = std::getenv("NO_COLOR");
    look.stream = stream;
    look.terminal = process::IsTerminal(stream);
    look.colour = (!noColor || !*noColor) && look.terminal;
    return look;
}

fmt::text_style StyleOf(Style style) {
    switch (style) {
    case Style::Error: return fmt::fg(fmt::terminal_color::bright_red) | fmt::emphasis::bold;
    case Style::Warning: return fmt::fg(fmt::terminal_color::yellow);
    case Style::Heading: return fmt::emphasis::bold;
    case Style::Success: return fmt::fg(fmt::terminal_color::green);
    }
    return {};
}

}  // namespace

bool OnTerminal(std::FILE* stream) { return LookOf(stream).terminal; }
bool ShowsColour(std::FILE* stream) { return LookOf(stream).colour; }

std::string Styled(Style style, std::string_view text, std::FILE* stream) {
    if (!ShowsColour(stream)) return std::string(text);
    return fmt::format(StyleOf(style), "{}", text);
}

Progress::Progress(std::string name, std::uint64_t total)
    : name_(std::move(name)), total_(total), active_(total >= kLongRead && OnTerminal(stderr)) {}

void Progress::Advance(std::uint64_t bytes) {
    read_ += bytes;
    if (!active_) return;
    int percent = static_cast<int>(std::min<std::uint64_t>(read_, total_) * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    fmt::print(stderr, "\rtev: reading {}: {:3}%", name_, percent);
    std::fflush(stderr);
}

void Progress::Done() {
    if (shown_ < 0) return;
    shown_ = -1;
    fmt::print(stderr, "\r\x1b[K");  // back to the line's start, the line cleared
    std::fflush(stderr);
}

}  // namespace tevtool
