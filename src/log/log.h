// The diagnostic log "Setup_TEV.log" of a run: UTF-16LE lines, no byte-order mark, each made of a
// UTC timestamp, every string of the call followed by ";", and CR LF.
#ifndef TEV_LOG_LOG_H
#define TEV_LOG_LOG_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "../platform/platform.h"
#include "../vocabulary/log_format.h"

namespace tev {

class Log {
public:
    // Creates the log anew in the temporary directory; without it, Write writes nothing. A log
    // already open is kept as it is, and the next lines follow its own.
    void Open();
    void Close();
    platform::FileHandle File() const { return file_; }

    // Appends one line: the token, then the texts, up to the first null pointer. Every line has
    // reached the operating system when it returns, whole, or nothing of it has: a line that
    // cannot be built or written is dropped, and the run goes on. Should the system refuse to cut
    // a failed line back, the next line cuts it back or ends it first, so as to stand on its own.
    void Write(logformat::Token token, std::initializer_list<const TEVChar*> texts = {});

private:
    // Cuts back or ends a line that could not be cut back when it failed; false when it is still
    // torn, and no line can follow it yet.
    bool EndTornLine();

    platform::FileHandle file_ = platform::kNoFile;
    // A line that could not be cut back: where it begins, and how many bytes of kTornLineEnd's
    // tail end it (none when there is no such line).
    std::int64_t tornFrom_ = 0;
    std::size_t tornEnd_ = 0;
};

// The room FormatLogLine needs for a line of `token` (a token's text) and `texts`, up to the first
// null pointer among them.
std::size_t LogLineCapacity(const TEVChar* token, std::initializer_list<const TEVChar*> texts);

// The line without its CR LF, from calendar fields, the token's text and the texts up to the first
// null pointer; returns its length. Log::Write builds every line with it.
std::size_t FormatLogLine(TEVChar* out, const platform::CalendarTime& time, const TEVChar* token,
                          std::initializer_list<const TEVChar*> texts);

}  // namespace tev

#endif
