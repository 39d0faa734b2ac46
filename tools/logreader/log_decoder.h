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

#include "base/text.h"
#include "logreader/times.h"
#include "vocabulary/log_format.h"

namespace tevtool {

using tev::WideString;
using tev::WideView;

struct LogRecord {
    size_t line = 0;     // where it begins: the file's line (lines end at CR LF, LF or CR), from 1
    size_t byte = 0;     // and its byte offset in the file as it is
    WideView text;       // the record without its last line end (its first code units when cut)
    bool timed = false;  // the record has a valid timestamp:
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::vector<WideView> fields;  // the token first, then the call's texts
    // The kind of line its token names; none when the token is not one TEV writes (or the record
    // is cut short).
    std::optional<tev::logformat::Token> kind;
    bool partial = false;  // the file ends inside this record
    std::string problem;   // why the record is not as TEV writes one; empty when it is
    size_t cut = 0;  // code units left out of `text`: the record is longer than the decoder keeps
};

// What the load failure a "KV8 unavailable" record gives as its cause means, for the failures
// support meets ("cannot be loaded, error 126"), with what to do; empty for any other cause.
std::string LoadFailureMeaning(const LogRecord& record);

// The record's time as the tool shows times (times.h); empty when it has none.
std::string IsoTime(const LogRecord& record);
// The record's time in seconds since 1970 (0 when it has none).
std::int64_t SecondsSinceEpoch(const LogRecord& record);

// Decodes a log fed to it piece by piece, in pieces of any size, and calls `visit` for each
// record in order as soon as it is whole. A record is a line that begins with a timestamp and every
// following line that does not (a text that held a line break). The views of a record are valid
// during the call only. Each byte is looked at a bounded number of times, and what is held at once
// is bounded: a record is kept to its first `recordLimit` code units, the rest counted in `cut`.
// A file re-saved by an editor is read and noted once for each way it differs from what TEV
// writes: a byte-order mark, UTF-8 or UTF-16BE text, lines ended by LF or CR alone. A log whose
// first bytes are not a whole record (a torn start, an empty first line, a head of zeros) is read
// from its first whole record, with a note.
class LogDecoder {
public:
    // What is kept of one record: 2 Mi code units, 4 MiB of UTF-16 text.
    static constexpr size_t kRecordLimit = size_t{1} << 21;

    explicit LogDecoder(std::function<void(const LogRecord&)> visit,
                        size_t recordLimit = kRecordLimit);
    void Feed(std::string_view bytes);
    // The end of the file: the last record is given out, cut short or not.
    void Finish();

    const std::vector<std::string>& Notes() const { return notes_; }
    // What is wrong with the file as a whole (an odd byte count); empty when nothing is.
    const std::string& Problem() const { return problem_; }

private:
    enum class Encoding { Unknown, Utf16Le, Utf16Be, Utf8 };
    void FeedSlice(std::string_view bytes);
    void Detect(bool atEnd);
    void Convert(std::string_view bytes, bool atEnd);
    void AppendUtf16(std::string_view bytes);
    void AppendUtf8(std::string_view bytes, bool atEnd);
    bool SkipHead(bool atEnd);
    bool ReadInPlace(std::string_view bytes);
    void Drain(bool atEnd);
    void Drain(WideView units, bool atEnd);
    void GiveOut(WideView units, size_t end, size_t next);
    void DropMiddle();
    std::uint64_t BytesOf(size_t from, size_t to) const;
    void NoteOnce(bool& noted, const char* note);

    std::function<void(const LogRecord&)> visit_;
    size_t limit_;
    Encoding encoding_ = Encoding::Unknown;
    // Bytes not yet code units: the first few, an odd byte, a UTF-8 sequence cut by a piece's end.
    std::string carry_;
    WideString units_;  // code units not yet given out, from the record being read on
    std::vector<std::uint8_t> widths_;  // UTF-8 only: how many bytes each unit came from
    // Where in units_ the record being read begins, its last line begins, and the search for its
    // end goes on.
    size_t first_ = 0, lineStart_ = 0, scanFrom_ = 0;
    std::uint64_t recordByte_ = 0;    // the file offset of the record being read
    size_t breaks_ = 0;               // line breaks inside the record so far
    size_t dropped_ = 0;              // units left out of a long record so far, after its first
    std::uint64_t droppedBytes_ = 0;  // limit_, and the bytes they came from
    size_t line_ = 1;
    std::uint64_t fileBytes_ = 0;
    bool lfNoted_ = false, crNoted_ = false;
    bool headDone_ = false;  // the search for the first whole record is over
    LogRecord record_;
    // The date of the last record whose date was in range, as written ("12/7/2016; ") and as
    // read: a log's records share their date for hours, and it is read once.
    struct LastDate {
        TEVChar text[24] = {};
        size_t length = 0;
        int month = 0, day = 0, year = 0;
    } lastDate_;
    std::vector<std::string> notes_;
    std::string problem_;
};

}  // namespace tevtool

#endif
