#include "support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

#include "run/run.h"

using namespace tev;

namespace testing_support {

std::string Utf8(const WideString& text) {
    std::string quoted = tev::JsonQuote(text, tev::LoneSurrogates::Keep);
    std::string out;
    // Undo the JSON escapes of quotes, backslashes and line breaks; keep \uXXXX visible.
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 2 < quoted.size()) {
            char next = quoted[i + 1];
            if (next == '"' || next == '\\') {
                out += next;
                ++i;
                continue;
            }
            if (next == 'n' || next == 'r' || next == 't') {
                out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\t';
                ++i;
                continue;
            }
        }
        out += quoted[i];
    }
    return out;
}

WideString Utf16Units(const std::string& bytes) {
    WideString units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units += static_cast<TEVChar>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return units;
}

std::string Fields(const std::string& line) {
    size_t first = line.find("; ");
    size_t second = first == std::string::npos ? first : line.find("; ", first + 2);
    return second == std::string::npos ? line : line.substr(second + 2);
}

namespace {

// An object id of a trace line: "id", "parent", "child" or "waypoint", then the number.
const std::regex kObjectId(R"re("(id|parent|child|waypoint)":([0-9]+))re");

}  // namespace

int NextId(const std::vector<std::string>& trace) {
    int next = 1;
    for (const std::string& line : trace)
        for (std::sregex_iterator id(line.begin(), line.end(), kObjectId), end; id != end; ++id)
            next = std::max(next, std::stoi((*id)[2]) + 1);
    return next;
}

std::vector<std::string> RelativeIds(const std::vector<std::string>& trace, int first) {
    std::vector<std::string> relative;
    for (const std::string& line : trace) {
        std::string out;
        auto rest = line.cbegin();
        for (std::sregex_iterator id(line.begin(), line.end(), kObjectId), end; id != end; ++id) {
            out.append(rest, (*id)[0].first);
            out += "\"" + (*id)[1].str() + "\":#" + std::to_string(std::stoi((*id)[2]) - first);
            rest = (*id)[0].second;
        }
        relative.push_back(out.append(rest, line.cend()));
    }
    return relative;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testing_support

using testing_support::Utf8;

void TevTest::SetUp() {
    tempDir_ = testing_support::MakeTempDirectory("tev-test");
    logDir_ = tempDir_;
    testing_support::UseTempDirectory(tempDir_);
    testing_support::UnsetEnv("KV8_OUTBOX");
    kv8::Reset();
}

void TevTest::TearDown() {
    TEVUtil::ShutdownML();
    kv8::Reset();
    std::error_code ignored;
    std::filesystem::remove_all(tempDir_, ignored);
}

std::string TevTest::LogBytes() const {
    // While a run holds the log, Windows lets nobody else open it: read through the run's handle.
    if (CurrentRun().TheLog().File() != platform::kNoFile && std::filesystem::exists(LogPath()))
        return testing_support::ReadHeldFile(CurrentRun().TheLog().File());
    return testing_support::ReadFile(LogPath());
}

std::vector<std::string> TevTest::LogLines() const {
    WideString text = testing_support::Utf16Units(LogBytes());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(T("\r\n"), start)) != WideString::npos; start = end + 2)
        lines.push_back(Utf8(text.substr(start, end - start)));
    if (start < text.size()) lines.push_back(Utf8(text.substr(start)) + "<unterminated>");
    return lines;
}

std::vector<std::string> TevTest::LogFields() const {
    std::vector<std::string> fields;
    for (const std::string& line : LogLines()) fields.push_back(testing_support::Fields(line));
    return fields;
}

std::vector<std::string> TevTest::NewTraceOf(std::initializer_list<const char*> ops) {
    std::vector<std::string> kept;
    for (const std::string& line : kv8::TakeTrace())
        for (const char* op : ops)
            if (line.find(std::string("{\"op\":\"") + op + "\"") == 0) kept.push_back(line);
    return kept;
}

std::vector<std::string> TevTest::Delivered() const {
    std::vector<std::string> lines;
    for (const kv8::Delivery& delivery : kv8::Deliveries()) {
        std::string line =
            delivery.call + " " + (delivery.hasWaypoint ? Utf8(delivery.waypoint) : "null");
        for (const kv8::DeliveredState& state : delivery.states) {
            line += " " + Utf8(state.name) + "{";
            for (size_t i = 0; i < state.attributes.size(); ++i)
                line += (i ? "," : "") + Utf8(state.attributes[i].name) + "=" +
                        Utf8(state.attributes[i].value);
            line += "}";
        }
        lines.push_back(line);
    }
    return lines;
}

std::string TevTest::DeliveredLast() const {
    std::vector<std::string> lines = Delivered();
    return lines.empty() ? "" : lines.back();
}

void TevTest::ExpectCleanLedger() const {
    EXPECT_EQ(kv8::Violations(), std::vector<std::string>{});
    EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{});
}
