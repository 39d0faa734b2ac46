// A record as the plain decode shows it and as --json gives it.
#include "printers/record_print.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tevtool {
namespace {

void AppendAsciiJson(std::string_view text, std::string& out) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

}  // namespace

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
        AppendTime(SecondsSinceEpoch(record), out);
        out += '"';
    } else {
        out += "null";
    }
    // A lone surrogate, which no JSON reader takes, is given as U+FFFD and the record said damaged.
    bool whole = true;
    out += ",\"token\":";
    if (record.fields.empty())
        out += "null";
    else
        whole &= tev::AppendJson(record.fields.front(), out, tev::LoneSurrogates::Replace);
    out += ",\"fields\":[";
    for (size_t i = 1; i < record.fields.size(); ++i) {
        if (i > 1) out += ',';
        whole &= tev::AppendJson(record.fields[i], out, tev::LoneSurrogates::Replace);
    }
    out += ']';
    if (!whole) out += ",\"damaged\":true";
    if (record.partial) out += ",\"partial\":true";
    if (!record.problem.empty()) {
        out += ",\"problem\":";
        AppendAsciiJson(record.problem, out);
    }
    out += '}';
}

void AppendRecordText(const LogRecord& record, std::string& out) {
    WideView text = record.text;
    // Printable ASCII, nearly every record, is copied as it is, four units at a time: a word
    // whose units are all from 0x20 to 0x7E is packed into four bytes.
    constexpr std::uint64_t kOnes = 0x0001000100010001ull, kTops = 0x8000800080008000ull;
    size_t start = out.size(), plain = 0;
    out.resize(start + text.size());
    char* to = out.data() + start;
#ifdef __SSE2__
    // eight at a time: as signed 16-bit numbers, a unit past 0x7FFF is below 0x20
    for (; plain + 8 <= text.size(); plain += 8) {
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + plain));
        __m128i shown = _mm_or_si128(_mm_cmplt_epi16(eight, _mm_set1_epi16(0x20)),
                                     _mm_cmpgt_epi16(eight, _mm_set1_epi16(0x7E)));
        if (_mm_movemask_epi8(shown)) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + plain), _mm_packus_epi16(eight, eight));
    }
    // The last few units: the last eight again, those before them rewritten as they were.
    if (plain < text.size() && plain + 8 > text.size() && text.size() >= 8) {
        size_t last = text.size() - 8;
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + last));
        __m128i shown = _mm_or_si128(_mm_cmplt_epi16(eight, _mm_set1_epi16(0x20)),
                                     _mm_cmpgt_epi16(eight, _mm_set1_epi16(0x7E)));
        if (!_mm_movemask_epi8(shown)) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to + last), _mm_packus_epi16(eight, eight));
            plain = text.size();
        }
    }
#endif
    for (; plain + 4 <= text.size(); plain += 4) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + plain, sizeof word);
        std::uint64_t del = word ^ (0x7F * kOnes);
        if ((word & 0xFF80FF80FF80FF80ull) || ((word - 0x20 * kOnes) & kTops) ||
            ((del - kOnes) & ~del & kTops))
            break;
        std::uint64_t pairs = word | (word >> 8);
        auto packed = static_cast<std::uint32_t>((pairs & 0xFFFF) | ((pairs >> 16) & 0xFFFF0000));
        std::memcpy(to + plain, &packed, 4);
    }
    for (; plain < text.size(); ++plain) {
        TEVChar unit = text[plain];
        if (unit < 0x20 || unit >= 0x7F) break;
        to[plain] = static_cast<char>(unit);
    }
    if (plain == text.size()) return;
    out.resize(start + plain);
    AppendShown(text.substr(plain), out);
}
}  // namespace tevtool
