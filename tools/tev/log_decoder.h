// Reading a diagnostic log back. The log is UTF-16LE lines ended by CR LF, each a UTC timestamp,
// a token and the call's texts, every string followed by ";". Texts are written unescaped, so a
// ";" or CR LF inside one is put back from the number of strings each token's line holds.
#ifndef TEV_TOOL_LOG_DECODER_H
#define TEV_TOOL_LOG_DECODER_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text.h"
#include "vocabulary/log_format.h"

namespace tevtool {

struct LogRecord {
    size_t line = 0;     // where it begins: the file's line (lines end at CR LF), from 1
    size_t byte = 0;     // and its byte offset in the file's code units
    WideView text;       // the whole record without its last CR LF
    bool timed = false;  // the record has a valid timestamp:
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::vector<WideView> fields;  // the token first, then the call's texts
    // The kind of line its token names; none when the token is not one TEV writes (or the record
    // is cut short).
    std::optional<tev::logformat::Token> kind;
    bool partial = false;  // the file ends inside this record
    std::string problem;   // why the record is not as TEV writes one; empty when it is
};

// The record's time in ISO 8601 UTC ("2016-01-02T03:04:05Z"); empty when it has none.
std::string IsoTime(const LogRecord& record);
// The record's time in seconds since 1970 (0 when it has none).
std::int64_t SecondsSinceEpoch(const LogRecord& record);

// Decodes a log fed to it piece by piece, in pieces of any size, and calls `visit` for each
// record in order as soon as it is whole. A record is a line that begins with a timestamp and every
// following line that does not (a text that held CR LF). The views of a record are valid during
// the call only. A byte-order mark is skipped and noted; a file of UTF-8 text (re-saved by an
// editor) is converted and noted.
class LogDecoder {
public:
    explicit LogDecoder(std::function<void(const LogRecord&)> visit) : visit_(std::move(visit)) {}
    void Feed(std::string_view bytes);
    // The end of the file: the last record is given out, cut short or not.
    void Finish();

    const std::vector<std::string>& Notes() const { return notes_; }
    // What is wrong with the file as a whole (an odd byte count); empty when nothing is.
    const std::string& Problem() const { return problem_; }

private:
    enum class Encoding { Unknown, Utf16, Utf8 };
    void Detect(bool atEnd);
    void Drain(bool atEnd);
    void AppendUnits(std::string_view bytes);

    std::function<void(const LogRecord&)> visit_;
    Encoding encoding_ = Encoding::Unknown;
    std::string bytes_;  // bytes not yet code units: the first few, an odd last one, UTF-8 text
    kv8::Text units_;    // code units not yet given out as records
    std::size_t unitsByte_ = 0;  // the file offset of units_[0]
    std::size_t line_ = 1;
    std::uint64_t fileBytes_ = 0;
    LogRecord record_;
    std::vector<std::string> notes_;
    std::string problem_;
};

// One JSON object: {"time":...,"token":...,"fields":[...]}, then "partial":true and "problem"
// when they apply. `fileJson`, the file's name as a JSON string, comes first when not empty.
void AppendRecordJson(const LogRecord& record, std::string_view fileJson, std::string& out);

// The record as one line of UTF-8 text: CR and LF inside it are shown as \r and \n.
void AppendRecordText(const LogRecord& record, std::string& out);

}  // namespace tevtool

#endif
