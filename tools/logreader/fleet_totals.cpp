#include "logreader/fleet_totals.h"

#include <algorithm>

namespace tevtool {
namespace {

// Most common first, ties in the order first met: `items` is in that order already.
template <typename Item>
std::vector<Item> MostCommonFirst(std::vector<Item> items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.runs > b.runs; });
    return items;
}

}  // namespace

void FleetTotals::AddRun(const std::string& file, const RunSummary& run) {
    ++runs_;
    const bool failed = run.Failed();
    failed_ += failed;
    std::size_t outcome = (failed ? 4 : 0) + static_cast<std::size_t>(run.end);
    if (outcomes_[outcome]++ == 0) outcomeOrder_.push_back(outcome);
    if (!run.firstError) return;
    std::string entry = run.firstErrorEntry
                            ? tev::ToUtf8(tev::logformat::TokenText(*run.firstErrorEntry))
                            : std::string();
    WideString text =
        run.firstErrorCutShort ? tev::FromUtf8(kCutShortText) : WideString(run.firstError->text);
    std::string key = entry + '\n' + tev::ToUtf8(text);
    auto found = groupOf_.find(key);
    if (found != groupOf_.end()) {
        ++groups_[found->second].runs;
    } else if (groups_.size() < kGroupsKept) {
        groupOf_.emplace(std::move(key), groups_.size());
        groups_.push_back({std::move(entry), std::move(text), 1, file, run.ordinal});
    } else {
        ++notKept_;
    }
}

std::vector<FleetTotals::OutcomeCount> FleetTotals::Outcomes() const {
    std::vector<OutcomeCount> counts;
    for (std::size_t outcome : outcomeOrder_)
        counts.push_back({outcome >= 4, static_cast<RunEnd>(outcome % 4), outcomes_[outcome]});
    return MostCommonFirst(std::move(counts));
}

std::vector<FleetTotals::ErrorGroup> FleetTotals::FirstErrors() const {
    return MostCommonFirst(groups_);
}

}  // namespace tevtool
