// The base of every layer and of the tool: decimals, and wide text with its one conversion to and
// from UTF-8 and JSON (src/base/).
#include <gtest/gtest.h>

#include "base/decimal.h"
#include "base/text.h"
#include "support.h"

using namespace tev;

TEST(Decimal, FormatDecimalWritesWhatPercentDWrites) {
    auto text = [](int value) { return testing_support::Utf8(FormatDecimal(value).c_str()); };
    EXPECT_EQ(text(0), "0");
    EXPECT_EQ(text(5), "5");
    EXPECT_EQ(text(-7), "-7");
    EXPECT_EQ(text(2147483647), "2147483647");
    EXPECT_EQ(text(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(text(static_cast<int>(4294967295u)), "-1");
}

// UTF-8 read one character at a time, as the log decoder feeds it: each malformed sequence is one
// U+FFFD for its longest valid start, and a sequence cut by the end of what was read waits for the
// rest unless the file ends there.
TEST(Text, Utf8IsReadCharacterByCharacterAndMalformedBytesBecomeReplacements) {
    struct Case {
        std::string bytes;
        bool atEnd;
        std::size_t taken;
        char32_t point;
    } cases[] = {
        {"a", true, 1, U'a'},
        {"\xC3\xA9", true, 2, 0xE9},
        {"\xEF\xBF\xBD", true, 3, 0xFFFD},       // U+FFFD itself
        {"\xF0\x9F\x98\x80", true, 4, 0x1F600},  // beyond the basic plane
        {"\xC3", false, 0, 0},                   // the rest still to come
        {"\xF0\x9F\x98", false, 0, 0},
        {"\xF0\x9F\x98", true, 3, 0xFFFD},      // the file ends inside it
        {"\xC3(", false, 1, 0xFFFD},            // a lead without its follower
        {"\xC0\x80", true, 1, 0xFFFD},          // an overlong NUL
        {"\xE0\x80\x80", true, 1, 0xFFFD},      // overlong
        {"\xF0\x8F\xBF\xBF", true, 1, 0xFFFD},  // overlong: U+FFFF in four bytes
        {"\xED\xA0\x80", true, 1, 0xFFFD},      // a surrogate written as UTF-8
        {"\xF4\x90\x80\x80", true, 1, 0xFFFD},  // past U+10FFFF
        {"\x80", true, 1, 0xFFFD},              // a follower alone
        {"\xFF", true, 1, 0xFFFD},
    };
    for (const Case& c : cases) {
        char32_t point = 0;
        EXPECT_EQ(DecodeUtf8(c.bytes, c.atEnd, point), c.taken) << testing::PrintToString(c.bytes);
        if (c.taken) {
            EXPECT_EQ(point, c.point) << testing::PrintToString(c.bytes);
        }
    }
    EXPECT_EQ(FromUtf8("a\xF0\x9F\x98\x80\xC3("), (WideString{u'a', 0xD83D, 0xDE00, 0xFFFD, u'('}));
}

// UTF-16 to UTF-8 and to JSON: pairs joined, an unpaired surrogate replaced (or, in the stand-in's
// JSON, kept as its code unit) and reported; control characters escaped in JSON only.
TEST(Text, Utf16BecomesUtf8AndJsonWithEveryUnpairedSurrogateAccountedFor) {
    using Lone = LoneSurrogates;
    struct Case {
        WideString text;
        std::string utf8, keptJson, replacedJson;
        bool whole;
    } cases[] = {
        {WideString(T("plain \"quoted\" \\")), "plain \"quoted\" \\", R"("plain \"quoted\" \\")",
         R"("plain \"quoted\" \\")", true},
        {WideString(T("caf\u00e9 \U0001F600")), "caf\xC3\xA9 \xF0\x9F\x98\x80",
         "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", true},
        {WideString{u'a', 0xD800}, "a\xEF\xBF\xBD", R"("a\ud800")", "\"a\xEF\xBF\xBD\"", false},
        {WideString{0xDC00, u'b'},
         "\xEF\xBF\xBD"
         "b",
         R"("\udc00b")",
         "\"\xEF\xBF\xBD"
         "b\"",
         false},
        {WideString{0xDBFF, 0xDBFF, 0xDFFF}, "\xEF\xBF\xBD\xF4\x8F\xBF\xBF",
         "\"\\udbff\xF4\x8F\xBF\xBF\"", "\"\xEF\xBF\xBD\xF4\x8F\xBF\xBF\"", false},
        {WideString{u'\r', u'\n', u'\t', 0x01, 0x7F}, "\r\n\t\x01\x7F", "\"\\r\\n\\t\\u0001\x7F\"",
         "\"\\r\\n\\t\\u0001\x7F\"", true},
        // A Windows path, its backslash in the leading plain run; the last control character.
        {WideString(T("C:\\Studio\x1F")), "C:\\Studio\x1F", R"("C:\\Studio\u001f")",
         R"("C:\\Studio\u001f")", true},
        // Each length's last and first character: U+007F, U+0080, U+07FF, U+0800, U+FFFF, U+10000.
        {WideString{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD800, 0xDC00},
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80",
         "\"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\"",
         "\"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\"", true},
    };
    for (const Case& c : cases) {
        std::string utf8;
        EXPECT_EQ(AppendUtf8(c.text, utf8), c.whole) << c.utf8;
        EXPECT_EQ(utf8, c.utf8);
        std::string kept, replaced;
        EXPECT_EQ(AppendJson(c.text, kept, Lone::Keep), c.whole) << c.utf8;
        EXPECT_EQ(AppendJson(c.text, replaced, Lone::Replace), c.whole) << c.utf8;
        EXPECT_EQ(kept, c.keptJson);
        EXPECT_EQ(replaced, c.replacedJson);
        if (c.whole) {
            EXPECT_EQ(FromUtf8(c.utf8), c.text) << c.utf8;
        }
    }
}
