// The story of each run a log holds: how it started and ended, each download and installation,
// the warnings and the errors. Built record by record, so that a log is read once, in memory that
// does not grow with the log: repeated events are counted on one row, and past a number of rows
// the rest are counted, not kept.
#ifndef TEV_TOOL_LOG_SUMMARY_H
#define TEV_TOOL_LOG_SUMMARY_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "logreader/log_decoder.h"

namespace tevtool {

// What a summary keeps of a run, at most.
inline constexpr size_t kRowsKept = 200;    // distinct warnings, errors, setup attributes
inline constexpr size_t kSpansKept = 1000;  // downloads, and installations
inline constexpr size_t kTextKept = 1024;   // code units of one text; a longer one is cut
inline constexpr size_t kPausesKept = 20;   // pauses of one download drawn on the page
// Subjects with a span open at once that are followed; past them, an outcome of one not followed
// counts as a span of its own.
inline constexpr size_t kOpenFollowed = 200'000;

// The hash that finds texts and subjects: SipHash-1-3 under a key drawn at random once per
// process, so that no log can be made whose texts land together. What a summary lists is told
// apart by its text all the same (a subject only counted, by its hash alone); a test replaces the
// hash (TextHashFor) to make texts collide. A text is hashed as its units' bytes, UTF-16LE.
using TextHash = std::uint64_t (*)(std::string_view bytes);
std::uint64_t KeyedHash(std::string_view bytes);
std::uint64_t SummaryHash(std::string_view bytes);  // the one in use: KeyedHash unless replaced
inline std::string_view BytesOf(WideView text) {
    return {reinterpret_cast<const char*>(text.data()), text.size() * sizeof(TEVChar)};
}

// Replaces the hash in use while it lives.
class TextHashFor {
public:
    explicit TextHashFor(TextHash hash);
    ~TextHashFor();
    TextHashFor(const TextHashFor&) = delete;
    TextHashFor& operator=(const TextHashFor&) = delete;

private:
    TextHash previous_;
};

// A moment of the log: the record's number in the log (from 1) and its time, when it had one.
struct Moment {
    std::size_t record = 0;
    bool timed = false;
    std::int64_t seconds = 0;  // since 1970, UTC
};

// The moment's time as the tool shows times (times.h); empty when the record had none.
void AppendTime(const Moment& moment, std::string& out);
std::string TimeText(const Moment& moment);

// The texts of a run's summary, copied into blocks that never move, so that the summary holds
// views of them and makes no allocation of its own for each text. Cleared for the next run, it
// keeps its first block.
class TextArena {
public:
    TextArena();
    // A copy of the parts joined, kept as long as the arena is (or until Clear).
    WideView Keep(std::initializer_list<WideView> parts);
    WideView Keep(WideView text) { return Keep({text}); }
    void Clear();

private:
    static constexpr std::size_t kBlock = 1 << 14;  // code units
    std::vector<std::unique_ptr<TEVChar[]>> blocks_;
    std::size_t used_ = 0, room_ = 0;  // of the last block
};

// A text seen once or many times: warnings and errors.
struct Tally {
    WideView text;
    std::size_t count = 0;
    Moment first, last;
};

// Distinct texts in the order first seen, each counted; past kRowsKept, only counted.
class Tallies {
public:
    // Texts are kept in `texts` (in an arena of their own until one is given).
    void UseTexts(TextArena* texts) { texts_ = texts; }
    void Add(WideView text, const Moment& at);
    void Clear();
    const std::vector<Tally>& Rows() const { return rows_; }
    std::size_t Total() const { return total_; }
    // Occurrences of texts that got no row of their own.
    std::size_t NotKept() const { return notKept_; }

private:
    // Whether row `row` holds `text`: the same text, or (for a text longer than a row keeps) the
    // same kept part, length and hash.
    bool Holds(std::size_t row, WideView text, std::uint64_t hash) const;

    TextArena& Texts();
    // Indexes the rows kept so far, to find the rest by their hash.
    void Index();

