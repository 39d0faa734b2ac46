// Suggestions for a misspelt command or option.
#ifndef TEV_TOOL_SUGGEST_H
#define TEV_TOOL_SUGGEST_H

#include <string>
#include <vector>

namespace tevtool {

// "; did you mean NAME?" for the known name nearest `word` (at most two letters added, removed,
// changed or swapped, and fewer than half of its letters; or `word` its start); empty when none is
// that near.
std::string Suggestion(const std::string& word, const std::vector<std::string>& known);

}  // namespace tevtool

#endif
