// The tev tool run as a process, the way an engineer runs it, for the suites that drive it.
#ifndef TEV_TESTS_TOOL_SUPPORT_H
#define TEV_TESTS_TOOL_SUPPORT_H

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "../product/support.h"

namespace testing_support {

// Runs the tool (or `program`, a copy of it elsewhere) with `arguments` and `input` on its standard
// input, from a folder of its own inside `dir`; ended after `timeoutSeconds` when not 0.
ProgramRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
                   const std::string& input = "", const std::string& program = TEV_TOOL_PATH,
                   unsigned timeoutSeconds = 0);

// Each line of the tool's output parsed as JSON (JSON Lines).
std::vector<nlohmann::json> JsonLines(const std::string& text);

// How many times `what` stands in `text`, overlapping ones counted.
size_t Count(const std::string& text, const std::string& what);
// Whether `text` holds `what`.
inline bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

}  // namespace testing_support

// A test of the tool: a fresh temporary directory and stand-in, and the tool run inside it.
class ToolTest : public TevTest {
protected:
    testing_support::ProgramRun Tev(const std::vector<std::string>& arguments,
                                    const std::string& input = "") {
        return testing_support::RunTool(tempDir_, arguments, input);
    }

    // A file of the temporary directory.
    std::string Path(const std::string& name) const { return (tempDir_ / name).string(); }

    // The folder a play made for its log since the last call (tev-run-XXXXXX in the temporary
    // directory); empty when it made none.
    std::filesystem::path NewPlayFolder();

private:
    std::vector<std::filesystem::path> playFolders_;
};

#endif
