#include "printers/escaped_text.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tevtool {

namespace {

// Printable ASCII copied as it is, eight or four units at a time; with `forJson`, up to a quote or
// a backslash too, which JSON escapes.
template <bool forJson>
size_t AppendAscii(WideView text, std::string& out) {
    size_t start = out.size(), plain = 0;
    out.resize(start + text.size());
    char* to = out.data() + start;
#ifdef __SSE2__
    // eight at a time: as signed 16-bit numbers, a unit past 0x7FFF is below 0x20
    auto printable = [](__m128i eight) {
        __m128i odd = _mm_or_si128(_mm_cmplt_epi16(eight, _mm_set1_epi16(0x20)),
                                   _mm_cmpgt_epi16(eight, _mm_set1_epi16(0x7E)));
        if (forJson)
            odd = _mm_or_si128(odd, _mm_or_si128(_mm_cmpeq_epi16(eight, _mm_set1_epi16('"')),
                                                 _mm_cmpeq_epi16(eight, _mm_set1_epi16('\\'))));
        return !_mm_movemask_epi8(odd);
    };
    for (; plain + 8 <= text.size(); plain += 8) {
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + plain));
        if (!printable(eight)) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + plain), _mm_packus_epi16(eight, eight));
    }
    // The last few units: the last eight again, those before them rewritten as they were.
    if (plain < text.size() && plain + 8 > text.size() && text.size() >= 8) {
        size_t last = text.size() - 8;
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + last));
        if (printable(eight)) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to + last), _mm_packus_epi16(eight, eight));
            return text.size();
        }
    }
#endif
    // four at a time: a word whose units are all from 0x20 to 0x7E is packed into four bytes
    constexpr std::uint64_t kOnes = 0x0001000100010001ull, kTops = 0x8000800080008000ull;
    for (; plain + 4 <= text.size(); plain += 4) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + plain, sizeof word);
        auto has = [&](std::uint64_t unit) {
            std::uint64_t x = word ^ (unit * kOnes);
            return ((x - kOnes) & ~x & kTops) != 0;
        };
        if ((word & 0xFF80FF80FF80FF80ull) || ((word - 0x20 * kOnes) & kTops) || has(0x7F) ||
            (forJson && (has('"') || has('\\'))))
            break;
        std::uint64_t pairs = word | (word >> 8);
        auto packed = static_cast<std::uint32_t>((pairs & 0xFFFF) | ((pairs >> 16) & 0xFFFF0000));
        std::memcpy(to + plain, &packed, 4);
    }
    for (; plain < text.size(); ++plain) {
        TEVChar unit = text[plain];
        if (unit < 0x20 || unit >= 0x7F || (forJson && (unit == '"' || unit == '\\'))) break;
        to[plain] = static_cast<char>(unit);
    }
    out.resize(start + plain);
    return plain;
}

}  // namespace

size_t AppendPrintableAscii(WideView text, std::string& out) {
    return AppendAscii<false>(text, out);
}
size_t AppendJsonAscii(WideView text, std::string& out) { return AppendAscii<true>(text, out); }

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The characters that move the cursor, restyle the terminal or reorder text on screen: C0 and C1
// controls, DEL, bidi embeddings, overrides and isolates.
bool Hidden(TEVChar unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || (unit >= 0x202A && unit <= 0x202E) ||
           (unit >= 0x2066 && unit <= 0x2069);
}

void AppendUnitEscape(TEVChar unit, std::string& out) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(unit >> shift) & 0xF];
}

}  // namespace

std::string ShownQuoted(WideView text) {
    std::string out = "\"";
    while (!text.empty()) {
        size_t plain = 0;
        while (plain < text.size() && (text[plain] < 0x7F || !Hidden(text[plain]))) ++plain;
        std::string quoted = tev::JsonQuote(text.substr(0, plain), tev::LoneSurrogates::Keep);
        out.append(quoted, 1, quoted.size() - 2);
        if (plain == text.size()) break;
        AppendUnitEscape(text[plain], out);
        text.remove_prefix(plain + 1);
    }
    return out += '"';
}

void AppendShown(WideView text, std::string& out) {
    text.remove_prefix(AppendPrintableAscii(text, out));
    while (!text.empty()) {
        size_t plain = 0;
        while (plain < text.size() && !Hidden(text[plain])) ++plain;
        tev::AppendUtf8(text.substr(0, plain), out);
        if (plain == text.size()) return;
        TEVChar unit = text[plain];
        if (unit == '\r' || unit == '\n' || unit == '\t') {
            out += '\\';
            out += unit == '\r' ? 'r' : unit == '\n' ? 'n' : 't';
        } else if (unit < 0x100) {
            out += "\\x";
            out += kHexDigits[unit >> 4];
            out += kHexDigits[unit & 0xF];
        } else {
            AppendUnitEscape(unit, out);
        }
        text.remove_prefix(plain + 1);
    }
}

}  // namespace tevtool
