// Reading a diagnostic log back. The log is UTF-16LE lines ended by CR LF, each a UTC timestamp,
// a token and the call's texts, every string followed by ";". Texts are written unescaped, so a
// ";" or CR LF inside one is put back from the number of strings each token's line holds.
#ifndef TEV_TOOL_LOG_DECODER_H
#define TEV_TOOL_LOG_DECODER_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text.h"

namespace tevtool {

// The file as code units, with what was found about the file as a whole.
struct LogUnits {
    kv8::Text units;
    std::vector<std::string> notes;  // a byte-order mark, UTF-8 text: the file was re-saved
    std::string problem;             // an odd byte count; empty when there is none
};

// The bytes of a log file as UTF-16 code units. A byte-order mark is skipped and noted; a file of
// UTF-8 text (re-saved by an editor) is converted and noted.
LogUnits LogCodeUnits(std::string_view bytes);

struct LogRecord {
    size_t line = 0;               // where it begins: the file's line (lines end at CR LF), from 1
    size_t byte = 0;               // and its byte offset in the file's code units
    WideView text;                 // the whole record without its last CR LF
    std::string time;              // ISO 8601 UTC; empty when there is no valid timestamp
    std::int64_t seconds = 0;      // the time in seconds since 1970 (when `time` is set)
    std::vector<WideView> fields;  // the token first, then the call's texts
    bool partial = false;          // the file ends inside this record
    std::string problem;           // why the record is not as TEV writes one; empty when it is
};

// Calls `visit` for each record in order. A record is a line that begins with a timestamp and
// every following line that does not (a text holding CR LF). Views point into `units`.
void ForEachRecord(WideView units, const std::function<void(const LogRecord&)>& visit);

// One JSON object: {"time":...,"token":...,"fields":[...]}, then "partial":true and "problem"
// when they apply. `fileJson`, the file's name as a JSON string, comes first when not empty.
void AppendRecordJson(const LogRecord& record, std::string_view fileJson, std::string& out);

// The record as one line of UTF-8 text: CR and LF inside it are shown as \r and \n.
void AppendRecordText(const LogRecord& record, std::string& out);

}  // namespace tevtool

#endif
