#include "log_decoder.h"

#include <cstdio>

#include "text.h"

namespace tevtool {

DecodedLog DecodeLog(std::string_view bytes) {
    DecodedLog log;
    kv8::Text line;
    size_t whole = bytes.size() / 2 * 2;
    for (size_t i = 0; i < whole; i += 2) {
        auto unit = static_cast<TEVChar>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == TEV_TEXT('\n') && !line.empty() && line.back() == TEV_TEXT('\r')) {
            line.pop_back();
            log.lines.push_back(std::move(line));
            line.clear();
        } else {
            line += unit;
        }
    }
    if (!line.empty()) {
        log.lines.push_back(line);
        log.problem = "the last line is not ended by CR LF";
    }
    if (whole != bytes.size()) {
        if (!log.problem.empty()) log.problem += "; ";
        log.problem += "the file ends with half a UTF-16 code unit (odd length)";
    }
    return log;
}

namespace {

// Reads "%d" at `at`, moving past it; false when there is no number.
bool ReadNumber(const kv8::Text& line, size_t& at, int& value) {
    size_t start = at;
    value = 0;
    while (at < line.size() && line[at] >= TEV_TEXT('0') && line[at] <= TEV_TEXT('9') && at - start < 9)
        value = value * 10 + static_cast<int>(line[at++] - TEV_TEXT('0'));
    return at > start;
}

bool Expect(const kv8::Text& line, size_t& at, const char* literal) {
    for (; *literal; ++literal, ++at)
        if (at >= line.size() || line[at] != static_cast<TEVChar>(*literal)) return false;
    return true;
}

}  // namespace

LogEntry ParseLogLine(const kv8::Text& line) {
    LogEntry entry;
    int month, day, year, hour, minute, second;
    size_t at = 0;
    bool timed = ReadNumber(line, at, month) && Expect(line, at, "/") && ReadNumber(line, at, day) &&
                 Expect(line, at, "/") && ReadNumber(line, at, year) && Expect(line, at, "; ") &&
                 ReadNumber(line, at, hour) && Expect(line, at, ":") && ReadNumber(line, at, minute) &&
                 Expect(line, at, ":") && ReadNumber(line, at, second) && Expect(line, at, "; ");
    if (timed) {
        char iso[72];  // room for any six ints, though a timestamp needs 20
        std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute, second);
        entry.time = iso;
    } else {
        at = 0;
    }
    kv8::Text field;
    for (; at < line.size(); ++at) {
        if (line[at] == TEV_TEXT(';')) {
            entry.fields.push_back(std::move(field));
            field.clear();
        } else {
            field += line[at];
        }
    }
    if (!field.empty()) entry.fields.push_back(field);  // text after the last separator
    return entry;
}

std::string LogEntryJson(const LogEntry& entry) {
    std::string json = "{\"time\":" + (entry.time ? "\"" + *entry.time + "\"" : std::string("null"));
    json += ",\"token\":" + (entry.fields.empty() ? std::string("null") : Json(entry.fields.front()));
    json += ",\"fields\":[";
    for (size_t i = 1; i < entry.fields.size(); ++i) json += (i > 1 ? "," : "") + Json(entry.fields[i]);
    return json + "]}";
}

}  // namespace tevtool
