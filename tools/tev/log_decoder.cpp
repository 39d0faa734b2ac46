#include "log_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tevtool {
namespace {

static_assert(std::endian::native == std::endian::little && sizeof(TEVChar) == 2);

namespace logformat = tev::logformat;

constexpr TEVChar kCr = logformat::kLineEnd[0], kLf = logformat::kLineEnd[1];
constexpr TEVChar kSeparator = logformat::kFieldEnd;

// The shape of the line a token begins; none for a token TEV does not write.
const logformat::TokenShape* ShapeOf(WideView token) {
    for (const logformat::TokenShape& shape : logformat::kTokens)
        if (token == shape.text) return &shape;
    return nullptr;
}

bool IsDigit(TEVChar unit) { return unit >= '0' && unit <= '9'; }

// The timestamp as TEV writes it: month, day, year, hour, minute, second.
struct Stamp {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    size_t length = 0;
};

bool ReadNumber(WideView text, size_t& at, int& value) {
    size_t start = at;
    value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 9)
        value = value * 10 + (text[at++] - '0');
    return at > start && (at >= text.size() || !IsDigit(text[at]));
}

bool Expect(WideView text, size_t& at, std::string_view literal) {
    for (char c : literal)
        if (at >= text.size() || text[at++] != static_cast<TEVChar>(c)) return false;
    return true;
}

bool Expect(WideView text, size_t& at, TEVChar unit) {
    return at < text.size() && text[at++] == unit;
}

bool ReadStamp(WideView text, Stamp& stamp) {
    size_t at = 0;
    using logformat::kDateSeparator, logformat::kTimeSeparator, logformat::kStampPartEnd;
    bool shaped = ReadNumber(text, at, stamp.month) && Expect(text, at, kDateSeparator) &&
                  ReadNumber(text, at, stamp.day) && Expect(text, at, kDateSeparator) &&
                  ReadNumber(text, at, stamp.year) && Expect(text, at, kStampPartEnd) &&
                  ReadNumber(text, at, stamp.hour) && Expect(text, at, kTimeSeparator) &&
                  ReadNumber(text, at, stamp.minute) && Expect(text, at, kTimeSeparator) &&
                  ReadNumber(text, at, stamp.second) && Expect(text, at, kStampPartEnd);
    stamp.length = at;
    return shaped;
}

int DaysInMonth(int month, int year) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysSinceEpoch(int year, int month, int day) {
    year -= month <= 2;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    std::int64_t yearOfEra = year - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void PutDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        digits[i] = static_cast<char>('0' + value % 10);
    out.append(digits, static_cast<size_t>(width));
}

// The date or the time as the log wrote it.
std::string Numbers(const Stamp& s, bool date) {
    auto joined = [](TEVChar separator, int first, int second, int third) {
        std::string between(1, static_cast<char>(separator));
        return std::to_string(first) + between + std::to_string(second) + between +
               std::to_string(third);
    };
    return date ? joined(logformat::kDateSeparator, s.month, s.day, s.year)
                : joined(logformat::kTimeSeparator, s.hour, s.minute, s.second);
}

// Sets the record's time, or says why the timestamp is not one.
void SetTime(const Stamp& s, LogRecord& record) {
    if (s.year < 1 || s.year > 9999 || s.month < 1 || s.month > 12 || s.day < 1 ||
        s.day > DaysInMonth(s.month, s.year)) {
        record.problem = "the date " + Numbers(s, true) + " is out of range";
        return;
    }
    if (s.hour > 23 || s.minute > 59 || s.second > 59) {
        record.problem = "the time " + Numbers(s, false) + " is out of range";
        return;
    }
    record.timed = true;
    record.year = s.year;
    record.month = s.month;
    record.day = s.day;
    record.hour = s.hour;
    record.minute = s.minute;
    record.second = s.second;
}

// Each piece ended by ";", and what follows the last one when there is anything.
void SplitAtEverySeparator(WideView body, std::vector<WideView>& fields) {
    fields.clear();
    for (size_t at = body.find(kSeparator); at != WideView::npos; at = body.find(kSeparator)) {
        fields.push_back(body.substr(0, at));
        body.remove_prefix(at + 1);
    }
    if (!body.empty()) fields.push_back(body);
}

