// Decimal text of a signed 32-bit integer, exactly as "%d" writes it: an optional minus sign, then
// the digits, with no padding. The one number formatter of the system (log timestamps included).
#ifndef TEV_BASE_DECIMAL_H
#define TEV_BASE_DECIMAL_H

#include <charconv>

#include "TEVText.h"

namespace tev {

// The longest text is that of -2147483648.
constexpr int kMaxDecimalLength = 11;

// Writes the digits of `value` at `out` (no terminator) and returns the end of what it wrote.
inline TEVChar* WriteDecimal(TEVChar* out, int value) {
    char narrow[kMaxDecimalLength];
    char* end = std::to_chars(narrow, narrow + sizeof narrow, value).ptr;
    for (const char* digit = narrow; digit != end; ++digit) *out++ = static_cast<TEVChar>(*digit);
    return out;
}

// The same text, null-terminated and held by value: no allocation.
struct DecimalText {
    TEVChar text[kMaxDecimalLength + 1];
    const TEVChar* c_str() const { return text; }
};

inline DecimalText FormatDecimal(int value) {
    DecimalText decimal;
    *WriteDecimal(decimal.text, value) = 0;
    return decimal;
}

}  // namespace tev

#endif
