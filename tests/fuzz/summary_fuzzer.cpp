// Any bytes as a diagnostic log, through the summary and the page: a run for every InitML (and
// one for records before the first), each told in text with no control character and no line that
// is not under a label, as one JSON object that parses and names its run, as one CSV row that a
// spreadsheet takes for no formula; the page valid UTF-8, a section per run.
#include <nlohmann/json.hpp>
#include <utf8.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "logreader/run_summary.h"
#include "printers/log_page.h"
#include "printers/summary_print.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The tool's JSON keeps an unpaired surrogate (any code unit may be logged) as \uXXXX, which a
// strict parser refuses: each surrogate escape becomes U+FFFD's before parsing.
std::string WithoutSurrogates(std::string json) {
    for (size_t at = 0; at + 1 < json.size(); ++at) {
        if (json[at] != '\\') continue;
        if (json[at + 1] == 'u' && at + 5 < json.size() &&
            (json[at + 2] == 'd' || json[at + 2] == 'D') &&
            std::string_view("89abcdefABCDEF").find(json[at + 3]) != std::string_view::npos)
            json.replace(at + 2, 4, "fffd");
        ++at;  // the escaped character
    }
    return json;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t runs = 0, starts = 0, records = 0;
    tevtool::LogPage page;
    tevtool::FleetTotals totals;
    tevtool::RunSummarizer summarizer([&](const tevtool::RunSummary& run) {
        Check(run.ordinal == ++runs);
        std::string text = tevtool::SummaryText("fuzz.log", run);
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            Check(end != std::string::npos);
            if (at > 0) Check(text.compare(at, 2, "  ") == 0 && text[at + 2] != ' ');
        }
        for (char c : text) Check(static_cast<unsigned char>(c) >= 0x20 || c == '\n');
        nlohmann::json json =
            nlohmann::json::parse(WithoutSurrogates(tevtool::SummaryJson("fuzz.log", run)));
        Check(json["run"] == runs);
        std::string row = tevtool::SummaryCsv("=fuzz.log", run);
        Check(row.find_first_of("\r\n") == std::string::npos && row[0] == '\'');
        page.AddRun("fuzz.log", run, true);
        totals.AddRun("fuzz.log", run);
    });
    tevtool::LogDecoder decoder([&](const tevtool::LogRecord& record) {
        starts += records++ == 0 || record.kind == tev::logformat::Token::InitML;
        summarizer.Add(record);
        page.AddRecord(record);
    });
    decoder.Feed(bytes);
    decoder.Finish();
    summarizer.Finish();
    Check(runs == std::max<size_t>(starts, 1));
    std::string html = page.Page("fuzz.log", totals);
    Check(totals.Runs() == runs);
    nlohmann::json totalsJson =
        nlohmann::json::parse(WithoutSurrogates(tevtool::TotalsJson(totals)));
    Check(totalsJson["totals"]["runs"] == runs);
    Check(utf8::is_valid(html.begin(), html.end()));
    size_t sections = 0;
    for (size_t at = html.find("<section id="); at != std::string::npos;
         at = html.find("<section id=", at + 1))
        ++sections;
    Check(sections == runs);
    return 0;
}