// The strings of a line whose token is known. Where a line holds more separators than strings,
// the texts before the last are read up to their first ";" and the last text holds the rest.
void SplitKnownLine(WideView body, int strings, LogRecord& record) {
    std::vector<WideView>& fields = record.fields;
    size_t tokenEnd = body.find(kSeparator);
    fields.push_back(body.substr(0, tokenEnd));
    WideView rest = body.substr(tokenEnd + 1);
    if (strings == 1) {
        if (!rest.empty()) record.problem = "text follows a token that takes none";
        return;
    }
    if (rest.empty() || rest.back() != kSeparator) {
        record.problem = "the line does not end with ';'";
        return;
    }
    rest.remove_suffix(1);
    for (int text = 1; text < strings - 1; ++text) {
        size_t end = rest.find(kSeparator);
        if (end == WideView::npos) {
            record.problem = "the line holds " + std::to_string(text) + " of its token's " +
                             std::to_string(strings - 1) + " texts";
            return;
        }
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    fields.push_back(rest);
}

void ParseRecord(LogRecord& record) {
    WideView body = record.text;
    Stamp stamp;
    if (ReadStamp(body, stamp)) {
        SetTime(stamp, record);
        body.remove_prefix(stamp.length);
    } else if (!record.partial) {
        record.problem = "the line does not begin with a timestamp";
    }
    if (record.partial) {
        record.problem = "the last line is not ended by CR LF: the log is cut short";
        SplitAtEverySeparator(body, record.fields);
        return;
    }
    size_t tokenEnd = body.find(kSeparator);
    const logformat::TokenShape* shape =
        tokenEnd == WideView::npos ? nullptr : ShapeOf(body.substr(0, tokenEnd));
    if (!shape) {
        if (record.problem.empty())
            record.problem = tokenEnd == WideView::npos ? "the line has no token" : "unknown token";
        SplitAtEverySeparator(body, record.fields);
        return;
    }
    record.kind = shape->kind;
    SplitKnownLine(body, shape->strings, record);
    if (!record.problem.empty()) SplitAtEverySeparator(body, record.fields);
}

// Where the line that begins at `from` ends: the index of its CR LF, or npos when none follows.
size_t LineEnd(WideView units, size_t from) {
    for (size_t lf = units.find(kLf, from); lf != WideView::npos; lf = units.find(kLf, lf + 1))
        if (lf > from && units[lf - 1] == kCr) return lf - 1;
    return WideView::npos;
}

// Whether the line at `at` begins a record of its own rather than going on with a text that held
// CR LF. A whole timestamp begins one. So does the start of a date ("12/7/20...", digits then "/")
// after a line that ends with ";" as every whole line does: a line torn by a failed write and
// continued by the next is reported, not taken into the text above.
bool BeginsRecord(WideView units, size_t at, bool afterWholeLine) {
    size_t digits = at;
    while (digits < units.size() && IsDigit(units[digits])) ++digits;
    if (digits == at || digits == units.size() || units[digits] != logformat::kDateSeparator)
        return false;
    Stamp stamp;
    return afterWholeLine || ReadStamp(units.substr(at, 64), stamp);
}

void AppendIsoTime(const LogRecord& r, std::string& out) {
    // Records come many to a second: the last text made is kept.
    thread_local int last[6] = {};
    thread_local std::string lastText;
    int now[6] = {r.year, r.month, r.day, r.hour, r.minute, r.second};
    if (!lastText.empty() && std::equal(now, now + 6, last)) {
        out += lastText;
        return;
    }
    std::copy(now, now + 6, last);
    size_t start = out.size();
    const char after[] = "--T::Z";  // "2016-01-02T03:04:05Z"
    for (int i = 0; i < 6; ++i) {
        PutDigits(out, now[i], i == 0 ? 4 : 2);
        out += after[i];
    }
    lastText = out.substr(start);
}

void AppendAsciiJson(std::string_view text, std::string& out) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string IsoTime(const LogRecord& record) {
    std::string time;
    if (record.timed) AppendIsoTime(record, time);
    return time;
}

std::int64_t SecondsSinceEpoch(const LogRecord& r) {
    if (!r.timed) return 0;
    return DaysSinceEpoch(r.year, r.month, r.day) * 86400 + r.hour * 3600 + r.minute * 60 +
           r.second;
}

void LogDecoder::Detect(bool atEnd) {
    if (bytes_.size() < 3 && !atEnd) return;
    auto byteAt = [&](size_t i) {
        return i < bytes_.size() ? static_cast<unsigned char>(bytes_[i]) : 0;
    };
    encoding_ = Encoding::Utf16;
    if (byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
        notes_.push_back(
            "the file is UTF-8 text with a byte-order mark, not UTF-16LE as TEV writes it "
            "(re-saved by an editor?); read as UTF-8");
        encoding_ = Encoding::Utf8;
        bytes_.erase(0, 3);
    } else if (byteAt(0) > 0 && byteAt(0) < 0x80 && byteAt(1) > 0 && byteAt(1) < 0x80) {
        // TEV's first code unit is an ASCII digit, so its second byte is zero; two ASCII bytes in
        // a row are UTF-8 (or ASCII) text.
        notes_.push_back(
            "the file is UTF-8 text, not UTF-16LE as TEV writes it (re-saved by an "
            "editor?); read as UTF-8");
        encoding_ = Encoding::Utf8;
    } else if (byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        notes_.push_back(
            "the file begins with a byte-order mark, which TEV does not write (re-saved "
            "by an editor?); skipped");
        bytes_.erase(0, 2);
        unitsByte_ = 2;
    }
}

// Whole code units of `bytes` (little-endian, as the log), an odd last byte left out.
void LogDecoder::AppendUnits(std::string_view bytes) {
    size_t count = bytes.size() / 2, old = units_.size();
    if (count == 0) return;
    units_.resize(old + count);
    std::memcpy(units_.data() + old, bytes.data(), count * 2);
}

void LogDecoder::Feed(std::string_view bytes) {
    fileBytes_ += bytes.size();
    if (encoding_ != Encoding::Utf16) {
        bytes_.append(bytes);
        if (encoding_ == Encoding::Unknown) Detect(false);
        if (encoding_ != Encoding::Utf16) return;  // UTF-8 text is converted whole at the end
        bytes = {};
    }
    bool lineFeed = false;
    if (!bytes_.empty()) {  // the bytes held back, completed to whole code units
        size_t take = bytes_.size() % 2 && !bytes.empty() ? 1 : 0;
        bytes_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        std::string held;
        held.swap(bytes_);
        if (held.size() % 2) bytes_ = held.substr(held.size() - 1);
        AppendUnits(held);
        lineFeed = held.find('\n') != std::string::npos;
    }
    AppendUnits(bytes);
    if (bytes.size() % 2) bytes_.assign(1, bytes.back());
    // Records end at a line feed: a piece without one ends none (nor does it make a long line's
    // search start over).
    if (lineFeed || bytes.find('\n') != std::string_view::npos) Drain(false);
}

void LogDecoder::Finish() {
    if (encoding_ == Encoding::Unknown) Detect(true);
    if (encoding_ == Encoding::Utf8) {
        units_ += FromUtf8(bytes_);
        bytes_.clear();
    } else {
        AppendUnits(bytes_);  // what a file too short to tell its encoding held back
        if (bytes_.size() % 2)
            problem_ = "the file has an odd length: its last byte (offset " +
                       std::to_string(fileBytes_ - 1) + ") is half a UTF-16 code unit";
        bytes_.clear();
    }
    Drain(true);
}

// Gives out every record whose end is known: before the end of the file, that needs the line
// after it, far enough to tell whether it begins a record.
void LogDecoder::Drain(bool atEnd) {
    constexpr size_t kLookahead = 64;  // longer than any timestamp
    WideView units = units_;
    size_t at = 0;
    while (at < units.size()) {
        size_t line = line_, end = LineEnd(units, at);
        ++line;
        while (end != WideView::npos && end + 2 < units.size() &&
               (atEnd || end + 2 + kLookahead <= units.size()) &&
               !BeginsRecord(units, end + 2, end > at && units[end - 1] == kSeparator)) {
            end = LineEnd(units, end + 2);  // a text holding CR LF goes on
            ++line;
        }
        bool whole = end != WideView::npos && (atEnd || end + 2 + kLookahead <= units.size());
        if (!whole && !atEnd) break;
        LogRecord& record = record_;
        record.line = line_;
        record.byte = unitsByte_ + at * 2;
        record.timed = false;
        record.kind.reset();
        record.problem.clear();
        record.fields.clear();
        record.partial = end == WideView::npos;
        record.text = units.substr(at, record.partial ? WideView::npos : end - at);
        line_ = line;
        at = record.partial ? units.size() : end + 2;
        ParseRecord(record);
        visit_(record);
    }
    units_.erase(0, at);
    unitsByte_ += at * 2;
}

void AppendRecordJson(const LogRecord& record, std::string_view fileJson, std::string& out) {
    out += '{';
    if (!fileJson.empty()) {
        out += "\"file\":";
        out += fileJson;
        out += ',';
    }
    out += "\"time\":";
    if (record.timed) {
        out += '"';
        AppendIsoTime(record, out);
        out += '"';
    } else {
        out += "null";
    }
    out += ",\"token\":";
    if (record.fields.empty())
        out += "null";
    else
        AppendJson(record.fields.front(), out);
    out += ",\"fields\":[";
    for (size_t i = 1; i < record.fields.size(); ++i) {
        if (i > 1) out += ',';
        AppendJson(record.fields[i], out);
    }
    out += ']';
    if (record.partial) out += ",\"partial\":true";
    if (!record.problem.empty()) {
        out += ",\"problem\":";
        AppendAsciiJson(record.problem, out);
    }
    out += '}';
}

void AppendRecordText(const LogRecord& record, std::string& out) {
    WideView text = record.text;
    // Plain ASCII without CR or LF, nearly every record, is copied as it is.
    size_t start = out.size(), plain = 0;
    out.resize(start + text.size());
    for (; plain < text.size(); ++plain) {
        TEVChar unit = text[plain];
        if (unit >= 0x80 || unit == kCr || unit == kLf) break;
        out[start + plain] = static_cast<char>(unit);
    }
    out.resize(start + plain);
    text.remove_prefix(plain);
    for (size_t at = text.find_first_of(TEV_TEXT("\r\n")); at != WideView::npos;
         at = text.find_first_of(TEV_TEXT("\r\n"))) {
        AppendUtf8(text.substr(0, at), out);
        out += text[at] == kCr ? "\\r" : "\\n";
        text.remove_prefix(at + 1);
    }
    AppendUtf8(text, out);
}

}  // namespace tevtool
