// The diagnostic log "Setup_TEV.log": UTF-16LE lines, no byte-order mark, each made of a UTC
// timestamp, every string of the call followed by ";", and CR LF.
#ifndef TEV_RUN_LOG_H
#define TEV_RUN_LOG_H

#include <cstddef>
#include <initializer_list>

#include "../platform/platform.h"
#include "TEVText.h"

namespace tev {

// The log's name in the temporary directory (platform::TempFilePath gives where it lies).
extern const TEVChar kLogFileName[];

// Creates the log anew in the temporary directory; without it, WriteLog writes nothing.
void OpenLogFile();
void CloseLog();

// Appends one line: the token, then the other strings, up to the first null pointer. Every line has
// reached the operating system when it returns, whole, or nothing of it has: a line that cannot be
// built or written is dropped, and the run goes on.
void WriteLog(std::initializer_list<const TEVChar*> strings);

// Room needed by FormatLogLine for these strings.
std::size_t LogLineCapacity(std::initializer_list<const TEVChar*> strings);

// The line without its CR LF, from calendar fields and strings; returns its length.
std::size_t FormatLogLine(TEVChar* out, const platform::CalendarTime& time,
                          std::initializer_list<const TEVChar*> strings);

}  // namespace tev

#endif