    std::vector<Tally> rows_;
    std::vector<std::pair<std::uint64_t, std::size_t>> whole_;  // each row's hash and full length
    // Rows by their hash: a table of twice as many slots as rows are kept, made once, probed in
    // line; a slot holds a row's number plus one, 0 when it is empty.
    std::vector<std::uint16_t> index_;
    bool indexed_ = false;  // at first, while there are at most kFewRows rows, none is
    static constexpr std::size_t kFewRows = 4;
    std::size_t total_ = 0, notKept_ = 0;
    TextArena* texts_ = nullptr;
    std::shared_ptr<TextArena> own_;
};

// How a download or installation came out.
enum class Outcome { Unfinished, Ended, Cancelled, Failed };
// As the summaries name it: "unfinished", "ended", "cancelled", "failed".
const char* OutcomeText(Outcome outcome);

// One download (by URL) or installation (by product name), from its begin to its outcome.
struct Span {
    WideView subject;
    std::optional<Moment> begin, end;
    Outcome outcome = Outcome::Unfinished;
    WideView message;  // a failed download's error text
    std::size_t pauses = 0, resumes = 0;
    std::vector<Moment> pauseMoments;  // the first kPausesKept
    std::optional<std::int64_t> Seconds() const;
};

// The downloads or installations of a run: the first kSpansKept kept whole, all of them counted.
// An outcome, pause or resume goes to the latest unfinished span of its subject; with none, it
// opens a span of its own without a begin, and earlier spans stay as they were.
class Spans {
public:
    // Subjects are kept in `texts` (in an arena of their own until one is given).
    void UseTexts(TextArena* texts) { texts_ = texts; }
    WideView Keep(WideView text);  // a text kept as the spans keep theirs
    void Begin(WideView subject, const Moment& at);
    void Clear();
    void Pause(WideView subject, const Moment& at);
    void Resume(WideView subject);
    // The span closed; null when it is one of those only counted.
    Span* Close(WideView subject, const Moment& at, Outcome outcome);

    const std::vector<Span>& Kept() const { return kept_; }
    std::size_t Total() const { return total_; }
    std::size_t Failures() const { return failures_; }
    std::size_t NotKept() const { return total_ - kept_.size(); }

private:
    static constexpr std::uint32_t kNoSpan = ~std::uint32_t(0);
    // The spans of one subject still unfinished: the latest kept one (each kept one names the one
    // open before it), then those only counted (a span only counted always began after every kept
    // one). A subject is found by its print, the hash of its text (never 0); where a kept span
    // shows it, by its text as kept too, so that no two subjects ever share a listed span. Of a
    // subject only counted, its print alone is kept: a hundred thousand open downloads take 2 MB.
    struct Open {
        std::uint64_t print = 0;  // 0: an empty slot
        std::uint32_t latestKept = kNoSpan;
        std::uint32_t counted = 0;
    };
    // The open subjects: a flat table of slots, probed in line from the print's low bits.
    class OpenIndex {
    public:
        // The slot of the subject whose print is `print` and for which `isSubject(slot)` holds,
        // found or made; null when it is not there and the table is full (or none is made).
        template <class IsSubject>
        Open* Find(std::uint64_t print, const IsSubject& isSubject, bool make);
        // The slot found or made last, while it holds a subject.
        Open* LastFound();
        // Room for `subjects` open at once without growing.
        void Reserve(std::size_t subjects);
        void Erase(Open& open);
        void Clear();
        std::size_t Size() const { return size_; }

    private:
        void Grow(std::size_t slots);
        std::size_t Home(std::uint64_t print) const {
            return static_cast<std::size_t>(print & (slots_.size() - 1));
        }
        std::vector<Open> slots_;
        std::size_t size_ = 0;
        std::size_t lastFound_ = ~std::size_t{0};
    };
    Span* Start(WideView subject, std::optional<Moment> begin, bool open);
    // Span number `span` (kept when it is below kSpansKept) begun, of the subject whose print is
    // `print`: followed as its subject's latest unfinished span.
    void Follow(std::uint64_t print, std::size_t span);
    // Follows the spans begun since the last lookup, in the order they began.
    void FollowBegun();
    // The latest unfinished span of the subject (taken out of the open ones when `closing`), one
    // without a begin when there is none; null when it is only counted.
    Span* Latest(WideView subject, bool closing);

