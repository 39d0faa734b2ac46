// Reading a diagnostic log back: UTF-16LE lines ended by CR LF, each a timestamp and fields.
#ifndef TEV_TOOL_LOG_DECODER_H
#define TEV_TOOL_LOG_DECODER_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KV8Control.h"

namespace tevtool {

struct DecodedLog {
    std::vector<kv8::Text> lines;  // without their CR LF
    std::string problem;           // why the file is not whole; empty when it is
};

// Decodes as far as the bytes go.
DecodedLog DecodeLog(std::string_view bytes);

struct LogEntry {
    std::optional<std::string> time;  // ISO 8601 UTC; none when the line has no timestamp
    std::vector<kv8::Text> fields;    // the token first; each field was followed by ";"
};

LogEntry ParseLogLine(const kv8::Text& line);

// One JSON object: {"time":...,"token":...,"fields":[...]}.
std::string LogEntryJson(const LogEntry& entry);

}  // namespace tevtool

#endif
