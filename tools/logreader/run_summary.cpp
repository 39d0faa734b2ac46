#include "logreader/run_summary.h"
#include "logreader/times.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <random>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
    if (text.size() <= kTextKept) return rows_[row].text == text;
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

namespace {

// An entry of the open subjects' block: the subject's length in units, its top bit set when the
// units are stored a byte each, then the units.
constexpr std::uint32_t kNarrow = 0x80000000u;

}  // namespace

void Spans::OpenIndex::MakeEntry(WideView subject) {
    std::uint32_t head = static_cast<std::uint32_t>(subject.size());
    if (entry_.size() < sizeof head + subject.size() * 2)
        entry_.resize(sizeof head + subject.size() * 2);
    char* to = entry_.data() + sizeof head;
    // A byte a unit when every unit is below 0x100: the low bytes are packed as the high ones are
    // gathered, and the units copied as they are when one is set.
    size_t at = 0;
    std::uint64_t high = 0;
#ifdef __SSE2__
    const __m128i lows = _mm_set1_epi16(0x00FF);
    __m128i highs = _mm_setzero_si128();
    for (; at + 16 <= subject.size(); at += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(subject.data() + at));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(subject.data() + at + 8));
        highs = _mm_or_si128(highs, _mm_andnot_si128(lows, _mm_or_si128(a, b)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at),
                         _mm_packus_epi16(_mm_and_si128(a, lows), _mm_and_si128(b, lows)));
    }
    high = _mm_movemask_epi8(_mm_cmpeq_epi8(highs, _mm_setzero_si128())) != 0xFFFF;
#endif
    for (; at + 4 <= subject.size(); at += 4) {
        std::uint64_t word;
        std::memcpy(&word, subject.data() + at, sizeof word);
        high |= word & 0xFF00FF00FF00FF00ull;
        std::uint64_t pairs = word | (word >> 8);
        auto packed = static_cast<std::uint32_t>((pairs & 0xFFFF) | ((pairs >> 16) & 0xFFFF0000));
        std::memcpy(to + at, &packed, sizeof packed);
    }
    for (; at < subject.size(); ++at) {
        high |= subject[at] & 0xFF00u;
        to[at] = static_cast<char>(subject[at]);
    }
    const bool narrow = !high;
    if (narrow)
        head |= kNarrow;
    else
        std::memcpy(to, subject.data(), subject.size() * 2);
    std::memcpy(entry_.data(), &head, sizeof head);
    entrySize_ = sizeof head + subject.size() * (narrow ? 1 : 2);
}

std::size_t Spans::OpenIndex::UnitsAt(std::uint32_t text) const {
    std::uint32_t head;
    std::memcpy(&head, texts_.data() + text, sizeof head);
    return head & ~kNarrow;
}

bool Spans::OpenIndex::HoldsEntry(std::uint32_t text) const {
    // Equal heads, equal lengths: the rest is compared within both.
    return std::memcmp(texts_.data() + text, entry_.data(), sizeof(std::uint32_t)) == 0 &&
           std::memcmp(texts_.data() + text, entry_.data(), entrySize_) == 0;
}

std::uint32_t Spans::OpenIndex::StoreEntry() {
    // Large enough to be worth it, the block is reserved as large as it may grow: its pages are
    // only taken as they are written, and it is never copied to grow.
    constexpr size_t kReserveFrom = 1 << 20;
    constexpr size_t kLargest = 2 * kOpenTextFollowed * 2 + (kOpenFollowed + 1) * 4;
    if (texts_.size() + entrySize_ > texts_.capacity() && texts_.size() + entrySize_ > kReserveFrom)
        texts_.reserve(std::max(kLargest, texts_.size() + entrySize_));
    auto text = static_cast<std::uint32_t>(texts_.size());
    texts_.append(entry_.data(), entrySize_);
    units_ += UnitsAt(text);
    return text;
}

