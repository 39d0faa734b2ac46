#include "logreader/run_summary.h"
#include "logreader/times.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <random>

namespace tevtool {
namespace {

namespace logformat = tev::logformat;

// SipHash-1-3 of the bytes under `key`: eight bytes a word, read little-endian.
std::uint64_t SipHash13(const std::uint64_t key[2], std::string_view bytes) {
    auto rotate = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    std::uint64_t v0 = key[0] ^ 0x736f6d6570736575ull, v1 = key[1] ^ 0x646f72616e646f6dull;
    std::uint64_t v2 = key[0] ^ 0x6c7967656e657261ull, v3 = key[1] ^ 0x7465646279746573ull;
    auto round = [&] {
        v0 += v1;
        v1 = rotate(v1, 13) ^ v0;
        v0 = rotate(v0, 32);
        v2 += v3;
        v3 = rotate(v3, 16) ^ v2;
        v0 += v3;
        v3 = rotate(v3, 21) ^ v0;
        v2 += v1;
        v1 = rotate(v1, 17) ^ v2;
        v2 = rotate(v2, 32);
    };
    static_assert(std::endian::native == std::endian::little);
    size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t m;
        std::memcpy(&m, bytes.data() + at, sizeof m);
        v3 ^= m;
        round();
        v0 ^= m;
    }
    std::uint64_t last = std::uint64_t(bytes.size()) << 56;
    for (size_t i = 0; at + i < bytes.size(); ++i)
        last |= std::uint64_t(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    v3 ^= last;
    round();
    v0 ^= last;
    v2 ^= 0xff;
    round();
    round();
    round();
    return v0 ^ v1 ^ v2 ^ v3;
}

// The process's key: from the system's source of randomness, mixed with the clock and an address
// in case that source repeats itself.
const std::uint64_t* ProcessKey() {
    static const auto key = [] {
        std::random_device device;
        std::uint64_t words[2];
        for (std::uint64_t& w : words) w = (std::uint64_t{device()} << 32) ^ device();
        words[0] ^=
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        words[1] ^= reinterpret_cast<std::uintptr_t>(&words);
        return std::array<std::uint64_t, 2>{words[0], words[1]};
    }();
    return key.data();
}

TextHash textHash = KeyedHash;

// The text as a summary keeps it: at most kTextKept code units, cut between characters, with an
// ellipsis where it was cut.
WideView KeptText(WideView text, TextArena& texts) {
    if (text.size() <= kTextKept) return texts.Keep(text);
    size_t cut = kTextKept;
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;  // not inside a pair
    static constexpr TEVChar kEllipsis[] = {0x2026};
    return texts.Keep({text.substr(0, cut), WideView(kEllipsis, 1)});
}

// Whether the text is kept as `kept` is (KeptText), without keeping it again.
bool KeptAs(WideView text, WideView kept) {
    if (text.size() <= kTextKept) return text == kept;
    size_t cut = kTextKept;
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    return kept.size() == cut + 1 && kept.back() == 0x2026 &&
           text.substr(0, cut) == kept.substr(0, cut);
}

// The entry a record cut at the end began, when its token says (whole, or cut but the start of
// one token only); `subjectCut` when the cut falls inside its subject, the text after the token.
std::optional<logformat::Token> CutEntry(const LogRecord& record, bool& subjectCut) {
    if (!record.timed || record.fields.empty()) return std::nullopt;
    WideView token = record.fields[0];
    bool ended = record.text.back() == logformat::kFieldEnd;  // its last field is whole
    bool whole = record.fields.size() > 1 || ended;
    std::optional<logformat::Token> kind;
    for (const logformat::TokenShape& shape : logformat::kTokens) {
        WideView text(shape.text);
        if (whole ? text == token : (!token.empty() && text.substr(0, token.size()) == token)) {
            if (kind) return std::nullopt;  // the start of more than one token
            kind = shape.kind;
        }
    }
    subjectCut = record.fields.size() == 2 && !ended;
    return kind;
}

}  // namespace

std::uint64_t KeyedHash(std::string_view bytes) { return SipHash13(ProcessKey(), bytes); }

std::uint64_t SummaryHash(std::string_view bytes) {
    std::uint64_t hash = textHash(bytes);
    return hash ? hash : 1;
}

TextHashFor::TextHashFor(TextHash hash) : previous_(textHash) { textHash = hash; }
TextHashFor::~TextHashFor() { textHash = previous_; }

void AppendTime(const Moment& moment, std::string& out) {
    if (moment.timed) AppendTime(moment.seconds, out);
}

std::string TimeText(const Moment& moment) {
    std::string text;
    AppendTime(moment, text);
    return text;
}

TextArena::TextArena() = default;

WideView TextArena::Keep(std::initializer_list<WideView> parts) {
    size_t units = 0;
    for (WideView part : parts) units += part.size();
    if (units == 0) return WideView();
    if (units > room_ - used_) {
        // A new block, or one of its own for a text larger than a block; the first block is
        // taken again after Clear.
        size_t room = std::max(kBlock, units);
        if (blocks_.empty() || used_ > 0 || room_ < units) {
            blocks_.push_back(std::make_unique<TEVChar[]>(room));
            room_ = room;
        }
        used_ = 0;
    }
    TEVChar* at = blocks_.back().get() + used_;
    for (WideView part : parts) {
        std::copy(part.begin(), part.end(), at);
        at += part.size();
    }
    WideView kept(blocks_.back().get() + used_, units);
    used_ += units;
    return kept;
}

void TextArena::Clear() {
    if (blocks_.size() > 1 || room_ > kBlock) {
        blocks_.clear();
        room_ = 0;
    }
    used_ = 0;
}

TextArena& Tallies::Texts() {
    if (!texts_) {
        own_ = std::make_shared<TextArena>();
        texts_ = own_.get();
    }
    return *texts_;
}

bool Tallies::Holds(std::size_t row, WideView text, std::uint64_t hash) const {
    // A text no longer than a row keeps is whole, and so is the row if its length is the same.
    if (text.size() <= kTextKept)
        return whole_[row].second == text.size() && rows_[row].text == text;
    return whole_[row] == std::make_pair(hash, text.size()) && KeptAs(text, rows_[row].text);
}

void Tallies::Add(WideView text, const Moment& at) {
    ++total_;
    // While the rows are few, each of a text kept whole, they are searched in turn and no text is
    // hashed; the index is made as they become more.
    if (!indexed_ && text.size() <= kTextKept) {
        for (Tally& tally : rows_)
            if (tally.text == text) {
                ++tally.count;
                tally.last = at;
                return;
            }
        if (rows_.size() < kFewRows) {
            rows_.push_back(Tally{KeptText(text, Texts()), 1, at, at});
            whole_.emplace_back(0, text.size());  // its hash once indexed
            return;
        }
    }
    if (!indexed_) Index();
    std::uint64_t hash = SummaryHash(BytesOf(text));
    size_t mask = index_.size() - 1, slot = static_cast<size_t>(hash) & mask;
    for (; index_[slot]; slot = (slot + 1) & mask)
        if (Holds(index_[slot] - 1u, text, hash)) break;
    if (!index_[slot]) {
        if (rows_.size() == kRowsKept) {
            ++notKept_;
            return;
        }
        index_[slot] = static_cast<std::uint16_t>(rows_.size() + 1);
        rows_.push_back(Tally{KeptText(text, Texts()), 0, at, at});
        whole_.emplace_back(hash, text.size());
    }
    Tally& tally = rows_[index_[slot] - 1u];
    ++tally.count;
    tally.last = at;
}

void Tallies::Index() {
    if (index_.empty()) index_.resize(std::bit_ceil(2 * kRowsKept));
    size_t mask = index_.size() - 1;
    for (size_t row = 0; row < rows_.size(); ++row) {  // each text of these rows is whole
        whole_[row].first = SummaryHash(BytesOf(rows_[row].text));
        size_t slot = static_cast<size_t>(whole_[row].first) & mask;
        while (index_[slot]) slot = (slot + 1) & mask;
        index_[slot] = static_cast<std::uint16_t>(row + 1);
    }
    indexed_ = true;
}

void Tallies::Clear() {
    rows_.clear();
    whole_.clear();
    if (indexed_) std::fill(index_.begin(), index_.end(), std::uint16_t{0});
    indexed_ = false;
    total_ = notKept_ = 0;
}

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Unfinished: return "unfinished";
    case Outcome::Ended: return "ended";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::Failed: return "failed";
    }
    return "";
}

