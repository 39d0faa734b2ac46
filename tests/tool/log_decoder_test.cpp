// The log decoder on its own: the same records however the bytes arrive, in every encoding and
// with every line end an editor may have re-saved the log with, dates read by the calendar, and a
// record too long to keep whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logreader/log_decoder.h"
#include "test_platform.h"

namespace {

using testing_support::Utf16Line;
using tevtool::LogDecoder;
using tevtool::LogRecord;

enum class Saved { Utf16Le, Utf16Be, Utf8 };

// The log's text as a file in `saved`, without a byte-order mark.
std::string Encode(const tev::WideString& text, Saved saved) {
    if (saved == Saved::Utf8) return tev::ToUtf8(text);
    std::string bytes;
    for (TEVChar unit : text) {
        char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += saved == Saved::Utf16Le ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

// Each line break (CR LF, LF or CR) as `lineEnd`.
tev::WideString WithLineEnds(const tev::WideString& text, const tev::WideString& lineEnd) {
    tev::WideString out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += lineEnd;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Decoded {
    std::vector<std::string> records;  // each record in one line, then the file's problem
    std::vector<size_t> bytes;         // each record's byte offset
    std::vector<std::string> notes;
};

Decoded Decode(const std::string& log, size_t piece,
               size_t recordLimit = LogDecoder::kRecordLimit) {
    Decoded decoded;
    LogDecoder decoder(
        [&](const LogRecord& r) {
            std::string fields;
            for (tev::WideView field : r.fields) fields += tev::ToUtf8(field) + "|";
            decoded.records.push_back(std::to_string(r.line) + " " + tevtool::IsoTime(r) + " " +
                                      fields + (r.partial ? " partial" : "") + " " + r.problem);
            decoded.bytes.push_back(r.byte);
        },
        recordLimit);
    for (size_t at = 0; at < log.size(); at += piece)
        decoder.Feed(std::string_view(log).substr(at, piece));
    decoder.Finish();
    decoded.records.push_back(decoder.Problem());
    decoded.notes = decoder.Notes();
    return decoded;
}

// Decodes in pieces of every size from one byte to the whole file: each gives the same.
void ExpectTheSameInPiecesOfEverySize(const std::string& log, const Decoded& whole,
                                      size_t recordLimit = LogDecoder::kRecordLimit) {
    for (size_t piece = 1; piece < log.size(); ++piece) {
        Decoded pieces = Decode(log, piece, recordLimit);
        ASSERT_EQ(pieces.records, whole.records) << "pieces of " << piece;
        ASSERT_EQ(pieces.bytes, whole.bytes) << "pieces of " << piece;
        ASSERT_EQ(pieces.notes, whole.notes) << "pieces of " << piece;
    }
}

// A log as TEV writes it, with texts that hold CR LF, characters of two to four UTF-8 bytes and a
// record that begins with a date out of range.
const tev::WideString kLog = TEV_TEXT(
    "1/2/2016; 3:4:5; InitML;\r\n"
    "1/2/2016; 3:4:6; wpWarning;caf\u00e9 \u20ac\r\nnext line;\r\n"
    "1/2/2016; 3:4:7; SETUP;n;\U00010000 v\r\n;\r\n"
    "13/2/2016; 3:4:8; InitML;\r\n"
    "2/29/2016; 23:59:59; ShutdownML;\r\n");
const std::vector<std::string> kRecords = {
    "1 2016-01-02T03:04:05Z InitML| ",
    "2 2016-01-02T03:04:06Z wpWarning|caf\xC3\xA9 \xE2\x82\xAC\r\nnext line| ",
    "4 2016-01-02T03:04:07Z SETUP|n|\xF0\x90\x80\x80 v\r\n| ",
    "6  InitML| the date 13/2/2016 is out of range",
    "7 2016-02-29T23:59:59Z ShutdownML| ",
    ""};

// Where each record of kLog begins, in the file `saved` as it is, after a mark of `mark` bytes.
std::vector<size_t> Offsets(const tev::WideString& log, Saved saved, size_t mark) {
    std::vector<size_t> offsets;
    for (size_t at :
         {size_t{0}, log.find(TEV_TEXT("1/2/2016; 3:4:6")), log.find(TEV_TEXT("1/2/2016; 3:4:7")),
          log.find(TEV_TEXT("13/2")), log.find(TEV_TEXT("2/29"))})
        offsets.push_back(mark + Encode(log.substr(0, at), saved).size());
    return offsets;
}

}  // namespace

// Every way an editor may re-save the log is read back to the same records, noted once each, with
// the byte offsets of the file as it is; CR LF inside a text of a log that was not re-saved stays.
TEST(LogDecoder, EveryReSaveIsReadAndNotedOnce) {
    struct Case {
        const char* name;
        Saved saved;
        std::string mark;
        tev::WideString lineEnd;
        std::vector<std::string> notes;  // the start of each
    };
    const std::vector<Case> cases = {
        {"as TEV writes it", Saved::Utf16Le, "", TEV_TEXT("\r\n"), {}},
        {"UTF-16LE with a mark",
         Saved::Utf16Le,
         "\xFF\xFE",
         TEV_TEXT("\r\n"),
         {"the file begins with a byte-order mark"}},
        {"LF", Saved::Utf16Le, "", TEV_TEXT("\n"), {"lines end with LF alone"}},
        {"CR", Saved::Utf16Le, "", TEV_TEXT("\r"), {"lines end with CR alone"}},
        {"UTF-16BE", Saved::Utf16Be, "", TEV_TEXT("\r\n"), {"the file is UTF-16BE text, not"}},
        {"UTF-16BE with a mark",
         Saved::Utf16Be,
         "\xFE\xFF",
         TEV_TEXT("\r\n"),
         {"the file is UTF-16BE text with a byte-order mark"}},
        {"UTF-8", Saved::Utf8, "", TEV_TEXT("\r\n"), {"the file is UTF-8 text, not"}},
        {"UTF-8 with a mark and LF",
         Saved::Utf8,
         "\xEF\xBB\xBF",
         TEV_TEXT("\n"),
         {"the file is UTF-8 text with a byte-order mark", "lines end with LF alone"}},
        {"UTF-16BE and CR",
         Saved::Utf16Be,
         "",
         TEV_TEXT("\r"),
         {"the file is UTF-16BE text, not", "lines end with CR alone"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tev::WideString text = WithLineEnds(kLog, c.lineEnd);
        std::string log = c.mark + Encode(text, c.saved);
        Decoded whole = Decode(log, log.size());
        std::vector<std::string> expected = kRecords;
        std::string lineEnd = tev::ToUtf8(c.lineEnd);
        for (std::string& record : expected)
            for (size_t at = record.find("\r\n"); at != std::string::npos;
                 at = record.find("\r\n", at + lineEnd.size()))
                record.replace(at, 2, lineEnd);
        EXPECT_EQ(whole.records, expected);
        EXPECT_EQ(whole.bytes, Offsets(text, c.saved, c.mark.size()));
        ASSERT_EQ(whole.notes.size(), c.notes.size());
        for (size_t i = 0; i < c.notes.size(); ++i)
            EXPECT_EQ(whole.notes[i].rfind(c.notes[i], 0), 0u) << whole.notes[i];
        ExpectTheSameInPiecesOfEverySize(log, whole);
    }
}

// A UTF-8 log with its mark decodes exactly as one without: the same records, each three bytes on.
TEST(LogDecoder, AUtf8MarkChangesNothingButTheOffsets) {
    std::string plain = Encode(kLog, Saved::Utf8);
    Decoded without = Decode(plain, plain.size());
    Decoded with = Decode("\xEF\xBB\xBF" + plain, plain.size() + 3);
    EXPECT_EQ(with.records, without.records);
    EXPECT_EQ(with.records, kRecords);
    ASSERT_EQ(with.bytes.size(), without.bytes.size());
    for (size_t i = 0; i < with.bytes.size(); ++i) EXPECT_EQ(with.bytes[i], without.bytes[i] + 3);
}

// Malformed UTF-8 becomes U+FFFD, one for each longest valid start, wherever the pieces are cut;
// a sequence cut by the end of the file is one too, and the offsets count the bytes as they are.
TEST(LogDecoder, MalformedUtf8IsReplacedTheSameInEveryPiece) {
    std::string log =
        "1/2/2016; 3:4:5; wpWarning;a\xC3(\xE2\x82(\xF0\x90\x80\xED\xA0\x80\xFF;\r\n"
        "1/2/2016; 3:4:6; wpWarning;\xF4\x90\x80\x80\xC0\xAF;\r\n"
        "1/2/2016; 3:4:7; wpWarning;z\xE2\x82";
    Decoded whole = Decode(log, log.size());
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(
        whole.records,
        (std::vector<std::string>{
            "1 2016-01-02T03:04:05Z wpWarning|a" + r + "(" + r + "(" + r + r + r + r + r + "| ",
            "2 2016-01-02T03:04:06Z wpWarning|" + r + r + r + r + r + r + "| ",
            "3 2016-01-02T03:04:07Z wpWarning|z" + r +
                "| partial the last line is not ended by CR LF: the log is cut short",
            ""}));
    EXPECT_EQ(whole.bytes,
              (std::vector<size_t>{0, log.find("1/2/2016; 3:4:6"), log.find("1/2/2016; 3:4:7")}));
    ExpectTheSameInPiecesOfEverySize(log, whole);
}

// February 29 by the Gregorian calendar (every fourth year, not centuries, but every fourth
// century), and the last day of every month, not the day after it.
TEST(LogDecoder, DatesFollowTheCalendar) {
    auto date = [](const std::string& day) {
        std::string log = Utf16Line(day + "; 3:4:5; InitML;");
        return Decode(log, log.size()).records.front();
    };
    EXPECT_EQ(date("2/29/2000"), "1 2000-02-29T03:04:05Z InitML| ");
    EXPECT_EQ(date("2/29/1900"), "1  InitML| the date 2/29/1900 is out of range");
    EXPECT_EQ(date("2/29/2100"), "1  InitML| the date 2/29/2100 is out of range");
    EXPECT_EQ(date("2/29/2015"), "1  InitML| the date 2/29/2015 is out of range");
    const int last[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int year : {2015, 2016}) {
        for (int month = 1; month <= 12; ++month) {
            int days = last[month - 1] + (month == 2 && year == 2016);
            std::string day = std::to_string(month) + "/" + std::to_string(days) + "/";
            std::string after = std::to_string(month) + "/" + std::to_string(days + 1) + "/";
            EXPECT_NE(date(day + std::to_string(year)).find("Z InitML| "), std::string::npos)
                << day << year;
            EXPECT_NE(date(after + std::to_string(year)).find("is out of range"), std::string::npos)
                << after << year;
        }
    }
}

// A record longer than the decoder keeps (an installer's verbose log: lines none of which begins
// with a date) shows its first code units and counts the rest; the records after it are read as
// ever, wherever the pieces are cut.
TEST(LogDecoder, ARecordTooLongToKeepIsCutAndCounted) {
    std::string log = Utf16Line("==== Logging started 1/2/2016;") + Utf16Line("MSI (c) 1;") +
                      Utf16Line("1/2 of the files;") + Utf16Line("1/2/2016; 3:4:6; InitML;") +
                      Utf16Line("1/2/2016; 3:4:7; wpWarning;long text") +
                      Utf16Line("goes on;").substr(0, 8);
    std::vector<size_t> lengths;
    LogDecoder decoder([&](const LogRecord& r) { lengths.push_back(r.text.size() + r.cut); }, 30);
    decoder.Feed(log);
    decoder.Finish();
    EXPECT_EQ(lengths, (std::vector<size_t>{42, 17, 24, 42}));
    Decoded whole = Decode(log, log.size(), 30);
    EXPECT_EQ(whole.records,
              (std::vector<std::string>{
                  "1  ==== Logging started 1/2/2016| the line does not begin with a timestamp; "
                  "the record is too long to keep whole: its first 30 code units are shown, 12 "
                  "more are left out",
                  "3  1/2 of the files| the line does not begin with a timestamp",
                  "4 2016-01-02T03:04:06Z InitML| ",
                  "5 2016-01-02T03:04:07Z wpWarning|lon| partial the last line is not ended by "
                  "CR LF: the log is cut short; the record is too long to keep whole: its first "
                  "30 code units are shown, 12 more are left out",
                  ""}));
    EXPECT_EQ(whole.bytes, (std::vector<size_t>{0, 88, 126, 178}));
    ExpectTheSameInPiecesOfEverySize(log, whole, 30);
    // The limit is on code units, whatever bytes they came from.
    std::string utf8 =
        "1/2/2016; 3:4:5; wpWarning;\xC3\xA9\xC3\xA9\xE2\x82\xAC;\r\n"
        "1/2/2016; 3:4:6; InitML;\r\n";
    Decoded cut = Decode(utf8, utf8.size(), 28);
    EXPECT_NE(cut.records[0].find("wpWarning|\xC3\xA9|"), std::string::npos) << cut.records[0];
    EXPECT_NE(cut.records[0].find("3 more are left out"), std::string::npos) << cut.records[0];
    EXPECT_EQ(cut.bytes, (std::vector<size_t>{0, utf8.find("1/2/2016; 3:4:6")}));
    ExpectTheSameInPiecesOfEverySize(utf8, cut, 28);
    // Most of a long UTF-8 record left out: the next record's offset still counts its bytes.
    std::string accents;
    for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";
    utf8 = "1/2/2016; 3:4:5; wpWarning;" + accents + ";\r\n1/2/2016; 3:4:6; InitML;\r\n";
    cut = Decode(utf8, utf8.size(), 28);
    EXPECT_NE(cut.records[0].find("300 more are left out"), std::string::npos) << cut.records[0];
    EXPECT_EQ(cut.bytes, (std::vector<size_t>{0, 27 + 600 + 3}));
    ExpectTheSameInPiecesOfEverySize(utf8, cut, 28);
}

// A log arrives in pieces of any size (a megabyte at a time from a file): the records are the same
// however it is cut, a mark, a text holding CR LF or a timestamp split between pieces included.
TEST(LogDecoder, GivesTheSameRecordsHoweverTheFileIsCut) {
    std::string log = "\xFF\xFE" + Utf16Line("1/2/2016; 3:4:5; InitML;") +
                      Utf16Line("1/2/2016; 3:4:6; wpWarning;a;\r\nb\r\n;") +
                      Utf16Line("1/2/2016; 3:4:7; SETUP;n;v;\r\n12/7/2026 x;") +
                      Utf16Line("13/2/2016; 3:4:8; InitML;") +
                      Utf16Line("1/2/2016; 3:4:9; DownloadError;u;m") + "1";
    Decoded whole = Decode(log, log.size());
    EXPECT_EQ(
        whole.records,
        (std::vector<std::string>{
            "1 2016-01-02T03:04:05Z InitML| ", "2 2016-01-02T03:04:06Z wpWarning|a;\r\nb\r\n| ",
            "5 2016-01-02T03:04:07Z SETUP|n|v| ",
            "6  12/7/2026 x| the line does not begin with a timestamp",
            "7  InitML| the date 13/2/2016 is out of range",
            "8 2016-01-02T03:04:09Z DownloadError|u|m| the line does not end with ';'",
            "the file has an odd length: its last byte (offset 340) is half a UTF-16 code unit"}));
    EXPECT_EQ(whole.bytes, (std::vector<size_t>{2, 54, 128, 186, 214, 268}));
    ExpectTheSameInPiecesOfEverySize(log, whole);
    // Files too short to tell their encoding by: one code unit, then one and a half.
    log = std::string("1\0", 2);
    EXPECT_EQ(Decode(log, 1).records,
              (std::vector<std::string>{
                  "1  1| partial the last line is not ended by CR LF: the log is cut short", ""}));
    log += '2';
    EXPECT_EQ(Decode(log, 3).records.back(),
              "the file has an odd length: its last byte (offset 2) is half a UTF-16 code unit");
}

// Every kind of line TEV writes is read back as that kind, with as many texts as it holds; a
// token TEV does not write, or a line cut short, has none.
TEST(LogDecoder, EveryTokenOfTheVocabularyIsReadAsItsKind) {
    std::string log;
    for (const tev::logformat::TokenShape& shape : tev::logformat::kTokens) {
        std::string line = "1/2/2016; 3:4:5; " + tev::ToUtf8(shape.text) + ";";
        for (int text = 1; text < shape.strings; ++text) line += "t;";
        log += Utf16Line(line);
    }
    log +=
        Utf16Line("1/2/2016; 3:4:5; Unknown;") + Utf16Line("1/2/2016; 3:4:5; InitML").substr(0, 40);
    std::vector<std::optional<tev::logformat::Token>> kinds;
    tevtool::LogDecoder decoder([&](const tevtool::LogRecord& record) {
        EXPECT_EQ(record.problem.empty(), record.kind.has_value()) << record.problem;
        kinds.push_back(record.kind);
    });
    decoder.Feed(log);
    decoder.Finish();
    std::vector<std::optional<tev::logformat::Token>> expected;
    for (const tev::logformat::TokenShape& shape : tev::logformat::kTokens)
        expected.push_back(shape.kind);
    expected.insert(expected.end(), {std::nullopt, std::nullopt});
    EXPECT_EQ(kinds, expected);
}

// A log whose first bytes are no whole record is read from its first whole one, whose line and
// byte offset are those of the file, in pieces of any size; a later record of the same date is
// checked as the first was.
TEST(LogDecoder, AHeadThatIsNoRecordIsSkippedAndTheRestKeepsItsPlace) {
    const std::string rest =
        Utf16Line("1/2/2016; 3:4:5; InitML;") + Utf16Line("1/2/2016; 24:4:6; wpWarning;late;") +
        Utf16Line("1/2/2016; 3:60:6; wpWarning;late;") + Utf16Line("1/2/2016; 3:4:7; ShutdownML;");
    const std::string utf8Rest =
        "1/2/2016; 3:4:5; InitML;\r\n1/2/2016; 24:4:6; wpWarning;late;\r\n"
        "1/2/2016; 3:60:6; wpWarning;late;\r\n1/2/2016; 3:4:7; ShutdownML;\r\n";
    struct Case {
        const char* name;
        std::string head;
        size_t firstLine;   // of the first whole record
        bool utf8 = false;  // re-saved as UTF-8: the rest's records 26, 61 and 96 bytes on
    };
    const Case cases[] = {
        {"torn", Utf16Line("ing;disk low;"), 2},
        {"empty line", Utf16Line(""), 2},
        {"zeros", std::string(300, '\0'), 1},
        {"zeros and a line end", std::string(30, '\0') + Utf16Line(""), 2},
        {"torn, its line ended by CR alone",
         Utf16Line("ing;disk low;").substr(0, 26) + std::string("\r\0", 2), 2},
        {"torn, in UTF-8", "ing caf\xC3\xA9 \xE2\x82\xAC;\r\n", 2, true},
    };
    for (const Case& c : cases) {
        std::string log = c.head + (c.utf8 ? utf8Rest : rest);
        Decoded whole = Decode(log, log.size());
        size_t at = c.head.size(), line = c.firstLine;
        EXPECT_EQ(
            whole.records,
            (std::vector<std::string>{
                std::to_string(line) + " 2016-01-02T03:04:05Z InitML| ",
                std::to_string(line + 1) + "  wpWarning|late| the time 24:4:6 is out of range",
                std::to_string(line + 2) + "  wpWarning|late| the time 3:60:6 is out of range",
                std::to_string(line + 3) + " 2016-01-02T03:04:07Z ShutdownML| ", ""}))
            << c.name;
        EXPECT_EQ(whole.bytes, c.utf8 ? (std::vector<size_t>{at, at + 26, at + 61, at + 96})
                                      : (std::vector<size_t>{at, at + 52, at + 122, at + 192}))
            << c.name;
        EXPECT_EQ(whole.notes.size(), c.utf8 ? 2u : 1u) << c.name;
        ExpectTheSameInPiecesOfEverySize(log, whole);
    }
}

// A token that differs from one TEV writes in a single unit, anywhere in it, is no token of TEV's.
TEST(LogDecoder, ATokenOneUnitOffIsUnknown) {
    for (const char* token : {"InitMX", "JnitML", "DownloadBegim", "DownloadBfgin", "PRODUCTNRDATB",
                              "KV8 unavailablf", "Fail to initialize KV9", "SETUQ"}) {
        std::string line = std::string("1/2/2016; 3:4:5; ") + token + ";a;b;c;";
        Decoded decoded = Decode(Utf16Line(line), 1 << 20);
        ASSERT_EQ(decoded.records.size(), 2u) << token;
        EXPECT_NE(decoded.records[0].find("unknown token"), std::string::npos)
            << token << decoded.records[0];
    }
}

// Each token of the vocabulary with any one of its units changed, or one unit longer or shorter,
// is no token: every unit of it is compared.
TEST(LogDecoder, ATokenWithAnyUnitChangedIsUnknown) {
    for (const tev::logformat::TokenShape& shape : tev::logformat::kTokens) {
        const std::string token = tev::ToUtf8(shape.text);
        std::vector<std::string> variants = {token + "s", token.substr(0, token.size() - 1)};
        for (size_t at = 0; at < token.size(); ++at) {
            variants.push_back(token);
            variants.back()[at] = '~';
        }
        for (const std::string& variant : variants) {
            Decoded decoded = Decode(Utf16Line("1/2/2016; 3:4:5; " + variant + ";a;b;c;"), 1 << 20);
            ASSERT_EQ(decoded.records.size(), 2u) << variant;
            EXPECT_EQ(decoded.records[0],
                      "1 2016-01-02T03:04:05Z " + variant + "|a|b|c| unknown token");
        }
    }
}

// A log is read where it lies in each piece; a record that a piece's end leaves open is ended from
// the next piece's first units, and one whose text goes on past them (here 9,030 units over two
// lines) is read whole all the same, however the pieces fall.
TEST(LogDecoder, ARecordLongerThanAPiecesStartIsReadWhole) {
    const std::string text = std::string(6000, 'x') + "\r\n" + std::string(3000, 'y');
    std::string log = Utf16Line("1/2/2016; 3:4:5; InitML;") +
                      Utf16Line("1/2/2016; 3:4:6; wpWarning;" + text + ";");
    for (int i = 0; i < 300; ++i) log += Utf16Line("1/2/2016; 3:4:7; InstallEnd;Studio;");
    log += Utf16Line("1/2/2016; 3:4:8; ShutdownML;");
    Decoded whole = Decode(log, log.size());
    ASSERT_EQ(whole.records.size(), 304u);
    EXPECT_EQ(whole.records[1], "2 2016-01-02T03:04:06Z wpWarning|" + text + "| ");
    EXPECT_EQ(whole.records[2], "4 2016-01-02T03:04:07Z InstallEnd|Studio| ");
    EXPECT_EQ(whole.records[302], "304 2016-01-02T03:04:08Z ShutdownML| ");
    EXPECT_EQ(whole.bytes[1], 52u);
    EXPECT_EQ(whole.bytes[2], 18116u);
    EXPECT_EQ(whole.bytes[302], 18116u + 300 * 74);
    for (size_t piece : {size_t{2}, size_t{100}, size_t{8190}, size_t{8192}, size_t{8194},
                         size_t{20000}, size_t{1} << 16}) {
        Decoded pieces = Decode(log, piece);
        ASSERT_EQ(pieces.records, whole.records) << "pieces of " << piece;
        ASSERT_EQ(pieces.bytes, whole.bytes) << "pieces of " << piece;
    }
}

// A warning whose text ends with CR LF leaves a line of a lone ";", a whole line: a date's start
// after it (a line torn by a failed write) is a record of its own, however the pieces fall.
TEST(LogDecoder, ALineTornAfterALoneSeparatorIsItsOwnInAnyPiece) {
    std::string log = Utf16Line("1/2/2016; 3:4:5; InitML;");
    for (int i = 0; i < 100; ++i)
        log += Utf16Line("1/2/2016; 3:4:6; wpWarning;a\r\n;") + Utf16Line("1/2/2016; 3:4");
    Decoded whole = Decode(log, log.size());
    ASSERT_EQ(whole.records.size(), 202u);
    EXPECT_EQ(whole.records[199], "299 2016-01-02T03:04:06Z wpWarning|a\r\n| ");
    EXPECT_EQ(whole.records[200], "301  1/2/2016| 3:4| the line does not begin with a timestamp");
    for (size_t piece = 4096; piece < 4096 + 2 * 64; piece += 2)
        ASSERT_EQ(Decode(log, piece).records, whole.records) << "pieces of " << piece;
}

// A ";" and a line's end are found wherever they fall, in the first sixteen units looked at or the
// next eight or the last few: a download's URL of every length up to forty units, each record
// followed by one that begins where the line before ends.
TEST(LogDecoder, SeparatorsAndLineEndsAreFoundAtEveryPlace) {
    for (size_t length = 0; length <= 40; ++length) {
        const std::string url(length, 'u');
        const std::string first = "1/2/2016; 3:4:5; DownloadError;" + url + ";m;";  // 34 + length
        Decoded decoded = Decode(Utf16Line(first) + Utf16Line("1/2/2016; 3:4:6; InitML;"), 1 << 20);
        ASSERT_EQ(decoded.records.size(), 3u) << length;
        EXPECT_EQ(decoded.records[0], "1 2016-01-02T03:04:05Z DownloadError|" + url + "|m| ")
            << length;
        EXPECT_EQ(decoded.records[1], "2 2016-01-02T03:04:06Z InitML| ") << length;
        EXPECT_EQ(decoded.bytes[1], 2 * (34 + length + 2)) << length;  // the units and CR LF
    }
}

// A record's stamp is held to the same checks whether its date is the record before's (read the
// quick way) or not: each part in range, the date's every unit, a year of five digits out of range;
// a whole stamp after a line torn inside a text begins a record; a token that takes no text has
// none.
TEST(LogDecoder, EveryStampIsCheckedWhateverTheRecordBefore) {
    const struct {
        std::string line;
        std::string record;  // as Decode gives it
    } rows[] = {
        {"1/2/2016; 3:4:60; wpWarning;w;", "2  wpWarning|w| the time 3:4:60 is out of range"},
        {"1/2/2016;x3:4:6; wpWarning;w;",
         "2  1/2/2016|x3:4:6| wpWarning|w| the line does not begin with a timestamp"},
        {"1/2/10000; 3:4:6; wpWarning;w;", "2  wpWarning|w| the date 1/2/10000 is out of range"},
        {"1/2/2016; 3:4:6; ShutdownML;x",
         "2 2016-01-02T03:04:06Z ShutdownML|x| text follows a token that takes none"},
        {"1/2/2016; x:4:6; wpWarning;w;",
         "2  1/2/2016| x:4:6| wpWarning|w| the line does not begin with a timestamp"},
        {"1/2/2016; 3:x:6; wpWarning;w;",
         "2  1/2/2016| 3:x:6| wpWarning|w| the line does not begin with a timestamp"},
        {"1/2/2016; 3:4:6; ;", "2 2016-01-02T03:04:06Z | unknown token"},
        {"1/2/2016; 3:4:6; wpWarning;torn\r\n12/31/2016; 23:59:59; ShutdownML;",
         "2 2016-01-02T03:04:06Z wpWarning|torn| the line does not end with ';'"},
    };
    for (const auto& row : rows)
        for (const char* before : {"1/2/2016; 3:4:5; InitML;", "1/3/2016; 3:4:5; InitML;"}) {
            std::string log = Utf16Line(before) + Utf16Line(row.line);
            Decoded decoded = Decode(log, log.size());
            ASSERT_GE(decoded.records.size(), 3u) << row.line;
            EXPECT_EQ(decoded.records[1], row.record) << before;
        }
}
