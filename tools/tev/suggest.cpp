#include "tev/suggest.h"

#include <algorithm>

namespace tevtool {
namespace {

// Edits from one to the other: letters added, removed, changed, or two neighbours swapped.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::string Suggestion(const std::string& word, const std::vector<std::string>& known) {
    constexpr size_t kNear = 2;
    const std::string* best = nullptr;
    size_t bestDistance = kNear + 1;
    for (const std::string& name : known) {
        // A word much longer than any name (a path, say) is like none of them.
        size_t distance = word.size() > name.size() + kNear            ? kNear + 1
                          : word.size() >= 3 && name.starts_with(word) ? 1
                                                                       : Distance(word, name);
        // Most of a short word must stay: -x is not a misspelt -h.
        if (distance < bestDistance && 2 * distance < word.size())
            bestDistance = distance, best = &name;
    }
    return best ? "; did you mean " + *best + "?" : "";
}

}  // namespace tevtool