std::optional<std::int64_t> Span::Seconds() const {
    if (!begin || !end || !begin->timed || !end->timed) return std::nullopt;
    return end->seconds - begin->seconds;
}

template <class IsSubject>
Spans::Open* Spans::OpenIndex::Find(std::uint64_t print, const IsSubject& isSubject, bool make) {
    make = make && size_ < kOpenFollowed;
    // At most four fifths full: short probes in a table a fifth of whose slots are empty.
    if (make && (size_ + 1) * 5 > slots_.size() * 4) Grow(std::max<size_t>(slots_.size() * 2, 8));
    if (slots_.empty()) return nullptr;
    size_t at = Home(print);
    for (; slots_[at].print; at = (at + 1) & (slots_.size() - 1))
        if (slots_[at].print == print && isSubject(slots_[at])) return &slots_[lastFound_ = at];
    if (!make) return nullptr;
    ++size_;
    slots_[at] = Open{print, kNoSpan, 0};
    return &slots_[lastFound_ = at];
}

Spans::Open* Spans::OpenIndex::LastFound() {
    return lastFound_ < slots_.size() && slots_[lastFound_].print ? &slots_[lastFound_] : nullptr;
}

void Spans::OpenIndex::Reserve(std::size_t subjects) {
    subjects = std::min(subjects, kOpenFollowed);
    if (subjects * 5 > slots_.size() * 4)
        Grow(std::bit_ceil(std::max<size_t>(subjects * 5 / 4 + 1, 8)));
}