    std::vector<Span> kept_;
    std::vector<std::uint32_t> earlierOpen_;  // for each kept span, the one open before it
    OpenIndex open_;
    // The prints of the spans begun since the last lookup, from span number begunFrom_ on: they
    // are followed only once an outcome, pause or resume is looked up, so that a log of downloads
    // begun and never ended is read without a table.
    std::vector<std::uint64_t> begun_;
    std::size_t begunFrom_ = 0;
    std::size_t total_ = 0, failures_ = 0;
    TextArena* texts_ = nullptr;
    std::shared_ptr<TextArena> own_;
};

// How the run ended, as far as its log tells.
enum class RunEnd { CutShort, Shutdown, Crash, AnalyticsDown };
// As the summaries name it: "cut short", "ShutdownML", "OnCrash", "analytics library down".
const char* RunEndText(RunEnd end);

struct RunSummary {
    // Where its texts are; a copy of the summary shares them.
    std::shared_ptr<TextArena> texts = std::make_shared<TextArena>();
    RunSummary() { UseTexts(); }
    RunSummary(const RunSummary& other) = default;
    RunSummary& operator=(const RunSummary& other) = default;
    // Made empty for the next run, the memory of the last one kept where nothing else holds it.
    void Reset();

    std::size_t ordinal = 1;  // the run's place in its log, from 1
    std::size_t firstRecord = 1;
    std::optional<Moment> started, ended;  // the first and the last timed record
    RunEnd end = RunEnd::CutShort;
    std::optional<bool> analytics;  // whether the analytics library came up; none if unknown
    std::vector<std::pair<WideView, WideView>> setup;  // the first kRowsKept
    std::size_t setupNotKept = 0;
    Spans downloads, installs;
    Tallies warnings, errors;
    std::optional<Tally> firstError;
    // The entry whose record gave the first error; for a run cut short without an error of its own,
    // the entry its last record was (none when its token is not one TEV writes).
    std::optional<tev::logformat::Token> firstErrorEntry;
    bool firstErrorCutShort = false;  // the first error is that the run was cut short
    std::size_t records = 0, problems = 0;

    // A download or installation failed, the setup crashed, the analytics library did not come
    // up, or the log ends before the run did.
    bool Failed() const;

private:
    void UseTexts();
};

// Every InitML record starts a run; so does a log's first record, whatever it is.
class RunSplit {
public:
    // True when the record starts a run; Ordinal() is then that run's.
    bool Starts(const LogRecord& record) {
        bool starts = records_++ == 0 || record.kind == tev::logformat::Token::InitML;
        ordinal_ += starts;
        return starts;
    }
    std::size_t Ordinal() const { return ordinal_; }
    std::size_t Records() const { return records_; }  // records seen, this one included

private:
    std::size_t ordinal_ = 0, records_ = 0;
};

// Summarizes the runs of one log, handing each over as soon as it is whole.
class RunSummarizer {
public:
    explicit RunSummarizer(std::function<void(const RunSummary&)> finished)
        : finished_(std::move(finished)) {}
    void Add(const LogRecord& record);
    // The end of the log: its last run is handed over (an empty log gives one empty run).
    void Finish();

private:
    void Fail(const Moment& at, tev::logformat::Token entry, std::initializer_list<WideView> what);

    void Hand();  // the run to `finished_`
    // The record's time in seconds since 1970 (0 when it has none).
    std::int64_t SecondsOf(const LogRecord& record);

    std::function<void(const RunSummary&)> finished_;
    RunSplit split_;
    std::optional<RunSummary> run_;
    struct Last {  // the run's last record
        std::size_t record = 0;
        Moment at;
        std::optional<tev::logformat::Token> kind;
    } last_;
    struct Date {  // records share their date for hours: the last one's midnight is kept
        int year = 0, month = 0, day = 0;
        std::int64_t midnight = 0;
    } date_;
};

}  // namespace tevtool

#endif