Spans::Open* Spans::OpenIndex::Find(WideView subject, bool make) {
    MakeEntry(subject);
    // A span's pauses and outcome follow its begin: the subject found last is tried first, by its
    // text, before the subject is hashed. (A slot of another subject since, or an empty one,
    // does not hold it.)
    if (!make && lastFound_ < keys_.size() && keys_[lastFound_] &&
        HoldsEntry(slots_[lastFound_].text))
        return &slots_[lastFound_];
    make = make && size_ < kOpenFollowed && units_ - freed_ + subject.size() <= kOpenTextFollowed;
    // At most four fifths full: short probes in a table a fifth of whose slots are empty.
    if (make && (size_ + 1) * 5 > keys_.size() * 4) Grow();
    if (keys_.empty()) return nullptr;
    constexpr size_t kHead = sizeof(std::uint32_t);
    std::uint64_t hash = SummaryHash(std::string_view(entry_.data() + kHead, entrySize_ - kHead));
    std::uint32_t key = static_cast<std::uint32_t>(hash ^ (hash >> 32));
    key += key == 0;
    size_t at = Home(key);
    for (; keys_[at]; at = (at + 1) & (keys_.size() - 1))
        if (keys_[at] == key && HoldsEntry(slots_[at].text)) return &slots_[lastFound_ = at];
    if (!make) return nullptr;
    // The block holds at most twice the texts followed: it is compacted once as much is freed.
    if (units_ + subject.size() > 2 * kOpenTextFollowed) Compact();
    ++size_;
    keys_[at] = key;
    slots_[at] = Open{kNoSpan, 0, StoreEntry()};
    return &slots_[lastFound_ = at];
}

void Spans::OpenIndex::Grow() {
    size_t size = std::max<size_t>(keys_.size() * 2, 8);
    std::vector<std::uint32_t> oldKeys(size);
    std::vector<Open> oldSlots(size);
    oldKeys.swap(keys_);
    oldSlots.swap(slots_);
    for (size_t old = 0; old < oldKeys.size(); ++old) {
        if (!oldKeys[old]) continue;
        size_t at = Home(oldKeys[old]);
        while (keys_[at]) at = (at + 1) & (keys_.size() - 1);
        keys_[at] = oldKeys[old];
        slots_[at] = oldSlots[old];
    }
}

void Spans::OpenIndex::Compact() {
    std::string kept;
    kept.reserve(texts_.capacity());
    size_t units = 0;
    for (size_t at = 0; at < keys_.size(); ++at) {
        if (!keys_[at]) continue;
        Open& open = slots_[at];
        size_t from = open.text, length = UnitsAt(open.text);
        std::uint32_t head;
        std::memcpy(&head, texts_.data() + from, sizeof head);
        size_t bytes = sizeof head + length * ((head & kNarrow) ? 1 : 2);
        open.text = static_cast<std::uint32_t>(kept.size());
        kept.append(texts_, from, bytes);
        units += length;
    }
    texts_.swap(kept);
    units_ = units;
    freed_ = 0;
}

void Spans::OpenIndex::Erase(Open& open) {
    freed_ += UnitsAt(open.text);
    // Each slot after the freed one that its probe would no longer reach moves back into it.
    size_t mask = slots_.size() - 1, slot = static_cast<size_t>(&open - slots_.data());
    for (size_t at = (slot + 1) & mask; keys_[at]; at = (at + 1) & mask) {
        size_t home = Home(keys_[at]);
        bool reachable = slot <= at ? slot < home && home <= at : slot < home || home <= at;
        if (!reachable) {
            keys_[slot] = keys_[at];
            slots_[slot] = slots_[at];
            slot = at;
        }
    }
    keys_[slot] = 0;
    slots_[slot] = Open();
    --size_;
    if (size_ == 0) {
        texts_.clear();
        units_ = freed_ = 0;
    }
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
    open_.Clear();
    total_ = failures_ = 0;
}

void Spans::OpenIndex::Clear() {
    if (size_ == 0 && keys_.size() <= 1024) return;  // nothing open: every slot empty already
    if (keys_.size() > 1024) {
        keys_ =
            std::vector<std::uint32_t>();  // a large table goes; a run of few subjects needs none
        slots_ = std::vector<Open>();
        texts_ = std::string();
    } else {
        std::fill(keys_.begin(), keys_.end(), std::uint32_t{0});
        std::fill(slots_.begin(), slots_.end(), Open());
        texts_.clear();
    }
    size_ = units_ = freed_ = 0;
}

Span* Spans::Start(WideView subject, std::optional<Moment> begin, bool open) {
    ++total_;
    Span* span = nullptr;
    if (kept_.size() < kSpansKept) {
        span = &kept_.emplace_back();
        span->subject = Keep(subject);
        span->begin = begin;
        earlierOpen_.push_back(kNoSpan);
    }
    Open* followed = open ? open_.Find(subject, true) : nullptr;
    if (!followed) return span;
    if (span) {
        earlierOpen_.back() = followed->latestKept;
        followed->latestKept = static_cast<std::uint32_t>(kept_.size() - 1);
    } else {
        ++followed->counted;
    }
    return span;
}

Span* Spans::Latest(WideView subject, bool closing) {
    Open* open = open_.Find(subject, false);
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