void Spans::OpenIndex::Grow(std::size_t slots) {
    std::vector<Open> old(slots);
    old.swap(slots_);
    for (const Open& open : old) {
        if (!open.print) continue;
        size_t at = Home(open.print);
        while (slots_[at].print) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = open;
    }
}

void Spans::OpenIndex::Erase(Open& open) {
    // Each slot after the freed one that its probe would no longer reach moves back into it.
    size_t mask = slots_.size() - 1, slot = static_cast<size_t>(&open - slots_.data());
    for (size_t at = (slot + 1) & mask; slots_[at].print; at = (at + 1) & mask) {
        size_t home = Home(slots_[at].print);
        bool reachable = slot <= at ? slot < home && home <= at : slot < home || home <= at;
        if (!reachable) {
            slots_[slot] = slots_[at];
            slot = at;
        }
    }
    slots_[slot] = Open();
    --size_;
}

WideView Spans::Keep(WideView text) {
    if (!texts_) {
        own_ = std::make_shared<TextArena>();
        texts_ = own_.get();
    }
    return KeptText(text, *texts_);
}

void Spans::Clear() {
    kept_.clear();
    earlierOpen_.clear();
    if (begun_.capacity() > 1 << 12)
        begun_ = std::vector<std::uint64_t>();
    else
        begun_.clear();
    open_.Clear();
    total_ = failures_ = 0;
}

void Spans::OpenIndex::Clear() {
    if (size_ == 0 && slots_.size() <= 1024) return;  // nothing open: every slot empty already
    if (slots_.size() > 1024)
        slots_ = std::vector<Open>();  // a large table goes; a run of few subjects needs none
    else
        std::fill(slots_.begin(), slots_.end(), Open());
    size_ = 0;
}

