#include "logreader/log_decoder.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tevtool {
namespace {

static_assert(std::endian::native == std::endian::little && sizeof(TEVChar) == 2);

namespace logformat = tev::logformat;

constexpr TEVChar kCr = logformat::kLineEnd[0], kLf = logformat::kLineEnd[1];
constexpr TEVChar kSeparator = logformat::kFieldEnd;

// Four code units at a time: a 64-bit word holds four, and a test of all four is a few
// instructions where four tests of one are four branches.
constexpr std::uint64_t kUnitOnes = 0x0001000100010001ull, kUnitTops = 0x8000800080008000ull;

std::uint64_t WordAt(const TEVChar* units) {
    std::uint64_t word;
    std::memcpy(&word, units, sizeof word);
    return word;
}

// Whether one of the word's four units is `unit` (below 0x8000).
bool HasUnit(std::uint64_t word, TEVChar unit) {
    std::uint64_t x = word ^ (unit * kUnitOnes);
    return ((x - kUnitOnes) & ~x & kUnitTops) != 0;
}

#ifdef __SSE2__
// The first unit from `at` on that `marks` marks (given eight units, all ones at each unit
// sought), sixteen units a turn, then eight; npos when there is none, with `at` where fewer than
// eight units are left.
template <typename Marks>
size_t FindMarked(WideView units, size_t& at, Marks marks) {
    auto eight = [&](size_t first) {
        return marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(units.data() + first)));
    };
    for (; at + 16 <= units.size(); at += 16) {
        int found = _mm_movemask_epi8(_mm_packs_epi16(eight(at), eight(at + 8)));
        if (found) return at + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(found)));
    }
    for (; at + 8 <= units.size(); at += 8) {
        int found = _mm_movemask_epi8(eight(at));
        if (found)
            return at + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(found))) / 2;
    }
    return WideView::npos;
}
#endif

// Where the first ";" of `text` is; npos when it holds none.
size_t FindSeparator(WideView text) {
    size_t at = 0;
#ifdef __SSE2__
    const __m128i separator = _mm_set1_epi16(static_cast<short>(kSeparator));
    size_t found =
        FindMarked(text, at, [&](__m128i eight) { return _mm_cmpeq_epi16(eight, separator); });
    if (found != WideView::npos) return found;
#endif
    for (; at < text.size(); ++at)
        if (text[at] == kSeparator) return at;
    return WideView::npos;
}

// The tokens by a perfect hash of their length, middle unit and last unit: each token has a slot
// of its own, so that a token is found with one slot read and one comparison, whatever it is.
constexpr size_t kTokenSlots = 64;
constexpr size_t TokenSlot(WideView token) {
    return (token.size() * 2 + token[token.size() / 2] + token.back() * 21) % kTokenSlots;
}
// Each slot's token (its text empty for a slot no token hashes to) and the token's shape.
struct TokenSlotEntry {
    WideView text;
    const logformat::TokenShape* shape = nullptr;
};
constexpr std::array<TokenSlotEntry, kTokenSlots> kTokenBySlot = [] {
    std::array<TokenSlotEntry, kTokenSlots> slots{};
    for (const logformat::TokenShape& shape : logformat::kTokens) {
        WideView text(shape.text);
        slots[TokenSlot(text)] = {text, &shape};
    }
    return slots;
}();
static_assert(
    [] {
        size_t filled = 0;
        for (const TokenSlotEntry& slot : kTokenBySlot) filled += !slot.text.empty();
        return filled == std::size(logformat::kTokens);
    }(),
    "two tokens share a slot: change TokenSlot's factors");
static_assert(
    [] {
        for (const TokenSlotEntry& slot : kTokenBySlot)
            if (!slot.text.empty() && (slot.text.size() < 4 || slot.text.size() > 24)) return false;
        return true;
    }(),
    "ShapeOf compares tokens of 4 to 24 units");

