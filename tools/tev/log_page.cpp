// The page of one log: the run as a timeline, then its records. Its style sheet is page.css,
// compiled in.
#include <algorithm>

#include "log_summary.h"
#include "resources.h"

namespace tevtool {
namespace {

std::string Html(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }

}  // namespace

std::string RecordRowHtml(const LogRecord& record) {
    std::string text;
    AppendRecordText(record, text);
    return std::string(record.problem.empty()
                           ? "<tr>"
                           : "<tr class=\"problem\" title=\"" + Html(record.problem) + "\">") +
           "<td>" + std::to_string(record.line) + "</td><td>" + Html(text) + "</td></tr>\n";
}

std::string SummaryHtml(const std::string& file, const RunSummary& s,
                        const std::vector<std::string>& recordRows) {
    std::int64_t first = s.started ? s.started->seconds : 0;
    std::int64_t last = s.ended ? s.ended->seconds : first;
    // A run of a few seconds (a played scenario) would put every bar in one place: the records'
    // order is its axis then.
    constexpr std::int64_t kShortRun = 3;
    bool byOrder = last - first < kShortRun;
    const double left = 320, width = 640;
    // Where a moment lies on the axis; `fallback` (0 the start, 1 the end) where the log has none.
    auto x = [&](const std::optional<Moment>& at, double fallback) {
        double fraction = fallback;
        if (at && byOrder)
            fraction = static_cast<double>(at->record - 1) /
                       static_cast<double>(std::max<size_t>(s.records - 1, 1));
        else if (at && !at->time.empty())
            fraction = static_cast<double>(at->seconds - first) / static_cast<double>(last - first);
        return left + width * fraction;
    };
    size_t rows = s.downloads.size() + s.installs.size() + 1;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"980\" height=\"" +
                      std::to_string(rows * 24 + 40) + "\">";
    std::string axisStart = byOrder ? "record 1" : s.started ? s.started->time : "";
    std::string axisEnd = byOrder
                              ? "record " + std::to_string(s.records) + " (a run of under " +
                                    std::to_string(kShortRun) + " s, in the order of its records)"
                          : s.ended ? s.ended->time
                                    : "";
    svg += "<text x=\"" + Number(left) + "\" y=\"14\">" + Html(axisStart) + "</text>";
    svg += "<text x=\"" + Number(left + width) + "\" y=\"14\" text-anchor=\"end\">" +
           Html(axisEnd) + "</text>";
    double y = 24;
    auto bars = [&](const char* kind, const std::vector<Span>& list) {
        for (const Span& item : list) {
            double from = x(item.begin, 0), to = std::max(x(item.end, 1), from + 3);
            std::string label = ToUtf8(item.subject);
            svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">" + kind + " " +
                   Html(label.size() > 36 ? "..." + label.substr(label.size() - 33) : label) +
                   "</text>";
            svg += "<rect class=\"bar " + std::string(kind) + " " + OutcomeText(item.outcome) +
                   "\" x=\"" + Number(from) + "\" y=\"" + Number(y + 3) + "\" width=\"" +
                   Number(to - from) + "\" height=\"16\"><title>" +
                   Html(label + ": " + OutcomeText(item.outcome) +
                        (item.message.empty() ? "" : " " + ToUtf8(item.message))) +
                   "</title></rect>";
            for (const Moment& pause : item.pauses)
                svg += "<line class=\"pause\" x1=\"" + Number(x(pause, 0)) + "\" x2=\"" +
                       Number(x(pause, 0)) + "\" y1=\"" + Number(y + 3) + "\" y2=\"" +
                       Number(y + 19) + "\"/>";
            if (item.outcome == Outcome::Failed)
                svg += "<circle class=\"mark error\" cx=\"" + Number(to) + "\" cy=\"" +
                       Number(y + 11) + "\" r=\"6\"><title>" + Html(label + ": failed") +
                       "</title></circle>";
            y += 24;
        }
    };
    bars("download", s.downloads);
    bars("install", s.installs);
    svg += "<text x=\"4\" y=\"" + Number(y + 14) + "\">warnings and errors</text>";
    for (const Mark& warning : s.warnings) {
        double at = x(warning.at, 0);
        svg += "<path class=\"mark warning\" d=\"M" + Number(at) + " " + Number(y + 3) +
               " l7 14 h-14 z\"><title>" + Html(ToUtf8(warning.text)) + "</title></path>";
    }
    for (const Mark& error : s.errors)
        svg += "<circle class=\"mark error\" cx=\"" + Number(x(error.at, 1)) + "\" cy=\"" +
               Number(y + 11) + "\" r=\"6\"><title>" + Html(ToUtf8(error.text)) +
               "</title></circle>";
    svg += "</svg>";

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
                       Html(file) + "</title><style>\n" + tevtool::resource::kPageStyle +
                       "</style></head><body>\n<h1>" + Html(file) + "</h1>\n<dl>";
    // The text summary's labelled lines, after the file's name, as a definition list.
    std::string text = SummaryText(file, s);
    for (size_t at = text.find('\n') + 1; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string_view row = std::string_view(text).substr(at + 2, end - at - 2);
        size_t gap = row.find("  ");
        page += "<dt>" + Html(row.substr(0, gap)) + "</dt><dd>" +
                Html(row.substr(row.find_first_not_of(' ', gap))) + "</dd>";
        at = end + 1;
    }
    page += "</dl>\n" + svg + "\n<table>";
    for (const std::string& record : recordRows) page += record;
    return page + "</table>\n</body></html>\n";
}

}  // namespace tevtool