Span* Spans::Start(WideView subject, std::optional<Moment> begin, bool open) {
    const size_t number = total_++;
    Span* span = nullptr;
    if (kept_.size() < kSpansKept) {
        span = &kept_.emplace_back();
        span->subject = Keep(subject);
        span->begin = begin;
        earlierOpen_.push_back(kNoSpan);
    }
    if (!open) return span;
    if (begun_.empty()) begunFrom_ = number;
    // Many begun: room for as many as are followed, taken in pages only as it is written.
    constexpr size_t kManyBegun = 1 << 12;
    if (begun_.size() == begun_.capacity() && begun_.size() >= kManyBegun)
        begun_.reserve(kOpenFollowed + 1);
    begun_.push_back(SummaryHash(BytesOf(subject)));
    // Near a full table, whether a subject is followed depends on those before it: each is
    // followed as it begins.
    if (open_.Size() + begun_.size() > kOpenFollowed) FollowBegun();
    return span;
}

void Spans::Follow(std::uint64_t print, std::size_t span) {
    const bool kept = span < kept_.size();
    Open* open = open_.Find(
        print,
        [&](const Open& o) {
            return !kept || o.latestKept == kNoSpan ||
                   kept_[o.latestKept].subject == kept_[span].subject;
        },
        true);
    if (!open) return;
    if (kept) {
        earlierOpen_[span] = open->latestKept;
        open->latestKept = static_cast<std::uint32_t>(span);
    } else {
        ++open->counted;
    }
}

void Spans::FollowBegun() {
    if (begun_.empty()) return;
    open_.Reserve(open_.Size() + begun_.size());
    for (size_t i = 0; i < begun_.size(); ++i) Follow(begun_[i], begunFrom_ + i);
    begun_.clear();
}

Span* Spans::Latest(WideView subject, bool closing) {
    FollowBegun();
    // A span's pauses and outcome follow its begin: the subject found last is tried first, by its
    // text, before the subject is hashed. A text shorter than a cut one is kept whole, so equal
    // texts are the same subject.
    Open* open = open_.LastFound();
    if (!open || open->latestKept == kNoSpan || subject.size() >= kTextKept ||
        kept_[open->latestKept].subject != subject) {
        open = open_.Find(
            SummaryHash(BytesOf(subject)),
            [&](const Open& o) {
                return o.latestKept == kNoSpan || KeptAs(subject, kept_[o.latestKept].subject);
            },
            false);
    }
    if (!open) return Start(subject, std::nullopt, !closing);
    Span* span = nullptr;
    if (open->counted) {
        open->counted -= closing;
    } else {
        span = &kept_[open->latestKept];
        if (closing) open->latestKept = earlierOpen_[open->latestKept];
    }
    if (open->latestKept == kNoSpan && open->counted == 0) open_.Erase(*open);
    return span;
}

void Spans::Begin(WideView subject, const Moment& at) { Start(subject, at, true); }

void Spans::Pause(WideView subject, const Moment& at) {
    if (Span* span = Latest(subject, false)) {
        ++span->pauses;
        if (span->pauseMoments.size() < kPausesKept) span->pauseMoments.push_back(at);
    }
}

void Spans::Resume(WideView subject) {
    if (Span* span = Latest(subject, false)) ++span->resumes;
}

Span* Spans::Close(WideView subject, const Moment& at, Outcome outcome) {
    Span* span = Latest(subject, true);
    if (outcome == Outcome::Failed) ++failures_;
    if (span) {
        span->end = at;
        span->outcome = outcome;
    }
    return span;
}

const char* RunEndText(RunEnd end) {
    switch (end) {
    case RunEnd::CutShort: return "cut short";
    case RunEnd::Shutdown: return "ShutdownML";
    case RunEnd::Crash: return "OnCrash";
    case RunEnd::AnalyticsDown: return "analytics library down";
    }
    return "";
}

