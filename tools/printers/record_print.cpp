// A record as the plain decode shows it and as --json gives it.
#include "printers/record_print.h"

#include <cstring>

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

// A field as a JSON string, as tev::AppendJson gives it; a field of printable ASCII without a
// quote or a backslash, nearly every one, is copied as it is. False when a lone surrogate was
// replaced.
bool AppendJsonField(WideView text, std::string& out) {
    size_t start = out.size();
    out += '"';
    if (AppendJsonAscii(text, out) == text.size()) {
        out += '"';
        return true;
    }
    out.resize(start);
    return tev::AppendJson(text, out, tev::LoneSurrogates::Replace);
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
        whole &= AppendJsonField(record.fields.front(), out);
    out += ",\"fields\":[";
    for (size_t i = 1; i < record.fields.size(); ++i) {
        if (i > 1) out += ',';
        whole &= AppendJsonField(record.fields[i], out);
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
    AppendShown(record.text, out);
    if (record.kind != tev::logformat::Token::LibraryUnavailable) return;
    std::string meaning = LoadFailureMeaning(record);
    if (!meaning.empty()) AppendShown(tev::FromUtf8("  <- " + meaning), out);
}
}  // namespace tevtool
