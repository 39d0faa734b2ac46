// The diagnostic log "Setup_TEV.log" of a run: UTF-16LE lines, no byte-order mark, each made of a
// UTC timestamp, every string of the call followed by ";", and CR LF.
#ifndef TEV_LOG_LOG_H
#define TEV_LOG_LOG_H

#include <cstddef>
#include <initializer_list>

#include "../platform/platform.h"
#include "../vocabulary/log_format.h"

namespace tev {

class Log {
public:
    // Creates the log anew in the temporary directory; without it, Write writes nothing.
    void Open();
    void Close();
    platform::FileHandle File() const { return file_; }

    // Appends one line: the token, then the texts, up to the first null pointer. Every line has
    // reached the operating system when it returns, whole, or nothing of it has: a line that
    // cannot be built or written is dropped, and the run goes on.
    void Write(logformat::Token token, std::initializer_list<const TEVChar*> texts = {});

private:
    platform::FileHandle file_ = platform::kNoFile;
};

// Room needed by FormatLogLine for these strings.
std::size_t LogLineCapacity(std::initializer_list<const TEVChar*> strings);

// The line without its CR LF, from calendar fields and strings (the token first); returns its
// length.
std::size_t FormatLogLine(TEVChar* out, const platform::CalendarTime& time,
                          std::initializer_list<const TEVChar*> strings);

}  // namespace tev

#endif