bool RunSummary::Failed() const {
    return firstError || end == RunEnd::CutShort || end == RunEnd::Crash || analytics == false;
}

void RunSummary::UseTexts() {
    downloads.UseTexts(texts.get());
    installs.UseTexts(texts.get());
    warnings.UseTexts(texts.get());
    errors.UseTexts(texts.get());
}

void RunSummary::Reset() {
    if (texts.use_count() == 1) {
        texts->Clear();
    } else {  // a copy still shows these texts
        texts = std::make_shared<TextArena>();
        UseTexts();
    }
    ordinal = firstRecord = 1;
    started.reset();
    ended.reset();
    end = RunEnd::CutShort;
    analytics.reset();
    setup.clear();
    setupNotKept = 0;
    downloads.Clear();
    installs.Clear();
    warnings.Clear();
    errors.Clear();
    firstError.reset();
    firstErrorEntry.reset();
    firstErrorCutShort = false;
    records = problems = 0;
}

void RunSummarizer::Fail(const Moment& at, logformat::Token entry,
                         std::initializer_list<WideView> what) {
    // Joined once, in the run's arena: a failure makes no allocation of its own.
    WideView text = run_->texts->Keep(what);
    run_->errors.Add(text, at);
    if (run_->firstError) return;
    run_->firstError = Tally{KeptText(text, *run_->texts), 1, at, at};
    run_->firstErrorEntry = entry;
}

// A run that ends without ShutdownML or OnCrash fails; its first error, when it had none, says
// after which record it ends.
void RunSummarizer::Hand() {
    RunSummary& s = *run_;
    if (s.end == RunEnd::CutShort && !s.firstError && s.records) {
        std::string text = "cut short after record " + std::to_string(last_.record);
        if (last_.kind) text += " (" + tev::ToUtf8(logformat::TokenText(*last_.kind)) + ")";
        text += ": no ShutdownML or OnCrash";
        s.firstError = Tally{s.texts->Keep(tev::FromUtf8(text)), 1, last_.at, last_.at};
        s.firstErrorEntry = last_.kind;
        s.firstErrorCutShort = true;
    }
    finished_(s);
}

void RunSummarizer::Finish() {
    if (!run_) run_.emplace();
    Hand();
    run_.reset();
}

std::int64_t RunSummarizer::SecondsOf(const LogRecord& r) {
    if (!r.timed) return 0;
    if (r.year != date_.year || r.month != date_.month || r.day != date_.day)
        date_ = {r.year, r.month, r.day, SecondsSinceEpoch(r.year, r.month, r.day, 0, 0, 0)};
    return date_.midnight + r.hour * 3600 + r.minute * 60 + r.second;
}