// The shape of the line a token begins; none for a token TEV does not write.
const logformat::TokenShape* ShapeOf(WideView token) {
    if (token.empty()) return nullptr;
    const TokenSlotEntry& slot = kTokenBySlot[TokenSlot(token)];
    const size_t n = token.size();
    if (slot.text.size() != n) return nullptr;
    // Compared in six words of four units, those past the token's end taken back to its last
    // four, their differences gathered and tested once: a branch on the token's length or on
    // each word would guess wrong wherever the token changes.
    const TEVChar *a = token.data(), *b = slot.text.data();
    auto differs = [&](size_t at) {
        at = std::min(at, n - 4);
        return WordAt(a + at) ^ WordAt(b + at);
    };
    std::uint64_t difference =
        differs(0) | differs(4) | differs(8) | differs(12) | differs(16) | differs(n - 4);
    return difference == 0 ? slot.shape : nullptr;
}

bool IsDigit(TEVChar unit) { return unit >= '0' && unit <= '9'; }

// The timestamp as TEV writes it: month, day, year, hour, minute, second.
struct Stamp {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    size_t length = 0;
    size_t dateLength = 0;  // the date and its part's end
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

bool ReadStampChecked(WideView text, Stamp& stamp) {
    size_t at = 0;
    using logformat::kDateSeparator, logformat::kTimeSeparator, logformat::kStampPartEnd;
    bool shaped = ReadNumber(text, at, stamp.month) && Expect(text, at, kDateSeparator) &&
                  ReadNumber(text, at, stamp.day) && Expect(text, at, kDateSeparator) &&
                  ReadNumber(text, at, stamp.year) && Expect(text, at, kStampPartEnd) &&
                  (stamp.dateLength = at) > 0 && ReadNumber(text, at, stamp.hour) &&
                  Expect(text, at, kTimeSeparator) && ReadNumber(text, at, stamp.minute) &&
                  Expect(text, at, kTimeSeparator) && ReadNumber(text, at, stamp.second) &&
                  Expect(text, at, kStampPartEnd);
    stamp.length = at;
    return shaped;
}

// The stamp as TEV writes it, "M/D/YYYY; H:M:S; " with one or two digits where it may, read
// without a bound check on each unit: it is at most kLongest units long. Any other stamp, and a
// text too short to hold the longest, is read unit by unit (ReadStampChecked).
bool ReadStamp(WideView text, Stamp& stamp) {
    constexpr size_t kLongest = 22;
    if (text.size() < kLongest) return ReadStampChecked(text, stamp);
    const TEVChar* u = text.data();
    size_t at = 0;
    auto number = [&](int& value, size_t most) {
        if (!IsDigit(u[at])) return false;
        value = u[at++] - '0';
        for (size_t more = 1; more < most && IsDigit(u[at]); ++more)
            value = value * 10 + (u[at++] - '0');
        return !IsDigit(u[at]);
    };
    auto literal = [&](TEVChar unit) { return u[at++] == unit; };
    using logformat::kDateSeparator, logformat::kTimeSeparator, logformat::kStampPartEnd;
    constexpr TEVChar kEnd0 = kStampPartEnd[0], kEnd1 = kStampPartEnd[1];
    if (number(stamp.month, 2) && literal(kDateSeparator) && number(stamp.day, 2) &&
        literal(kDateSeparator) && number(stamp.year, 4) && literal(kEnd0) && literal(kEnd1) &&
        (stamp.dateLength = at) > 0 && number(stamp.hour, 2) && literal(kTimeSeparator) &&
        number(stamp.minute, 2) && literal(kTimeSeparator) && number(stamp.second, 2) &&
        literal(kEnd0) && literal(kEnd1)) {
        stamp.length = at;
        return true;
    }
    stamp = Stamp{};
    return ReadStampChecked(text, stamp);
}

int DaysInMonth(int month, int year) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
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

bool DateInRange(const Stamp& s) {
    return s.year >= 1 && s.year <= 9999 && s.month >= 1 && s.month <= 12 && s.day >= 1 &&
           s.day <= DaysInMonth(s.month, s.year);
}

// Sets the record's time, or says why the timestamp is not one (its date known to be in range
// when `dateChecked`).
void SetTime(const Stamp& s, bool dateChecked, LogRecord& record) {
    if (!dateChecked && !DateInRange(s)) {
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
    for (size_t at = FindSeparator(body); at != WideView::npos; at = FindSeparator(body)) {
        fields.push_back(body.substr(0, at));
        body.remove_prefix(at + 1);
    }
    if (!body.empty()) fields.push_back(body);
}

// The strings of a line whose token is known. Where a line holds more separators than strings,
// the texts before the last are read up to their first ";" and the last text holds the rest.
void SplitKnownLine(WideView body, int strings, LogRecord& record) {
    std::vector<WideView>& fields = record.fields;
    size_t tokenEnd = FindSeparator(body);
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
        size_t end = FindSeparator(rest);
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

// Whether the text begins with the date of `last` as written, compared four units at a time (its
// text is kept with zeros past its end); the text holds at least `more` units after it.
template <typename LastDate>
bool SameDate(WideView text, const LastDate& last, size_t more) {
    if (!last.length || text.size() < last.length + more) return false;
    for (size_t at = 0; at < last.length; at += 4) {
        std::uint64_t mask = last.length - at >= 4
                                 ? ~std::uint64_t{0}
                                 : (std::uint64_t{1} << (16 * (last.length - at))) - 1;
        if ((WordAt(text.data() + at) ^ WordAt(last.text + at)) & mask) return false;
    }
    return true;
}

// The stamp, its date read from `last` when it is written as the date there (checked then).
template <typename LastDate>
bool ReadStampAfter(WideView text, LastDate& last, Stamp& stamp, bool& dateChecked) {
    dateChecked = SameDate(text, last, 8);
    if (dateChecked) {
        size_t at = last.length;
        stamp.month = last.month;
        stamp.day = last.day;
        stamp.year = last.year;
        stamp.dateLength = at;
        bool shaped =
            ReadNumber(text, at, stamp.hour) && Expect(text, at, logformat::kTimeSeparator) &&
            ReadNumber(text, at, stamp.minute) && Expect(text, at, logformat::kTimeSeparator) &&
            ReadNumber(text, at, stamp.second) && Expect(text, at, logformat::kStampPartEnd);
        stamp.length = at;
        return shaped;
    }
    if (!ReadStamp(text, stamp)) return false;
    if (DateInRange(stamp) && stamp.dateLength + 4 <= std::size(last.text)) {
        std::fill(std::begin(last.text), std::end(last.text), TEVChar{0});
        std::memcpy(last.text, text.data(), stamp.dateLength * sizeof(TEVChar));
        last.length = stamp.dateLength;
        last.month = stamp.month;
        last.day = stamp.day;
        last.year = stamp.year;
        dateChecked = true;
    }
    return true;
}

// The stamp of nearly every record: the date of the record before, then "H:M:S; " with one or two
// digits each and in range, read into the record straight (its parts never go through memory to
// be read back). Its length, or 0 for any other stamp.
template <typename LastDate>
size_t ReadUsualStamp(WideView text, const LastDate& last, LogRecord& record) {
    if (!SameDate(text, last, 11)) return 0;
    const TEVChar* u = text.data();
    size_t at = last.length;
    auto number = [&](int most) {
        if (!IsDigit(u[at])) return -1;
        int value = u[at++] - '0';
        if (IsDigit(u[at])) value = value * 10 + (u[at++] - '0');
        return IsDigit(u[at]) || value > most ? -1 : value;
    };
    int hour = number(23);
    if (hour < 0 || u[at++] != logformat::kTimeSeparator) return 0;
    int minute = number(59);
    if (minute < 0 || u[at++] != logformat::kTimeSeparator) return 0;
    int second = number(59);
    if (second < 0 || u[at] != logformat::kStampPartEnd[0] ||
        u[at + 1] != logformat::kStampPartEnd[1])
        return 0;
    record.timed = true;
    record.year = last.year;
    record.month = last.month;
    record.day = last.day;
    record.hour = hour;
    record.minute = minute;
    record.second = second;
    return at + 2;
}

template <typename LastDate>
void ParseRecord(LogRecord& record, LastDate& lastDate) {
    WideView body = record.text;
    Stamp stamp;
    bool dateChecked = false;
    if (size_t length = ReadUsualStamp(body, lastDate, record)) {
        body.remove_prefix(length);
    } else if (ReadStampAfter(body, lastDate, stamp, dateChecked)) {
        SetTime(stamp, dateChecked, record);
        body.remove_prefix(stamp.length);
    } else if (!record.partial) {
        record.problem = "the line does not begin with a timestamp";
    }
    if (record.partial || record.cut) {
        if (record.partial)
            record.problem = "the last line is not ended by CR LF: the log is cut short";
        if (record.cut) {
            if (!record.problem.empty()) record.problem += "; ";
            record.problem += "the record is too long to keep whole: its first " +
                              std::to_string(record.text.size()) + " code units are shown, " +
                              std::to_string(record.cut) + " more are left out";
        }
        SplitAtEverySeparator(body, record.fields);
        return;
    }
    size_t tokenEnd = FindSeparator(body);
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

// The first line break (CR or LF) at or after `from`; npos when there is none.
size_t LineBreak(WideView units, size_t from) {
    size_t at = from;
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi16(static_cast<short>(kCr));
    const __m128i lf = _mm_set1_epi16(static_cast<short>(kLf));
    size_t found = FindMarked(units, at, [&](__m128i eight) {
        return _mm_or_si128(_mm_cmpeq_epi16(eight, cr), _mm_cmpeq_epi16(eight, lf));
    });
    if (found != WideView::npos) return found;
#endif
    for (; at + 4 <= units.size(); at += 4) {
        std::uint64_t word = WordAt(units.data() + at);
        if (HasUnit(word, kCr) || HasUnit(word, kLf)) break;
    }
    for (; at < units.size(); ++at)
        if (units[at] <= kCr && (units[at] == kCr || units[at] == kLf)) return at;
    return WideView::npos;
}

// Whether the line at `at` begins a record of its own rather than going on with a text that held
// a line break. A whole timestamp begins one. So does the start of a date ("12/7/20...", digits
// then "/") after a line that ends with ";" as every whole line does: a line torn by a failed write
// and continued by the next is reported, not taken into the text above.
bool BeginsRecord(WideView units, size_t at, bool afterWholeLine) {
    size_t digits = at;
    while (digits < units.size() && IsDigit(units[digits])) ++digits;
    if (digits == at || digits == units.size() || units[digits] != logformat::kDateSeparator)
        return false;
    Stamp stamp;
    return afterWholeLine || ReadStamp(units.substr(at, 64), stamp);
}

// Decodes UTF-8 onto `units`, and onto `widths` how many bytes each unit came from (the second unit
// of a pair 0). A malformed sequence becomes one U+FFFD for its longest valid start. Unless
// `atEnd`, a sequence that the end of `bytes` cuts is left for more bytes. Returns the bytes read.
size_t DecodeUtf8(std::string_view bytes, bool atEnd, WideString& units,
                  std::vector<std::uint8_t>& widths) {
    size_t old = units.size(), out = old;
    units.resize(old + bytes.size());
    widths.resize(old + bytes.size());
    auto put = [&](TEVChar unit, size_t width) {
        units[out] = unit;
        widths[out++] = static_cast<std::uint8_t>(width);
    };
    size_t at = 0;
    while (at < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {  // nearly every byte of a log
            put(lead, 1);
            ++at;
            continue;
        }
        char32_t point;
        size_t taken = tev::DecodeUtf8(bytes.substr(at), atEnd, point);
        if (taken == 0) break;  // the rest comes later
        if (point < 0x10000) {
            put(static_cast<TEVChar>(point), taken);
        } else {
            put(static_cast<TEVChar>(0xD800 + ((point - 0x10000) >> 10)), 4);
            put(static_cast<TEVChar>(0xDC00 + (point & 0x3FF)), 0);
        }
        at += taken;
    }
    units.resize(out);
    widths.resize(out);
    return at;
}

}  // namespace

std::string LoadFailureMeaning(const LogRecord& record) {
    if (record.kind != logformat::Token::LibraryUnavailable || record.fields.size() < 3) return "";
    const std::string_view loaded = "cannot be loaded, error ";
    std::string cause = tev::ToUtf8(record.fields[2]);
    if (cause.rfind(loaded, 0) != 0) return "";
    std::string code = cause.substr(loaded.size());
    std::string doctor =
        "; tev doctor on the folder of " + tev::ToUtf8(record.fields[1]) + " says ";
    if (code == "126")
        return "Windows found the library but not a library it needs (a compiler's "
               "runtime, as a rule)" +
               doctor + "which";
    if (code == "193") return "it is not a 32-bit Windows library" + doctor + "what it is";
    return "";
}

std::string IsoTime(const LogRecord& record) {
    std::string time;
    if (record.timed) AppendTime(SecondsSinceEpoch(record), time);
    return time;
}

std::int64_t SecondsSinceEpoch(const LogRecord& r) {
    if (!r.timed) return 0;
    return tevtool::SecondsSinceEpoch(r.year, r.month, r.day, r.hour, r.minute, r.second);
}

LogDecoder::LogDecoder(std::function<void(const LogRecord&)> visit, size_t recordLimit)
    : visit_(std::move(visit)), limit_(std::max<size_t>(recordLimit, 1)) {}

void LogDecoder::NoteOnce(bool& noted, const char* note) {
    if (!noted) notes_.emplace_back(note);
    noted = true;
}

void LogDecoder::Detect(bool atEnd) {
    if (carry_.size() < 3 && !atEnd) return;
    auto byteAt = [&](size_t i) {
        return i < carry_.size() ? static_cast<unsigned char>(carry_[i]) : 0;
    };
    auto ascii = [](int byte) { return byte > 0 && byte < 0x80; };
    size_t mark = 0;
    encoding_ = Encoding::Utf16Le;
    if (byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
        notes_.push_back(
            "the file is UTF-8 text with a byte-order mark, not UTF-16LE as TEV writes it "
            "(re-saved by an editor?); read as UTF-8");
        encoding_ = Encoding::Utf8;
        mark = 3;
    } else if (ascii(byteAt(0)) && ascii(byteAt(1))) {
        // TEV's first code unit is an ASCII digit, so its second byte is zero; two ASCII bytes in
        // a row are UTF-8 (or ASCII) text, a zero byte then an ASCII one UTF-16BE.
        notes_.push_back(
            "the file is UTF-8 text, not UTF-16LE as TEV writes it (re-saved by an "
            "editor?); read as UTF-8");
        encoding_ = Encoding::Utf8;
    } else if (byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        notes_.push_back(
            "the file begins with a byte-order mark, which TEV does not write (re-saved "
            "by an editor?); skipped");
        mark = 2;
    } else if (byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
        notes_.push_back(
            "the file is UTF-16BE text with a byte-order mark, not UTF-16LE as TEV writes it "
            "(re-saved by an editor?); read as UTF-16BE");
        encoding_ = Encoding::Utf16Be;
        mark = 2;
    } else if (byteAt(0) == 0 && ascii(byteAt(1))) {
        notes_.push_back(
            "the file is UTF-16BE text, not UTF-16LE as TEV writes it (re-saved by an "
            "editor?); read as UTF-16BE");
        encoding_ = Encoding::Utf16Be;
    }
    carry_.erase(0, mark);
    recordByte_ = mark;
}

// Whole code units of `bytes`, after the odd byte held back from the piece before; an odd last
// byte is held back in turn.
void LogDecoder::AppendUtf16(std::string_view bytes) {
    auto append = [&](std::string_view whole) {
        size_t count = whole.size() / 2, old = units_.size();
        if (reinterpret_cast<std::uintptr_t>(whole.data()) % alignof(TEVChar) == 0) {
            units_.append(reinterpret_cast<const TEVChar*>(whole.data()), count);
        } else {
            units_.resize(old + count);
            std::memcpy(units_.data() + old, whole.data(), count * 2);
        }
        if (encoding_ == Encoding::Utf16Be)
            for (size_t i = old; i < units_.size(); ++i)
                units_[i] = static_cast<TEVChar>(units_[i] << 8 | units_[i] >> 8);
    };
    if (!carry_.empty() && !bytes.empty()) {
        carry_ += bytes.front();
        bytes.remove_prefix(1);
        append(carry_);
        carry_.clear();
    }
    append(bytes);
    if (bytes.size() % 2) carry_.assign(1, bytes.back());
}

// UTF-8 as it comes: a sequence cut by the end of the piece before is completed first.
void LogDecoder::AppendUtf8(std::string_view bytes, bool atEnd) {
    if (!carry_.empty()) {
        size_t held = carry_.size();
        carry_.append(bytes.substr(0, 3));  // enough to end any sequence begun in carry_
        size_t read = DecodeUtf8(carry_, atEnd, units_, widths_);
        if (read == 0) return;  // still cut: the piece was shorter than the sequence's rest
        bytes.remove_prefix(read - held);
        carry_.clear();
    }
    size_t read = DecodeUtf8(bytes, atEnd, units_, widths_);
    carry_.assign(bytes.substr(read));
}

void LogDecoder::Convert(std::string_view bytes, bool atEnd) {
    if (encoding_ == Encoding::Utf8) {
        AppendUtf8(bytes, atEnd);
        return;
    }
    AppendUtf16(bytes);
    if (atEnd && !carry_.empty()) {
        problem_ = "the file has an odd length: its last byte (offset " +
                   std::to_string(fileBytes_ - 1) + ") is half a UTF-16 code unit";
        carry_.clear();
    }
}

void LogDecoder::Feed(std::string_view bytes) {
    // A large piece is taken a quarter of a megabyte at a time: the units held at once stay few.
    constexpr size_t kSlice = 1 << 18;
    for (; bytes.size() > kSlice; bytes.remove_prefix(kSlice)) FeedSlice(bytes.substr(0, kSlice));
    FeedSlice(bytes);
}

void LogDecoder::FeedSlice(std::string_view bytes) {
    fileBytes_ += bytes.size();
    if (encoding_ == Encoding::Unknown) {
        carry_.append(bytes);
        Detect(false);
        if (encoding_ == Encoding::Unknown) return;
        std::string first;
        first.swap(carry_);
        Convert(first, false);
    } else if (ReadInPlace(bytes)) {
        return;
    } else {
        Convert(bytes, false);
    }
    Drain(false);
}

// UTF-16LE as TEV writes it is read where it lies in the piece: only a record begun in the piece
// before, and one the piece's end leaves unended, are copied. A record begun before is ended from
// the piece's first units; one that goes on past them (a long text) is read as every other
// encoding is, from a copy of the piece. False when the piece is not read so.
bool LogDecoder::ReadInPlace(std::string_view bytes) {
    if (encoding_ != Encoding::Utf16Le || !headDone_ || !carry_.empty() || bytes.size() % 2 ||
        reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(TEVChar) != 0)
        return false;
    WideView piece(reinterpret_cast<const TEVChar*>(bytes.data()), bytes.size() / 2);
    size_t from = 0;
    if (!units_.empty()) {
        constexpr size_t kBridge = 4096;  // code units: many records of a log as TEV writes it
        from = std::min(piece.size(), kBridge);
        units_.append(piece.substr(0, from));
        Drain(false);
        if (units_.size() > from || dropped_ > 0) {  // not only the piece's units are left
            units_.append(piece.substr(from));
            Drain(false);
            return true;
        }
        // What is left is the piece's from `from - units_.size()` on: the places into units_
        // become places into the piece.
        size_t left = units_.size();
        from -= left;
        units_.clear();
        lineStart_ += from;
        scanFrom_ += from;
    }
    first_ = from;
    Drain(piece, false);
    return true;
}

void LogDecoder::Finish() {
    std::string first;
    if (encoding_ == Encoding::Unknown) {  // a file too short to tell its encoding by
        Detect(true);
        first.swap(carry_);
    }
    Convert(first, true);
    Drain(true);
}

std::uint64_t LogDecoder::BytesOf(size_t from, size_t to) const {
    if (encoding_ != Encoding::Utf8) return 2 * std::uint64_t{to - from};
    std::uint64_t bytes = 0;
    for (size_t i = from; i < to; ++i) bytes += widths_[i];
    return bytes;
}

// Gives out every record whose end is known: before the end of the file, that needs the line
// after it, far enough to tell whether it begins a record. The search goes on where it stopped.
// A log whose first bytes are not its first record's: a torn first record (its start lost), an
// empty first line, a head of zeros (a crash while writing). Its first whole record is looked for
// right after any zeros, or at the start of the line after them (within kHeadSearch units); what
// is before it is left out with a note. False while more units are needed to tell.
bool LogDecoder::SkipHead(bool atEnd) {
    constexpr size_t kHeadSearch = 2048, kLookahead = 64, kZerosLooked = size_t{1} << 20;
    size_t zeros = 0;
    while (zeros < units_.size() && units_[zeros] == 0) ++zeros;
    if (!atEnd && zeros == units_.size() && zeros < kZerosLooked) return false;
    WideView units = units_;
    auto stamped = [&](size_t at) {
        Stamp stamp;
        return at < units.size() && IsDigit(units[at]) &&
               ReadStamp(units.substr(at, kLookahead), stamp);
    };
    // Right after the zeros (nearly every log: at its very start), or after the first line (one
    // torn line, or an empty one), no further: a file whose first lines are something else's is
    // not read as a log whose start was torn.
    if (!atEnd && units.size() < zeros + kLookahead) return false;
    size_t start = zeros;
    if (!stamped(start)) {
        size_t searched = std::min(units.size(), zeros + kHeadSearch);
        start = LineBreak(units.substr(0, searched), zeros);
        if (!atEnd && (start == WideView::npos ? searched < zeros + kHeadSearch
                                               : units.size() < start + 2 + kLookahead))
            return false;
        headDone_ = true;
        if (start == WideView::npos) return true;
        start += units[start] == kCr && start + 1 < units.size() && units[start + 1] == kLf ? 2 : 1;
        if (!stamped(start)) return true;
    }
    headDone_ = true;
    if (start == 0) return true;
    WideView head = units.substr(0, start);
    static constexpr TEVChar kLineEnds[] = {kCr, kLf};
    size_t text = head.find_last_not_of(WideView(kLineEnds, 2));
    std::uint64_t bytes = BytesOf(0, start);
    if (text == WideView::npos)
        notes_.emplace_back("the log begins with an empty line, which TEV does not write; skipped");
    else if (text < zeros)
        notes_.push_back("the log begins with " + std::to_string(bytes) +
                         " bytes of zeros, as a crash while it was written leaves; skipped");
    else
        notes_.push_back(
            "the log begins inside a record whose start is lost (a torn first "
            "record): its first " +
            std::to_string(bytes) + " bytes, before the first whole record, are skipped");
    for (size_t at = 0; at < start; ++at)
        line_ +=
            units[at] == kLf || (units[at] == kCr && !(at + 1 < start && units[at + 1] == kLf));
    recordByte_ += bytes;
    units_.erase(0, start);
    if (encoding_ == Encoding::Utf8)
        widths_.erase(widths_.begin(), widths_.begin() + static_cast<std::ptrdiff_t>(start));
    return true;
}

void LogDecoder::Drain(bool atEnd) {
    if (!headDone_ && !SkipHead(atEnd)) return;
    Drain(units_, atEnd);
}

// The records of `units` (units_, or a piece read in place) from first_ on whose end is known;
// what is left of them is kept in units_, from its start.
void LogDecoder::Drain(WideView units, bool atEnd) {
    constexpr size_t kLookahead = 64;  // longer than any timestamp
    for (;;) {
        size_t end = LineBreak(units, scanFrom_);
        if (end == WideView::npos) {
            scanFrom_ = units.size();
            break;
        }
        size_t next = end + 1;
        if (units[end] == kCr && next < units.size() && units[next] == kLf) ++next;
        // Not yet known: the LF of a CR LF, and whether the next line begins a record.
        if (!atEnd && next + kLookahead > units.size()) {
            scanFrom_ = end;
            break;
        }
        if (next == units.size() ||
            BeginsRecord(units, next, end > lineStart_ && units[end - 1] == kSeparator)) {
            GiveOut(units, end, next);
            continue;
        }
        ++breaks_;  // a text holding a line break goes on
        lineStart_ = scanFrom_ = next;
    }
    if (atEnd && first_ < units.size()) GiveOut(units, units.size(), units.size());
    // What was given out goes, once for all the records of the piece.
    if (units.data() == units_.data())
        units_.erase(0, first_);
    else
        units_.assign(units.substr(first_));
    if (encoding_ == Encoding::Utf8)
        widths_.erase(widths_.begin(), widths_.begin() + static_cast<std::ptrdiff_t>(first_));
    lineStart_ -= first_;
    scanFrom_ -= first_;
    first_ = 0;
    if (units_.size() >= 2 * limit_) DropMiddle();
}

// The record made of `units` from first_ up to `end`, where its line break begins (the end of the
// units when the file ends inside it); the next record begins at `next`.
void LogDecoder::GiveOut(WideView units, size_t end, size_t next) {
    LogRecord& record = record_;
    record.line = line_;
    record.byte = static_cast<size_t>(recordByte_);
    record.timed = false;
    record.kind.reset();
    record.problem.clear();
    record.fields.clear();
    record.partial = end == next;
    record.text = units.substr(first_, std::min(end - first_, limit_));
    record.cut = dropped_ + (end - first_ - record.text.size());
    if (next - end == 1 && units[end] == kLf)
        NoteOnce(lfNoted_,
                 "lines end with LF alone, not CR LF as TEV writes them (re-saved by an "
                 "editor?); read as line ends");
    if (next - end == 1 && units[end] == kCr)
        NoteOnce(crNoted_,
                 "lines end with CR alone, not CR LF as TEV writes them (re-saved by an "
                 "editor?); read as line ends");
    ParseRecord(record, lastDate_);
    visit_(record);
    line_ += breaks_ + 1;
    recordByte_ += BytesOf(first_, next) + droppedBytes_;
    first_ = lineStart_ = scanFrom_ = next;
    breaks_ = dropped_ = 0;
    droppedBytes_ = 0;
}

// Leaves out of a record too long to keep what lies between its first limit_ units and the unit
// before the search's place (what tells whether the next line break ends the record).
void LogDecoder::DropMiddle() {
    size_t keepFrom = scanFrom_ - 1;
    if (scanFrom_ == 0 || keepFrom <= limit_) return;
    size_t count = keepFrom - limit_;
    droppedBytes_ += BytesOf(limit_, keepFrom);
    dropped_ += count;
    units_.erase(limit_, count);
    if (encoding_ == Encoding::Utf8)
        widths_.erase(widths_.begin() + static_cast<std::ptrdiff_t>(limit_),
                      widths_.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    scanFrom_ -= count;
    lineStart_ = lineStart_ >= keepFrom ? lineStart_ - count : std::min(lineStart_, limit_);
}

}  // namespace tevtool
