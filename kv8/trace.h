// The stand-in's trace: one JSON object per call into the analytics interface, in call order.
#ifndef KV8_TRACE_H
#define KV8_TRACE_H

#include <cstddef>
#include <string>
#include <vector>

#include "base/text.h"

namespace kv8 {

// A text in the stand-in's JSON: every code unit as TEV passed it, an unpaired surrogate as \uXXXX.
inline std::string Quoted(tev::WideView text) {
    return tev::JsonQuote(text, tev::LoneSurrogates::Keep);
}

// The same for a text the caller may pass as null, which is written null.
inline std::string OrNull(const TEVChar* text) { return text ? Quoted(text) : "null"; }

class CallTrace {
public:
    // Adds the line that `line()` builds. A line that cannot be stored is lost; the call itself
    // goes on.
    template <typename BuildLine>
    void Add(BuildLine line) {
        try {
            lines_.push_back(line());
        } catch (...) {
        }
    }

    const std::vector<std::string>& Lines() const { return lines_; }

    // The lines added since the last call (or since Clear).
    std::vector<std::string> TakeNew() {
        std::vector<std::string> lines(lines_.begin() + static_cast<long>(taken_), lines_.end());
        taken_ = lines_.size();
        return lines;
    }

    void Clear() {
        lines_.clear();
        taken_ = 0;
    }

private:
    std::vector<std::string> lines_;
    std::size_t taken_ = 0;
};

}  // namespace kv8

#endif
