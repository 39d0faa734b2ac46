// A record as the plain decode shows it and as --json gives it.
#include "printers/record_print.h"

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
    // Printable ASCII, nearly every record, is copied as it is.
    size_t start = out.size(), plain = 0;
    out.resize(start + text.size());
    for (; plain < text.size(); ++plain) {
        TEVChar unit = text[plain];
        if (unit < 0x20 || unit >= 0x7F) break;
        out[start + plain] = static_cast<char>(unit);
    }
    out.resize(start + plain);
    AppendShown(text.substr(plain), out);
    std::string meaning = LoadFailureMeaning(record);
    if (!meaning.empty()) AppendShown(tev::FromUtf8("  <- " + meaning), out);
}
}  // namespace tevtool