void RunSummarizer::Add(const LogRecord& record) {
    using logformat::Token;
    if (split_.Starts(record)) {
        if (run_) {
            Hand();
            run_->Reset();
        } else {
            run_.emplace();
        }
        run_->ordinal = split_.Ordinal();
    }
    RunSummary& s = *run_;
    if (s.records++ == 0) s.firstRecord = split_.Records();
    if (!record.problem.empty()) ++s.problems;
    const std::size_t number = split_.Records();
    const std::int64_t seconds = SecondsOf(record);
    // The moments of every record set part by part: a moment just made and copied whole makes
    // the processor wait for its parts to be stored before it reads them back.
    auto set = [&](Moment& moment) {
        moment.record = number;
        moment.timed = record.timed;
        moment.seconds = seconds;
    };
    if (record.timed) {
        if (!s.started) set(s.started.emplace());
        if (!s.ended) s.ended.emplace();
        set(*s.ended);
    }
    std::optional<Token> kind = record.kind;
    bool subjectCut = false;
    if (record.partial && !kind) kind = CutEntry(record, subjectCut);
    last_.record = number;
    set(last_.at);
    last_.kind = kind;
    if (!kind || (!record.partial && !record.problem.empty())) return;
    const Moment at{number, record.timed, seconds};
    const std::vector<WideView>& f = record.fields;
    WideView subject = f.size() > 1 ? f[1] : WideView();
    if (subjectCut) {  // cut inside its subject: the latest unfinished one it begins
        const Spans& spans = *kind == Token::InstallEnd || *kind == Token::InstallCancel ||
                                     *kind == Token::InstallError || *kind == Token::InstallBegin
                                 ? s.installs
                                 : s.downloads;
        for (auto span = spans.Kept().rbegin(); span != spans.Kept().rend(); ++span)
            if (span->outcome == Outcome::Unfinished &&
                span->subject.substr(0, subject.size()) == subject) {
                subject = span->subject;
                break;
            }
    }
    if (*kind == Token::InitML) return;
    if (*kind == Token::FailToInitialize) {
        s.analytics = false;
        s.end = RunEnd::AnalyticsDown;
        Fail(at, *kind, {TEV_TEXT("the analytics library did not come up")});
        return;
    }
    if (*kind == Token::LibraryUnavailable) {
        std::string meaning = LoadFailureMeaning(record);
        WideString explained = meaning.empty() ? WideString() : tev::FromUtf8(": " + meaning);
        Fail(at, *kind,
             {TEV_TEXT("analytics library missing: "), f.size() > 1 ? f[1] : WideView(),
              TEV_TEXT(" ("), f.size() > 2 ? f[2] : WideView(), TEV_TEXT(")"), explained});
        return;
    }
    if (!s.analytics) s.analytics = true;  // a line of a run reporting
    WideView text = f.size() > 2 ? f[2] : WideView();
    switch (*kind) {
    case Token::ShutdownML:
        if (s.end != RunEnd::Crash) s.end = RunEnd::Shutdown;
        break;
    case Token::OnCrash:
        s.end = RunEnd::Crash;
        Fail(at, *kind, {TEV_TEXT("the setup crashed")});
        break;
    case Token::SetupAttribute:
        if (f.size() < 3) break;  // cut before its value
        if (s.setup.size() < kRowsKept)
            s.setup.emplace_back(KeptText(f[1], *s.texts), KeptText(f[2], *s.texts));
        else
            ++s.setupNotKept;
        break;
    case Token::Warning: s.warnings.Add(subject, at); break;
    case Token::DownloadBegin: s.downloads.Begin(subject, at); break;
    case Token::InstallBegin: s.installs.Begin(subject, at); break;
    case Token::DownloadPause: s.downloads.Pause(subject, at); break;
    case Token::DownloadResume: s.downloads.Resume(subject); break;
    case Token::DownloadEnd: s.downloads.Close(subject, at, Outcome::Ended); break;
    case Token::InstallEnd: s.installs.Close(subject, at, Outcome::Ended); break;
    case Token::DownloadCancel: s.downloads.Close(subject, at, Outcome::Cancelled); break;
    case Token::InstallCancel: s.installs.Close(subject, at, Outcome::Cancelled); break;
    case Token::DownloadError:
        if (Span* span = s.downloads.Close(subject, at, Outcome::Failed))
            span->message = KeptText(text, *s.texts);
        Fail(at, *kind, {TEV_TEXT("download failed: "), subject, TEV_TEXT(": "), text});
        break;
    case Token::InstallError:
        s.installs.Close(subject, at, Outcome::Failed);
        Fail(at, *kind, {TEV_TEXT("installation failed: "), subject});
        break;
    case Token::InitML:
    case Token::FailToInitialize:
    case Token::LibraryUnavailable:
    case Token::CommitSetupWaypoint:
    case Token::CommitProducts:
    case Token::DownloadMilestone:
    case Token::ProductData: break;
    }
}

}  // namespace tevtool
