// A record of a log for a reader: one line of text, or one JSON object.
#ifndef TEV_TOOL_RECORD_PRINT_H
#define TEV_TOOL_RECORD_PRINT_H

#include <string>
#include <string_view>

#include "logreader/log_decoder.h"
#include "printers/escaped_text.h"

namespace tevtool {

// One JSON object: {"time":...,"token":...,"fields":[...]}, then "partial":true and "problem"
// when they apply. `fileJson`, the file's name as a JSON string, comes first when not empty.
void AppendRecordJson(const LogRecord& record, std::string_view fileJson, std::string& out);

// The record as one line of UTF-8 text, shown safely (AppendShown): CR and LF inside it as \r and
// \n, no control character or reordering character as it is.
void AppendRecordText(const LogRecord& record, std::string& out);

}  // namespace tevtool

#endif
