#include "player/scenario.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "TEVUtil.h"
#include "tev_entry_list.h"

namespace tevtool {

enum class Param { Text, Int, UInt, Bool, Phase, TextOrInt };

struct Parameter {
    const char* name;
    Param type;
};

struct BoundEntry {
    const char* name;
    std::vector<Parameter> params;
    std::function<Result(const std::vector<Value>&)> call;
};

namespace {

// How a parameter of an entry is written in a scenario and handed to the entry, by its C++ type.
template <typename T>
struct Argument;

template <>
struct Argument<const TEVChar*> {
    static constexpr Param kParam = Param::Text;
    static const TEVChar* Of(const Value& value) {
        return value.kind == Value::Kind::Null ? nullptr : value.text.c_str();
    }
};
template <>
struct Argument<int> {
    static constexpr Param kParam = Param::Int;
    static int Of(const Value& value) { return static_cast<int>(value.integer); }
};
template <>
struct Argument<TEVUInt32> {
    static constexpr Param kParam = Param::UInt;
    static TEVUInt32 Of(const Value& value) { return static_cast<TEVUInt32>(value.integer); }
};
template <>
struct Argument<bool> {
    static constexpr Param kParam = Param::Bool;
    static bool Of(const Value& value) { return value.boolean; }
};
template <>
struct Argument<TEVUtil::eSetupPhase> {
    static constexpr Param kParam = Param::Phase;
    static TEVUtil::eSetupPhase Of(const Value& value) {
        return static_cast<TEVUtil::eSetupPhase>(value.integer);
    }
};

// Calls the entry with the values as its arguments, and gives what it returned.
template <typename R, typename... P, std::size_t... I>
Result Call(R(TEV_CALL* entry)(P...), const std::vector<Value>& values, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
        entry(Argument<P>::Of(values[I])...);
        return {};
    } else if constexpr (std::is_same_v<R, bool>) {
        return {Result::Kind::Boolean, entry(Argument<P>::Of(values[I])...), nullptr};
    } else {
        return {Result::Kind::Text, false, entry(Argument<P>::Of(values[I])...)};
    }
}

// The entry as a scenario calls it: its parameters, named, taken from its signature.
template <typename R, typename... P, typename... Names>
BoundEntry Bind(const char* name, R(TEV_CALL* entry)(P...), Names... names) {
    static_assert(sizeof...(Names) == sizeof...(P), "one name per parameter");
    return {name, {{names, Argument<P>::kParam}...}, [entry](const std::vector<Value>& values) {
                return Call(entry, values, std::index_sequence_for<P...>());
            }};
}

// An entry with an overload for a text and one for an integer as its last parameter, the others
// alike, is one entry of a scenario: a quoted text or null as the last argument calls the text's, a
// bare integer the integer's. `text` is bound from the first, `integer` from the second.
BoundEntry TextOrInt(BoundEntry text, BoundEntry integer) {
    text.params.back().type = Param::TextOrInt;
    text.call = [byText = std::move(text.call),
                 byInteger = std::move(integer.call)](const std::vector<Value>& values) {
        return values.back().kind == Value::Kind::Integer ? byInteger(values) : byText(values);
    };
    return text;
}

// Every entry of the list (generated/tev_entry_list.h), in its order; the two overloads of an entry
// (fields ending in Text and Int) bound as one.
std::vector<BoundEntry> BindEntries() {
    std::vector<BoundEntry> bound = {
#define TEV_BIND_ENTRY(field, entry, address, ...) Bind(#entry, address __VA_OPT__(, ) __VA_ARGS__),
        TEV_ENTRY_LIST(TEV_BIND_ENTRY)
#undef TEV_BIND_ENTRY
    };
    std::vector<BoundEntry> entries;
    for (BoundEntry& entry : bound) {
        bool integerOverload = !entries.empty() &&
                               std::string_view(entries.back().name) == entry.name &&
                               entries.back().params.back().type == Param::Text &&
                               entry.params.back().type == Param::Int;
        if (integerOverload)
            entries.back() = TextOrInt(std::move(entries.back()), std::move(entry));
        else
            entries.push_back(std::move(entry));
    }
    return entries;
}

const std::vector<BoundEntry>& Entries() {
    static const std::vector<BoundEntry> entries = BindEntries();
    return entries;
}

// A token of a line: a quoted text, or a bare word (name, number, true, false, null, *).
struct Lexeme {
    bool quoted = false;
    int column = 0;       // 1-based, in characters
    std::u32string word;  // bare words
    WideString text;      // quoted texts, decoded
};

struct LineError {
    int column;
    std::string message;
    std::string unknownEntry = {};
};

std::string Narrow(const std::u32string& word) {
    std::string out;
    for (char32_t c : word) {
        WideString unit;
        tev::AppendUtf16(c, unit);
        tev::AppendUtf8(unit, out);
    }
    return out;
}

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\r'; }

int HexDigit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Splits one line (already decoded) into tokens; a '#' outside quotes ends the line.
std::vector<Lexeme> Tokenize(const std::u32string& line) {
    std::vector<Lexeme> tokens;
    size_t i = 0;
    while (i < line.size()) {
        if (IsSpace(line[i])) {
            ++i;
            continue;
        }
        if (line[i] == '#') break;
        Lexeme token;
        token.column = static_cast<int>(i) + 1;
        if (line[i] != '"') {
            while (i < line.size() && !IsSpace(line[i]) && line[i] != '"' && line[i] != '#')
                token.word += line[i++];
            tokens.push_back(std::move(token));
            continue;
        }
        token.quoted = true;
        ++i;
        for (;;) {
            if (i >= line.size())
                throw LineError{token.column, "unterminated string (a closing \" is missing)"};
            char32_t c = line[i];
            if (c == '"') {
                ++i;
                break;
            }
            if (c != '\\') {
                tev::AppendUtf16(c, token.text);
                ++i;
                continue;
            }
            int escapeColumn = static_cast<int>(i) + 1;
            char32_t next = i + 1 < line.size() ? line[i + 1] : 0;
            i += 2;
            switch (next) {
            case '\\': token.text += TEV_TEXT('\\'); break;
            case '"': token.text += TEV_TEXT('"'); break;
            case 'n': token.text += TEV_TEXT('\n'); break;
            case 'r': token.text += TEV_TEXT('\r'); break;
            case 't': token.text += TEV_TEXT('\t'); break;
            case 'u': {
                // Any UTF-16 code unit, unpaired surrogates included.
                int unit = 0;
                for (int d = 0; d < 4; ++d, ++i) {
                    int digit = i < line.size() ? HexDigit(line[i]) : -1;
                    if (digit < 0)
                        throw LineError{escapeColumn,
                                        "\\u must be followed by four hexadecimal digits"};
                    unit = unit * 16 + digit;
                }
                token.text += static_cast<TEVChar>(unit);
                break;
            }
            default:
                throw LineError{escapeColumn,
                                next
                                    ? "unknown escape \\" + Narrow(std::u32string(1, next)) +
                                          " (use \\\\ \\\" \\n \\r \\t or \\uXXXX)"
                                    : std::string("unterminated string (a closing \" is missing)")};
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

const char* Expected(Param type) {
    switch (type) {
    case Param::Text: return "a quoted string or null";
    case Param::Int: return "an integer";
    case Param::UInt: return "an integer from 0 to 4294967295";
    case Param::Bool: return "true or false";
    case Param::Phase:
        return "a phase (eInitialization, eConfiguration, eInstallation) or an integer";
    case Param::TextOrInt: return "a quoted string, null or an integer";
    }
    return "";
}

std::optional<std::int64_t> Integer(const std::u32string& word) {
    std::string narrow = Narrow(word);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (error != std::errc() || end != narrow.data() + narrow.size() || narrow.empty())
        return std::nullopt;
    return value;
}

Value ParseArgument(const Lexeme& token, const Parameter& param) {
    Value value;
    bool textAllowed = param.type == Param::Text || param.type == Param::TextOrInt;
    if (token.quoted && textAllowed) {
        value.kind = Value::Kind::Text;
        value.text = token.text;
        return value;
    }
    std::string word = Narrow(token.word);
    if (!token.quoted) {
        if (word == "null" && textAllowed) return value;
        if (param.type == Param::Bool && (word == "true" || word == "false")) {
            value.kind = Value::Kind::Boolean;
            value.boolean = word == "true";
            return value;
        }
        if (param.type == Param::Phase) {
            const char* phases[] = {"eInitialization", "eConfiguration", "eInstallation"};
            for (int phase = 0; phase < 3; ++phase)
                if (word == phases[phase] || word == std::string("TEVUtil::") + phases[phase]) {
                    value.kind = Value::Kind::Integer;
                    value.integer = phase;
                    return value;
                }
        }
        bool numeric = param.type == Param::Int || param.type == Param::UInt ||
                       param.type == Param::Phase || param.type == Param::TextOrInt;
        if (auto number = Integer(token.word); number && numeric) {
            std::int64_t low = param.type == Param::UInt ? 0 : INT32_MIN;
            std::int64_t high = param.type == Param::UInt ? UINT32_MAX : INT32_MAX;
            if (*number < low || *number > high)
                throw LineError{token.column, word + " is out of range for " + param.name + " (" +
                                                  std::to_string(low) + " to " +
                                                  std::to_string(high) + ")"};
            value.kind = Value::Kind::Integer;
            value.integer = *number;
            return value;
        }
    }
    throw LineError{token.column,
                    std::string("expected ") + Expected(param.type) + " for " + param.name};
}

Step ParseKv8(const std::vector<Lexeme>& tokens, int endColumn) {
    auto word = [&](size_t i) {
        return i < tokens.size() && !tokens[i].quoted ? Narrow(tokens[i].word) : "";
    };
    auto column = [&](size_t i) { return i < tokens.size() ? tokens[i].column : endColumn; };
    if (word(1) != "refuse") throw LineError{column(1), "expected refuse after kv8"};
    Step step;
    std::string target = word(2);
    size_t next = 3;
    if (target == "waypoint" || target == "state" || target == "attribute") {
        step.refusal.kind = target == "waypoint" ? kv8::Kind::Waypoint
                            : target == "state"  ? kv8::Kind::State
                                                 : kv8::Kind::Attribute;
        if (next >= tokens.size() || !tokens[next].quoted)
            throw LineError{column(next),
                            "expected the quoted name of the " + target + " to refuse"};
        step.refusal.name = tokens[next++].text;
    } else if (target == "get_state") {
        step.refusal.target = Refusal::Target::GetState;
    } else if (target == "initialize") {
        step.refusal.target = Refusal::Target::Initialize;
    } else {
        throw LineError{
            column(2),
            "expected waypoint, state, attribute, get_state or initialize after kv8 refuse"};
    }
    if (next < tokens.size()) {
        std::string count = word(next);
        auto number = Integer(tokens[next].word);
        if (count == "*")
            step.refusal.count = kv8::kAlways;
        else if (number && *number >= 1 && *number <= 1000000000)
            step.refusal.count = static_cast<int>(*number);
        else
            throw LineError{column(next), "expected a count (1 or more) or * for the refusal"};
        ++next;
    }
    if (next < tokens.size()) throw LineError{column(next), "unexpected text after the refusal"};
    return step;
}

Step ParseStep(const std::vector<Lexeme>& tokens, int endColumn, bool& asksForLog) {
    const Lexeme& head = tokens.front();
    std::string name = Narrow(head.word);
    if (head.quoted) throw LineError{head.column, "expected an entry name or kv8"};
    if (name == "kv8") return ParseKv8(tokens, endColumn);
    const BoundEntry* entry = nullptr;
    for (const BoundEntry& candidate : Entries())
        if (name == candidate.name || name == std::string("TEVUtil::") + candidate.name)
            entry = &candidate;
    if (!entry) {
        // Only the name's start is echoed: a file that is no scenario can be one long "name".
        constexpr size_t kEchoed = 40;
        std::string echoed = head.word.size() > kEchoed
                                 ? Narrow(head.word.substr(0, kEchoed)) + "\xE2\x80\xA6"
                                 : name;
        throw LineError{head.column, "unknown entry " + echoed + " (tev run --help lists them)",
                        name.starts_with("TEVUtil::") ? name.substr(9) : name};
    }
    Step step;
    step.entry = entry;
    for (size_t i = 0; i < entry->params.size(); ++i) {
        const Parameter& param = entry->params[i];
        if (i + 1 >= tokens.size())
            throw LineError{endColumn,
                            std::string("expected ") + Expected(param.type) + " for " + param.name};
        step.arguments.push_back(ParseArgument(tokens[i + 1], param));
    }
    if (tokens.size() > entry->params.size() + 1)
        throw LineError{tokens[entry->params.size() + 1].column,
                        "unexpected argument: " + name + " takes " +
                            std::to_string(entry->params.size()) +
                            (entry->params.size() == 1 ? " argument" : " arguments")};
    if (name == "InitML" && step.arguments[0].boolean) asksForLog = true;
    return step;
}

}  // namespace

const char* EntryName(const BoundEntry& entry) { return entry.name; }

Result Invoke(const Step& step) { return step.entry->call(step.arguments); }

std::vector<std::string> EntryNames() {
    std::vector<std::string> names;
    for (const BoundEntry& entry : Entries()) names.push_back(entry.name);
    return names;
}

std::vector<std::string> EntryUsages() {
    std::vector<std::string> usages;
    for (const BoundEntry& entry : Entries()) {
        std::string usage = entry.name;
        for (const Parameter& param : entry.params) usage += std::string(" ") + param.name;
        usages.push_back(usage);
    }
    return usages;
}

int FirstLongLine(std::string_view text) {
    int line = 1;
    for (size_t start = 0; start < text.size(); ++line) {
        size_t end = std::min(text.find('\n', start), text.size());
        if (end - start > kScenarioLineBytes) return line;
        start = end + 1;
    }
    return 0;
}

std::optional<Scenario> ParseScenario(std::string_view text, ParseError& error) {
    // As an editor may save it: UTF-8 after a byte-order mark, or UTF-16 after one (PowerShell's
    // `>` writes UTF-16LE), read as the UTF-8 it stands for.
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
    const bool littleEndian = text.starts_with("\xFF\xFE"),
               bigEndian = text.starts_with("\xFE\xFF");
    if (littleEndian || bigEndian) {
        const char* encoding = littleEndian ? "UTF-16LE" : "UTF-16BE";
        tev::WideString units;
        for (size_t at = 2; at + 1 < text.size(); at += 2) {
            unsigned char first = static_cast<unsigned char>(text[at]),
                          second = static_cast<unsigned char>(text[at + 1]);
            units += static_cast<TEVChar>(littleEndian ? first | second << 8 : first << 8 | second);
        }
        if (text.size() % 2) {
            // Said where the cut is: the last line, after its last whole unit.
            size_t lineStart = units.rfind(TEV_TEXT('\n'));
            lineStart = lineStart == tev::WideString::npos ? 0 : lineStart + 1;
            error = {static_cast<int>(std::count(units.begin(), units.end(), TEV_TEXT('\n'))) + 1,
                     static_cast<int>(std::count_if(
                         units.begin() + lineStart, units.end(),
                         [](TEVChar unit) { return unit < 0xDC00 || unit > 0xDFFF; })) +
                         1,
                     std::string("the text is ") + encoding +
                         " (after its byte-order mark) cut inside a character: save it as UTF-8"};
            return std::nullopt;
        }
        return ParseScenario(tev::ToUtf8(units), error);
    }
    if (int line = FirstLongLine(text)) {
        error = {line, 1, "the line is longer than 2 MiB"};
        return std::nullopt;
    }
    Scenario scenario;
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(start, end - start);
        ++lineNumber;
        std::u32string line;
        try {
            for (size_t at = 0; at < raw.size();) {
                char32_t point;
                size_t taken = tev::DecodeUtf8(raw.substr(at), true, point);
                // U+FFFD read from anything but its own three bytes: not UTF-8.
                if (point == 0xFFFD && raw.substr(at, taken) != "\xEF\xBF\xBD")
                    throw LineError{static_cast<int>(line.size()) + 1,
                                    "the text is not valid UTF-8"};
                line += point;
                at += taken;
            }
            std::vector<Lexeme> tokens = Tokenize(line);
            if (!tokens.empty()) {
                if (scenario.steps.size() == kScenarioSteps)
                    throw LineError{1, "more than 10,000 entries; a scenario is a few lines"};
                scenario.steps.push_back(
                    ParseStep(tokens, static_cast<int>(line.size()) + 1, scenario.asksForLog));
            }
        } catch (const LineError& lineError) {
            error = {lineNumber, lineError.column, lineError.message, lineError.unknownEntry};
            return std::nullopt;
        }
        if (end == text.size()) break;
        start = end + 1;
    }
    return scenario;
}

}  // namespace tevtool
